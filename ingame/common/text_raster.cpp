#include "ingame/common/text_raster.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace ingame {
namespace {

HFONT CreateLookFont(const TextLook& look) {
  const bool monospace = (look.flags & kMonospace) != 0;
  return CreateFontA(-TextHeight(look), 0, 0, 0, (look.flags & kBold) ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                     monospace ? FIXED_PITCH | FF_MODERN : VARIABLE_PITCH | FF_SWISS,
                     monospace ? "Courier New" : "Arial");
}

// A memory device context with the look's font selected, released with the object.
class FontDc {
 public:
  explicit FontDc(const TextLook& look) : dc_(CreateCompatibleDC(nullptr)), font_(CreateLookFont(look)) {
    if (dc_ && font_) oldFont_ = SelectObject(dc_, font_);
  }
  ~FontDc() {
    if (oldFont_) SelectObject(dc_, oldFont_);
    if (font_) DeleteObject(font_);
    if (dc_) DeleteDC(dc_);
  }
  FontDc(const FontDc&) = delete;
  FontDc& operator=(const FontDc&) = delete;

  bool ok() const { return oldFont_ != nullptr; }
  HDC dc() const { return dc_; }
  int LineHeight() const {
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc_, &metrics);
    return std::max<int>(metrics.tmHeight, 1);
  }
  int Width(std::string_view text) const {
    SIZE size{};
    GetTextExtentPoint32A(dc_, text.data(), static_cast<int>(text.size()), &size);
    return std::max<int>(size.cx, 0);
  }

 private:
  HDC dc_;
  HFONT font_;
  HGDIOBJ oldFont_ = nullptr;
};

// The look's font in a memory device context, kept for the next text: making a font costs more than drawing a short
// line with it, and texts come in one look after another. Only the overlay's worker makes texts, so plain statics
// hold it (a compiler's thread_local may allocate on the game's heap). Null when it cannot be had.
const FontDc* FontFor(const TextLook& look) {
  // Kept for the process's life, like the worker: nothing is registered to run at its end.
  static FontDc* kept = nullptr;
  static int keptHeight = 0;
  static std::uint8_t keptFlags = 0;
  const std::uint8_t flags = look.flags & (kBold | kMonospace);
  if (!kept || !kept->ok() || keptHeight != TextHeight(look) || keptFlags != flags) {
    delete kept;
    kept = new (std::nothrow) FontDc(look);
    keptHeight = TextHeight(look);
    keptFlags = flags;
  }
  return kept && kept->ok() ? kept : nullptr;
}

}  // namespace

CTextRaster::~CTextRaster() { Free(); }

void CTextRaster::Free() {
  if (bitmap_) DeleteObject(bitmap_);
  bitmap_ = nullptr;
  bits_ = nullptr;
  width_ = 0;
  height_ = 0;
}

TextMetrics CTextRaster::Measure(std::string_view line, const TextLook& look) {
  const FontDc* font = FontFor(look);
  if (!font) return {};
  return TextMetrics{font->Width(line), font->LineHeight()};
}

bool CTextRaster::Draw(const std::vector<std::string_view>& lines, const TextLook& look, std::int64_t originX,
                       std::int64_t originY, const Rect& visible, const std::function<void()>& pause) {
  Free();
  if (visible.Empty()) return false;
  const FontDc* const kept = FontFor(look);
  if (!kept) return false;
  const FontDc& font = *kept;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(visible.Width());
  info.bmiHeader.biHeight = -static_cast<LONG>(visible.Height());  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_ = CreateDIBSection(font.dc(), &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap_ || !bits) {
    Free();
    return false;
  }
  width_ = static_cast<int>(visible.Width());
  height_ = static_cast<int>(visible.Height());
  const std::size_t rowBytes = static_cast<std::size_t>(width_) * 4;
  constexpr int kClearRows = 64;
  for (int y = 0; y < height_; y += kClearRows) {
    std::memset(static_cast<unsigned char*>(bits) + static_cast<std::size_t>(y) * rowBytes, 0,
                static_cast<std::size_t>(std::min(kClearRows, height_ - y)) * rowBytes);
    if (pause) pause();
  }
  const HGDIOBJ previous = SelectObject(font.dc(), bitmap_);
  SetTextColor(font.dc(), RGB(255, 255, 255));
  SetBkMode(font.dc(), TRANSPARENT);
  const int lineHeight = font.LineHeight();
  // Only lines that can reach the kept part are drawn: GDI takes 32-bit coordinates, and no line of the longest
  // text in the largest font is wider than 2^27 pixels.
  const std::int64_t x = originX - visible.left;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::int64_t y = originY + static_cast<std::int64_t>(i) * lineHeight - visible.top;
    if (y >= height_) break;
    if (y + lineHeight <= 0 || x >= width_ || x < -0x7FFFFFF) continue;
    TextOutA(font.dc(), static_cast<int>(x), static_cast<int>(y), lines[i].data(), static_cast<int>(lines[i].size()));
    if (pause) pause();
  }
  GdiFlush();
  SelectObject(font.dc(), previous);
  bits_ = static_cast<const std::uint32_t*>(bits);
  return true;
}

}  // namespace ingame
