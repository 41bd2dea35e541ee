// What the test game tells the tests, through a section named after its process id: how many frames it
// presented, whether the states it set were still set after each frame (so the overlay restored them), whether its
// back buffers were still as it drew them, what it found when it probed the device's objects, and, on request, the
// pixels of a frame it presented, read off the screen.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace testgame {

// Room for the largest window the tests capture, the test screen's full size included.
inline constexpr std::uint32_t kMaxCapturePixels = 2048 * 1280;

struct Report {
  std::atomic<std::uint32_t> frames;           // presents that returned
  std::atomic<std::uint32_t> devices;          // devices created
  std::atomic<std::uint32_t> resets;           // successful resets
  std::atomic<std::uint32_t> lostFrames;       // frames the device was lost for
  std::atomic<std::uint32_t> stateChecks;      // frames after which the game checked its states
  std::atomic<std::uint32_t> stateMismatches;  // states found changed, over all checks
  std::atomic<std::uint32_t> bufferChecks;     // presents after which the game checked its back buffers
  std::atomic<std::uint32_t> bufferMismatches; // back buffers found changed, over all checks
  std::atomic<std::int32_t> failure;           // an HRESULT that stopped the game, 0 while it runs
  std::atomic<std::uint32_t> probed;           // 1 once `probe` is written
  std::atomic<std::uint32_t> resetRequests;    // resets the test asked for (to --reset-size, or the same size)
  std::atomic<std::uint32_t> releaseRequests;  // set by the test: --release-on-request lets its objects go
  // --side-thread: the other thread's rounds of calls, the calls that failed, and the states it read unlike the
  // game's (the game set them once and never changes them).
  std::atomic<std::uint32_t> sideRounds;
  std::atomic<std::uint32_t> sideFailures;
  std::atomic<std::uint32_t> sideStrangeReads;
  // --failing-reset: what the first Reset (a D3DPOOL_DEFAULT texture held) and the second returned.
  std::atomic<std::int32_t> firstReset;
  std::atomic<std::int32_t> secondReset;
  // --second-table: the presents the game made of objects with the counting table, and the calls its functions saw.
  std::atomic<std::uint32_t> privatePresents;
  std::atomic<std::uint32_t> countedPresents;
  // --other-tool: the calls of the tool's Present and EndScene.
  std::atomic<std::uint32_t> toolPresents;
  std::atomic<std::uint32_t> toolEndScenes;
  // --refuse-textures: the textures refused; --cbt-hook: the windows made on the game's thread once it runs.
  std::atomic<std::uint32_t> refusedTextures;
  std::atomic<std::uint32_t> hookedWindows;
  // Direct3D 9: the presents that returned D3DERR_WASSTILLDRAWING (--present-donotwait), of which the emulated busy
  // device made so (--still-drawing), and what creating a D3DPOOL_MANAGED texture returned (none on an Ex device).
  std::atomic<std::uint32_t> stillDrawing;
  std::atomic<std::uint32_t> stillDrawingMade;
  std::atomic<std::uint32_t> throughChain;
  std::atomic<std::int32_t> managedPool;
  std::uint32_t maxTextureWidth;               // the device's largest texture
  std::uint32_t maxTextureHeight;
  char firstMismatch[192];                     // which state or buffer, what was set, what was read
  char failureWhat[96];                        // the call that failed
  // What the probe of the device's objects found (--probe), the device's defaults (--defaults), whether released
  // objects ended (--release-on-request), or a device whose table was put back (--restore-table): lines of
  // "name value", in a fixed order.
  char probe[65536];
  // The test asks for a capture by setting `captureWindow` (0: the game's window, 1...: the windows of its
  // additional swap chains) and making `captureRequest` differ from `captureDone`; the game reads that window's
  // client area off the screen after its next present, fills these, then sets `captureDone` to the request it
  // served.
  std::atomic<std::uint32_t> captureWindow;
  std::atomic<std::uint32_t> captureRequest;
  std::atomic<std::uint32_t> captureDone;
  std::uint32_t captureWidth;
  std::uint32_t captureDevice;  // which of the devices the game made (1, 2, ...) presented the captured frame
  std::uint32_t captureHeight;
  std::uint32_t pixels[kMaxCapturePixels];  // 0x00RRGGBB, rows top first
};

inline std::string ReportName(unsigned long processId) {
  return "Local\\va_vazu.testgame." + std::to_string(processId);
}

}  // namespace testgame
