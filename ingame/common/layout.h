// Where the overlay's elements go on a game's screen, and the small pieces of drawing arithmetic around them.
// Window-free.
#pragma once

#include <cstddef>
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

// Whether a file's first bytes are those of a picture format the system's imaging component always reads: BMP,
// JPEG, PNG, GIF, TIFF or icon.
bool HasPictureSignature(const unsigned char* bytes, std::size_t size);

// Scales a picture down to `to` (each side at most the source's) by averaging the source pixels each target pixel
// covers, channel by channel, alpha included. Pixels are 32-bit, rows `stride` pixels apart.
void ScaleDown(const std::uint32_t* source, Size from, std::size_t sourceStride, std::uint32_t* target, Size to,
               std::size_t targetStride);

}  // namespace ingame
