#include "ingame/common/tile_pixels.h"

#include <cstddef>
#include <cstring>

namespace ingame {
namespace {

// A pixel of 0xAARRGGBB in a texture format of 16 bits.
std::uint16_t ToA4R4G4B4(std::uint32_t p) {
  return static_cast<std::uint16_t>(((p >> 16) & 0xF000) | ((p >> 12) & 0x0F00) | ((p >> 8) & 0x00F0) | ((p >> 4) & 0x000F));
}

std::uint16_t ToA1R5G5B5(std::uint32_t p) {
  return static_cast<std::uint16_t>(((p >> 31) << 15) | ((p >> 9) & 0x7C00) | ((p >> 6) & 0x03E0) | ((p >> 3) & 0x001F));
}

}  // namespace

void FillPart(const std::uint32_t* pixels, int imageWidth, const Rect& part, TileFormat format, void* bits,
              std::int64_t pitch) {
  const auto width = static_cast<std::size_t>(part.Width());
  for (std::int64_t y = part.top; y < part.bottom; ++y) {
    const std::uint32_t* from = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(imageWidth) +
                                static_cast<std::size_t>(part.left);
    auto* to = static_cast<unsigned char*>(bits) + static_cast<std::ptrdiff_t>((y - part.top) * pitch);
    if (PixelBytes(format) == 2) {
      for (std::size_t x = 0; x < width; ++x) {
        const std::uint16_t pixel = format == TileFormat::kA4R4G4B4 ? ToA4R4G4B4(from[x]) : ToA1R5G5B5(from[x]);
        std::memcpy(to + x * 2, &pixel, 2);
      }
    } else {
      std::memcpy(to, from, width * 4);
    }
  }
}

void QuadCorners(const Rect& area, const Rect& content, int tileSide, QuadVertex (&corners)[4]) {
  // The texels carry the colours; the vertices only pass them on.
  constexpr std::uint32_t argb = 0xFFFFFFFF;
  const float side = static_cast<float>(tileSide);
  // Pixel centres sit half a pixel off the corners: moving the quad back by half a pixel puts texel centres on
  // them, so each texel lands on exactly one pixel.
  const float left = static_cast<float>(area.left) - 0.5f;
  const float top = static_cast<float>(area.top) - 0.5f;
  const float right = static_cast<float>(area.right) - 0.5f;
  const float bottom = static_cast<float>(area.bottom) - 0.5f;
  const float u0 = static_cast<float>(content.left) / side;
  const float v0 = static_cast<float>(content.top) / side;
  const float u1 = static_cast<float>(content.right) / side;
  const float v1 = static_cast<float>(content.bottom) / side;
  corners[0] = {left, top, 0.0f, 1.0f, argb, u0, v0};
  corners[1] = {right, top, 0.0f, 1.0f, argb, u1, v0};
  corners[2] = {left, bottom, 0.0f, 1.0f, argb, u0, v1};
  corners[3] = {right, bottom, 0.0f, 1.0f, argb, u1, v1};
}

}  // namespace ingame
