#include "ingame/common/probe_window.h"

#include <cwchar>
#include <utility>

namespace ingame {

CProbeWindow::CProbeWindow() {
  std::shared_ptr<State> state;
  std::unique_ptr<std::shared_ptr<State>> handed;
  try {
    state = std::make_shared<State>();
    handed.reset(new std::shared_ptr<State>(state));
  } catch (...) {
    return;  // out of memory: no probe
  }
  state->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  state->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!state->ready || !state->done) return;
  HANDLE thread = CreateThread(nullptr, kStackBytes, Serve, handed.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (!thread) return;
  handed.release();
  CloseHandle(thread);
  state_ = std::move(state);
  // Bounded: the window's thread may meet the game's own start-up work (its libraries' thread notifications).
  if (WaitForSingleObject(state_->ready, kReadyMilliseconds) == WAIT_OBJECT_0) window_ = state_->window;
}
DWORD WINAPI CProbeWindow::Serve(void* parameter) {
  const std::unique_ptr<std::shared_ptr<State>> handed(static_cast<std::shared_ptr<State>*>(parameter));
  State& state = **handed;
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&kStackBytes), &module);
  // A name of this thread's own, so that two probes at once never share a class.
  wchar_t name[64];
  swprintf(name, 64, L"va_vazu overlay flip probe %lu", GetCurrentThreadId());
  WNDCLASSW description{};
  description.lpfnWndProc = DefWindowProcW;
  description.hInstance = module;
  description.lpszClassName = name;
  const ATOM windowClass = RegisterClassW(&description);
  HWND window = windowClass ? CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, name, L"", WS_POPUP, 0, 0,
                                              8, 8, nullptr, nullptr, module, nullptr)
                            : nullptr;
  state.window = window;
  SetEvent(state.ready);
  // Serves whatever the system sends the window while the probe uses it.
  while (MsgWaitForMultipleObjects(1, &state.done, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  if (window) DestroyWindow(window);
  if (windowClass) UnregisterClassW(name, module);
  return 0;
}

}  // namespace ingame
