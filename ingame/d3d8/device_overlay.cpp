#include "ingame/d3d8/device_overlay.h"

#include <algorithm>
#include <new>

#include "ingame/d3d8/d3d8_hooks.h"
#include "ingame/d3d8/locked_methods.h"

namespace ingame {
namespace {

// Which overlay a device, or an additional swap chain, belongs to. Looked up on every call of a patched method, so
// kept small and read under a shared lock.
struct Registration {
  const void* object;
  CDeviceOverlay* overlay;
};

SRWLOCK g_registryLock = SRWLOCK_INIT;
std::vector<Registration>* g_registry = nullptr;
// How many devices are pure or multithreaded, and how many multithreaded: while none is, the state calls, and the
// other methods, go straight to the system.
std::atomic<int> g_followedDevices{0};
std::atomic<int> g_lockedDevices{0};

CDeviceOverlay* Lookup(const void* object) {
  CDeviceOverlay* found = nullptr;
  AcquireSRWLockShared(&g_registryLock);
  if (g_registry) {
    for (const Registration& r : *g_registry) {
      if (r.object == object) {
        found = r.overlay;
        break;
      }
    }
  }
  ReleaseSRWLockShared(&g_registryLock);
  return found;
}

// Registers `object` as `overlay`'s. An object of that address registered before belongs to an object that ended
// without the overlay seeing it go: that registration is handed back in `stale`.
bool Register(const void* object, CDeviceOverlay* overlay, CDeviceOverlay** stale) {
  bool registered = false;
  *stale = nullptr;
  AcquireSRWLockExclusive(&g_registryLock);
  try {
    if (!g_registry) g_registry = new std::vector<Registration>();
    for (Registration& r : *g_registry) {
      if (r.object == object) {
        *stale = r.overlay;
        r.overlay = overlay;
        registered = true;
      }
    }
    if (!registered) g_registry->push_back(Registration{object, overlay});
    registered = true;
  } catch (...) {
  }
  ReleaseSRWLockExclusive(&g_registryLock);
  return registered;
}

// Unregisters `object`, or with null every object of `overlay`.
void Unregister(const void* object, const CDeviceOverlay* overlay) {
  AcquireSRWLockExclusive(&g_registryLock);
  if (g_registry) {
    g_registry->erase(std::remove_if(g_registry->begin(), g_registry->end(),
                                     [&](const Registration& r) {
                                       return r.overlay == overlay && (!object || r.object == object);
                                     }),
                      g_registry->end());
  }
  ReleaseSRWLockExclusive(&g_registryLock);
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

CGameCallLock::CGameCallLock(const void* device) : lock_(CDeviceOverlay::LockFor(device)) {
  if (lock_) EnterCriticalSection(lock_);
}

CGameCallLock::~CGameCallLock() {
  if (lock_) LeaveCriticalSection(lock_);
}

void CDeviceOverlay::Attach(IDirect3DDevice8* device, const D3DPRESENT_PARAMETERS& parameters, DWORD behaviorFlags,
                            CountMethod addRef, CountMethod release) {
  if (!StartContentWorker(&RepatchTables)) return;
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
  if (overlay->pure_ || overlay->multithreaded_) g_followedDevices.fetch_add(1);
  if (overlay->multithreaded_) g_lockedDevices.fetch_add(1);
}

CDeviceOverlay* CDeviceOverlay::FindForGame(IDirect3DDevice8* device) {
  CDeviceOverlay* overlay = Lookup(device);
  return overlay && !overlay->OnOverlayThread() ? overlay : nullptr;
}

CDeviceOverlay* CDeviceOverlay::FindFollowed(IDirect3DDevice8* device) {
  if (g_followedDevices.load(std::memory_order_relaxed) == 0) return nullptr;
  CDeviceOverlay* overlay = FindForGame(device);
  return overlay && (overlay->pure_ || overlay->multithreaded_) ? overlay : nullptr;
}

CDeviceOverlay* CDeviceOverlay::FindByChain(IDirect3DSwapChain8* chain) {
  CDeviceOverlay* overlay = Lookup(chain);
  return overlay && !overlay->OnOverlayThread() ? overlay : nullptr;
}

CRITICAL_SECTION* CDeviceOverlay::LockFor(const void* device) {
  if (g_lockedDevices.load(std::memory_order_relaxed) == 0) return nullptr;
  CDeviceOverlay* overlay = Lookup(device);
  return overlay && overlay->multithreaded_ ? &overlay->lock_ : nullptr;
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
    // The worker starts on the images now, while the game loads, so that they are ready by its first frames.
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
  if (counted_ && (pure_ || multithreaded_)) g_followedDevices.fetch_sub(1);
  if (counted_ && multithreaded_) g_lockedDevices.fetch_sub(1);
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
