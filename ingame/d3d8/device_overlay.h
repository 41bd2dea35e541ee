// The overlay of one game device of Direct3D 8: the overlay's device overlay (ingame/common/device_overlay.h) over
// this layer's Direct3D, renderer and mirror.
#pragma once

#include "ingame/common/device_overlay.h"
#include "ingame/d3d8/direct3d8.h"
#include "ingame/d3d8/overlay_renderer.h"
#include "ingame/d3d8/state_mirror.h"

namespace ingame::d3d8 {

using CDeviceOverlay = ingame::CDeviceOverlay<Direct3D8>;

}  // namespace ingame::d3d8
