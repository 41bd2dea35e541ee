#include "key_presses.h"

namespace hook {
namespace {

// The virtual-key codes involved, as the system defines them.
constexpr std::uint32_t kShift = 0x10, kControl = 0x11, kAlt = 0x12;
constexpr std::uint32_t kLeftShift = 0xA0, kRightShift = 0xA1, kLeftControl = 0xA2, kRightControl = 0xA3,
                        kLeftAlt = 0xA4, kRightAlt = 0xA5;

}  // namespace

std::uint8_t CommonKeyCode(std::uint32_t virtualKey) {
  switch (virtualKey) {
    case kLeftShift:
    case kRightShift:
      return kShift;
    case kLeftControl:
    case kRightControl:
      return kControl;
    case kLeftAlt:
    case kRightAlt:
      return kAlt;
    default:
      return static_cast<std::uint8_t>(virtualKey & 0xFF);
  }
}

bool HeldKeys::Press(std::uint8_t key) {
  if (held_.test(key)) return false;
  held_.set(key);
  return true;
}

}  // namespace hook
