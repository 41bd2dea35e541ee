// The device's methods that the overlay does not otherwise follow, as it patches them: on a multithreaded device
// each is a marked call (CGameCallLock), so that no other thread of the game's meets the overlay half-way through
// its drawing, whatever it calls (locked_methods.cpp). The methods that touch nothing the overlay draws with are
// left alone and never wait for it. Declared apart from Direct3D's C++ interfaces, since the hooks are made from
// d3d8.h's C declarations of the methods.
#pragma once

#include "ingame/common/device_guard.h"
#include "ingame/d3d8/d3d8_slots.h"
#include "ingame/common/table_patch.h"

namespace ingame::d3d8 {

// The locking hook of every slot of the device's table; null where the overlay leaves the slot alone
// (QueryInterface, AddRef, the methods that touch nothing it draws with), and the Release slot, whose hook is
// d3d8_hooks.cpp's.
void LockedDeviceMethods(Method (&methods)[slots::kDeviceSlotCount]);

// The function that was in `slot` of the device's table before the overlay patched it.
Method OriginalDeviceMethod(const void* device, int slot);

}  // namespace ingame::d3d8
