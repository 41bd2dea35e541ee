// The overlay of one game device of Direct3D 9: the overlay's device overlay (ingame/common/device_overlay.h) over
// this layer's Direct3D, renderer and mirror.
#pragma once

#include "ingame/common/device_overlay.h"
#include "ingame/d3d9/direct3d9.h"
#include "ingame/d3d9/overlay_renderer.h"
#include "ingame/d3d9/state_mirror.h"

namespace ingame::d3d9 {

using CDeviceOverlay = ingame::CDeviceOverlay<Direct3D9>;

}  // namespace ingame::d3d9
