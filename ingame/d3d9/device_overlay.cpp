#include "ingame/d3d9/device_overlay.h"

#include <algorithm>
#include <new>

#include "ingame/common/flip_rotation.h"
#include "ingame/common/layered_present.h"

#include "ingame/d3d9/d3d9_hooks.h"
#include "ingame/d3d9/locked_methods.h"

namespace ingame {
void CDeviceOverlay::Attach(IDirect3DDevice9* device, const D3DPRESENT_PARAMETERS& parameters, UINT heads,
                            DWORD behaviorFlags, CountMethod addRef, CountMethod release) {
  (void)heads;  // the overlay draws into the first head's swap chain
  if (!StartContentWorker(&RepatchTables)) return;
  // The overlay's Direct3D 8, where a wrapper it chose draws through this library.
  FindLayerAbove(L"d3d8.dll");
  CDeviceGuard::Start();
  auto* overlay = new (std::nothrow) CDeviceOverlay(device, parameters, behaviorFlags, addRef, release);
  if (!overlay) return;
  CDeviceGuard* stale = nullptr;
  if (!overlay->renderer_ || !overlay->Register(device, &stale)) {
    overlay->Detach(true);
    return;
  }
  // A device of this address before has ended without the overlay seeing its last release (someone had put the
  // system's Release back into the table): its overlay forgets what it had, without a call to it.
  if (stale) static_cast<CDeviceOverlay*>(stale)->Detach(false);
  // The device's own swap chain, which the game may present through as well.
  IDirect3DSwapChain9* own = nullptr;
  if (SUCCEEDED(device->GetSwapChain(0, &own)) && own) {
    own->Release();  // it lives as long as the device
    if (HookSwapChain(own) && overlay->Register(own, &stale)) overlay->ownChain_ = own;
  }
  overlay->counted_ = true;
  if (overlay->pure_) mirroredDevices_.fetch_add(1);
  if (overlay->multithreaded()) CGameCallLock::lockedDevices.fetch_add(1);
}

// Each library has overlays of its own Direct3D only: every guard it registered is an overlay of this layer's.
CDeviceOverlay* CDeviceOverlay::FindForGame(IDirect3DDevice9* device) {
  auto* overlay = static_cast<CDeviceOverlay*>(Lookup(device));
  return overlay && !overlay->OnOverlayThread() ? overlay : nullptr;
}

CDeviceOverlay* CDeviceOverlay::FindPure(IDirect3DDevice9* device) {
  CDeviceOverlay* overlay = FindForGame(device);
  return overlay && overlay->pure_ ? overlay : nullptr;
}

CDeviceOverlay* CDeviceOverlay::FindByChain(IDirect3DSwapChain9* chain) {
  auto* overlay = static_cast<CDeviceOverlay*>(Lookup(chain));
  return overlay && !overlay->OnOverlayThread() ? overlay : nullptr;
}

CDeviceOverlay::CDeviceOverlay(IDirect3DDevice9* device, const D3DPRESENT_PARAMETERS& parameters,
                               DWORD behaviorFlags, CountMethod addRef, CountMethod release)
    : CDeviceGuard(device, (behaviorFlags & D3DCREATE_MULTITHREADED) != 0),
      device_(device),
      pure_((behaviorFlags & D3DCREATE_PUREDEVICE) != 0),
      ledger_(device, addRef, release),
      release_(release) {
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

CDeviceOverlay::~CDeviceOverlay() = default;

ULONG CDeviceOverlay::Release() {
  // The count as the game knows it, which the overlay's objects leave as it is: with one reference left, this
  // release is the last, and the overlay's objects go first, each taking back the reference it gave back.
  if (ledger_.DeviceCount() > 1) return release_(device_);
  IDirect3DDevice9* const device = device_;
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
  Unregister(nullptr);
  if (counted_ && pure_) mirroredDevices_.fetch_sub(1);
  if (counted_ && multithreaded()) CGameCallLock::lockedDevices.fetch_sub(1);
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

CDeviceOverlay::Chain* CDeviceOverlay::FindChain(IDirect3DSwapChain9* chain) {
  if (chain && chain == ownChain_) chain = nullptr;
  for (auto& c : chains_) {
    if (c->chain == chain) return c.get();
  }
  return nullptr;
}

void CDeviceOverlay::AddChain(IDirect3DSwapChain9* chain, const D3DPRESENT_PARAMETERS& parameters) {
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
  CDeviceGuard* stale = nullptr;
  if (!Register(chain, &stale)) {
    chains_.pop_back();
    return;
  }
  if (stale && stale != this) static_cast<CDeviceOverlay*>(stale)->ForgetChain(chain, true);
}

void CDeviceOverlay::RemoveChain(IDirect3DSwapChain9* chain) {
  if (chain == ownChain_) return;
  const DeviceLock lock(*this);
  Unregister(chain);
  const OverlayThread overlayThread(*this);
  ForgetChain(chain, false);
}

void CDeviceOverlay::ForgetChain(IDirect3DSwapChain9* chain, bool abandon) {
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
