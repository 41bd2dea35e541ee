#include "ingame/common/layout.h"

#include <algorithm>
#include <cmath>

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

bool FrameCounter::Presented(std::uintptr_t target) {
  for (int i = 0; i < count_; ++i) {
    if (shown_[i] == target) {
      count_ = 0;
      break;
    }
  }
  // More targets than are followed: each further one counts as a frame, as a single window would.
  if (count_ == kTargets) count_ = 0;
  const bool begins = count_ == 0;
  shown_[count_++] = target;
  return begins;
}

std::string FpsText(int fps) { return fps > 0 ? "FPS " + std::to_string(fps) : std::string("FPS --"); }

bool HasPictureSignature(const unsigned char* bytes, std::size_t size) {
  const auto starts = [&](std::string_view signature) {
    return size >= signature.size() && std::equal(signature.begin(), signature.end(), bytes,
                                                  [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; });
  };
  using namespace std::string_view_literals;
  return starts("BM"sv) || starts("\xFF\xD8\xFF"sv) || starts("\x89PNG\r\n\x1A\n"sv) || starts("GIF87a"sv) ||
         starts("GIF89a"sv) || starts("II*\0"sv) || starts("MM\0*"sv) || starts("\0\0\1\0"sv);
}

std::uint32_t TextTexel(unsigned coverage, std::uint32_t argb, bool blackBackground) {
  const double colourAlpha = static_cast<double>(argb >> 24) / 255.0;
  const double textAlpha = colourAlpha * std::min(coverage, 255u) / 255.0;
  const auto byte = [](double value) { return static_cast<std::uint32_t>(std::lround(std::clamp(value, 0.0, 255.0))); };
  if (!blackBackground) return byte(textAlpha * 255.0) << 24 | (argb & 0xFFFFFFu);
  // Black at the colour's alpha, then the text over it: what shows of the game is (1 - a)(1 - t), and the colour
  // the two leave is the text's colour by t alone.
  const double alpha = 1.0 - (1.0 - colourAlpha) * (1.0 - textAlpha);
  if (alpha <= 0.0) return 0;
  std::uint32_t texel = byte(alpha * 255.0) << 24;
  for (int shift = 0; shift <= 16; shift += 8) {
    texel |= byte(static_cast<double>((argb >> shift) & 0xFFu) * textAlpha / alpha) << shift;
  }
  return texel;
}

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
