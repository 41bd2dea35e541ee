// A window of the overlay's own that is never shown, for a swap chain the overlay makes to find out how the device
// flips (the flip probe of each Direct3D's layer).
#pragma once

#include <windows.h>

#include <memory>

namespace ingame {

// It is made, served and destroyed by a thread of its own, under a class registered with this library's module for
// that time only: a game's hooks on its own threads see no window made, and nothing stays registered under the
// game's module.
class CProbeWindow {
 public:
  CProbeWindow();
  ~CProbeWindow() {
    // The thread destroys the window, unregisters its class and ends; nothing waits for it.
    if (state_) SetEvent(state_->done);
  }
  CProbeWindow(const CProbeWindow&) = delete;
  CProbeWindow& operator=(const CProbeWindow&) = delete;

  HWND window() const { return window_; }

 private:
  static constexpr DWORD kStackBytes = 64 * 1024;
  static constexpr DWORD kReadyMilliseconds = 1000;

  // Shared by the two threads: the one that asked may have given up waiting before the window was made.
  struct State {
    HANDLE ready = nullptr;
    HANDLE done = nullptr;
    HWND window = nullptr;
    ~State() {
      if (ready) CloseHandle(ready);
      if (done) CloseHandle(done);
    }
  };

  static DWORD WINAPI Serve(void* parameter);

  std::shared_ptr<State> state_;
  HWND window_ = nullptr;
};

}  // namespace ingame
