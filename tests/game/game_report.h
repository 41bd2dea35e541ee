// What the test game tells the tests, through a section named after its process id: how many frames it
// presented, whether the states it set were still set after each frame (so the overlay restored them), and, on
// request, the pixels of the frame it presented last, read back from its back buffer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace testgame {

// Room for the largest back buffer the tests use, the test screen's full size included.
inline constexpr std::uint32_t kMaxCapturePixels = 2048 * 1280;

struct Report {
  std::atomic<std::uint32_t> frames;           // presents that returned
  std::atomic<std::uint32_t> devices;          // devices created
  std::atomic<std::uint32_t> resets;           // successful resets
  std::atomic<std::uint32_t> lostFrames;       // frames the device was lost for
  std::atomic<std::uint32_t> stateChecks;      // frames after which the game checked its states
  std::atomic<std::uint32_t> stateMismatches;  // states found changed, over all checks
  std::atomic<std::int32_t> failure;           // an HRESULT that stopped the game, 0 while it runs
  std::uint32_t maxTextureWidth;               // the device's largest texture
  std::uint32_t maxTextureHeight;
  char firstMismatch[192];                     // which state, what was set, what was read
  char failureWhat[96];                        // the call that failed
  // The test asks for a capture by making `captureRequest` differ from `captureDone`; the game reads its back
  // buffer after its next present, fills these, then sets `captureDone` to the request it served.
  std::atomic<std::uint32_t> captureRequest;
  std::atomic<std::uint32_t> captureDone;
  std::uint32_t captureWidth;
  std::uint32_t captureHeight;
  std::uint32_t pixels[kMaxCapturePixels];  // 0x00RRGGBB, rows top first
};

inline std::string ReportName(unsigned long processId) {
  return "Local\\va_vazu.testgame." + std::to_string(processId);
}

}  // namespace testgame
