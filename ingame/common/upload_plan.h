// The order in which an image goes into a device's textures: square tiles of the image, each filled a band of rows
// at a time through a small ring of staging textures, so that a frame's share of the work can stop after any band
// and each band's work is small and bounded; and the share of a processor the worker that makes the images may
// take. Window-free.
#pragma once

#include "ingame/common/layout.h"

namespace ingame {

// One band: the part of the image (in its pixels) that goes into tile `tile` through staging texture `slot`.
struct UploadStep {
  int tile = 0;
  Rect part;
  int slot = 0;
};

// The share of the clock the overlay's worker may work, from what was measured over the last while: how much of
// the processors it may run on the game's process left free, the worker's own time counted as free. Less a margin
// for what the game waits for elsewhere (the display server, the graphics driver) and what a measurement in clock
// ticks misses, never less than a thirty-second (the worker always gets on, a little in many frames rather than
// much in one) nor more than one processor.
double WorkerShare(double freeProcessors);

class CUploadPlan {
 public:
  CUploadPlan() = default;
  // An image of `width` x `height` pixels in tiles of `side`, filled `bandRows` rows at a time through `slots`
  // staging textures, taken in turn from `firstSlot` on.
  CUploadPlan(int width, int height, int side, int bandRows, int slots, int firstSlot);

  // The tiles, left to right in rows from the top, and the part of the image each holds at its top left corner.
  int tileCount() const { return columns_ * rows_; }
  Rect TilePart(int tile) const;

  bool Done() const { return tile_ >= tileCount(); }
  // The next band; only while not Done().
  UploadStep Next();
  // The staging texture the band after the last one handed out would take: where the next image's plan goes on.
  int nextSlot() const { return slot_; }

 private:
  int width_ = 0;
  int height_ = 0;
  int side_ = 1;
  int bandRows_ = 1;
  int slots_ = 1;
  int columns_ = 0;
  int rows_ = 0;
  int tile_ = 0;    // the tile being filled
  int filled_ = 0;  // rows of it filled
  int slot_ = 0;
};

}  // namespace ingame
