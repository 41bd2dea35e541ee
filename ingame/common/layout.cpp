#include "ingame/common/layout.h"

#include <algorithm>
#include <cctype>
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

namespace {

// Whether a part of a path is one of the names the system keeps for devices, whatever its extension.
bool IsDeviceName(std::string_view part) {
  part = part.substr(0, part.find('.'));
  part = part.substr(0, part.find(':'));
  while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
  std::string upper(part);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
      upper == "CONOUT$" || upper == "CLOCK$") {
    return true;
  }
  return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
         upper[3] >= '0' && upper[3] <= '9';
}

}  // namespace

bool IsDriveFilePath(std::string_view path) {
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() < 4 || !std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':' || !separator(path[2])) {
    return false;
  }
  std::size_t start = 3;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !separator(path[end])) ++end;
    if (IsDeviceName(path.substr(start, end - start))) return false;
    start = end + 1;
  }
  return !separator(path.back());
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

PictureCrop CropPicture(Size size, std::uint32_t maxWidth, std::uint32_t maxHeight, std::int32_t x, std::int32_t y,
                        std::int64_t canvasWidth, std::int64_t canvasHeight) {
  PictureCrop crop;
  crop.shown = FitWithin(size, maxWidth, maxHeight);
  const Rect placed{x, y, x + std::int64_t{crop.shown.width}, y + std::int64_t{crop.shown.height}};
  crop.visible = Intersect(placed, Rect{0, 0, canvasWidth, canvasHeight});
  if (!crop.visible.Empty()) {
    crop.region = Rect{crop.visible.left - placed.left, crop.visible.top - placed.top, crop.visible.right - placed.left,
                       crop.visible.bottom - placed.top};
  }
  return crop;
}

bool LayFigure(std::string_view text, int cellWidth, int padding, std::vector<FigureCell>& cells) {
  cells.clear();
  const std::string_view glyphs(kFpsGlyphs);
  // The margins are slices of the blank glyph.
  cells.push_back(FigureCell{0, 0, padding});
  int offset = padding;
  for (char c : text) {
    const std::size_t glyph = glyphs.find(c);
    if (glyph == std::string_view::npos) {
      cells.clear();
      return false;
    }
    cells.push_back(FigureCell{static_cast<int>(glyph), offset, cellWidth});
    offset += cellWidth;
  }
  cells.push_back(FigureCell{0, offset, padding});
  return true;
}

}  // namespace ingame
