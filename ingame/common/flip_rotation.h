// Which back buffer holds a presented frame after a flip, for the overlay's copies of what it drew over in swap
// chains that keep their back buffers as the game drew them (copy and flip swap effects).
#pragma once

namespace ingame {

// Where a flip leaves the frame it presented. The documentation's flip makes back buffer 0 the front buffer and
// brings the former front buffer back as the last back buffer, so the presented frame comes back only with the
// next present; some implementations (Wine's) leave the presented frame in the last back buffer at once.
enum class FlipRotation { kUnknown, kDocumented, kPresentedStaysLast };

// Where what was saved of the frame just presented goes back once the device has presented it.
enum class KeptFrame {
  kFirstNow,         // a copy: back buffer 0 still holds the frame
  kLastNow,          // the frame stays in the last back buffer
  kLastAtNextPresent  // the documentation's flip: the frame comes back as the last back buffer one present later
};

constexpr KeptFrame WhereFrameStays(bool flips, FlipRotation rotation) {
  return !flips                                       ? KeptFrame::kFirstNow
         : rotation == FlipRotation::kPresentedStaysLast ? KeptFrame::kLastNow
                                                         : KeptFrame::kLastAtNextPresent;
}

// The rotation found for a class of device (its method table) so far; kUnknown before it was found.
FlipRotation KnownRotationOf(const void* table);
void KeepRotation(const void* table, FlipRotation rotation);

}  // namespace ingame
