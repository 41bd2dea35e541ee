#include "preview/raster.h"

#include <algorithm>
#include <cmath>

namespace preview {
namespace {

constexpr int kDefaultFontPixelHeight = 16;

std::uint32_t Rgb(unsigned red, unsigned green, unsigned blue) { return (red << 16) | (green << 8) | blue; }

// A font cell's coverage scaled by the colour's alpha, rounded: the mix of one text pixel.
unsigned Scale(unsigned coverage, unsigned alpha) { return (coverage * alpha + 127) / 255; }

void DrawText(const Pixels& frame, const TextElement& text) {
  if (!text.set || !text.shown) return;
  const unsigned alpha = text.look.argb >> 24;
  const std::uint32_t rgb = text.look.argb & 0xFFFFFFu;
  if (text.look.blackBackground) FillBlended(frame, text.box, 0, alpha);
  BlendCoverage(frame, text.coverage, rgb, alpha);
}

// Clamps `start` so that [start, start + length) lies in [low, high) when it can, else starts at `low`.
int KeepInside(int start, int length, int low, int high) { return std::max(low, std::min(start, high - length)); }

}  // namespace

Rect Intersect(const Rect& a, const Rect& b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  return r.Empty() ? Rect{} : r;
}

std::uint32_t Blend(std::uint32_t under, std::uint32_t over, unsigned alpha) {
  std::uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const unsigned u = (under >> shift) & 0xFFu;
    const unsigned o = (over >> shift) & 0xFFu;
    out |= ((u * (255 - alpha) + o * alpha + 127) / 255) << shift;
  }
  return out;
}

void FillBlended(const Pixels& frame, const Rect& rect, std::uint32_t rgb, unsigned alpha) {
  const Rect area = Intersect(rect, frame.Bounds());
  if (alpha == 0 || area.Empty()) return;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) frame.At(x, y) = Blend(frame.At(x, y), rgb, alpha);
  }
}

void BlendCoverage(const Pixels& frame, const Coverage& coverage, std::uint32_t rgb, unsigned alpha) {
  const Rect area = Intersect(coverage.bounds, frame.Bounds());
  if (alpha == 0 || area.Empty()) return;
  const int stride = coverage.bounds.Width();
  for (int y = area.top; y < area.bottom; ++y) {
    const std::uint8_t* row = coverage.values.data() + static_cast<std::size_t>(y - coverage.bounds.top) * stride;
    for (int x = area.left; x < area.right; ++x) {
      const unsigned mix = Scale(row[x - coverage.bounds.left], alpha);
      if (mix != 0) frame.At(x, y) = Blend(frame.At(x, y), rgb, mix);
    }
  }
}

void DrawPicture(const Pixels& frame, const Picture& picture, int x, int y) {
  const Rect area = Intersect(Rect{x, y, x + picture.width, y + picture.height}, frame.Bounds());
  for (int row = area.top; row < area.bottom; ++row) {
    const std::uint32_t* source = picture.argb.data() + static_cast<std::size_t>(row - y) * picture.width;
    for (int column = area.left; column < area.right; ++column) {
      const std::uint32_t pixel = source[column - x];
      frame.At(column, row) = Blend(frame.At(column, row), pixel & 0xFFFFFFu, pixel >> 24);
    }
  }
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return lines;
    start = end + 2;
  }
}

int FontPixelHeight(std::uint8_t size) { return size == 0 ? kDefaultFontPixelHeight : size; }

void ComposeOverlay(const Pixels& frame, const Overlay& overlay) {
  const PictureElement& picture = overlay.picture;
  if (picture.loaded && picture.shown) DrawPicture(frame, picture.picture, picture.x, picture.y);
  DrawText(frame, overlay.block);
  DrawText(frame, overlay.line);
}

