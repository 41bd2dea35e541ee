#include "ingame/d3d8/device_overlay.h"

#include <algorithm>
#include <new>

#include "ingame/d3d8/d3d8_hooks.h"

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
// How many devices are pure or multithreaded: while none is, the state calls go straight to the system.
std::atomic<int> g_followedDevices{0};

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

bool Register(const void* object, CDeviceOverlay* overlay) {
  bool registered = false;
  AcquireSRWLockExclusive(&g_registryLock);
  try {
    if (!g_registry) g_registry = new std::vector<Registration>();
    g_registry->push_back(Registration{object, overlay});
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

}  // namespace

void CDeviceOverlay::Attach(IDirect3DDevice8* device, const D3DPRESENT_PARAMETERS& parameters, DWORD behaviorFlags) {
  if (!HookDevice(device) || !StartContentWorker()) return;
  auto* overlay = new (std::nothrow) CDeviceOverlay(device, parameters, behaviorFlags);
  if (!overlay) return;
  if (!overlay->renderer_ || !Register(device, overlay)) {
    overlay->Detach(true);
    return;
  }
  if (overlay->pure_ || overlay->multithreaded_) {
    overlay->followedCounted_ = true;
    g_followedDevices.fetch_add(1);
  }
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

CDeviceOverlay::CDeviceOverlay(IDirect3DDevice8* device, const D3DPRESENT_PARAMETERS& parameters,
                               DWORD behaviorFlags)
    : device_(device),
      pure_((behaviorFlags & D3DCREATE_PUREDEVICE) != 0),
      multithreaded_((behaviorFlags & D3DCREATE_MULTITHREADED) != 0) {
  InitializeCriticalSection(&lock_);
  // The game does not have the device yet: what the overlay's objects hold of it can be measured undisturbed.
  ledger_.Measure(device_);
  try {
    chains_.emplace_back(new Chain(device_, nullptr, parameters, ledger_));
    const PresentChain& own = chains_.front()->present;
    if (pure_) mirror_.reset(new CStateMirror(own.width, own.height, parameters.EnableAutoDepthStencil != FALSE));
    renderer_.reset(new COverlayRenderer(device_, mirror_.get(), ledger_));
  } catch (...) {
    // Out of memory: the device runs without the overlay.
    renderer_.reset();
  }
}

CDeviceOverlay::~CDeviceOverlay() { DeleteCriticalSection(&lock_); }

CDeviceOverlay::OverlayThread::OverlayThread(CDeviceOverlay& overlay)
    : overlay_(overlay), before_(overlay.overlayThread_.exchange(GetCurrentThreadId())) {}

CDeviceOverlay::OverlayThread::~OverlayThread() { overlay_.overlayThread_.store(before_); }

ULONG CDeviceOverlay::GameCount(ULONG deviceCount) const {
  const ULONG held = ledger_.held();
  return deviceCount > held ? deviceCount - held : 0;
}

void CDeviceOverlay::Detach(bool deviceAlive) {
  Unregister(nullptr, this);
  if (followedCounted_) g_followedDevices.fetch_sub(1);
  {
    const OverlayThread overlayThread(*this);
    if (deviceAlive && renderer_) {
      // State blocks hold no reference to the device: they go while it surely lives, before the objects that do.
      renderer_->DeleteStateBlocks();
      for (auto& chain : chains_) chain->keeper.Release();
      renderer_.reset();
    } else if (renderer_) {
      // The device has ended: what the overlay had of it went with it.
      renderer_->Abandon();
      for (auto& chain : chains_) chain->keeper.Abandon();
      renderer_.reset();
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
  try {
    chains_.emplace_back(new Chain(device_, chain, parameters, ledger_));
  } catch (...) {
    // Out of memory: this swap chain goes without the overlay.
    return;
  }
  if (!Register(chain, this)) chains_.pop_back();
}

void CDeviceOverlay::RemoveChain(IDirect3DSwapChain8* chain) {
  const DeviceLock lock(*this);
  Unregister(chain, this);
  const OverlayThread overlayThread(*this);
  chains_.erase(std::remove_if(chains_.begin(), chains_.end(), [chain](const auto& c) { return c->chain == chain; }),
                chains_.end());
}

void CDeviceOverlay::SetRecording(bool recording) {
  const DeviceLock lock(*this);
  if (renderer_) renderer_->SetRecording(recording);
}

}  // namespace ingame
