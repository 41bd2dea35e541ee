// Picture files of known pixels, for the tests and the benchmarks: a BMP written directly, or any format the
// system's imaging component encodes (PNG, JPEG, GIF, ...).
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <functional>

namespace testsupport {

using Colour = std::function<std::uint32_t(int x, int y)>;

// A 24-bit BMP whose pixel (x, y) is colour(x, y), 0x00RRGGBB.
void WriteBmp(const std::filesystem::path& file, int width, int height, const Colour& colour);
// The same picture encoded by the system's imaging component in `container` (BMP, PNG, JPEG, GIF, ...); false when
// it could not be written. With `alpha`, colour(x, y) is 0xAARRGGBB and the picture keeps its alpha (PNG).
bool WritePicture(const std::filesystem::path& file, const GUID& container, int width, int height,
                  const Colour& colour, bool alpha = false);

}  // namespace testsupport
