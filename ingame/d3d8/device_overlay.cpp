#include "ingame/d3d8/device_overlay.h"

#include <algorithm>
#include <new>

#include "ingame/d3d8/d3d8_hooks.h"
#include "ingame/d3d8/locked_methods.h"

namespace ingame {
namespace {

// Which overlay a device, or an additional swap chain, belongs to. Looked up on every call of a patched method,
// so read without a lock: a fixed array, each entry's overlay written before its object, the objects read with
// acquire loads, and the entries in use [0, g_registered) only ever grow. Writers take the lock among themselves.
// A process has a few devices and swap chains; one beyond the room runs without the overlay.
struct Registration {
  std::atomic<const void*> object{nullptr};
  std::atomic<CDeviceOverlay*> overlay{nullptr};
};
constexpr int kRegistrations = 64;

SRWLOCK g_registryLock = SRWLOCK_INIT;
Registration g_registry[kRegistrations];
std::atomic<int> g_registered{0};

CDeviceOverlay* Lookup(const void* object) {
  const int count = g_registered.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i) {
    if (g_registry[i].object.load(std::memory_order_acquire) == object) {
      return g_registry[i].overlay.load(std::memory_order_acquire);
    }
  }
  return nullptr;
}

// Registers `object` as `overlay`'s; false when there is no room. An object of that address registered before
// belongs to an object that ended without the overlay seeing it go: that registration is handed back in `stale`.
bool Register(const void* object, CDeviceOverlay* overlay, CDeviceOverlay** stale) {
  *stale = nullptr;
  AcquireSRWLockExclusive(&g_registryLock);
  const int count = g_registered.load(std::memory_order_relaxed);
  Registration* free = nullptr;
  bool registered = false;
  for (int i = 0; i < count && !registered; ++i) {
    const void* const known = g_registry[i].object.load(std::memory_order_relaxed);
    if (known == object) {
      *stale = g_registry[i].overlay.load(std::memory_order_relaxed);
      g_registry[i].overlay.store(overlay, std::memory_order_release);
      registered = true;
    } else if (!known && !free) {
      free = &g_registry[i];
    }
  }
  if (!registered && !free && count < kRegistrations) free = &g_registry[count];
  if (!registered && free) {
    free->overlay.store(overlay, std::memory_order_release);
    free->object.store(object, std::memory_order_release);
    if (free == &g_registry[count]) g_registered.store(count + 1, std::memory_order_release);
    registered = true;
  }
  ReleaseSRWLockExclusive(&g_registryLock);
  return registered;
}

// Unregisters `object`, or with null every object of `overlay`.
void Unregister(const void* object, const CDeviceOverlay* overlay) {
  AcquireSRWLockExclusive(&g_registryLock);
  const int count = g_registered.load(std::memory_order_relaxed);
  for (int i = 0; i < count; ++i) {
    Registration& r = g_registry[i];
    const void* const known = r.object.load(std::memory_order_relaxed);
    if (known && r.overlay.load(std::memory_order_relaxed) == overlay && (!object || known == object)) {
      r.object.store(nullptr, std::memory_order_release);
    }
  }
  ReleaseSRWLockExclusive(&g_registryLock);
}

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

// Where flips leave the presented frame, for each class of device (its table) found out so far.
struct KnownRotation {
  const void* table;
  FlipRotation rotation;
};
SRWLOCK g_rotationsLock = SRWLOCK_INIT;
KnownRotation g_rotations[8] = {};

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

}  // namespace

void CGameCallLock::Mark(const void* device, CDeviceOverlay* overlay, bool mirrored) {
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
    if (!overlay) overlay = Lookup(device);
    if (!overlay || !overlay->multithreaded_ || overlay->OnOverlayThread() ||
        !overlay->drawing_.load(std::memory_order_relaxed)) {
      mark_ = &mark->device;
      return;
    }
    mark->device.store(nullptr, std::memory_order_release);
  } else {
    if (!overlay) overlay = Lookup(device);
    if (!overlay || !overlay->multithreaded_ || overlay->OnOverlayThread()) return;
  }
  lock_ = &overlay->lock_;
  EnterCriticalSection(lock_);
  if (mark) {
    mark->device.store(device, std::memory_order_relaxed);
    mark_ = &mark->device;
  }
}

