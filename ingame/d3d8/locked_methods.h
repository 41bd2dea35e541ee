// The device's methods that the overlay does not otherwise follow, as it patches them: on a multithreaded device
// each is a marked call (CGameCallLock), so that no other thread of the game's meets the overlay half-way through
// its drawing, whatever it calls (locked_methods.cpp). The methods that touch nothing the overlay draws with are
// left alone and never wait for it. Declared apart from Direct3D's C++ interfaces, since the hooks are made from
// d3d8.h's C declarations of the methods.
#pragma once

#include <atomic>

#include "ingame/d3d8/d3d8_slots.h"
#include "ingame/common/table_patch.h"

namespace ingame {

// The locking hook of every slot of the device's table; null where the overlay leaves the slot alone
// (QueryInterface, AddRef, the methods that touch nothing it draws with), and the Release slot, whose hook is
// d3d8_hooks.cpp's.
void LockedDeviceMethods(Method (&methods)[slots::kDeviceSlotCount]);

// The function that was in `slot` of the device's table before the overlay patched it.
Method OriginalDeviceMethod(const void* device, int slot);

class CDeviceOverlay;

// For the scope of a game's call of a multithreaded device's method: marks the call in memory of the calling
// thread's own, which the overlay's drawing waits out before it begins, and goes on at once when the overlay is not
// drawing; while it draws, waits for it under the overlay's lock. No atomic read-modify-write and no lock while
// nothing is drawn. A call that the system makes back into the table from inside a method the game called on the
// same thread goes on without waiting: it must never wait for what that method may hold. A call that writes the
// mirror of a pure multithreaded device's states (`mirrored`) always takes the lock, which keeps the mirror whole.
// Nothing on any other device.
class CGameCallLock {
 public:
  explicit CGameCallLock(const void* device, CDeviceOverlay* overlay = nullptr, bool mirrored = false) {
    if (lockedDevices.load(std::memory_order_relaxed) != 0) Mark(device, overlay, mirrored);
  }
  ~CGameCallLock() {
    if (mark_) mark_->store(nullptr, std::memory_order_release);
    if (lock_) LeaveCriticalSection(lock_);
  }
  CGameCallLock(const CGameCallLock&) = delete;
  CGameCallLock& operator=(const CGameCallLock&) = delete;

  // How many multithreaded devices have an overlay: while none has, no call is marked.
  inline static std::atomic<int> lockedDevices{0};

 private:
  void Mark(const void* device, CDeviceOverlay* overlay, bool mirrored);

  CRITICAL_SECTION* lock_ = nullptr;
  std::atomic<const void*>* mark_ = nullptr;
};

}  // namespace ingame