void DrawScene(const Pixels& frame, std::uint32_t milliseconds) {
  const int w = frame.width;
  const int h = frame.height;
  if (w <= 0 || h <= 0) return;
  const double t = milliseconds / 1000.0;
  const int horizon = h * 9 / 20;

  // Sky: deep blue at the top to a warm haze at the horizon, with hills drifting slowly across it.
  for (int y = 0; y < horizon; ++y) {
    const unsigned k = static_cast<unsigned>(255 * y / std::max(horizon, 1));
    const std::uint32_t sky = Rgb(20 + k * 200 / 255, 30 + k * 120 / 255, 90 + k * 40 / 255);
    std::fill(&frame.At(0, y), &frame.At(0, y) + w, sky);
  }
  for (int x = 0; x < w; ++x) {
    const double u = (x + t * 12.0) / std::max(w, 1) * 6.2831853;
    const int top = horizon - static_cast<int>(h * (0.06 + 0.035 * std::sin(u * 1.7) + 0.02 * std::sin(u * 4.3 + 1.0)));
    for (int y = std::max(top, 0); y < horizon; ++y) frame.At(x, y) = Rgb(60, 40, 90);
  }

  // Floor: a chequer in perspective. Row y lies at depth D / (y - horizon); columns spread with the depth, and
  // the pattern moves toward the viewer with time. Fixed-point (16.16) keeps the inner loop to adds and shifts.
  const std::int64_t scroll = static_cast<std::int64_t>(t * 3.0 * 65536);
  for (int y = horizon; y < h; ++y) {
    const std::int64_t depth = (static_cast<std::int64_t>(h) << 16) / (y - horizon + 1) / 4;  // 16.16
    const std::int64_t v = (depth + scroll) >> 16;
    const std::int64_t step = depth / std::max(w / 8, 1);
    std::int64_t u = -step * (w / 2) + (static_cast<std::int64_t>(1) << 30);  // kept positive for the parity
    const unsigned fog = static_cast<unsigned>(std::min<std::int64_t>(255, depth >> 14));
    const std::uint32_t light = Blend(Rgb(70, 170, 60), Rgb(200, 170, 140), fog);
    const std::uint32_t dark = Blend(Rgb(30, 110, 40), Rgb(200, 170, 140), fog);
    std::uint32_t* row = &frame.At(0, y);
    for (int x = 0; x < w; ++x, u += step) row[x] = (((u >> 16) + v) & 1) ? light : dark;
  }

  // The player's craft: a body and two wings swaying from side to side above the floor.
  const int size = std::max(h / 24, 2);
  const int cx = w / 2 + static_cast<int>(std::sin(t * 1.3) * w / 4);
  const int cy = h - size * 4 + static_cast<int>(std::sin(t * 3.1) * size / 2);
  FillBlended(frame, Rect{cx - size * 3, cy, cx + size * 3, cy + size / 2 + 1}, Rgb(200, 200, 210), 255);
  FillBlended(frame, Rect{cx - size / 2, cy - size, cx + size / 2, cy + size}, Rgb(230, 60, 40), 255);
}

bool FpsMeter::AddFrame(std::uint64_t milliseconds) {
  if (!started_) {
    // The first frame only starts the count: a rate is frames per time between frames.
    started_ = true;
    windowStart_ = milliseconds;
    return false;
  }
  ++framesInWindow_;
  const std::uint64_t elapsed = milliseconds - windowStart_;
  if (elapsed < 1000) return false;
  const int fps = static_cast<int>((framesInWindow_ * 1000 + elapsed / 2) / elapsed);
  windowStart_ = milliseconds;
  framesInWindow_ = 0;
  const bool changed = fps != fps_;
  fps_ = fps;
  return changed;
}

Rect PlaceBeside(const Rect& other, int width, int height, const Rect& workArea) {
  int left = 0;
  if (other.right + width <= workArea.right) {
    left = other.right;
  } else if (other.left - width >= workArea.left) {
    left = other.left - width;
  } else {
    const bool rightHasMoreRoom = workArea.right - other.right >= other.left - workArea.left;
    left = KeepInside(rightHasMoreRoom ? other.right : other.left - width, width, workArea.left, workArea.right);
  }
  const int top = KeepInside(other.top, height, workArea.top, workArea.bottom);
  return Rect{left, top, left + width, top + height};
}

}  // namespace preview
