// Reading a picture file into a new picture section, with the system's imaging component (BMP, JPEG, PNG, GIF's
// first frame, and whatever else it has a decoder for). The component is reached through COM alone, so the library
// imports nothing beyond the system's known libraries.
//
// Only a file on a drive of this machine is read: the path is checked before anything is opened, the drive must be
// one of this machine's disks and what opens must be a file on it, so that a network path, a pipe or a device never
// holds the reading up. A picture whose file claims more pixels than the overlay ever stores is not read at all.
#pragma once

#include <cstdint>
#include <functional>

#include "ingame/common/shared_section.h"

namespace ingame {

// The most pixels a picture file may claim to be read: larger claims are the cheap way to make a reader decode for
// minutes, and no picture of that size is shown whole anyway.
inline constexpr std::uint64_t kPictureMaxClaimedPixels = 64ull * 1024 * 1024;

struct LoadedPicture {
  SectionView section;  // header and pixels, written whole; empty when the file could not be read
  PictureRecord record;
};

// Reads `path` (a full path, 8-bit in the ANSI code page) into a picture section of `generation`, scaled down to the
// stored picture's limits when it is larger (weighting colours by their alpha, so that see-through edges keep their
// colour). Stops early, with nothing, once `superseded()` says that a newer picture has been asked for.
LoadedPicture LoadPicture(const char* path, std::uint32_t generation, const std::function<bool()>& superseded);

}  // namespace ingame
