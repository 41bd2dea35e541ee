// The overlay as every Direct3D draws it, knowing none of them. At each present of the game's it reads the shared
// state (a few numbers compared while nothing changes), asks the overlay's worker (overlay_content.h) for the image
// of whatever changed, has the device take a finished image a band of rows at a time within a small budget of time
// per frame, and lays out what is shown into a draw list: the pieces of the device's textures that go onto the back
// buffer, bottom first, with the quads that draw them and what each element covers. An element keeps showing its
// last image until the next is all uploaded.
//
// The device's own work is its Direct3D layer's, behind IDeviceTiles (making, filling and letting go of the tiles'
// textures), and the draw list is drawn by that layer, which keeps the game's states and back buffers.
//
// The elements are placed in the part of the back buffer that is presented: its top left corner is the overlay's
// (0, 0), and the frame rate sits in its top right corner, put together from glyphs uploaded once.
//
// Images are cut into square tiles that any device takes (a power of two, at most its largest texture, any aspect
// ratio), in a format the device has (32-bit with alpha, else 16-bit with alpha; an opaque image in the back
// buffer's format where it can be copied there).
//
// Whatever fails costs the overlay, never the game, and only for a while: an element whose textures cannot be made
// or filled (video memory full, the device lost meanwhile) is left out and tried again, soon after the failure and
// then less and less often, at once after a reset or when it changes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ingame/common/backoff.h"
#include "ingame/common/layout.h"
#include "ingame/common/overlay_content.h"
#include "ingame/common/overlay_stats.h"
#include "ingame/common/shared_state.h"
#include "ingame/common/tile_pixels.h"
#include "ingame/common/upload_plan.h"

namespace ingame {

// A texture of the device's that holds a tile, as the Direct3D layer made it: the core only hands it back.
using TileTexture = void*;

// What the device can hold, as its layer found it when the device was made.
struct DeviceLimits {
  std::uint32_t maxTextureWidth = 0;
  std::uint32_t maxTextureHeight = 0;
  TileFormat alphaFormat = TileFormat::kNone;     // tiles with alpha: none where the device has no such format
  TileFormat copyableFormat = TileFormat::kNone;  // opaque tiles, copied into a back buffer of that format
  // The layer fills a tile whole in one band: its tiles are written directly, each write discarding what the tile
  // held, rather than through staging a band at a time.
  bool wholeTiles = false;
};

// The device work the core asks of a Direct3D layer.
class IDeviceTiles {
 public:
  // Makes a texture of `side` x `side` in `format` for a tile; false when the device cannot.
  virtual bool MakeTile(TileFormat format, int side, TileTexture& texture) = 0;
  // Lets a tile's texture go, and clears it.
  virtual void ReleaseTile(TileTexture& texture) = 0;
  // Fills the band `step` of `image` into `tile`, whose top left corner is at (tileX, tileY) of the image, through
  // staging slot `step.slot`; false when the device could not.
  virtual bool FillBand(const Image& image, const UploadStep& step, TileFormat format, TileTexture tile, int tileX,
                        int tileY) = 0;
  // Takes the wait of the staging textures' first lock, where it costs least: the first present, or a reset.
  virtual void Warm() = 0;

 protected:
  ~IDeviceTiles() = default;
};

// A tile's part that goes onto the back buffer: `content` of `texture` onto `area`.
struct DrawPiece {
  TileTexture texture = nullptr;
  TileFormat format = TileFormat::kNone;
  bool opaque = false;
  Rect area;
  Rect content;
};

// What a present draws: the pieces bottom first, the four corners of each one's quad in the same order, and the
// bounds of each shown element's pieces (what a back buffer that must stay as the game drew it saves).
struct DrawList {
  std::vector<DrawPiece> pieces;
  std::vector<QuadVertex> quads;
  // The quads differ from the list before: the layer writes them to its vertex buffer again.
  bool quadsChanged = true;
  Rect covered[kElementCount];
  int coveredCount = 0;
};

class COverlayCore {
 public:
  // How many staging slots a layer keeps for each tile format: bands go into them in turn (CUploadPlan).
  static constexpr int kStagingSlots = 4;

  // `tiles` is the layer's device work; `limits` what the device holds; `usable` false where it cannot draw at all.
  COverlayCore(IDeviceTiles& tiles, const DeviceLimits& limits, bool usable);
  // Gives up the screen size it published; the tiles must have been let go (ReleaseAll) or forgotten (Abandon).
  ~COverlayCore();
  COverlayCore(const COverlayCore&) = delete;
  COverlayCore& operator=(const COverlayCore&) = delete;

