// The overlay as one game device draws it. At each present of the game's it reads the shared state (a few numbers
// compared while nothing changes), asks the overlay's worker (overlay_content.h) for the image of whatever changed,
// fills a finished image a band of rows at a time into staging textures that lock without waiting (dynamic ones,
// else in system memory), within a small budget of time per frame, has the device copy each band into its tile,
// and draws the shown elements into the back buffer of the swap chain the game presents, just before it does,
// leaving every state of the game's as it was. An element keeps showing its last image until the next is all
// uploaded.
//
// The elements are placed in the part of the back buffer that is presented: its top left corner is the overlay's
// (0, 0), and the frame rate sits in its top right corner, put together from glyphs uploaded once.
//
// Images are cut into square tiles that any device takes (a power of two, at most its largest texture, any aspect
// ratio), in a format the device has (32-bit with alpha, else 16-bit with alpha; an opaque image in the back
// buffer's format where it can be copied there).
//
// Whatever fails here costs the overlay, never the game, and only for a while: an element whose textures cannot be
// made or filled (video memory full, the device lost meanwhile) is left out and tried again, soon after the failure
// and then less and less often, at once after a reset or when it changes; so are the overlay's vertices and state
// block. A frame in which the device is lost or in a scene is drawn without the overlay.
#pragma once

#include <d3d8.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "ingame/common/backoff.h"
#include "ingame/common/layout.h"
#include "ingame/common/overlay_stats.h"
#include "ingame/common/shared_state.h"
#include "ingame/common/upload_plan.h"
#include "ingame/d3d8/overlay_content.h"
#include "ingame/d3d8/own_objects.h"
#include "ingame/d3d8/state_mirror.h"

namespace ingame {

class COverlayRenderer {
 public:
  // `mirror` follows the game's states on a device whose states cannot be read back; null on any other device.
  // The overlay's objects are counted in `ledger`.
  COverlayRenderer(IDirect3DDevice8* device, const CStateMirror* mirror, CReferenceLedger& ledger);
  ~COverlayRenderer();
  COverlayRenderer(const COverlayRenderer&) = delete;
  COverlayRenderer& operator=(const COverlayRenderer&) = delete;

  // Called when the device is made, before the game has it: posts the jobs of whatever the shared state holds, for
  // a screen of the device's own back buffer, which the worker makes from the first present on (the line at once,
  // in time for that frame where the worker gets a processor at once). Makes nothing on the device.
  void Prepare(const PresentChain& own);
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
  // After a reset, successful (`reset`) or not.
  void OnAfterReset(bool reset);
  // Deletes the overlay's state block: before the objects that keep the device alive go.
  void DeleteStateBlocks() { ledger_.DeleteStateBlock(stateBlock_); }
  // Forgets everything made on the device without a call to it, once it has ended.
  void Abandon();

 private:
  // A part of an image in a texture of its own, at (x, y) of the image.
  struct Tile {
    IDirect3DTexture8* texture = nullptr;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
  };

  // An image as the device has it: its tiles, where it goes, and whether it can be copied into the back buffer.
  struct Sprite {
    std::vector<Tile> tiles;
    Rect area;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    bool opaque = false;
    std::uint32_t sequence = 0;
    bool present = false;  // holds an image, possibly one of no pixels
    // The image it was made from, kept to be uploaded again after a reset.
    std::shared_ptr<const Image> source;
  };

  // An element: the sprite drawn, the image being uploaded into the next one, and the job last posted for it.
  struct ElementSprites {
    Sprite shown;
    Sprite next;
    std::shared_ptr<const Image> image;  // being uploaded into `next`
    // Where the upload of `image` into `next`'s tiles has got to.
    CUploadPlan plan;
    bool uploading = false;
    Job posted;
    bool havePosted = false;
    // When `image` is tried again after the device could not take it.
    CBackoff retry;
  };

