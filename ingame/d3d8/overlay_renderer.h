// The overlay as one game device draws it: reads the shared state once per present (a few numbers compared while
// nothing changes), turns a changed text or picture into a texture once, and draws the shown elements into the
// back buffer of the swap chain the game presents, just before it does, leaving every state of the game's as it was.
//
// The elements are placed in the part of the back buffer that is presented: its top left corner is the overlay's
// (0, 0), and the frame rate sits in its top right corner.
//
// Whatever fails here costs the overlay, never the game: an element whose texture cannot be made is left out
// until it changes, a frame in which the device is lost or in a scene is drawn without the overlay.
#pragma once

#include <d3d8.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "ingame/common/layout.h"
#include "ingame/common/overlay_stats.h"
#include "ingame/common/shared_state.h"
#include "ingame/d3d8/own_objects.h"
#include "ingame/d3d8/state_mirror.h"

namespace ingame {

// A steady clock in microseconds, in whole numbers: a device made without D3DCREATE_FPU_PRESERVE leaves the
// game's thread computing doubles in single precision, which would read it in ever coarser steps.
std::uint64_t NowMicroseconds();

class COverlayRenderer {
 public:
  // `mirror` follows the game's states on a device whose states cannot be read back; null on any other device.
  // The overlay's objects are counted in `ledger`.
  COverlayRenderer(IDirect3DDevice8* device, const CStateMirror* mirror, CReferenceLedger& ledger);
  ~COverlayRenderer();
  COverlayRenderer(const COverlayRenderer&) = delete;
  COverlayRenderer& operator=(const COverlayRenderer&) = delete;

  // Called by the game's present of `chain`, before the device presents: draws the overlay into its back buffer
  // 0, in the `source` part of it (null: all of it). `newFrame` when this present begins a frame of the game's
  // (FrameCounter). Where the chain keeps its back buffers, what is drawn over is saved in `keeper` first; true
  // when the keeper must restore it once the device has presented.
  bool DrawInto(const PresentChain& chain, const RECT* source, bool newFrame, CBackBufferKeeper* keeper);
  // Called once the device has presented, with the time the device took.
  void OnPresented(std::uint64_t presentMicroseconds);
  // Whether the benchmarks' counters are kept, and so whether the time of a present is worth taking.
  bool counting() const { return stats_ != nullptr; }
  // While the game records a state block, the overlay's calls would go into it: nothing is drawn.
  void SetRecording(bool recording) { recording_ = recording; }
  // Before the device is reset: gives up everything a reset requires to be given up.
  void OnBeforeReset();
  // After a reset, successful or not.
  void OnAfterReset();
  // Deletes the overlay's state block: before the objects that keep the device alive go.
  void DeleteStateBlocks() { ledger_.DeleteStateBlock(device_, stateBlock_); }
  // Forgets everything made on the device without a call to it, once it has ended.
  void Abandon();

 private:
  // A texture of the overlay's, in the device's default pool, with the part of it that holds content.
  struct Sprite {
    IDirect3DTexture8* texture = nullptr;
    UINT textureWidth = 0;
    UINT textureHeight = 0;
    UINT contentWidth = 0;
    UINT contentHeight = 0;
    // Every texel is opaque: drawn without blending, which costs a software renderer much less, or, where the
    // texture has the back buffer's format, copied into the back buffer, which costs it less still.
    bool opaque = false;
    D3DFORMAT format = D3DFMT_A8R8G8B8;
  };

  // A text as drawn, its black background included: its texture covers `area` of the overlay's screen.
  struct TextSprite {
    Sprite sprite;
    Rect area;
    bool built = false;  // made for the current content (or found impossible to make: then nothing is drawn)
  };

  struct PictureSprite {
    Sprite sprite;
    bool built = false;
  };

  // A sprite's part that goes onto the back buffer: `content` of its texture onto `area`.
  struct Piece {
    const Sprite* sprite = nullptr;
    Rect area;
    Rect content;
  };

  void ReadSharedState(const SharedState& state);
  void PublishScreen(SharedState& state, const Rect& screen);
  bool AnythingShown() const;
  // The pieces to draw, bottom first, onto `screen` of the back buffer; their number.
  int Pieces(const Rect& screen, Piece (&pieces)[4]);
  void Draw(const Piece* pieces, int count, IDirect3DSurface8* backBuffer, UINT width, UINT height);
  void DrawWithPipeline(const Piece* pieces, int count, IDirect3DSurface8* backBuffer, UINT width, UINT height);
  // Sets the states of overlay_states.h, the viewport over the back buffer and the overlay's vertex format.
  void SetOverlayStates(UINT width, UINT height);
  bool Copyable(const Sprite& sprite) const;
  bool Copy(const Piece& piece, IDirect3DSurface8* backBuffer);
  void DrawQuad(const Piece& piece);

  void BuildLine();
  void BuildBlock();
  void BuildFps();
  void BuildPicture();
  // Draws the lines into `text`, the first one's top left corner at `origin`, within `box` (which a black
  // background fills) and the overlay's screen.
  void BuildText(TextSprite& text, const std::vector<std::string_view>& lines, const TextLook& look, const Rect& box,
                 std::int64_t originX, std::int64_t originY);
  // Fills `sprite` with content of the given size; `fill` writes 0xAARRGGBB rows at the locked pitch.
  template <class Fill>
  bool Upload(Sprite& sprite, UINT width, UINT height, bool opaque, Fill fill);

  void ReleaseSprites();
  // Makes the texts again for a screen of another size.
  void SetCanvas(const Rect& screen);

  IDirect3DDevice8* device_;
  const CStateMirror* mirror_;
  CReferenceLedger& ledger_;
  D3DCAPS8 caps_{};
  bool usable_ = false;  // the device can draw the overlay at all
  bool recording_ = false;
  // The size of the largest screen presented lately: texts are made for it, and cut to it.
  std::int64_t canvasWidth_ = 0;
  std::int64_t canvasHeight_ = 0;
  // The format opaque sprites are kept in so that they can be copied into the back buffer: the format of the
  // back buffer drawn last when it takes such copies (32-bit without alpha, not multisampled); D3DFMT_UNKNOWN when
  // it takes none.
  D3DFORMAT copyFormat_ = D3DFMT_UNKNOWN;

  // The state block of the overlay's states, for saving and restoring the game's values on a device that can.
  DWORD stateBlock_ = 0;

  // The shared state as last read, with the sequence numbers it was read at.
  std::uint32_t lineSequence_ = 0;
  std::uint32_t blockSequence_ = 0;
  std::uint32_t pictureSequence_ = 0;
  std::uint32_t switchesSequence_ = 0;
  bool lineRead_ = false;
  bool blockRead_ = false;
  bool pictureRead_ = false;
  bool switchesRead_ = false;
  LineRecord line_;
  BlockRecord block_;
  PictureRecord picture_;
  SwitchRecord switches_;

  TextSprite lineSprite_;
  TextSprite blockSprite_;
  TextSprite fpsSprite_;  // placed in each screen's top right corner, not at `area`
  PictureSprite pictureSprite_;

  FpsMeter fpsMeter_;
  ScreenWord screenWord_ = 0;
  // The benchmarks' counters, when the game runs with them (overlay_stats.h); else null.
  OverlayStats* stats_;
  // For the counters: the present begun at which each slot's current version was read.
  std::uint64_t readAtBegun_[kStatsSlotCount] = {};
};

}  // namespace ingame
