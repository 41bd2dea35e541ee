// Turning the overlay's texts into coverage masks with the system's fonts (GDI).
#pragma once

#include "preview/protocol.h"
#include "preview/raster.h"

namespace preview {

// The single text line of a SetLine message: its box is where the text lies, with its top left corner at
// (x, y); the coverage is the part of it on the screen.
TextElement MakeLine(const Message& message, const Rect& screen);

// The text block of a SetBlock message: one line per CR LF from (x, y) down, clipped to the box of the given
// width and height at (x, y).
TextElement MakeBlock(const Message& message, const Rect& screen);

}  // namespace preview
