// va_vazu_demo.exe: plays the user for scripts/run.sh when there is no display to look at. With the dialog and
// the preview game running, it sends the dialog's texts ("Set Text Data", both), switches the frame rate on
// ("Show FPS Info"), presses INSERT, HOME and END with the game in front, as a player would, and saves what the
// game's window shows to the file given, as a 32-bit BMP.
//
//   va_vazu_demo.exe OUTPUT.bmp
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "preview/window_class.h"
#include "res/resource.h"

namespace {

constexpr char kDialogTitle[] = "Holvane Demo App";

template <class Predicate>
bool WaitFor(Predicate done, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
  return true;
}

// Clicks a button of the dialog and returns once its handler has.
bool Click(HWND dialog, int id) {
  DWORD_PTR answer = 0;
  HWND button = GetDlgItem(dialog, id);
  return button && SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer) != 0;
}

void Press(WORD key) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = KEYEVENTF_EXTENDEDKEY;  // INSERT, HOME and END of the navigation block
  SendInput(1, &input, sizeof input);
  Sleep(60);
  input.ki.dwFlags |= KEYEVENTF_KEYUP;
  SendInput(1, &input, sizeof input);
  Sleep(250);
}

bool SaveClientArea(HWND window, const char* path) {
  RECT client{};
  POINT origin{0, 0};
  if (!GetClientRect(window, &client) || !ClientToScreen(window, &origin)) return false;
  const int width = client.right;
  const int height = client.bottom;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = SelectObject(memory, bitmap);
  // What the screen shows there: the frames the game presented, with the overlay in them.
  BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
  GdiFlush();
  const DWORD bytes = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 4;
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof header + sizeof info.bmiHeader;
  header.bfSize = header.bfOffBits + bytes;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), bytes);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return out.good();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: va_vazu_demo.exe OUTPUT.bmp\n");
    return 2;
  }
  HWND dialog = nullptr;
  HWND game = nullptr;
  if (!WaitFor([&] { return (dialog = FindWindowA(nullptr, kDialogTitle)) && IsWindowVisible(dialog); }, 20000) ||
      !WaitFor([&] { return (game = FindWindowA(preview::kWindowClass, nullptr)) != nullptr; }, 20000)) {
    std::fprintf(stderr, "va_vazu_demo: the dialog or the preview did not appear\n");
    return 1;
  }
  if (!Click(dialog, IDC_SET_LINE) || !Click(dialog, IDC_SET_MULTI) || !Click(dialog, IDC_SHOW_FPS)) {
    std::fprintf(stderr, "va_vazu_demo: the dialog did not answer\n");
    return 1;
  }
  SetForegroundWindow(game);
  WaitFor([&] { return GetForegroundWindow() == game; }, 2000);
  // Wine brings the key state of a window that just got the keyboard in line with the X server's a few
  // milliseconds later; a key pressed before would be released at once.
  Sleep(300);
  for (WORD key : {VK_INSERT, VK_HOME, VK_END}) Press(key);
  // A second of frames, so the frame-rate figure has its first value.
  Sleep(1500);
  if (!SaveClientArea(game, argv[1])) {
    std::fprintf(stderr, "va_vazu_demo: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
