// What the overlay's tiles hold and how they are drawn, for every Direct3D and without one: the pixel formats of
// the tiles, the conversion of an image's rows into them, and the corners of the quad that puts a tile's part onto
// the back buffer texel for pixel.
#pragma once

#include <cstdint>

#include "ingame/common/layout.h"

namespace ingame {

// The pixel formats tiles are kept in: with alpha in 32, 16 or 16 bits; opaque in the back buffer's usual format.
enum class TileFormat : std::uint8_t { kNone, kA8R8G8B8, kA4R4G4B4, kA1R5G5B5, kX8R8G8B8 };

// The bytes a pixel of `format` takes.
constexpr int PixelBytes(TileFormat format) {
  return format == TileFormat::kA4R4G4B4 || format == TileFormat::kA1R5G5B5 ? 2 : 4;
}

// Writes the `part` of an image of `imageWidth` pixels a row (0xAARRGGBB, not premultiplied) into locked texture
// memory (`bits`, rows `pitch` bytes apart) from its top left corner on, in `format`.
void FillPart(const std::uint32_t* pixels, int imageWidth, const Rect& part, TileFormat format, void* bits,
              std::int64_t pitch);

// A corner of a quad the pipeline draws: on the screen, pre-transformed (x, y, z, 1/w), its colour (0xAARRGGBB)
// and its texel. The layout of the vertex format XYZRHW | DIFFUSE | TEX1 of every Direct3D.
struct QuadVertex {
  float x, y, z, rhw;
  std::uint32_t colour;
  float u, v;
};

// The four corners, as a strip of two triangles, of the quad that draws `content` of a tile of `tileSide` pixels
// onto `area` of the back buffer, each texel on exactly one pixel.
void QuadCorners(const Rect& area, const Rect& content, int tileSide, QuadVertex (&corners)[4]);

}  // namespace ingame
