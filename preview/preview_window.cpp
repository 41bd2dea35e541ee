#include "preview/preview_window.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "preview/picture_file.h"
#include "preview/text_render.h"

namespace preview {
namespace {

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr UINT_PTR kPlaceTimer = 1;
constexpr UINT kPlaceIntervalMs = 250;
constexpr int kPlaceAttempts = 240;  // a minute of looking for the window to sit beside

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

Rect ToRect(const RECT& r) { return Rect{r.left, r.top, r.right, r.bottom}; }

}  // namespace

CPreviewWindow::CPreviewWindow(const Options& options) : options_(options) {}

CPreviewWindow::~CPreviewWindow() {
  if (memoryDc_) {
    SelectObject(memoryDc_, oldBitmap_);
    DeleteDC(memoryDc_);
  }
  if (backBuffer_) DeleteObject(backBuffer_);
  if (fpsFont_) DeleteObject(fpsFont_);
}

bool CPreviewWindow::Create(HINSTANCE instance) {
  if (!CreateBackBuffer()) return false;
  LoadScene();
  fpsFont_ = CreateFontA(-16, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, FIXED_PITCH | FF_MODERN, "Courier New");

  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExA(&windowClass)) return false;

  RECT outer{0, 0, options_.width, options_.height};
  AdjustWindowRectEx(&outer, kStyle, FALSE, 0);
  const int x = options_.x ? *options_.x : CW_USEDEFAULT;
  const int y = options_.y ? *options_.y : CW_USEDEFAULT;
  window_ = CreateWindowExA(0, kWindowClass, "", kStyle, x, y, outer.right - outer.left, outer.bottom - outer.top,
                            nullptr, nullptr, instance, this);
  if (!window_) return false;
  SetNotice(std::string());
  if (!options_.beside.empty()) SetTimer(window_, kPlaceTimer, kPlaceIntervalMs, nullptr);
  ShowWindow(window_, SW_SHOWNORMAL);
  return true;
}

// The frame loop of a game: handle what is waiting, draw the next frame when it is due, else sleep until it
// is due or a message comes (a sent WM_COPYDATA wakes it too, and is applied in time for the next frame).
int CPreviewWindow::Run() {
  const double period = options_.frameLimit > 0 ? 1000.0 / options_.frameLimit : 0.0;
  double next = NowMilliseconds();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    const double now = NowMilliseconds();
    if (IsIconic(window_)) {
      MsgWaitForMultipleObjectsEx(0, nullptr, 100, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      continue;
    }
    if (now >= next) {
      DrawFrame(now);
      HDC dc = GetDC(window_);
      Present(dc);
      ReleaseDC(window_, dc);
      // Behind by more than a frame (a slow frame, a drag): start counting again from now.
      next = std::max(next + period, now);
      continue;
    }
    const DWORD wait = static_cast<DWORD>(std::ceil(next - now));
    MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
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
  try {
    return self->OnMessage(message, wParam, lParam);
  } catch (...) {
    // Out of memory for a picture or a text: the message is refused, the preview keeps running.
    return 0;
  }
}

// Keys are left to the default handling: the hook library sees them on their way to this window, as it
// does in a game, and nothing here consumes them.
LRESULT CPreviewWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COPYDATA:
      return OnCopyData(*reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case WM_TIMER:
      if (wParam == kPlaceTimer) OnPlaceTimer();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window_, &paint);
      Present(dc);
      EndPaint(window_, &paint);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window_, message, wParam, lParam);
  }
}

LRESULT CPreviewWindow::OnCopyData(const COPYDATASTRUCT& data) {
  if (data.dwData != kCopyDataTag) return 0;
  const std::optional<Message> message = Decode(data.lpData, data.cbData);
  if (!message) return 0;
  return static_cast<LRESULT>(Apply(*message));
}

std::uint32_t CPreviewWindow::Apply(const Message& message) {
  const Rect screen = frame_.Bounds();
  switch (message.command) {
    case Command::SetLine: {
      const bool shown = overlay_.line.shown;
      overlay_.line = MakeLine(message, screen);
      overlay_.line.shown = shown;
      return 1;
    }
    case Command::ShowLine:
      overlay_.line.shown = message.show;
      return 1;
    case Command::SetBlock: {
      const bool shown = overlay_.block.shown;
      overlay_.block = MakeBlock(message, screen);
      overlay_.block.shown = shown;
      return 1;
    }
    case Command::ShowBlock:
      overlay_.block.shown = message.show;
      return 1;
    case Command::LoadPicture:
      // Decoding a large file takes a while: the caller is answered first, so it never waits for it.
      ReplyMessage(1);
      LoadPicture(message.text);
      return 1;
    case Command::ShowPicture:
      overlay_.picture.shown = message.show;
      overlay_.picture.x = message.x;
      overlay_.picture.y = message.y;
      return 1;
    case Command::ScreenSize:
      return PackScreenSize(options_.width, options_.height);
    case Command::ShowFps:
      overlay_.fpsShown = message.show;
      return 1;
  }
  return 0;
}

