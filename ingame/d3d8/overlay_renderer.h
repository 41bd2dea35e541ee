// The overlay as one game device draws it: reads the shared state once per frame (a few numbers compared while
// nothing changes), turns a changed text or picture into a texture once, and draws the shown elements into the
// back buffer just before the game presents it, leaving every state of the game's as it was.
//
// Whatever fails here costs the overlay, never the game: an element whose texture cannot be made is left out
// until it changes, a frame in which the device is lost or in a scene is drawn without the overlay.
#pragma once

#include <d3d8.h>

#include <cstdint>
#include <memory>

#include "ingame/common/layout.h"
#include "ingame/common/overlay_stats.h"
#include "ingame/common/shared_state.h"
#include "ingame/d3d8/state_mirror.h"

namespace ingame {

// A steady clock in microseconds.
double NowMicroseconds();

// The size of the device's back buffer as the device made it (a windowed device may have picked its window's
// size), and its whole description when asked; 0 x 0 when it cannot be read.
void BackBufferSize(IDirect3DDevice8* device, UINT& width, UINT& height, D3DSURFACE_DESC* desc = nullptr);

class COverlayRenderer {
 public:
  // `mirror` follows the game's states on a device whose states cannot be read back; null on any other device.
  COverlayRenderer(IDirect3DDevice8* device, const CStateMirror* mirror);
  ~COverlayRenderer();
  COverlayRenderer(const COverlayRenderer&) = delete;
  COverlayRenderer& operator=(const COverlayRenderer&) = delete;

  // Called by the game's Present, before the device presents.
  void OnPresent();
  // Called once the device has presented, with the time the device took.
  void OnPresented(double presentMicroseconds);
  // Whether the benchmarks' counters are kept, and so whether the time of a present is worth taking.
  bool counting() const { return stats_ != nullptr; }
  // Before the device is reset: gives up everything a reset requires to be given up.
  void OnBeforeReset();
  // After a reset, successful or not.
  void OnAfterReset();

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

  // A text as drawn, its black background included: its texture covers `area` of the screen.
  struct TextSprite {
    Sprite sprite;
    Rect area;
    bool built = false;  // made for the current content (or found impossible to make: then nothing is drawn)
  };

  struct PictureSprite {
    Sprite sprite;
    bool built = false;
  };

  void DrawOverlay();
  void ReadSharedState(const SharedState& state);
  void PublishScreen(SharedState& state);
  bool AnythingShown() const;
  // A sprite's part that goes onto the screen: `content` of its texture onto `area` of the back buffer.
  struct Piece {
    const Sprite* sprite = nullptr;
    Rect area;
    Rect content;
  };

  void Draw();
  void DrawWithPipeline(const Piece* pieces, int count, IDirect3DSurface8* backBuffer);
  // Sets the states of overlay_states.h, the viewport over the back buffer and the overlay's vertex format.
  void SetOverlayStates();
  bool Copyable(const Sprite& sprite) const;
  bool Copy(const Piece& piece, IDirect3DSurface8* backBuffer);
  void DrawQuad(const Piece& piece);

  void BuildLine();
  void BuildBlock();
  void BuildFps();
  void BuildPicture();
  // Draws the lines into `text`, the first one's top left corner at `origin`, within `box` (which a black
  // background fills) and the screen.
  void BuildText(TextSprite& text, const std::vector<std::string_view>& lines, const TextLook& look, const Rect& box,
                 std::int64_t originX, std::int64_t originY);
  // Fills `sprite` with content of the given size; `fill` writes 0xAARRGGBB rows at the locked pitch.
  template <class Fill>
  bool Upload(Sprite& sprite, UINT width, UINT height, bool opaque, Fill fill);


  void ReleaseSprites();
  void ReadBackBuffer();
  Rect ScreenRect() const { return Rect{0, 0, backBufferWidth_, backBufferHeight_}; }

  IDirect3DDevice8* device_;
  const CStateMirror* mirror_;
  D3DCAPS8 caps_{};
  bool usable_ = false;  // the device can draw the overlay at all
  UINT backBufferWidth_ = 0;
  UINT backBufferHeight_ = 0;
  // The format opaque sprites are kept in so that they can be copied into the back buffer; D3DFMT_UNKNOWN when
  // the back buffer takes no such copies (16-bit, multisampled, or with an alpha channel of the game's).
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
  TextSprite fpsSprite_;
  PictureSprite pictureSprite_;

  FpsMeter fpsMeter_;
  ScreenWord screenWord_ = 0;
  // The benchmarks' counters, when the game runs with them (overlay_stats.h); else null.
  OverlayStats* stats_;
  // For the counters: the present begun at which each slot's current version was read.
  std::uint64_t readAtBegun_[kStatsSlotCount] = {};
};

}  // namespace ingame
