// When to try again what failed for want of something the device may have again later, such as video memory: at
// once the first time, then after waits that double from 50 ms to a quarter of a second. A device that stays full
// pays for a failed attempt (a refused CreateTexture, a band or two of upload) four times a second at most, never
// every frame; one that frees memory, or is reset, gets the overlay's element back within a quarter of a second.
#pragma once

#include <algorithm>
#include <cstdint>

namespace ingame {

class CBackoff {
 public:
  static constexpr std::uint64_t kFirstWaitMicroseconds = 50'000;
  static constexpr std::uint64_t kLongestWaitMicroseconds = 250'000;

  // Whether an attempt is due at `now` (microseconds of one clock).
  bool Due(std::uint64_t now) const { return now >= next_; }
  // An attempt at `now` failed: the next waits longer than the last.
  void Failed(std::uint64_t now) {
    wait_ = wait_ == 0 ? kFirstWaitMicroseconds : std::min(wait_ * 2, kLongestWaitMicroseconds);
    next_ = now + wait_;
  }
  // An attempt succeeded: a later failure starts again from the first wait.
  void Succeeded() { wait_ = next_ = 0; }
  // Something changed that may let the next attempt succeed (a reset, new content): it is due at once, and a failure
  // goes on waiting as long as before.
  void TryNow() { next_ = 0; }

 private:
  std::uint64_t wait_ = 0;
  std::uint64_t next_ = 0;
};

}  // namespace ingame
