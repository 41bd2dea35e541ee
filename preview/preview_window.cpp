#include "preview/preview_window.h"

#include <psapi.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <vector>

#include "preview/picture_file.h"
#include "preview/placement.h"
#include "preview/window_class.h"

namespace preview {
namespace {

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr UINT_PTR kPlaceTimer = 1;
constexpr UINT kPlaceIntervalMs = 250;
constexpr int kPlaceAttempts = 240;  // a minute of looking for the window to sit beside
// How long to wait before asking a lost device again whether it can be reset.
constexpr DWORD kLostDeviceWaitMs = 50;
// A benchmark run counts frames only after this much: loading, the first frames and the overlay's first
// textures are not what it measures.
constexpr double kWarmUpMs = 1000.0;

double NowMilliseconds() {
  static const double ticksPerMs = [] {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticksPerMs;
}

// Sleeps up to `milliseconds`, waking early for any message.
void WaitForMessages(DWORD milliseconds) {
  MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

Rect ToRect(const RECT& r) { return Rect{r.left, r.top, r.right, r.bottom}; }

// The processor time of the whole process (the renderer's threads included), in milliseconds.
double ProcessorMilliseconds() {
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto value = [](const FILETIME& t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  return (value(kernel) + value(user)) / 10000.0;
}

// What a benchmark run measured, one key=value a line: its frames, their time and processor time, the 99th
// percentile and the longest of the times between one frame and the next, and the peak working set.
void WriteStats(const std::string& path, std::vector<double>& frameTimes, double milliseconds,
                double processorMilliseconds) {
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  std::sort(frameTimes.begin(), frameTimes.end());
  // Nearest rank: the time that 99 in 100 frames stay within.
  const std::size_t rank = frameTimes.empty() ? 0 : (frameTimes.size() * 99 + 99) / 100 - 1;
  std::ofstream out(path, std::ios::trunc);
  out << "frames=" << frameTimes.size() << "\nmilliseconds=" << milliseconds << "\nprocessor_milliseconds="
      << processorMilliseconds << "\npeak_working_set=" << memory.PeakWorkingSetSize
      << "\nframe_p99=" << (frameTimes.empty() ? 0.0 : frameTimes[rank])
      << "\nframe_longest=" << (frameTimes.empty() ? 0.0 : frameTimes.back()) << "\n";
}

}  // namespace

CPreviewWindow::CPreviewWindow(const Options& options) : options_(options), renderer_(MakeRenderer(options)) {}

// The device goes before its window.
CPreviewWindow::~CPreviewWindow() {
  renderer_->Release();
  if (window_) DestroyWindow(window_);
}

bool CPreviewWindow::Create(HINSTANCE instance, std::string& error) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExA(&windowClass)) {
    error = "The window class cannot be registered (error " + std::to_string(GetLastError()) + ").";
    return false;
  }

  RECT outer{0, 0, options_.width, options_.height};
  AdjustWindowRectEx(&outer, kStyle, FALSE, 0);
  const int x = options_.x ? *options_.x : CW_USEDEFAULT;
  const int y = options_.y ? *options_.y : CW_USEDEFAULT;
  window_ = CreateWindowExA(0, kWindowClass, "", kStyle, x, y, outer.right - outer.left, outer.bottom - outer.top,
                            nullptr, nullptr, instance, this);
  if (!window_) {
    error = "The window cannot be created (error " + std::to_string(GetLastError()) + ").";
    return false;
  }
  // The device first: a window that cannot have one is never shown.
  if (!renderer_->Create(window_, options_, error)) return false;
  LoadScene();
  SetTitle();
  if (!options_.beside.empty()) SetTimer(window_, kPlaceTimer, kPlaceIntervalMs, nullptr);
  ShowWindow(window_, SW_SHOWNORMAL);
  return true;
}

// The frame loop of a game: handle what is waiting, present the next frame when it is due, else sleep until
// it is due or a message comes.
int CPreviewWindow::Run() {
  const double period = options_.frameLimit > 0 ? 1000.0 / options_.frameLimit : 0.0;
  const double start = NowMilliseconds();
  double next = start;
  // A benchmark run: frames counted from the end of the warm-up, with the processor time they took.
  double measureStart = -1.0;
  double processorStart = 0.0;
  double lastFrame = 0.0;
  std::vector<double> frameTimes;
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (IsIconic(window_)) {
      WaitForMessages(100);
      continue;
    }
    const double now = NowMilliseconds();
    if (now >= next) {
      if (!renderer_->DrawFrame((now - start) / 1000.0)) {
        WaitForMessages(kLostDeviceWaitMs);
        continue;
      }
      if (options_.runForMs > 0) {
        const double after = NowMilliseconds();
        if (measureStart < 0.0 && after - start >= kWarmUpMs) {
          measureStart = after;
          processorStart = ProcessorMilliseconds();
          frameTimes.reserve(static_cast<std::size_t>(options_.runForMs) * 2);
        } else if (measureStart >= 0.0) {
          frameTimes.push_back(after - lastFrame);
          if (after - measureStart >= options_.runForMs) {
            WriteStats(options_.stats, frameTimes, after - measureStart, ProcessorMilliseconds() - processorStart);
            DestroyWindow(window_);
          }
        }
        lastFrame = after;
      }
      // Behind by more than a frame (a slow frame, a drag): start counting again from now.
      next = std::max(next + period, now);
      continue;
    }
    WaitForMessages(static_cast<DWORD>(std::ceil(next - now)));
  }
}

LRESULT CALLBACK CPreviewWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<CPreviewWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<CPreviewWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!self) return DefWindowProcA(window, message, wParam, lParam);
  return self->OnMessage(message, wParam, lParam);
}

