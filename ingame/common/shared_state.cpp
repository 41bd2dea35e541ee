#include "ingame/common/shared_state.h"

#include <algorithm>
#include <cmath>

namespace ingame {
namespace {

template <std::size_t Capacity>
std::uint16_t CopyText(const char* text, char (&buffer)[Capacity]) {
  std::size_t length = 0;
  if (text != nullptr) {
    while (length < Capacity - 1 && text[length] != '\0') ++length;
    std::memcpy(buffer, text, length);
  }
  buffer[length] = '\0';
  return static_cast<std::uint16_t>(length);
}

}  // namespace

bool CheckLine(const LineRecord& record) { return record.length <= kLineTextCapacity; }

bool CheckBlock(const BlockRecord& record) { return record.length <= kBlockTextCapacity; }

bool CheckPicture(const PictureRecord& record) {
  if (record.generation == 0) return true;
  return record.width >= 1 && record.height >= 1 && record.width <= kPictureMaxSide &&
         record.height <= kPictureMaxSide &&
         std::uint64_t{record.width} * record.height <= kPictureMaxPixels;
}

int TextHeight(const TextLook& look) { return look.size == 0 ? kDefaultTextHeight : look.size; }

LineRecord MakeLineRecord(std::uint16_t x, std::uint16_t y, const char* text, const TextLook& look) {
  LineRecord record;
  record.x = x;
  record.y = y;
  record.look = look;
  record.length = CopyText(text, record.text);
  return record;
}

BlockRecord MakeBlockRecord(std::uint16_t x, std::uint16_t y, std::uint16_t width, std::uint16_t height,
                            const char* text, const TextLook& look) {
  BlockRecord record;
  record.x = x;
  record.y = y;
  record.width = width;
  record.height = height;
  record.look = look;
  record.length = CopyText(text, record.text);
  return record;
}

ScreenWord PackScreen(std::uint32_t processId, std::uint32_t width, std::uint32_t height) {
  return (ScreenWord{processId} << 32) | (ScreenWord{std::min<std::uint32_t>(width, 0xFFFF)} << 16) |
         std::min<std::uint32_t>(height, 0xFFFF);
}

Screen UnpackScreen(ScreenWord word) {
  Screen screen;
  screen.processId = static_cast<std::uint32_t>(word >> 32);
  screen.width = static_cast<std::uint32_t>((word >> 16) & 0xFFFF);
  screen.height = static_cast<std::uint32_t>(word & 0xFFFF);
  return screen;
}

Size FitWithin(Size size, std::uint32_t maxWidth, std::uint32_t maxHeight) {
  if (size.width == 0 || size.height == 0 || maxWidth == 0 || maxHeight == 0) return Size{};
  if (size.width <= maxWidth && size.height <= maxHeight) return size;
  const double scale = std::min(static_cast<double>(maxWidth) / size.width,
                                static_cast<double>(maxHeight) / size.height);
  const auto fit = [scale](std::uint32_t side, std::uint32_t limit) {
    const double scaled = std::floor(side * scale);
    return static_cast<std::uint32_t>(std::clamp(scaled, 1.0, static_cast<double>(limit)));
  };
  return Size{fit(size.width, maxWidth), fit(size.height, maxHeight)};
}

Size FitPictureLimits(Size size) {
  Size fitted = FitWithin(size, kPictureMaxSide, kPictureMaxSide);
  const std::uint64_t pixels = std::uint64_t{fitted.width} * fitted.height;
  if (pixels <= kPictureMaxPixels) return fitted;
  const double scale = std::sqrt(static_cast<double>(kPictureMaxPixels) / static_cast<double>(pixels));
  fitted = FitWithin(fitted, static_cast<std::uint32_t>(fitted.width * scale),
                     static_cast<std::uint32_t>(fitted.height * scale));
  // Rounding can leave it a row over; take rows off the longer side until it fits.
  while (std::uint64_t{fitted.width} * fitted.height > kPictureMaxPixels) {
    if (fitted.width >= fitted.height) {
      --fitted.width;
    } else {
      --fitted.height;
    }
  }
  return fitted;
}

}  // namespace ingame
