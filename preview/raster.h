// The preview's picture of a game screen, in plain memory: the moving scene, and the overlay elements blended
// over it. Window-free; the window code only turns texts into coverage masks and pictures into pixels, and
// puts the finished frame on the screen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "preview/protocol.h"

namespace preview {

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
};

// The part the two have in common; empty (all zero) when they do not overlap.
Rect Intersect(const Rect& a, const Rect& b);

// 0x00RRGGBB pixels, top row first: the layout of a 32-bit top-down device-independent bitmap.
struct Pixels {
  std::uint32_t* data = nullptr;
  int width = 0;
  int height = 0;

  Rect Bounds() const { return Rect{0, 0, width, height}; }
  std::uint32_t& At(int x, int y) const { return data[static_cast<std::size_t>(y) * width + x]; }
};

// `over` mixed onto `under` by `alpha` (0 keeps `under`, 255 gives `over`), each colour channel rounded.
std::uint32_t Blend(std::uint32_t under, std::uint32_t over, unsigned alpha);

// Fills the part of `rect` inside the frame with `rgb`, mixed in by `alpha`.
void FillBlended(const Pixels& frame, const Rect& rect, std::uint32_t rgb, unsigned alpha);

// How much of each pixel of `bounds` a text covers (0-255), rows top first; made by drawing it white on black.
struct Coverage {
  Rect bounds;
  std::vector<std::uint8_t> values;
};

// Mixes `rgb` into the frame wherever the coverage has it, by coverage times `alpha`.
void BlendCoverage(const Pixels& frame, const Coverage& coverage, std::uint32_t rgb, unsigned alpha);

// A loaded picture: 0xAARRGGBB pixels, not premultiplied, top row first.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> argb;
};

// Draws the picture with its top left corner at (x, y), each pixel mixed in by its own alpha; the parts outside
// the frame are left out.
void DrawPicture(const Pixels& frame, const Picture& picture, int x, int y);

// The lines of a text block: separated by CR LF; a lone CR or LF stays part of its line.
std::vector<std::string> SplitLines(const std::string& text);

// The pixel height of a text's font for the overlay's size value; 0 means the overlay's default.
int FontPixelHeight(std::uint8_t size);

// A text element as the overlay holds it: what was last set, whether it is shown, and its coverage on the
// screen. For the single line `box` is where its text lies; for the block it is the box the text is clipped to.
struct TextElement {
  bool set = false;
  bool shown = false;
  TextLook look;
  Rect box;
  Coverage coverage;
};

struct PictureElement {
  bool loaded = false;
  bool shown = false;
  int x = 0;
  int y = 0;
  Picture picture;
};

// Everything drawn over the game, and the frame counter's text (drawn by the window code, as it needs a font).
struct Overlay {
  TextElement line;
  TextElement block;
  PictureElement picture;
  bool fpsShown = false;
};

// Draws the shown elements over the frame: the picture, then the block, then the line; a text's black
// background fills its box, mixed in by the text's alpha like the text itself, so alpha 0 draws nothing.
void ComposeOverlay(const Pixels& frame, const Overlay& overlay);

// The moving game-like scene at `milliseconds` since start: sky, hills and a chequered floor scrolling toward
// the viewer, and a craft swaying over it. Cheap enough to draw every frame at any size.
void DrawScene(const Pixels& frame, std::uint32_t milliseconds);

// Frames per second over the last whole second.
class FpsMeter {
 public:
  // Counts one frame shown at `milliseconds`; returns true when the figure changed.
  bool AddFrame(std::uint64_t milliseconds);
  int Fps() const { return fps_; }

 private:
  std::uint64_t windowStart_ = 0;
  int framesInWindow_ = 0;
  bool started_ = false;
  int fps_ = 0;
};

// Where a window of the given size goes beside `other`: to its right if it fits in the work area, else to its
// left, else the side with more room, kept inside the work area as far as it can be; top edges aligned.
Rect PlaceBeside(const Rect& other, int width, int height, const Rect& workArea);

}  // namespace preview