// Keys are left to the default handling: the hook library sees them on their way to this window, as it
// does in a game, and nothing here consumes them.
LRESULT CPreviewWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == kPlaceTimer) OnPlaceTimer();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      // The next frame covers the window; there is nothing to draw in between.
      ValidateRect(window_, nullptr);
      return 0;
    case WM_DESTROY:
      // The device goes before its window.
      renderer_->Release();
      window_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window_, message, wParam, lParam);
  }
}

void CPreviewWindow::OnPlaceTimer() {
  HWND other = FindWindowA(nullptr, options_.beside.c_str());
  if (other && other != window_ && IsWindowVisible(other)) {
    RECT otherRect{};
    RECT ownRect{};
    GetWindowRect(other, &otherRect);
    GetWindowRect(window_, &ownRect);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoA(MonitorFromWindow(other, MONITOR_DEFAULTTONEAREST), &monitor);
    const Rect place = PlaceBeside(ToRect(otherRect), ownRect.right - ownRect.left, ownRect.bottom - ownRect.top,
                                   ToRect(monitor.rcWork));
    SetWindowPos(window_, nullptr, place.left, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    KillTimer(window_, kPlaceTimer);
  } else if (++placeAttempts_ >= kPlaceAttempts) {
    KillTimer(window_, kPlaceTimer);
  }
}

// The still picture, fitted to the screen as far as one texture holds it; one that cannot be shown leaves the
// moving scene, and the title says why.
void CPreviewWindow::LoadScene() {
  if (options_.scene.empty()) return;
  std::string error;
  const Picture picture =
      ReadPictureFile(options_.scene, std::min(options_.width, renderer_->MaxPictureWidth()),
                      std::min(options_.height, renderer_->MaxPictureHeight()), error);
  if (error.empty()) renderer_->SetStillPicture(picture, error);
  if (!error.empty()) sceneNotice_ = "scene \"" + options_.scene + "\" not shown (" + error + "), showing the moving one";
}

void CPreviewWindow::SetTitle() {
  std::string title = "va_vazu preview - game screen " + std::to_string(options_.width) + " x " +
                      std::to_string(options_.height);
  if (options_.direct3d != Direct3D::k8) title += options_.direct3d == Direct3D::k9 ? " - Direct3D 9" : " - Direct3D 9Ex";
  if (!sceneNotice_.empty()) title += " - " + sceneNotice_;
  SetWindowTextA(window_, title.c_str());
}

}  // namespace preview