// A picture that cannot be read leaves nothing to show, as the overlay would; the title says why.
void CPreviewWindow::LoadPicture(const std::string& path) {
  std::string error;
  Picture picture = ReadPictureFile(path, 0, 0, error);
  overlay_.picture.loaded = error.empty();
  overlay_.picture.picture = std::move(picture);
  SetNotice(error.empty() ? std::string() : "picture \"" + path + "\" not shown: " + error);
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

bool CPreviewWindow::CreateBackBuffer() {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = options_.width;
  info.bmiHeader.biHeight = -options_.height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  memoryDc_ = CreateCompatibleDC(nullptr);
  backBuffer_ = CreateDIBSection(memoryDc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!memoryDc_ || !backBuffer_ || !bits) return false;
  oldBitmap_ = SelectObject(memoryDc_, backBuffer_);
  frame_ = Pixels{static_cast<std::uint32_t*>(bits), options_.width, options_.height};
  return true;
}

void CPreviewWindow::LoadScene() {
  if (options_.scene.empty()) return;
  std::string error;
  const Picture picture = ReadPictureFile(options_.scene, options_.width, options_.height, error);
  if (!error.empty()) {
    sceneNotice_ = "scene \"" + options_.scene + "\" not read (" + error + "), showing the moving one";
    return;
  }
  // The scene is opaque: a see-through picture shows over black.
  scene_.resize(picture.argb.size());
  std::transform(picture.argb.begin(), picture.argb.end(), scene_.begin(),
                 [](std::uint32_t p) { return Blend(0, p & 0xFFFFFFu, p >> 24); });
}

void CPreviewWindow::DrawFrame(double milliseconds) {
  // Finish any drawing GDI still holds back before the bitmap's memory is written directly.
  GdiFlush();
  if (!scene_.empty()) {
    std::memcpy(frame_.data, scene_.data(), scene_.size() * sizeof scene_[0]);
  } else {
    DrawScene(frame_, static_cast<std::uint32_t>(static_cast<std::uint64_t>(milliseconds) & 0xFFFFFFFFu));
  }
  ComposeOverlay(frame_, overlay_);
  fpsMeter_.AddFrame(static_cast<std::uint64_t>(milliseconds));
  if (overlay_.fpsShown) DrawFpsFigure();
}

// The frame rate in the top right corner, yellow on black, as games show it.
void CPreviewWindow::DrawFpsFigure() {
  const std::string text = fpsMeter_.Fps() > 0 ? "FPS " + std::to_string(fpsMeter_.Fps()) : std::string("FPS --");
  HGDIOBJ oldFont = SelectObject(memoryDc_, fpsFont_);
  SIZE size{};
  GetTextExtentPoint32A(memoryDc_, text.data(), static_cast<int>(text.size()), &size);
  const RECT box{options_.width - size.cx - 12, 4, options_.width - 4, 4 + size.cy + 4};
  SetTextColor(memoryDc_, RGB(255, 255, 0));
  SetBkColor(memoryDc_, RGB(0, 0, 0));
  ExtTextOutA(memoryDc_, box.left + 4, box.top + 2, ETO_OPAQUE, &box, text.data(), static_cast<UINT>(text.size()),
              nullptr);
  SelectObject(memoryDc_, oldFont);
}

void CPreviewWindow::Present(HDC dc) const { BitBlt(dc, 0, 0, options_.width, options_.height, memoryDc_, 0, 0, SRCCOPY); }

void CPreviewWindow::SetNotice(const std::string& notice) {
  notice_ = notice;
  std::string title = "va_vazu preview - game screen " + std::to_string(options_.width) + " x " +
                      std::to_string(options_.height);
  for (const std::string* part : {&sceneNotice_, &notice_}) {
    if (!part->empty()) title += " - " + *part;
  }
  SetWindowTextA(window_, title.c_str());
}

}  // namespace preview
