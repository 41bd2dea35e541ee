// Where the overlay's elements go on a game's screen, and the small pieces of drawing arithmetic around them.
// Window-free.
#pragma once

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ingame/common/shared_state.h"

namespace ingame {

// A rectangle in 64-bit coordinates, so that a position anywhere in the 32-bit range plus a size never wraps.
struct Rect {
  std::int64_t left = 0;
  std::int64_t top = 0;
  std::int64_t right = 0;
  std::int64_t bottom = 0;

  std::int64_t Width() const { return right - left; }
  std::int64_t Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  bool operator==(const Rect& other) const {
    return left == other.left && top == other.top && right == other.right && bottom == other.bottom;
  }
};

// The part the two have in common; all zero when they do not overlap.
Rect Intersect(const Rect& a, const Rect& b);

// The lines of a text block: separated by CR LF; a lone CR or LF stays part of its line.
std::vector<std::string_view> SplitLines(std::string_view text);

// Frames per second over the last whole second, counted by the game's presents.
class FpsMeter {
 public:
  // Counts one frame presented at `milliseconds`; true when the figure changed.
  bool AddFrame(std::uint64_t milliseconds);
  int Fps() const { return fps_; }

 private:
  std::uint64_t windowStart_ = 0;
  std::uint64_t framesInWindow_ = 0;
  bool started_ = false;
  int fps_ = 0;
};

// Tells which presents begin a new frame when a game shows each frame in several windows (additional swap chains,
// or one back buffer presented to several windows): a frame ends when a target it was shown in is presented again.
// So the frames counted are those of the target presented most often, whatever the number of targets.
class FrameCounter {
 public:
  // Counts a present to `target` (any value naming a swap chain and window); true when it begins a new frame.
  bool Presented(std::uintptr_t target);

 private:
  static constexpr int kTargets = 8;
  std::uintptr_t shown_[kTargets] = {};
  int count_ = 0;
};

// The frame-rate figure as drawn: "FPS 60", or "FPS --" before the first whole second.
std::string FpsText(int fps);

// The texel of a text's texture, drawn with straight alpha blending over the game: the text's colour at
// `coverage` (0-255) of the colour's alpha and, with a black background, over black at the colour's alpha, so
// that the text and its background take one quad. 0xAARRGGBB.
std::uint32_t TextTexel(unsigned coverage, std::uint32_t argb, bool blackBackground);

// Whether a full path names a file on a drive of this machine ("C:\folder\picture.png"), the only kind of path the
// communication library reads a picture from: not a network path ("\\server\share\..."), not a device
// ("\\.\COM1", "\\?\...", "\\.\pipe\..."), and no reserved device name such as NUL, CON or COM1 as any part of it:
// any of those could hold a reader up without end.
bool IsDriveFilePath(std::string_view path);

// Where a picture goes on a screen: shown at `size` fitted within the largest texture, its top left corner at
// (x, y); `visible` is the part on the screen (canvas), `region` the same part in the shown picture's pixels.
// Never more than the screen, whatever the picture claims.
struct PictureCrop {
  Size shown;
  Rect visible;
  Rect region;
};
PictureCrop CropPicture(Size size, std::uint32_t maxWidth, std::uint32_t maxHeight, std::int32_t x, std::int32_t y,
                        std::int64_t canvasWidth, std::int64_t canvasHeight);

// Scales a picture of size `from` to `to` (each side at most the source's) and keeps the part `region` of the
// result (in `to`'s pixels, within it), written to `target` with rows `targetStride` pixels apart. Each target
// pixel is the average of the source pixels it covers, its colour weighted by their alpha, so that see-through
// pixels lend no colour to their neighbours. `row(y)` gives source row y (pixels 0xAARRGGBB, not premultiplied); it
// is asked for each row at most once per target row, top to bottom.
template <class RowOf>
void ScaleRegion(RowOf row, Size from, Size to, const Rect& region, std::uint32_t* target, std::size_t targetStride);

// The frame-rate figure drawn from prepared glyphs: each of `text`'s characters is one of FpsGlyphs(), `cellWidth`
// wide, and a blank margin of `padding` on each side. The cells, left to right: which glyph (its index in
// FpsGlyphs()), and where its part starts and how wide it is.
inline constexpr char kFpsGlyphs[] = " -0123456789FPS";
struct FigureCell {
  int glyph = 0;
  int offset = 0;  // within the figure
  int width = 0;   // of the glyph's cell used, from its left
};
// The cells of `text`, the margins included; empty when a character has no glyph. `cells` is cleared first.
bool LayFigure(std::string_view text, int cellWidth, int padding, std::vector<FigureCell>& cells);

// A sum of source pixels' colours, weighted by their alpha, and of their alphas: the mean pixel of what it covers.
class PixelSum {
 public:
  void Add(std::uint32_t pixel) {
    const std::uint64_t alpha = pixel >> 24;
    alpha_ += alpha;
    red_ += ((pixel >> 16) & 0xFFu) * alpha;
    green_ += ((pixel >> 8) & 0xFFu) * alpha;
    blue_ += (pixel & 0xFFu) * alpha;
  }
  // The mean of `count` pixels: 0 when they are all transparent.
  std::uint32_t Mean(std::uint64_t count) const {
    if (alpha_ == 0 || count == 0) return 0;
    const auto channel = [this](std::uint64_t sum) { return static_cast<std::uint32_t>((sum + alpha_ / 2) / alpha_); };
    const auto alpha = static_cast<std::uint32_t>((alpha_ + count / 2) / count);
    return alpha << 24 | channel(red_) << 16 | channel(green_) << 8 | channel(blue_);
  }

 private:
  std::uint64_t alpha_ = 0;
  std::uint64_t red_ = 0;
  std::uint64_t green_ = 0;
  std::uint64_t blue_ = 0;
};

template <class RowOf>
void ScaleRegion(RowOf row, Size from, Size to, const Rect& region, std::uint32_t* target, std::size_t targetStride) {
  if (to.width == 0 || to.height == 0 || to.width > from.width || to.height > from.height || region.Empty() ||
      region.left < 0 || region.top < 0 || region.right > to.width || region.bottom > to.height) {
    return;
  }
  const auto first = [](std::int64_t t, std::uint32_t source, std::uint32_t scaled) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(t) * source / scaled);
  };
  std::vector<PixelSum> sums(static_cast<std::size_t>(region.Width()));
  for (std::int64_t ty = region.top; ty < region.bottom; ++ty) {
    std::fill(sums.begin(), sums.end(), PixelSum());
    const std::uint32_t y0 = first(ty, from.height, to.height);
    const std::uint32_t y1 = first(ty + 1, from.height, to.height);
    for (std::uint32_t y = y0; y < y1; ++y) {
      const std::uint32_t* source = row(y);
      for (std::int64_t tx = region.left; tx < region.right; ++tx) {
        const std::uint32_t x1 = first(tx + 1, from.width, to.width);
        for (std::uint32_t x = first(tx, from.width, to.width); x < x1; ++x) sums[tx - region.left].Add(source[x]);
      }
    }
    std::uint32_t* out = target + static_cast<std::size_t>(ty - region.top) * targetStride;
    for (std::int64_t tx = region.left; tx < region.right; ++tx) {
      const std::uint64_t count =
          std::uint64_t{first(tx + 1, from.width, to.width) - first(tx, from.width, to.width)} * (y1 - y0);
      out[tx - region.left] = sums[tx - region.left].Mean(count);
    }
  }
}

}  // namespace ingame
