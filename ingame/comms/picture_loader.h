// Reading a picture file into a new picture section, with the system's imaging component (BMP, JPEG, PNG, GIF's
// first frame, and whatever else it has a decoder for). The component is reached through COM alone, so the library
// imports nothing beyond the system's known libraries.
#pragma once

#include <cstdint>

#include "ingame/common/shared_section.h"

namespace ingame {

struct LoadedPicture {
  SectionView section;  // header and pixels, written whole; empty when the file could not be read
  PictureRecord record;
};

// Reads `path` (8-bit, in the ANSI code page; relative to the current folder) into a picture section of
// `generation`, scaled down to the stored picture's limits when it is larger.
LoadedPicture LoadPicture(const char* path, std::uint32_t generation);

}  // namespace ingame
