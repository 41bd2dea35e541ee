#include "ingame/common/upload_plan.h"

#include <algorithm>

namespace ingame {

double WorkerShare(double freeProcessors) {
  constexpr double kLeast = 1.0 / 32;
  constexpr double kMargin = 0.5;
  const double free = freeProcessors - kMargin;
  // Also where a measurement came out as no number at all.
  return free >= kLeast ? std::min(free, 1.0) : kLeast;
}

CUploadPlan::CUploadPlan(int width, int height, int side, int bandRows, int slots, int firstSlot)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      side_(std::max(side, 1)),
      bandRows_(std::clamp(bandRows, 1, std::max(side, 1))),
      slots_(std::max(slots, 1)) {
  columns_ = (width_ + side_ - 1) / side_;
  rows_ = (height_ + side_ - 1) / side_;
  slot_ = ((firstSlot % slots_) + slots_) % slots_;
}

Rect CUploadPlan::TilePart(int tile) const {
  const std::int64_t left = std::int64_t{tile % columns_} * side_;
  const std::int64_t top = std::int64_t{tile / columns_} * side_;
  return Rect{left, top, std::min<std::int64_t>(left + side_, width_), std::min<std::int64_t>(top + side_, height_)};
}

UploadStep CUploadPlan::Next() {
  const Rect tile = TilePart(tile_);
  UploadStep step;
  step.tile = tile_;
  step.part = Rect{tile.left, tile.top + filled_, tile.right,
                   std::min<std::int64_t>(tile.top + filled_ + bandRows_, tile.bottom)};
  step.slot = slot_;
  slot_ = (slot_ + 1) % slots_;
  filled_ += static_cast<int>(step.part.Height());
  if (tile.top + filled_ >= tile.bottom) {
    ++tile_;
    filled_ = 0;
  }
  return step;
}

}  // namespace ingame
