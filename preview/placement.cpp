#include "preview/placement.h"

#include <algorithm>

namespace preview {
namespace {

// Clamps `start` so that [start, start + length) lies in [low, high) when it can, else starts at `low`.
int KeepInside(int start, int length, int low, int high) { return std::max(low, std::min(start, high - length)); }

}  // namespace

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
