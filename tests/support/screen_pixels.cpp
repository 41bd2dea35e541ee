#include "tests/support/screen_pixels.h"

namespace testsupport {

BITMAPINFO TopDownBitmapInfo(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

std::vector<std::uint32_t> ScreenPixels(const RECT& area) {
  std::vector<std::uint32_t> pixels;
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return pixels;
  const BITMAPINFO info = TopDownBitmapInfo(width, height);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap && bits) {
    const HGDIOBJ before = SelectObject(memory, bitmap);
    if (BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY)) {
      GdiFlush();
      const auto* read = static_cast<const std::uint32_t*>(bits);
      pixels.assign(read, read + static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
      for (std::uint32_t& p : pixels) p &= 0xFFFFFFu;
    }
    SelectObject(memory, before);
  }
  if (bitmap) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

}  // namespace testsupport
