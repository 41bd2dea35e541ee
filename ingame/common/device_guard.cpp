#include "ingame/common/device_guard.h"

#include "ingame/common/flip_rotation.h"

namespace ingame {
namespace {

// Which overlay a device, or an additional swap chain, belongs to. Looked up on every call of a patched method,
// so read without a lock: a fixed array, each entry's overlay written before its object, the objects read with
// acquire loads, and the entries in use [0, g_registered) only ever grow. Writers take the lock among themselves.
// A process has a few devices and swap chains; one beyond the room runs without the overlay.
struct Registration {
  std::atomic<const void*> object{nullptr};
  std::atomic<CDeviceGuard*> guard{nullptr};
};
constexpr int kRegistrations = 64;

SRWLOCK g_registryLock = SRWLOCK_INIT;
Registration g_registry[kRegistrations];
std::atomic<int> g_registered{0};

// The marks of the game's calls on multithreaded devices (CGameCallLock): one per thread that has made such a call,
// each on a cache line of its own, found from the thread's id (first where its id points, else further on), which
// costs a call less than a thread-local slot. A thread's mark is given back when it ends (a fiber-local value's
// callback). How many overlays draw on a multithreaded device at this moment: while none does, a marked call looks
// no further.
struct alignas(64) CallMark {
  std::atomic<DWORD> thread{0};
  std::atomic<const void*> device{nullptr};
};
constexpr int kMarks = 256;
CallMark g_marks[kMarks];
DWORD g_markEnd = FLS_OUT_OF_INDEXES;
std::atomic<int> g_drawing{0};

CallMark& MarkAt(DWORD thread, int step) { return g_marks[((thread >> 2) + static_cast<DWORD>(step)) % kMarks]; }

void WINAPI GiveBackMark(void* mark) {
  if (!mark) return;
  static_cast<CallMark*>(mark)->device.store(nullptr, std::memory_order_release);
  static_cast<CallMark*>(mark)->thread.store(0, std::memory_order_release);
}

BOOL CALLBACK AllocateMarkEnd(PINIT_ONCE, PVOID, PVOID*) {
  g_markEnd = FlsAlloc(&GiveBackMark);
  return TRUE;
}

// The mark of `thread`, the calling one; null before its first marked call.
CallMark* CurrentMark(DWORD thread) {
  for (int step = 0; step < kMarks; ++step) {
    CallMark& mark = MarkAt(thread, step);
    if (mark.thread.load(std::memory_order_relaxed) == thread) return &mark;
  }
  return nullptr;
}

// Takes a mark for `thread`, the calling one, given back when it ends; null when none is left (its calls then take
// the lock).
CallMark* TakeMark(DWORD thread) {
  if (g_markEnd == FLS_OUT_OF_INDEXES) return nullptr;
  const DWORD error = GetLastError();
  CallMark* found = nullptr;
  for (int step = 0; step < kMarks && !found; ++step) {
    DWORD free = 0;
    CallMark& mark = MarkAt(thread, step);
    if (mark.thread.compare_exchange_strong(free, thread, std::memory_order_acquire)) found = &mark;
  }
  if (found && !FlsSetValue(g_markEnd, found)) {
    found->thread.store(0, std::memory_order_release);
    found = nullptr;
  }
  SetLastError(error);
  return found;
}

// Makes every write of every thread of the process before now visible to every other: each processor running one of
// its threads is interrupted, which drains its pending writes. FlushProcessWriteBuffers does that on Windows;
// Wine 8.0's returns without doing anything, so a page of the overlay's own is also written and taken away, and the
// system, to drop it from every processor that may hold it, interrupts each of them as well.
void ProcessWideBarrier() {
  static SRWLOCK lock = SRWLOCK_INIT;
  static auto* const page = static_cast<volatile LONG*>(VirtualAlloc(nullptr, 1, MEM_COMMIT, PAGE_READWRITE));
  FlushProcessWriteBuffers();
  if (!page) return;
  AcquireSRWLockExclusive(&lock);
  DWORD before = 0;
  if (VirtualProtect(const_cast<LONG*>(page), 1, PAGE_READWRITE, &before)) {
    *page = *page + 1;
    VirtualProtect(const_cast<LONG*>(page), 1, PAGE_NOACCESS, &before);
  }
  ReleaseSRWLockExclusive(&lock);
}

// Waits until no thread but the calling one is in a marked call of `device`. A marked call never waits for
// anything, so it ends: spins briefly, then gives the processor away.
void WaitForCalls(const void* device) {
  const DWORD self = GetCurrentThreadId();
  for (const CallMark& mark : g_marks) {
    if (mark.thread.load(std::memory_order_relaxed) == self) continue;
    for (int spins = 0; mark.device.load(std::memory_order_acquire) == device; ++spins) {
      if (spins < 64) {
        YieldProcessor();
      } else {
        Sleep(spins < 256 ? 0 : 1);
      }
    }
  }
}

// Where flips leave the presented frame (flip_rotation.h), for each class of device (its table) found out so far.
struct KnownRotation {
  const void* table;
  FlipRotation rotation;
};
SRWLOCK g_rotationsLock = SRWLOCK_INIT;
KnownRotation g_rotations[8] = {};

}  // namespace

FlipRotation KnownRotationOf(const void* table) {
  FlipRotation found = FlipRotation::kUnknown;
  AcquireSRWLockShared(&g_rotationsLock);
  for (const KnownRotation& known : g_rotations) {
    if (known.table == table) found = known.rotation;
  }
  ReleaseSRWLockShared(&g_rotationsLock);
  return found;
}

void KeepRotation(const void* table, FlipRotation rotation) {
  AcquireSRWLockExclusive(&g_rotationsLock);
  for (KnownRotation& known : g_rotations) {
    if (!known.table || known.table == table) {
      known = KnownRotation{table, rotation};
      break;
    }
  }
  ReleaseSRWLockExclusive(&g_rotationsLock);
}

void CDeviceGuard::Start() {
  static INIT_ONCE marks = INIT_ONCE_STATIC_INIT;
  InitOnceExecuteOnce(&marks, AllocateMarkEnd, nullptr, nullptr);
}

CDeviceGuard::CDeviceGuard(const void* device, bool multithreaded) : device_(device), multithreaded_(multithreaded) {
  InitializeCriticalSection(&lock_);
}

CDeviceGuard::~CDeviceGuard() { DeleteCriticalSection(&lock_); }

CDeviceGuard* CDeviceGuard::Lookup(const void* object) {
  const int count = g_registered.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i) {
    if (g_registry[i].object.load(std::memory_order_acquire) == object) {
      return g_registry[i].guard.load(std::memory_order_acquire);
    }
  }
  return nullptr;
}