  // When the device is made, before the game has it: posts the jobs of whatever the shared state holds, for a
  // screen of the back buffer's size, which the worker makes from the first present on. Makes nothing on the device.
  void Prepare(std::int64_t width, std::int64_t height);
  // Begins the overlay's work at a present of a back buffer of `width` x `height`, of which `presented` is shown
  // (newFrame: this present begins a frame of the game's): the frame rate, the shared state, the screen size. The
  // overlay's screen in the back buffer; empty when there is nothing to do.
  Rect BeginFrame(std::int64_t width, std::int64_t height, const Rect* presented, bool newFrame);
  // On a device ready to draw: uploads within the frame's budget and lays out the shown elements. Null when nothing
  // is shown.
  const DrawList* Update(const Rect& screen);
  // Ends the overlay's work at this present (for the benchmarks' counters).
  void EndFrame();
  // Once the device has presented, with the time it took.
  void OnPresented(std::uint64_t presentMicroseconds);
  // Whether the benchmarks' counters are kept, and so whether the time of a present is worth taking.
  bool counting() const { return stats_ != nullptr; }
  // Time the layer spent locking and unlocking memory in this present, for the counters.
  void AddLockTime(std::uint64_t microseconds) { lockMicroseconds_ += microseconds; }
  void CountTextureCreated();

  int tileSide() const { return tileSide_; }
  const DeviceLimits& limits() const { return limits_; }

  // Lets go of every tile (before a reset, or before the device ends).
  void ReleaseAll();
  // After a reset, successful (`reset`) or not: what could not be made is tried at once.
  void OnAfterReset(bool reset);
  // Forgets every tile without a call to the device, once it has ended.
  void Abandon();

 private:
  // A part of an image in a texture of its own, at (x, y) of the image.
  struct Tile {
    TileTexture texture = nullptr;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
  };

  // An image as the device has it: its tiles, where it goes, and whether it can be copied into the back buffer.
  struct Sprite {
    std::vector<Tile> tiles;
    Rect area;
    TileFormat format = TileFormat::kNone;
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

  void ReadSharedState(const SharedState& state);
  void PublishScreen(SharedState& state, const Rect& screen);
  bool AnythingShown() const;
  // Posts a job for each element whose content changed.
  void PostJobs();
  // Posts, and uploads what the worker has made, within the budget.
  void UploadImages();
  Job WantedJob(Element element) const;
  void Upload(ElementSprites& element, std::uint64_t deadline);
  // Gives a tile a texture: one of a tile no longer shown, or a new one.
  bool MakeTile(TileFormat format, Tile& tile);
  // Gives up the image being uploaded.
  void ReleaseUpload(ElementSprites& element);
  // The device could not take the image: the element shows nothing until it is tried again.
  void Defer(ElementSprites& element);
  void ReleaseSpareTiles();
  void ReleaseSprite(Sprite& sprite);
  // Lets go of an image, for the worker to free.
  void Retire(std::shared_ptr<const Image>& image);
  // The pieces of `sprite` showing `part` of its image (all of it when null) at `at` of the overlay's screen, moved
  // onto `screen` of the back buffer and cut to it.
  void AddPieces(const Sprite& sprite, const Rect& part, std::int64_t atX, std::int64_t atY, const Rect& screen);
  // The pieces to draw, bottom first, what each element's pieces cover, and their quads.
  void CollectPieces(const Rect& screen);
  // Adds the area the pieces from `first` on cover.
  void Cover(std::size_t first);
  void AddFpsPieces(const Rect& screen);
  void MakeQuads();
  // Makes the texts again for a screen of another size.
  void SetCanvas(const Rect& screen);

  IDeviceTiles& tiles_;
  const DeviceLimits limits_;
  const bool usable_;
  // The side of the tiles.
  int tileSide_ = 0;
  // The size of the largest screen presented lately: texts and the picture are made for it, and cut to it.
  std::int64_t canvasWidth_ = 0;
  std::int64_t canvasHeight_ = 0;

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
  std::vector<std::pair<TileFormat, TileTexture>> spareTiles_;
  DrawList list_;
  std::vector<FigureCell> figure_;
  // The staging slot the next band goes into.
  int nextStagingSlot_ = 0;
  // The device's staging has been locked once since it was made or last reset (IDeviceTiles::Warm).
  bool warmed_ = false;

  FpsMeter fpsMeter_;
  ScreenWord screenWord_ = 0;
  // The benchmarks' counters, when the game runs with them (overlay_stats.h); else null.
  OverlayStats* stats_;
  // For the counters: the present begun at which each slot's current version was read.
  std::uint64_t readAtBegun_[kStatsSlotCount] = {};
  // For the counters: when this present's work began, when its drawing began (0: it did not), and the time it spent
  // locking and unlocking memory.
  std::uint64_t frameStart_ = 0;
  std::uint64_t drawStart_ = 0;
  std::uint64_t lockMicroseconds_ = 0;
};

}  // namespace ingame