void CDeviceOverlay::BeginDrawing() {
  EnterCriticalSection(&lock_);
  if (drawingDepth_++ > 0) return;
  g_drawing.fetch_add(1);
  drawing_.store(true, std::memory_order_seq_cst);
  ProcessWideBarrier();
  WaitForCalls(device_);
}

void CDeviceOverlay::EndDrawing() {
  if (--drawingDepth_ == 0) {
    drawing_.store(false, std::memory_order_release);
    g_drawing.fetch_sub(1);
  }
  LeaveCriticalSection(&lock_);
}

void CDeviceOverlay::Attach(IDirect3DDevice8* device, const D3DPRESENT_PARAMETERS& parameters, DWORD behaviorFlags,
                            CountMethod addRef, CountMethod release) {
  if (!StartContentWorker(&RepatchTables)) return;
  static INIT_ONCE marks = INIT_ONCE_STATIC_INIT;
  InitOnceExecuteOnce(&marks, AllocateMarkEnd, nullptr, nullptr);
  auto* overlay = new (std::nothrow) CDeviceOverlay(device, parameters, behaviorFlags, addRef, release);
  if (!overlay) return;
  CDeviceOverlay* stale = nullptr;
  if (!overlay->renderer_ || !Register(device, overlay, &stale)) {
    overlay->Detach(true);
    return;
  }
  // A device of this address before has ended without the overlay seeing its last release (someone had put the
  // system's Release back into the table): its overlay forgets what it had, without a call to it.
  if (stale) stale->Detach(false);
  overlay->counted_ = true;
  if (overlay->pure_) mirroredDevices_.fetch_add(1);
  if (overlay->multithreaded_) CGameCallLock::lockedDevices.fetch_add(1);
}

CDeviceOverlay* CDeviceOverlay::FindForGame(IDirect3DDevice8* device) {
  CDeviceOverlay* overlay = Lookup(device);
  return overlay && !overlay->OnOverlayThread() ? overlay : nullptr;
}

CDeviceOverlay* CDeviceOverlay::FindPure(IDirect3DDevice8* device) {
  CDeviceOverlay* overlay = FindForGame(device);
  return overlay && overlay->pure_ ? overlay : nullptr;
}

CDeviceOverlay* CDeviceOverlay::FindByChain(IDirect3DSwapChain8* chain) {
  CDeviceOverlay* overlay = Lookup(chain);
  return overlay && !overlay->OnOverlayThread() ? overlay : nullptr;
}

CDeviceOverlay::CDeviceOverlay(IDirect3DDevice8* device, const D3DPRESENT_PARAMETERS& parameters,
                               DWORD behaviorFlags, CountMethod addRef, CountMethod release)
    : device_(device),
      pure_((behaviorFlags & D3DCREATE_PUREDEVICE) != 0),
      multithreaded_((behaviorFlags & D3DCREATE_MULTITHREADED) != 0),
      ledger_(device, addRef, release),
      release_(release) {
  InitializeCriticalSection(&lock_);
  try {
    chains_.emplace_back(new Chain(device_, nullptr, parameters, ledger_));
    const PresentChain& own = chains_.front()->present;
    if (pure_) mirror_.reset(new CStateMirror(own.width, own.height, parameters.EnableAutoDepthStencil != FALSE));
    renderer_.reset(new COverlayRenderer(device_, mirror_.get(), ledger_));
    // What the images will be is known now; the worker makes them from the game's first present on.
    renderer_->Prepare(own);
  } catch (...) {
    // Out of memory: the device runs without the overlay.
    renderer_.reset();
  }
}

CDeviceOverlay::~CDeviceOverlay() { DeleteCriticalSection(&lock_); }

CDeviceOverlay::OverlayThread::OverlayThread(CDeviceOverlay& overlay)
    : overlay_(overlay), before_(overlay.overlayThread_.exchange(GetCurrentThreadId())) {}

CDeviceOverlay::OverlayThread::~OverlayThread() { overlay_.overlayThread_.store(before_); }

