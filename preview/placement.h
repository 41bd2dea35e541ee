// Where the preview's window goes beside another. Window-free.
#pragma once

namespace preview {

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// Where a window of the given size goes beside `other`: to its right if it fits in the work area, else to its
// left, else the side with more room, kept inside the work area as far as it can be; top edges aligned.
Rect PlaceBeside(const Rect& other, int width, int height, const Rect& workArea);

}  // namespace preview
