// The Direct3D 9 device's methods that the overlay does not otherwise follow, as it patches them: on a
// multithreaded device each is a marked call (CGameCallLock, as on Direct3D 8), so that no other thread of the
// game's meets the overlay half-way through its drawing, whatever it calls (locked_methods.cpp). The methods that
// touch nothing the overlay draws with are left alone and never wait for it. Declared apart from Direct3D's C++
// interfaces, since the hooks are made from d3d9.h's C declarations of the methods.
#pragma once

#include "ingame/common/device_guard.h"
#include "ingame/common/table_patch.h"
#include "ingame/d3d9/d3d9_slots.h"

namespace ingame::d3d9 {

// The locking hook of every slot of the device's table; null where the overlay leaves the slot alone
// (QueryInterface, AddRef, the methods that touch nothing it draws with), and the Release slot, whose hook is
// d3d9_hooks.cpp's.
void LockedDeviceMethods(Method (&methods)[slots::kDeviceSlotCount]);
// The same for the further slots of an Ex device's table; null in the plain device's slots.
void LockedDeviceExMethods(Method (&methods)[slots::kDeviceExSlotCount]);

// The function that was in `slot` of the device's table before the overlay patched it, an Ex device's further
// slots included.
Method OriginalDeviceMethod(const void* device, int slot);

}  // namespace ingame::d3d9
