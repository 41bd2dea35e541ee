// What keeps a game's device and the overlay on it out of each other's way, for every Direct3D: which overlay a
// device (or a swap chain of it) has, found without a lock on every call of a patched method; which thread is the
// overlay's own while it draws, whose calls go to the system unchanged; and on a multithreaded device, the overlay's
// lock with the marks of the game's calls, so that no other thread of the game's meets the overlay half-way
// through its drawing.
//
// A game's call of a multithreaded device's method (CGameCallLock) writes its device into a mark of its thread's
// own, and goes on at once while no overlay draws: no atomic read-modify-write and no lock. The overlay's drawing
// counts itself, makes every thread's writes visible (a process-wide barrier) and waits until no other thread's
// mark holds its device; a call made meanwhile waits for the drawing under the overlay's lock. The overlay's lock is
// taken before the system's. A call the system makes back into the table from inside a method on the same thread
// goes on without waiting: it must never wait for what that method may hold.
#pragma once

#include <windows.h>

#include <atomic>

namespace ingame {

class CDeviceGuard {
 public:
  CDeviceGuard(const void* device, bool multithreaded);
  ~CDeviceGuard();
  CDeviceGuard(const CDeviceGuard&) = delete;
  CDeviceGuard& operator=(const CDeviceGuard&) = delete;

  // The guard `object` (a device or a swap chain) was registered with; null for none.
  static CDeviceGuard* Lookup(const void* object);
  // Registers `object` as this guard's; false when there is no room. An object of that address registered before
  // belongs to an object that ended without the overlay seeing it go: that registration is handed back in `stale`.
  bool Register(const void* object, CDeviceGuard** stale);
  // Unregisters `object`, or with null every object of this guard's.
  void Unregister(const void* object);

  // Once for the process, before the first guard of a multithreaded device is used.
  static void Start();

  const void* device() const { return device_; }
  bool multithreaded() const { return multithreaded_; }
  bool OnOverlayThread() const {
    const DWORD thread = overlayThread_.load(std::memory_order_relaxed);
    return thread != 0 && thread == GetCurrentThreadId();
  }

  // Marks the calling thread as the overlay's for the scope: the device's patched methods then pass its calls on.
  class OverlayThread {
   public:
    explicit OverlayThread(CDeviceGuard& guard);
    ~OverlayThread();
    OverlayThread(const OverlayThread&) = delete;
    OverlayThread& operator=(const OverlayThread&) = delete;

   private:
    CDeviceGuard& guard_;
    DWORD before_;
  };

  // Holds the device for the overlay's drawing for a scope, on a multithreaded device only: the overlay's lock, and
  // no game's call under way on another thread.
  class DeviceLock {
   public:
    explicit DeviceLock(CDeviceGuard& guard) : guard_(guard) {
      if (guard_.multithreaded_) guard_.BeginDrawing();
    }
    ~DeviceLock() {
      if (guard_.multithreaded_) guard_.EndDrawing();
    }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

   private:
    CDeviceGuard& guard_;
  };

 private:
  friend class CGameCallLock;

  void BeginDrawing();
  void EndDrawing();

  const void* const device_;
  const bool multithreaded_;
  CRITICAL_SECTION lock_;
  // While the overlay draws on a multithreaded device: the game's calls then take the lock. The depth of nested
  // drawing scopes is the drawing thread's, under the lock.
  std::atomic<bool> drawing_{false};
  int drawingDepth_ = 0;
  std::atomic<DWORD> overlayThread_{0};
};

// For the scope of a game's call of a multithreaded device's method: marks the call in memory of the calling
// thread's own, which the overlay's drawing waits out before it begins, and goes on at once when the overlay is not
// drawing; while it draws, waits for it under the overlay's lock. A call that writes the mirror of a pure
// multithreaded device's states (`mirrored`) always takes the lock, which keeps the mirror whole. Nothing on any
// other device.
class CGameCallLock {
 public:
  explicit CGameCallLock(const void* device, CDeviceGuard* guard = nullptr, bool mirrored = false) {
    if (lockedDevices.load(std::memory_order_relaxed) != 0) Mark(device, guard, mirrored);
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
  void Mark(const void* device, CDeviceGuard* guard, bool mirrored);

  CRITICAL_SECTION* lock_ = nullptr;
  std::atomic<const void*>* mark_ = nullptr;
};

}  // namespace ingame
