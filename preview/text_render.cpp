#include "preview/text_render.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace preview {
namespace {

// A font for the look: Arial or Courier New at the look's pixel height, greyscale-smoothed so that its
// coverage is one value per pixel.
HFONT CreateLookFont(const TextLook& look) {
  return CreateFontA(-FontPixelHeight(look.size), 0, 0, 0, look.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                     look.monospace ? FIXED_PITCH | FF_MODERN : VARIABLE_PITCH | FF_SWISS,
                     look.monospace ? "Courier New" : "Arial");
}

// A memory device context with the look's font selected, for measuring and drawing.
class FontDc {
 public:
  explicit FontDc(const TextLook& look) : dc_(CreateCompatibleDC(nullptr)), font_(CreateLookFont(look)) {
    oldFont_ = SelectObject(dc_, font_);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc_, &metrics);
    lineHeight_ = std::max<int>(metrics.tmHeight, 1);
  }
  ~FontDc() {
    SelectObject(dc_, oldFont_);
    DeleteObject(font_);
    DeleteDC(dc_);
  }
  FontDc(const FontDc&) = delete;
  FontDc& operator=(const FontDc&) = delete;

  HDC dc() const { return dc_; }
  int lineHeight() const { return lineHeight_; }
  int Width(const std::string& text) const {
    SIZE size{};
    GetTextExtentPoint32A(dc_, text.data(), static_cast<int>(text.size()), &size);
    return size.cx;
  }

 private:
  HDC dc_;
  HFONT font_;
  HGDIOBJ oldFont_ = nullptr;
  int lineHeight_ = 1;
};

// Draws the lines white on black into a bitmap covering `visible`, one line height apart from the top left
// corner `origin`, and keeps how much each pixel was covered. Nothing outside `visible` is drawn.
Coverage Render(const FontDc& font, const std::vector<std::string>& lines, int originX, int originY,
                const Rect& visible) {
  Coverage coverage;
  if (visible.Empty()) return coverage;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = visible.Width();
  info.bmiHeader.biHeight = -visible.Height();
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(font.dc(), &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) {
    if (bitmap) DeleteObject(bitmap);
    return coverage;
  }
  const std::size_t count = static_cast<std::size_t>(visible.Width()) * visible.Height();
  std::fill_n(static_cast<std::uint32_t*>(bits), count, 0u);
  HGDIOBJ oldBitmap = SelectObject(font.dc(), bitmap);
  SetTextColor(font.dc(), RGB(255, 255, 255));
  SetBkMode(font.dc(), TRANSPARENT);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int y = originY + static_cast<int>(i) * font.lineHeight() - visible.top;
    if (y >= visible.Height()) break;
    TextOutA(font.dc(), originX - visible.left, y, lines[i].data(), static_cast<int>(lines[i].size()));
  }
  GdiFlush();
  coverage.bounds = visible;
  coverage.values.resize(count);
  const auto* pixels = static_cast<const std::uint32_t*>(bits);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t p = pixels[i];
    coverage.values[i] = static_cast<std::uint8_t>(std::max({p & 0xFFu, (p >> 8) & 0xFFu, (p >> 16) & 0xFFu}));
  }
  SelectObject(font.dc(), oldBitmap);
  DeleteObject(bitmap);
  return coverage;
}

TextElement Element(const Message& message, const Rect& box) {
  TextElement element;
  element.set = true;
  element.look = message.look;
  element.box = box;
  return element;
}

}  // namespace

TextElement MakeLine(const Message& message, const Rect& screen) {
  const FontDc font(message.look);
  const Rect box{message.x, message.y, message.x + font.Width(message.text), message.y + font.lineHeight()};
  TextElement element = Element(message, box);
  element.coverage = Render(font, {message.text}, message.x, message.y, Intersect(box, screen));
  return element;
}

TextElement MakeBlock(const Message& message, const Rect& screen) {
  const FontDc font(message.look);
  const Rect box{message.x, message.y, message.x + message.width, message.y + message.height};
  TextElement element = Element(message, box);
  element.coverage = Render(font, SplitLines(message.text), message.x, message.y, Intersect(box, screen));
  return element;
}

}  // namespace preview
