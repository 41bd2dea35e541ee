// The overlay's state, shared between the communication library (in the dialog's process, the writer) and every
// game that has the overlay's d3d8.dll (the readers). Window-free: the layout, the sequence lock that lets readers
// copy a record without ever waiting for a writer, and the checks a reader makes before it believes a record.
//
// The state lives in a small named section that whoever comes first creates, zero-filled; all zeros is a valid
// state: nothing set, nothing shown. Each record sits in a slot with a sequence number that is odd while a writer
// changes the record. A reader copies the record between two reads of the number and keeps the copy only when
// both reads agree and are even; otherwise it goes on drawing what it had, and tries again next frame. So a torn
// record is never drawn, and a writer that dies in the middle of a change leaves its slot odd (nothing new shown)
// until the next writer finishes a change of that slot.
//
// Nothing read from the section is trusted: a record is only used after Check...() has accepted it, and every
// value a check accepts is safe to draw (a text length within its buffer, a picture size within the limits).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ingame {

// The longest texts the overlay takes, in bytes; longer ones are cut when stored.
inline constexpr std::size_t kLineTextCapacity = 127;
inline constexpr std::size_t kBlockTextCapacity = 1023;

// The largest picture the communication library stores; larger ones are scaled down to fit when loaded. A game
// scales further when its device cannot hold that much in one texture.
inline constexpr std::uint32_t kPictureMaxSide = 32768;
inline constexpr std::uint32_t kPictureMaxPixels = 16u * 1024 * 1024;

// A text's pixel height when its size is 0.
inline constexpr int kDefaultTextHeight = 16;

enum TextFlags : std::uint8_t {
  kBlackBackground = 1,
  kBold = 2,
  kMonospace = 4,
};

struct TextLook {
  std::uint32_t argb = 0;  // 0xAARRGGBB
  std::uint8_t size = 0;   // character height in pixels; 0 means kDefaultTextHeight
  std::uint8_t flags = 0;  // TextFlags

  bool operator==(const TextLook& other) const {
    return argb == other.argb && size == other.size && flags == other.flags;
  }
};

// The single text line: the top left corner of its text at (x, y).
struct LineRecord {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  TextLook look;
  std::uint16_t length = 0;
  char text[kLineTextCapacity + 1] = {};
};

// The text block: lines separated by CR LF from (x, y) down, clipped to the box of width x height at (x, y).
struct BlockRecord {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  TextLook look;
  std::uint16_t length = 0;
  char text[kBlockTextCapacity + 1] = {};
};

