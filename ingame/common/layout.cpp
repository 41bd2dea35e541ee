#include "ingame/common/layout.h"

#include <algorithm>

namespace ingame {

Rect Intersect(const Rect& a, const Rect& b) {
  const Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
  return r.Empty() ? Rect{} : r;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      return lines;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
}

bool FpsMeter::AddFrame(std::uint64_t milliseconds) {
  if (!started_ || milliseconds < windowStart_) {
    // The first frame only starts the count: a rate is frames per time between frames.
    started_ = true;
    windowStart_ = milliseconds;
    framesInWindow_ = 0;
    return false;
  }
  ++framesInWindow_;
  const std::uint64_t elapsed = milliseconds - windowStart_;
  if (elapsed < 1000) return false;
  const int fps = static_cast<int>(std::min<std::uint64_t>((framesInWindow_ * 1000 + elapsed / 2) / elapsed, 99999));
  windowStart_ = milliseconds;
  framesInWindow_ = 0;
  const bool changed = fps != fps_;
  fps_ = fps;
  return changed;
}

std::string FpsText(int fps) { return fps > 0 ? "FPS " + std::to_string(fps) : std::string("FPS --"); }

void ScaleDown(const std::uint32_t* source, Size from, std::size_t sourceStride, std::uint32_t* target, Size to,
               std::size_t targetStride) {
  if (to.width == 0 || to.height == 0 || to.width > from.width || to.height > from.height) return;
  for (std::uint32_t ty = 0; ty < to.height; ++ty) {
    const std::uint32_t y0 = static_cast<std::uint32_t>(std::uint64_t{ty} * from.height / to.height);
    const std::uint32_t y1 = static_cast<std::uint32_t>(std::uint64_t{ty + 1} * from.height / to.height);
    for (std::uint32_t tx = 0; tx < to.width; ++tx) {
      const std::uint32_t x0 = static_cast<std::uint32_t>(std::uint64_t{tx} * from.width / to.width);
      const std::uint32_t x1 = static_cast<std::uint32_t>(std::uint64_t{tx + 1} * from.width / to.width);
      std::uint64_t sums[4] = {};
      for (std::uint32_t y = y0; y < y1; ++y) {
        const std::uint32_t* row = source + y * sourceStride;
        for (std::uint32_t x = x0; x < x1; ++x) {
          for (int channel = 0; channel < 4; ++channel) sums[channel] += (row[x] >> (channel * 8)) & 0xFFu;
        }
      }
      const std::uint64_t count = std::uint64_t{x1 - x0} * (y1 - y0);
      std::uint32_t pixel = 0;
      for (int channel = 0; channel < 4; ++channel) {
        pixel |= static_cast<std::uint32_t>((sums[channel] + count / 2) / count) << (channel * 8);
      }
      target[ty * targetStride + tx] = pixel;
    }
  }
}

}  // namespace ingame
