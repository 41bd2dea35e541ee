// Texts drawn by the system's font engine into memory, as coverage: how much of each pixel the glyphs cover.
// Done once per change of a text, never per frame.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "ingame/common/layout.h"
#include "ingame/common/shared_state.h"

namespace ingame {

// The width of one line of text and the height of a line, in pixels, in the look's font.
struct TextMetrics {
  int width = 0;
  int lineHeight = 0;
};

class CTextRaster {
 public:
  CTextRaster() = default;
  ~CTextRaster();
  CTextRaster(const CTextRaster&) = delete;
  CTextRaster& operator=(const CTextRaster&) = delete;

  // Measures `line` in the look's font: Arial, or Courier New when monospace; bold or regular; the look's size
  // as the character height in pixels.
  static TextMetrics Measure(std::string_view line, const TextLook& look);

  // Draws the lines one line height apart, the first one's top left corner at (originX, originY), and keeps the
  // part inside `visible` (all in screen pixels). False when the system could not draw it. `pause`, when given,
  // is called between pieces of the work (each line, each band of the clearing), so that a caller on a thread
  // that must not hold a processor for long can rest there.
  bool Draw(const std::vector<std::string_view>& lines, const TextLook& look, std::int64_t originX,
            std::int64_t originY, const Rect& visible, const std::function<void()>& pause = nullptr);

  int width() const { return width_; }
  int height() const { return height_; }
  // Coverage 0-255 of the pixel at (x, y) of the kept part.
  std::uint8_t Coverage(int x, int y) const {
    const std::uint32_t p = bits_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + x];
    // Greyscale smoothing gives the three channels the same value.
    return static_cast<std::uint8_t>(p & 0xFF);
  }

 private:
  void Free();

  HBITMAP bitmap_ = nullptr;
  const std::uint32_t* bits_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace ingame