  // A texture a band of an image is written into before the device copies it into its tile: a dynamic texture of a
  // tile's size, whose lock with D3DLOCK_DISCARD never waits for the device.
  struct Staging {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    // Null where the device has no dynamic textures: `surface` is then in system memory.
    IDirect3DTexture8* texture = nullptr;
    IDirect3DSurface8* surface = nullptr;
  };

  // A corner of a quad the pipeline draws: on the screen, pre-transformed, with its texel.
  struct QuadVertex {
    float x, y, z, rhw;
    DWORD colour;
    float u, v;
  };

  // What the game has bound where the overlay binds its own, held by a reference of the overlay's while it draws:
  // the device's binding may be the only thing that keeps it.
  struct GameBindings {
    IDirect3DBaseTexture8* texture = nullptr;
    IDirect3DVertexBuffer8* stream = nullptr;
    UINT stride = 0;
    DWORD vertexShader = 0;
    DWORD pixelShader = 0;
    IDirect3DSurface8* renderTarget = nullptr;
    IDirect3DSurface8* depthStencil = nullptr;
  };

  // A texture's part that goes onto the back buffer: `content` of `texture` onto `area`.
  struct Piece {
    IDirect3DTexture8* texture = nullptr;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    bool opaque = false;
    Rect area;
    Rect content;
  };

  void ReadSharedState(const SharedState& state);
  void PublishScreen(SharedState& state, const Rect& screen);
  bool AnythingShown() const;
  // Posts a job for each element whose content changed.
  void PostJobs();
  // Posts, and uploads what the worker has made, within the budget.
  void Update();
  Job WantedJob(Element element) const;
  void Upload(ElementSprites& element, std::uint64_t deadline);
  // Fills a band of the image into its tile through a staging texture, which the device copies into the tile.
  bool FillBand(const Image& image, const UploadStep& step, D3DFORMAT format, Tile& tile);
  HRESULT CopyBand(const Image& image, const UploadStep& step, D3DFORMAT format, Staging& staging, Tile& tile);
  // Gives a tile a texture: one of a tile no longer shown, or a new one.
  bool MakeTile(D3DFORMAT format, Tile& tile);
  // The staging texture of `slot` in `format`, made or made again as needed; null when it cannot be.
  Staging* StagingFor(D3DFORMAT format, int slot);
  void ReleaseStaging(Staging& staging);
  // Gives up the image being uploaded; and that, and the element's image, where it cannot be uploaded.
  void ReleaseUpload(ElementSprites& element);
  // The device could not take the image: the element shows nothing until it is tried again.
  void Defer(ElementSprites& element);
  void ReleaseSpareTiles();
  void ReleaseSprite(Sprite& sprite);
  // Lets go of an image, for the worker to free.
  void Retire(std::shared_ptr<const Image>& image);
  void ReleaseAll();
  // The pieces of `sprite` showing `part` of its image (all of it when null) at `at` of the overlay's screen, moved
  // onto `screen` of the back buffer and cut to it.
  void AddPieces(const Sprite& sprite, const Rect& part, std::int64_t atX, std::int64_t atY, const Rect& screen);
  // The pieces to draw, bottom first, and what each element's pieces cover of the back buffer.
  void CollectPieces(const Rect& screen);
  // Adds the area the pieces from `first` on cover to covered_.
  void Cover(std::size_t first);
  void AddFpsPieces(const Rect& screen);
  void Draw(IDirect3DSurface8* backBuffer, UINT width, UINT height);
  void DrawWithPipeline(IDirect3DSurface8* backBuffer, UINT width, UINT height);
  // Sets the states of overlay_states.h and the viewport over the back buffer: what the state block saves.
  void SetOverlayStates(UINT width, UINT height);
  // Takes the game's bindings with a reference each, and gives them back.
  GameBindings SaveBindings();
  void RestoreBindings(GameBindings& bindings);
  // Writes the quads of all pieces into the overlay's vertex buffer, made on first use, unless it holds them
  // already; false when there is no buffer to draw from.
  bool FillVertices();
  // Draws the pieces in their order: copies into the back buffer, and, `withPipeline`, quads.
  void DrawPieces(IDirect3DSurface8* backBuffer, bool withPipeline);
  bool Copyable(const Piece& piece) const;
  // Copies piece `index` into the back buffer; false when the device did not.
  bool Copy(std::size_t index, IDirect3DSurface8* backBuffer);
  void DrawQuad(std::size_t index);
  // Makes the texts again for a screen of another size.
  void SetCanvas(const Rect& screen);
  // Takes the wait of the staging textures' first lock, where it costs least: the first present, or a reset.
  void Warm();