bool CDeviceGuard::Register(const void* object, CDeviceGuard** stale) {
  *stale = nullptr;
  AcquireSRWLockExclusive(&g_registryLock);
  const int count = g_registered.load(std::memory_order_relaxed);
  Registration* free = nullptr;
  bool registered = false;
  for (int i = 0; i < count && !registered; ++i) {
    const void* const known = g_registry[i].object.load(std::memory_order_relaxed);
    if (known == object) {
      *stale = g_registry[i].guard.load(std::memory_order_relaxed);
      g_registry[i].guard.store(this, std::memory_order_release);
      registered = true;
    } else if (!known && !free) {
      free = &g_registry[i];
    }
  }
  if (!registered && !free && count < kRegistrations) free = &g_registry[count];
  if (!registered && free) {
    free->guard.store(this, std::memory_order_release);
    free->object.store(object, std::memory_order_release);
    if (free == &g_registry[count]) g_registered.store(count + 1, std::memory_order_release);
    registered = true;
  }
  ReleaseSRWLockExclusive(&g_registryLock);
  return registered;
}

void CDeviceGuard::Unregister(const void* object) {
  AcquireSRWLockExclusive(&g_registryLock);
  const int count = g_registered.load(std::memory_order_relaxed);
  for (int i = 0; i < count; ++i) {
    Registration& r = g_registry[i];
    const void* const known = r.object.load(std::memory_order_relaxed);
    if (known && r.guard.load(std::memory_order_relaxed) == this && (!object || known == object)) {
      r.object.store(nullptr, std::memory_order_release);
    }
  }
  ReleaseSRWLockExclusive(&g_registryLock);
}

CDeviceGuard::OverlayThread::OverlayThread(CDeviceGuard& guard)
    : guard_(guard), before_(guard.overlayThread_.exchange(GetCurrentThreadId())) {}

CDeviceGuard::OverlayThread::~OverlayThread() { guard_.overlayThread_.store(before_); }

void CGameCallLock::Mark(const void* device, CDeviceGuard* guard, bool mirrored) {
  const DWORD thread = GetCurrentThreadId();
  CallMark* mark = CurrentMark(thread);
  // A call from inside a call of this thread's: the system calling back into the table, maybe holding its own lock.
  if (mark && mark->device.load(std::memory_order_relaxed)) return;
  if (!mark) mark = TakeMark(thread);
  if (mark && !mirrored) {
    // The mark is written before the count of drawings is read; an overlay counts its drawing and sets its flag
    // before it reads the marks, with a barrier on every processor between (BeginDrawing): either this call sees
    // the drawing or the overlay sees the mark. On this thread only the compiler could reorder the two, which the
    // fence stops. Any device's call is marked: a drawing waits only for the marks of its own device.
    mark->device.store(device, std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (g_drawing.load(std::memory_order_relaxed) == 0) {
      mark_ = &mark->device;
      return;
    }
    if (!guard) guard = CDeviceGuard::Lookup(device);
    if (!guard || !guard->multithreaded_ || guard->OnOverlayThread() ||
        !guard->drawing_.load(std::memory_order_relaxed)) {
      mark_ = &mark->device;
      return;
    }
    mark->device.store(nullptr, std::memory_order_release);
  } else {
    if (!guard) guard = CDeviceGuard::Lookup(device);
    if (!guard || !guard->multithreaded_ || guard->OnOverlayThread()) return;
  }
  lock_ = &guard->lock_;
  EnterCriticalSection(lock_);
  if (mark) {
    mark->device.store(device, std::memory_order_relaxed);
    mark_ = &mark->device;
  }
}

void CDeviceGuard::BeginDrawing() {
  EnterCriticalSection(&lock_);
  if (drawingDepth_++ > 0) return;
  g_drawing.fetch_add(1);
  drawing_.store(true, std::memory_order_seq_cst);
  ProcessWideBarrier();
  WaitForCalls(device_);
}

void CDeviceGuard::EndDrawing() {
  if (--drawingDepth_ == 0) {
    drawing_.store(false, std::memory_order_release);
    g_drawing.fetch_sub(1);
  }
  LeaveCriticalSection(&lock_);
}

}  // namespace ingame
