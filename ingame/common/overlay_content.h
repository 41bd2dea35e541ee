// The overlay's elements as pictures in memory, made on a thread of the overlay's own and never on the game's
// render thread: the text line and the text block drawn by the system's font engine, the visible part of the
// picture (scaled down where it is larger than the device's largest texture), and the glyphs the frame-rate figure
// is put together from. A game's present only uploads what is ready and draws what it has.
//
// Each device's renderer posts what it wants made (a job), never waiting: a job it could not post is posted again
// at its next present. The worker makes the newest job of each element and leaves the image for the renderer to
// take; an older image taken meanwhile is still drawn until then.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "ingame/common/layout.h"
#include "ingame/common/shared_state.h"

namespace ingame {

// A steady clock in microseconds, in whole numbers: a device made without D3DCREATE_FPU_PRESERVE leaves the
// game's thread computing doubles in single precision, which would read it in ever coarser steps.
std::uint64_t NowMicroseconds();

// An element's pixels: 0xAARRGGBB, not premultiplied, rows top first, and where they go on the overlay's screen.
struct Image {
  std::vector<std::uint32_t> pixels;
  int width = 0;
  int height = 0;
  Rect area;
  bool opaque = false;  // every pixel's alpha is 0xFF
  std::uint32_t sequence = 0;  // the version of the shared state's record it shows, for the benchmarks' counters
};

enum Element { kLineElement, kBlockElement, kPictureElement, kGlyphsElement, kElementCount };

// The frame-rate figure's look: yellow on black, bold monospace, in the top right corner.
inline constexpr std::uint32_t kFpsColour = 0xFFFFFF00;
inline constexpr int kFpsTextHeight = 16;
inline constexpr int kFpsMargin = 4;
inline constexpr int kFpsPaddingX = 4;
inline constexpr int kFpsPaddingY = 2;

// What an element's image is made of. Two equal jobs make the same image, so a job is posted only when what it
// asks for changes.
struct Job {
  Element element = kLineElement;
  std::uint32_t sequence = 0;  // of the record
  LineRecord line;
  BlockRecord block;
  PictureRecord picture;
  std::int32_t pictureX = 0;
  std::int32_t pictureY = 0;
  // The overlay's screen, which texts and the picture are cut to, and the largest texture, which a larger picture
  // is scaled down to fit.
  std::int64_t canvasWidth = 0;
  std::int64_t canvasHeight = 0;
  std::uint32_t maxTextureWidth = 0;
  std::uint32_t maxTextureHeight = 0;

  bool operator==(const Job& other) const;
  bool operator!=(const Job& other) const { return !(*this == other); }
};

// Makes the image a job asks for, on the worker's thread (or a test's); an image of no pixels when there is
// nothing to draw. The frame-rate glyphs are the cells of kFpsGlyphs side by side, GlyphCellWidth() each.
std::shared_ptr<const Image> MakeImage(const Job& job);
int GlyphCellWidth();

// One device's jobs and images, between its renderer and the worker.
class CContentSlots {
 public:
  CContentSlots();
  ~CContentSlots();
  CContentSlots(const CContentSlots&) = delete;
  CContentSlots& operator=(const CContentSlots&) = delete;

  // Posts `job`, replacing one of its element not yet started; false, without waiting, when the worker holds the
  // slot at this moment. The worker looks once woken (WakeContentWorker).
  bool Post(const Job& job);
  // The image the worker made last for `element`, when it made one since the last taken; null when there is none,
  // or when the worker holds the slot at this moment.
  std::shared_ptr<const Image> Take(Element element);
  // Hands images the renderer no longer needs to the worker, which frees them (`images` is left empty), unless the
  // worker holds the slots at this moment: then they wait in `images` for the next call.
  void Retire(std::vector<std::shared_ptr<const Image>>& images);
  // On the worker's thread: makes the image of each job posted since it last looked, and frees those retired.
  void MakePending();

 private:
  struct Slot {
    Job job;
    bool pending = false;
    std::shared_ptr<const Image> made;
  };
  SRWLOCK lock_ = SRWLOCK_INIT;
  Slot slots_[kElementCount];
  std::vector<std::shared_ptr<const Image>> retired_;
};

// Makes the process's worker, once, so that no present pays for making it; false when it cannot be made. It starts
// at the first wake. `housekeeping` runs on it a few times a second, whatever it is doing.
bool StartContentWorker(void (*housekeeping)());
// Wakes the worker to look at what was posted or retired; the first wake starts it. Only presents wake it: nothing
// of the worker's runs while the game loads, where what it allocated, even on heaps of its own, would move the
// game's allocations from run to run. A present wakes it for a line at once, and for the rest only once the device
// has presented: on a processor it shares with the game, the worker woken runs at once, and would hold the frame
// back.
void WakeContentWorker();
// Hands a device's slots to the worker, and takes them back (a job under way is finished first, and dropped).
void AddContentSlots(const std::shared_ptr<CContentSlots>& slots);
void RemoveContentSlots(const CContentSlots* slots);

// The picture the game was shown last, kept open for the process's life (reset, devices made anew, the dialog's
// end): the worker reads from it.
class CPictureSection;
std::shared_ptr<const CPictureSection> KeptPicture(const PictureRecord& record);

}  // namespace ingame