  IDirect3DDevice8* device_;
  const CStateMirror* mirror_;
  CReferenceLedger& ledger_;
  D3DCAPS8 caps_{};
  bool usable_ = false;  // the device can draw the overlay at all
  bool recording_ = false;
  // The side of the tiles, and the formats of tiles with alpha and of opaque ones (D3DFMT_UNKNOWN: none).
  UINT tileSide_ = 0;
  D3DFORMAT alphaFormat_ = D3DFMT_UNKNOWN;
  D3DFORMAT copyableFormat_ = D3DFMT_UNKNOWN;
  // The back buffer drawn into now: opaque tiles of its format are copied into it.
  D3DFORMAT backBufferFormat_ = D3DFMT_UNKNOWN;
  // The size of the largest screen presented lately: texts and the picture are made for it, and cut to it.
  std::int64_t canvasWidth_ = 0;
  std::int64_t canvasHeight_ = 0;

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

  std::shared_ptr<CContentSlots> content_;
  // Images let go of in this present, handed to the worker to free.
  std::vector<std::shared_ptr<const Image>> retired_;
  // The worker has something to look at: it is woken once the device has presented, or at once for a line.
  bool wakeWorker_ = false;
  bool wakeNow_ = false;
  ElementSprites elements_[kElementCount];
  // Textures of tiles no longer shown, for the next images' tiles, with their formats.
  std::vector<std::pair<D3DFORMAT, IDirect3DTexture8*>> spareTiles_;
  std::vector<Piece> pieces_;
  // The bounds of each drawn element's pieces: what a back buffer that must stay as the game drew it has saved.
  RECT covered_[kElementCount] = {};
  int coveredCount_ = 0;
  std::vector<FigureCell> figure_;
  // Staging textures in the tiles' two formats (with alpha; opaque), filled in turn, made on first use.
  static constexpr int kStagingSlots = 4;
  Staging staging_[2][kStagingSlots];
  int nextStagingSlot_ = 0;
  // The staging textures have been locked once since the device was made or last reset (Warm).
  bool warmed_ = false;
  // Staging in dynamic textures, until the device refuses to lock one or to copy from it into a tile: then in
  // system memory, for as long as the device lives.
  bool dynamicStaging_ = true;
  // The overlay's own vertices, one quad of four for each piece, in a dynamic buffer of the device's memory (made
  // again after a reset), written only when the pieces change, each time behind the last.
  IDirect3DVertexBuffer8* vertices_ = nullptr;
  // When the vertex buffer or the state block is made again after the device could not make it.
  CBackoff objectsRetry_;
  UINT vertexCapacity_ = 0;  // in quads
  UINT vertexNext_ = 0;      // the first quad not written yet
  UINT firstVertex_ = 0;     // where quads_ was written
  std::vector<QuadVertex> quads_;
  bool verticesWritten_ = false;  // the buffer holds quads_

  FpsMeter fpsMeter_;
  ScreenWord screenWord_ = 0;
  // The benchmarks' counters, when the game runs with them (overlay_stats.h); else null.
  OverlayStats* stats_;
  // For the counters: the present begun at which each slot's current version was read.
  std::uint64_t readAtBegun_[kStatsSlotCount] = {};
  // For the counters: the time this present's work spent locking and unlocking images in system memory.
  std::uint64_t lockMicroseconds_ = 0;
};

}  // namespace ingame
