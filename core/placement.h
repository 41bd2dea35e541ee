// Where a dialog goes on the screen. Window-free, so it is tested natively.
#pragma once

namespace core {

// A rectangle in screen pixels; its right and bottom edges lie just outside it.
struct ScreenRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

struct ScreenPoint {
  int x = 0;
  int y = 0;
};

// The top-left corner that puts the centre of a window of `width` x `height` pixels on the centre of `on`,
// then moved as little as needed to lie within `area`, a monitor's work area. A window larger than the area
// keeps its top-left corner in it, so that its title bar stays within reach.
ScreenPoint CentredOrigin(const ScreenRect& on, int width, int height, const ScreenRect& area);

}  // namespace core
