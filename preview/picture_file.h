// Reading picture files with the system's imaging component (Windows Imaging Component): BMP, JPEG, PNG, GIF
// (its first frame), TIFF and whatever else the system has a decoder for.
#pragma once

#include <string>

#include "preview/raster.h"

namespace preview {

// Reads the picture at `path` (8-bit, in the ANSI code page). With a fit size it is scaled to exactly that
// size. On failure the picture is empty and `error` says why, in a few words.
Picture ReadPictureFile(const std::string& path, int fitWidth, int fitHeight, std::string& error);

}  // namespace preview
