#include "core/placement.h"

namespace core {

namespace {

// The start of a span of `size` moved as little as needed into [low, high); where it does not fit, it starts
// at `low`.
int KeepInside(int start, int size, int low, int high) {
  if (start + size > high) start = high - size;
  if (start < low) start = low;
  return start;
}

}  // namespace

ScreenPoint CentredOrigin(const ScreenRect& on, int width, int height, const ScreenRect& area) {
  const int left = on.left + (on.right - on.left - width) / 2;
  const int top = on.top + (on.bottom - on.top - height) / 2;
  return {KeepInside(left, width, area.left, area.right), KeepInside(top, height, area.top, area.bottom)};
}

}  // namespace core
