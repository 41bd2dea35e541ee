// What the keyboard hook keeps about keys without asking the system: which keys are held, so that a key
// repeating is reported once, and how far the program has taken the markers posted after reports.
#pragma once

#include <bitset>
#include <cstdint>

namespace hook {

// The low-level hook names the left and right SHIFT, CTRL and ALT apart; key messages and GetKeyState use one
// code for both. Other codes are kept as they are (their low byte).
std::uint8_t CommonKeyCode(std::uint32_t virtualKey);

// The keys held down, as the low-level hook sees them go down and up.
class HeldKeys {
 public:
  // True when the key was up: a first press. A key held down repeats its press without a release between.
  bool Press(std::uint8_t key);
  void Release(std::uint8_t key) { held_.reset(key); }
  void Clear() { held_.reset(); }

 private:
  std::bitset<256> held_;
};

// Markers are numbered upwards and the number wraps; whether the marker numbered `awaited` has been taken
// once the program has taken the one numbered `taken` (markers are taken in the order they were posted).
constexpr bool MarkerReached(std::uint32_t taken, std::uint32_t awaited) {
  return taken - awaited < 0x80000000u;
}

}  // namespace hook