// The loaded picture: its pixels are in a section of their own, named after the generation (PictureSectionName).
// Generation 0 means none (never loaded, or the last file could not be read).
struct PictureRecord {
  std::uint32_t generation = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// What is shown, and where the picture goes.
struct SwitchRecord {
  std::uint8_t lineShown = 0;
  std::uint8_t blockShown = 0;
  std::uint8_t pictureShown = 0;
  std::uint8_t fpsShown = 0;
  std::int32_t pictureX = 0;
  std::int32_t pictureY = 0;
};

template <class Record>
struct Slot {
  std::atomic<std::uint32_t> sequence;
  Record record;
};

// The game that presented last: its process id and back-buffer size, packed into one 64-bit value so that games
// can replace it with a single store and no lock (PackScreen).
using ScreenWord = std::uint64_t;

struct SharedState {
  Slot<LineRecord> line;
  Slot<BlockRecord> block;
  Slot<PictureRecord> picture;
  Slot<SwitchRecord> switches;
  alignas(8) std::atomic<ScreenWord> screen;
  // When the game of `screen` last presented (the system's millisecond tick, which wraps): a game that presents
  // is known to run without asking the system.
  std::atomic<std::uint32_t> screenTick;
  // The last picture generation handed out; changed only by a writer holding the writers' lock.
  std::atomic<std::uint32_t> lastPictureGeneration;
  // The writers' lock: 0 when free, else the holder's process and thread ids (PackWriter).
  alignas(8) std::atomic<std::uint64_t> writer;
};

inline std::uint64_t PackWriter(std::uint32_t processId, std::uint32_t threadId) {
  return (std::uint64_t{processId} << 32) | threadId;
}

// The section is used as it comes from the system: zero-filled memory, never constructed. That is sound only for
// lock-free atomics of the plain size, with no hidden state.
static_assert(std::atomic<std::uint32_t>::is_always_lock_free, "32-bit atomics must be lock-free");
static_assert(std::atomic<ScreenWord>::is_always_lock_free, "64-bit atomics must be lock-free");
static_assert(sizeof(std::atomic<std::uint32_t>) == 4 && sizeof(std::atomic<ScreenWord>) == 8,
              "atomics must have the size of their value");

// The picture section: this header, then width x height pixels, 0xAARRGGBB (not premultiplied), top row first.
struct PictureHeader {
  std::uint32_t generation = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t reserved = 0;
};

// Writes a record under its sequence number. Only one writer at a time may call it (the writers' lock): the
// number goes odd, the record is written, the number goes to the next even value. A slot left odd by a writer
// that died is taken over as it is.
template <class Record>
void Publish(Slot<Record>& slot, const Record& value) {
  const std::uint32_t before = slot.sequence.load(std::memory_order_relaxed);
  if ((before & 1u) == 0) slot.sequence.store(before + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  std::memcpy(static_cast<void*>(&slot.record), &value, sizeof value);
  slot.sequence.store((before | 1u) + 1, std::memory_order_release);
}

// The slot's sequence number as it is now: readers compare it with the one of their copy to see a change.
template <class Record>
std::uint32_t Sequence(const Slot<Record>& slot) {
  return slot.sequence.load(std::memory_order_acquire);
}

// Copies the record when no writer is changing it; false (and `out` unusable) when one is or was meanwhile.
template <class Record>
bool TryRead(const Slot<Record>& slot, Record& out, std::uint32_t& sequence) {
  const std::uint32_t before = slot.sequence.load(std::memory_order_acquire);
  if ((before & 1u) != 0) return false;
  std::memcpy(static_cast<void*>(&out), static_cast<const void*>(&slot.record), sizeof out);
  std::atomic_thread_fence(std::memory_order_acquire);
  if (slot.sequence.load(std::memory_order_relaxed) != before) return false;
  sequence = before;
  return true;
}

// Whether a copied record can be drawn as it is. A text's bytes past its length are never read, so a missing
// terminator does no harm.
bool CheckLine(const LineRecord& record);
bool CheckBlock(const BlockRecord& record);
bool CheckPicture(const PictureRecord& record);

// The text's pixel height for the look's size.
int TextHeight(const TextLook& look);

// Records as the communication library's calls describe them. Texts are cut to the record's capacity; a null text
// is an empty one.
LineRecord MakeLineRecord(std::uint16_t x, std::uint16_t y, const char* text, const TextLook& look);
BlockRecord MakeBlockRecord(std::uint16_t x, std::uint16_t y, std::uint16_t width, std::uint16_t height,
                            const char* text, const TextLook& look);

ScreenWord PackScreen(std::uint32_t processId, std::uint32_t width, std::uint32_t height);
struct Screen {
  std::uint32_t processId = 0;  // 0: no game has presented
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};
Screen UnpackScreen(ScreenWord word);

// The picture's size once fitted into a box of at most maxWidth x maxHeight, aspect kept, each side at least 1;
// the size itself when it fits.
struct Size {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool operator==(const Size& other) const { return width == other.width && height == other.height; }
};
Size FitWithin(Size size, std::uint32_t maxWidth, std::uint32_t maxHeight);
// The same for the stored picture's limits: each side at most kPictureMaxSide, at most kPictureMaxPixels.
Size FitPictureLimits(Size size);

}  // namespace ingame
