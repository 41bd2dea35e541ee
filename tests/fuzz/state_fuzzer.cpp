// Coverage-guided fuzzing of what a game believes of the shared state: any bytes at all, taken as a record, a
// picture with its position and screen, or a slot in the middle of a change, must either be rejected by the checks
// or be safe to draw (a text within its buffer, a picture cut to the screen). The first input byte picks the case;
// the rest is the record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "ingame/common/layout.h"
#include "ingame/common/shared_state.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

template <class Record>
bool Fill(Record& record, const std::uint8_t* data, std::size_t size) {
  if (size < sizeof record) return false;
  std::memcpy(static_cast<void*>(&record), data, sizeof record);
  return true;
}

// A text the checks let through is read to its length and split into lines, as a game draws it.
template <class Record>
void CheckText(const Record& record, std::size_t capacity, bool accepted) {
  Require(accepted == (record.length <= capacity));
  if (!accepted) return;
  const std::string_view text(record.text, record.length);
  std::size_t total = 0;
  for (std::string_view line : ingame::SplitLines(text)) total += line.size();
  Require(total <= text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t* rest = data + 1;
  const std::size_t restSize = size - 1;
  switch (data[0] % 4) {
    case 0: {
      ingame::LineRecord line;
      if (Fill(line, rest, restSize)) CheckText(line, ingame::kLineTextCapacity, ingame::CheckLine(line));
      break;
    }
    case 1: {
      ingame::BlockRecord block;
      if (Fill(block, rest, restSize)) CheckText(block, ingame::kBlockTextCapacity, ingame::CheckBlock(block));
      break;
    }
    case 2: {
      // A picture the checks let through is cut to the screen before anything of it is read: never more than the
      // screen, and always within the shown picture.
      struct {
        ingame::PictureRecord record;
        std::int32_t x;
        std::int32_t y;
        std::uint16_t maxSide;
        std::uint16_t canvasWidth;
        std::uint16_t canvasHeight;
      } input;
      if (!Fill(input, rest, restSize) || !ingame::CheckPicture(input.record) || input.record.generation == 0) break;
      const ingame::PictureCrop crop =
          ingame::CropPicture({input.record.width, input.record.height}, input.maxSide, input.maxSide, input.x,
                              input.y, input.canvasWidth, input.canvasHeight);
      if (crop.visible.Empty()) break;
      Require(crop.shown.width <= input.record.width && crop.shown.height <= input.record.height);
      Require(crop.region.left >= 0 && crop.region.top >= 0 && crop.region.right <= crop.shown.width &&
              crop.region.bottom <= crop.shown.height);
      Require(crop.region.Width() == crop.visible.Width() && crop.region.Height() == crop.visible.Height());
      Require(crop.visible.Width() <= input.canvasWidth && crop.visible.Height() <= input.canvasHeight);
      break;
    }
    default: {
      // A slot caught in any state, a writer's half-done change included: a read either fails or returns the
      // bytes as they are, which the checks then judge.
      ingame::Slot<ingame::BlockRecord> slot{};
      if (restSize < sizeof(std::uint32_t) + sizeof slot.record) break;
      std::uint32_t sequence = 0;
      std::memcpy(&sequence, rest, sizeof sequence);
      slot.sequence.store(sequence);
      std::memcpy(static_cast<void*>(&slot.record), rest + sizeof sequence, sizeof slot.record);
      ingame::BlockRecord copy;
      std::uint32_t read = 0;
      const bool got = ingame::TryRead(slot, copy, read);
      Require(got == ((sequence & 1u) == 0));
      if (got) CheckText(copy, ingame::kBlockTextCapacity, ingame::CheckBlock(copy));
      break;
    }
  }
  return 0;
}
