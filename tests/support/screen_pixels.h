// What the screen shows, read back through GDI: under Wine it reads the X server's pixels, which is the frame a
// Direct3D game presented there, whatever its back buffers hold after the present.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace testsupport {

// A 32-bit bitmap of the given size, rows top first.
BITMAPINFO TopDownBitmapInfo(int width, int height);

// The pixels of `area` of the screen, 0x00RRGGBB, rows top first; empty when they cannot be read.
std::vector<std::uint32_t> ScreenPixels(const RECT& area);

}  // namespace testsupport