ULONG CDeviceOverlay::Release() {
  // The count as the game knows it, which the overlay's objects leave as it is: with one reference left, this
  // release is the last, and the overlay's objects go first, each taking back the reference it gave back.
  if (ledger_.DeviceCount() > 1) return release_(device_);
  IDirect3DDevice8* const device = device_;
  const CountMethod release = release_;
  Detach(true);
  return release(device);
}

bool CDeviceOverlay::Ready() {
  if (!measured_) {
    measured_ = true;
    // Measured at the first present, on a device the game has made ready, never while it is being created.
    if (!ledger_.Measure()) StopOverlay();
  }
  return renderer_ != nullptr;
}

FlipRotation CDeviceOverlay::Rotation() {
  const void* table = *reinterpret_cast<void* const*>(device_);
  FlipRotation rotation = KnownRotationOf(table);
  if (rotation != FlipRotation::kUnknown) return rotation;
  rotation = ProbeFlipRotation(device_, ledger_);
  // Where the probe could not tell, the documentation's flip is assumed, once for all.
  if (rotation == FlipRotation::kUnknown) rotation = FlipRotation::kDocumented;
  KeepRotation(table, rotation);
  return rotation;
}

void CDeviceOverlay::Detach(bool deviceAlive) {
  Unregister(nullptr, this);
  if (counted_ && pure_) mirroredDevices_.fetch_sub(1);
  if (counted_ && multithreaded_) CGameCallLock::lockedDevices.fetch_sub(1);
  {
    const OverlayThread overlayThread(*this);
    if (deviceAlive && renderer_) {
      // State blocks first, while the device surely lives, before the objects that may hold it.
      renderer_->DeleteStateBlocks();
      for (auto& chain : chains_) chain->keeper.Release();
      renderer_.reset();
    } else if (renderer_) {
      // The device has ended: what the overlay had of it went with it.
      renderer_->Abandon();
      for (auto& chain : chains_) chain->keeper.Abandon();
      renderer_.reset();
    } else if (!deviceAlive) {
      for (auto& chain : chains_) chain->keeper.Abandon();
    }
  }
  delete this;
}

void CDeviceOverlay::StopOverlay() {
  const OverlayThread overlayThread(*this);
  renderer_.reset();
  mirror_.reset();
  for (auto& chain : chains_) chain->keeper.Release();
}

CDeviceOverlay::Chain* CDeviceOverlay::FindChain(IDirect3DSwapChain8* chain) {
  for (auto& c : chains_) {
    if (c->chain == chain) return c.get();
  }
  return nullptr;
}

void CDeviceOverlay::AddChain(IDirect3DSwapChain8* chain, const D3DPRESENT_PARAMETERS& parameters) {
  const DeviceLock lock(*this);
  if (!renderer_ || !HookSwapChain(chain)) return;
  const OverlayThread overlayThread(*this);
  // A swap chain of this address before ended without the overlay seeing it go: its record is forgotten.
  ForgetChain(chain, true);
  try {
    chains_.emplace_back(new Chain(device_, chain, parameters, ledger_));
  } catch (...) {
    // Out of memory: this swap chain goes without the overlay.
    return;
  }
  CDeviceOverlay* stale = nullptr;
  if (!Register(chain, this, &stale)) {
    chains_.pop_back();
    return;
  }
  if (stale && stale != this) stale->ForgetChain(chain, true);
}

void CDeviceOverlay::RemoveChain(IDirect3DSwapChain8* chain) {
  const DeviceLock lock(*this);
  Unregister(chain, this);
  const OverlayThread overlayThread(*this);
  ForgetChain(chain, false);
}

void CDeviceOverlay::ForgetChain(IDirect3DSwapChain8* chain, bool abandon) {
  for (auto& c : chains_) {
    if (c->chain == chain && abandon) c->keeper.Abandon();
  }
  chains_.erase(std::remove_if(chains_.begin(), chains_.end(), [chain](const auto& c) { return c->chain == chain; }),
                chains_.end());
}

void CDeviceOverlay::SetRecording(bool recording) {
  const DeviceLock lock(*this);
  if (renderer_) renderer_->SetRecording(recording);
}

}  // namespace ingame
