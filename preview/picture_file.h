// Reading picture files with the system's imaging component (Windows Imaging Component): BMP, JPEG, PNG, GIF
// (its first frame), TIFF and whatever else the system has a decoder for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace preview {

// A picture read from a file: 0xAARRGGBB pixels, not premultiplied, top row first.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> argb;
};

// Reads the picture at `path` (8-bit, in the ANSI code page). With a fit size it is scaled to exactly that
// size. On failure the picture is empty and `error` says why, in a few words.
Picture ReadPictureFile(const std::string& path, int fitWidth, int fitHeight, std::string& error);

}  // namespace preview
