// The device's methods that the overlay does not otherwise follow, as it patches them: on a multithreaded device
// each takes the overlay's lock before it calls the system, so that no other thread of the game's meets the overlay
// half-way through its drawing, whatever it calls (locked_methods.cpp). Declared apart from Direct3D's C++
// interfaces, since the hooks are made from d3d8.h's C declarations of the methods.
#pragma once

#include "ingame/d3d8/d3d8_slots.h"
#include "ingame/d3d8/table_patch.h"

namespace ingame {

// The locking hook of every slot of the device's table; null where the overlay leaves the slot alone
// (QueryInterface, AddRef), and the Release slot, whose hook is d3d8_hooks.cpp's.
void LockedDeviceMethods(Method (&methods)[slots::kDeviceSlotCount]);

// The function that was in `slot` of the device's table before the overlay patched it.
Method OriginalDeviceMethod(const void* device, int slot);

// For the scope of a game's call: the lock of the overlay of `device` when it is multithreaded, and nothing for any
// other device. A call that the system makes back into the table from inside a method the game called on the same
// thread finds the lock held by that thread already and goes on.
class CGameCallLock {
 public:
  explicit CGameCallLock(const void* device);
  ~CGameCallLock();
  CGameCallLock(const CGameCallLock&) = delete;
  CGameCallLock& operator=(const CGameCallLock&) = delete;

 private:
  CRITICAL_SECTION* lock_;
};

}  // namespace ingame
