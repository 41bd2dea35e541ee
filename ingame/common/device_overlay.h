// The overlay of one game device, for every Direct3D. The game keeps its own device: the device's table has methods
// patched (each layer's hooks), and they come here for the device they were called on.
//
// What the game sees of the device is what its implementation gives it:
// - Reference counts. The overlay's own textures, surfaces and state blocks may hold references to the device, as
//   every resource does; the overlay gives each such reference back as soon as it has made the object
//   (CReferenceLedger), so the device's count is the game's whoever asks, and before the game's last reference
//   goes, the overlay lets its objects go, which ends the device as it would have.
// - States. Present draws the overlay into the back buffer the game presents and puts back every state it set
//   (each layer's renderer says which and how); on a pure device, whose states cannot be read, from a mirror that
//   follows the game's own calls. What it unbinds of the game's for that time it holds a reference to until it has
//   bound it again, and no longer.
// - Back buffers. Where the swap effect promises that the back buffers stay as the game drew them (copy, flip),
//   what the overlay drew over is saved before and copied back into the buffer that holds that frame once the
//   device has presented it.
// - Threads. On a multithreaded device no other thread meets the overlay half-way through its drawing: every method
//   the game calls that reads or changes what the overlay draws with is a marked call (device_guard.h), which the
//   overlay's drawing waits out before it begins and which waits for the drawing to end.
// - Time. Nothing is made on the device before the game's first present: creating the device only patches tables,
//   reads what the device is, and posts the jobs of the images it will show, which the overlay's worker starts on
//   at the first present.
// - Presents. A device's own swap chain may be presented through its own Present as well as through the device's
//   (Direct3D 9); a swap chain's present the system makes from inside the device's goes on untouched, and so does a
//   present of the overlay's library above this one (layered_present.h). A present that does not wait and finds the
//   device still drawing presents nothing: the overlay drawn into that frame is still there, so the present called
//   again shows it without drawing it a second time.
//
// Written once over a Direct3D's layer `Api` (ingame/d3d8/direct3d8.h, ingame/d3d9/direct3d9.h); besides what
// device_objects.h asks of it:
//   types        Renderer (the layer's renderer), StateMirror (its mirror of a pure device's states)
//   constants    kPureDevice, kMultithreaded (behaviour flags), kDoNotWait (a present's flag: 0 where there is
//                none), kStillDrawing (what such a present returns when the device is busy), kLayerAbove (the name
//                of the overlay's library that may draw through this one, or null)
//   functions    bool HookSwapChain(SwapChain*), void RepatchTables(),
//                FlipRotation ProbeFlipRotation(Device*, CReferenceLedger<Api>&),
//                SwapChain* OwnChain(Device*)  the device's own swap chain where it is an object the game may present
//                                              through (without a reference); null where there is none
#pragma once

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "ingame/common/device_guard.h"
#include "ingame/common/device_objects.h"
#include "ingame/common/flip_rotation.h"
#include "ingame/common/layered_present.h"
#include "ingame/common/layout.h"
#include "ingame/common/overlay_content.h"

namespace ingame {

template <class Api>
class CDeviceOverlay : public CDeviceGuard {
 public:
  using Device = typename Api::Device;
  using SwapChain = typename Api::SwapChain;
  using Parameters = typename Api::PresentParameters;
  using CountMethod = typename CReferenceLedger<Api>::CountMethod;

  // Gives the device the game has just created its overlay (`parameters` those of its first head), unless it
  // cannot be had (out of memory): then the device runs as the system made it. `addRef` and `release` are the
  // device's own. A device that has an overlay already (the system made it through a patched method of its own)
  // gets a new one in its place.
  static void Attach(Device* device, const Parameters& parameters, DWORD behaviorFlags, CountMethod addRef,
                     CountMethod release);
  // The overlay of a device, for the game's calls: null for a device without one, and when the calling thread is the
  // overlay's own, drawing on that device, whose calls go to the system unchanged.
  static CDeviceOverlay* FindForGame(Device* device) { return ForGame(Lookup(device)); }
  // The same, for a device whose state calls the overlay must follow in its mirror (a pure device), and only when
  // called by the game: null otherwise.
  static CDeviceOverlay* FindMirrored(Device* device) {
    if (mirroredDevices_.load(std::memory_order_relaxed) == 0) return nullptr;
    CDeviceOverlay* overlay = FindForGame(device);
    return overlay && overlay->pure_ ? overlay : nullptr;
  }
  // The overlay of the device a swap chain belongs to, its own or an additional one, for the game's calls.
  static CDeviceOverlay* FindByChain(SwapChain* chain) { return ForGame(Lookup(chain)); }

  CDeviceOverlay(const CDeviceOverlay&) = delete;
  CDeviceOverlay& operator=(const CDeviceOverlay&) = delete;

  // The game's Release of the device. Before its last reference goes, the overlay's objects go.
  ULONG Release() {
    // The count as the game knows it, which the overlay's objects leave as it is: with one reference left, this
    // release is the last, and the overlay's objects go first, each taking back the reference it gave back.
    if (ledger_.DeviceCount() > 1) return release_(device_);
    Device* const device = device_;
    const CountMethod release = release_;
    Detach(true);
    return release(device);
  }

  // A game's call of a pure device that sets or uses the states the overlay draws with: followed by the mirror
  // (`follow(mirror)`) once the device has accepted it, under the overlay's lock when the device is also
  // multithreaded.
  template <class Call, class Follow>
  HRESULT Followed(Call call, Follow follow);

  // Makes `call` as the overlay draws: on a multithreaded device, with every other thread's calls waited out and
  // held back. For the game's calls that change how the overlay draws (recording a state block, a new swap chain).
  template <class Call>
  auto Exclusively(Call call) {
    const DeviceLock lock(*this);
    return call();
  }
  // The game starts or ends recording a state block.
  void SetRecording(bool recording) {
    const DeviceLock lock(*this);
    if (renderer_) renderer_->SetRecording(recording);
  }

  // The game's present of the device (`chain` null) or of a swap chain, with its flags (0 where it has none);
  // `present` is the system's.
  template <class Call>
  HRESULT Present(SwapChain* chain, const RECT* source, HWND window, DWORD flags, Call present);
  // The game's reset (the parameters of its first head); `reset` is the system's.
  template <class Call>
  HRESULT Reset(Parameters* parameters, Call reset);
  // An additional swap chain the game created, and the end of one (the game's last reference to it is going); the
  // device's own swap chain lives on with it.
  void AddChain(SwapChain* chain, const Parameters& parameters);
  void RemoveChain(SwapChain* chain);

 private:
  // A swap chain the game presents: the device's own (`chain` null) or an additional one.
  struct Chain {
    Chain(Device* device, SwapChain* chain_, const Parameters& parameters, CReferenceLedger<Api>& ledger)
        : chain(chain_), present(device, chain_, parameters), keeper(ledger) {}
    SwapChain* const chain;
    PresentChain<Api> present;
    CBackBufferKeeper<Api> keeper;
    // The overlay is drawn into the back buffer, whose present found the device still drawing: the present called
    // again presents it.
    bool drawnAwaitingPresent = false;
  };

  CDeviceOverlay(Device* device, const Parameters& parameters, DWORD behaviorFlags, CountMethod addRef,
                 CountMethod release);
  ~CDeviceOverlay() = default;

  // Each library has overlays of its own Direct3D only: every guard it registered is an overlay of this layer's.
  static CDeviceOverlay* ForGame(CDeviceGuard* guard) {
    auto* overlay = static_cast<CDeviceOverlay*>(guard);
    return overlay && !overlay->OnOverlayThread() ? overlay : nullptr;
  }
  // The record of `chain`; the device's own for its own swap chain too.
  Chain* FindChain(SwapChain* chain) {
    if (chain && chain == ownChain_) chain = nullptr;
    for (auto& c : chains_) {
      if (c->chain == chain) return c.get();
    }
    return nullptr;
  }
  // Drops the record of an additional swap chain; `abandon` when it may have ended with its device unseen, so
  // that nothing of the overlay's on it is touched.
  void ForgetChain(SwapChain* chain, bool abandon);
  // At the game's presents, on the overlay's thread: measures the device the first time; false when the overlay
  // cannot draw on this device.
  bool Ready() {
    if (!measured_) {
      measured_ = true;
      // Measured at the first present, on a device the game has made ready, never while it is being created.
      if (!ledger_.Measure()) StopOverlay();
    }
    return renderer_ != nullptr;
  }
  // Where the device's flips leave the presented frame, found out once for each class of device.
  FlipRotation Rotation();
  // Drops the overlay and its objects; `deviceAlive` false when the device has ended already.
  void Detach(bool deviceAlive);
  // Drops the mirror and the renderer: the overlay stops rather than restore a value it may have missed.
  void StopOverlay() {
    const OverlayThread overlayThread(*this);
    renderer_.reset();
    mirror_.reset();
    for (auto& chain : chains_) chain->keeper.Release();
  }

  // How many devices are pure: while none is, the state calls go to the system without a look for a mirror.
  inline static std::atomic<int> mirroredDevices_{0};

  Device* const device_;
  const bool pure_;
  bool counted_ = false;  // among the pure and multithreaded devices counted
  CReferenceLedger<Api> ledger_;
  const CountMethod release_;
  bool measured_ = false;
  std::unique_ptr<typename Api::StateMirror> mirror_;
  std::unique_ptr<typename Api::Renderer> renderer_;
  std::vector<std::unique_ptr<Chain>> chains_;  // the device's own first
  // The device's own swap chain, where the game may present through it as well as through the device.
  SwapChain* ownChain_ = nullptr;
  // The thread in a present of the device's: a swap chain's present made from inside it is the system's own.
  std::atomic<DWORD> presentingThread_{0};
  FrameCounter frames_;
};

template <class Api>
void CDeviceOverlay<Api>::Attach(Device* device, const Parameters& parameters, DWORD behaviorFlags,
                                 CountMethod addRef, CountMethod release) {
  if (!StartContentWorker(&Api::RepatchTables)) return;
  if (Api::kLayerAbove) FindLayerAbove(Api::kLayerAbove);
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
  if (SwapChain* own = Api::OwnChain(device)) {
    if (Api::HookSwapChain(own) && overlay->Register(own, &stale)) overlay->ownChain_ = own;
  }
  overlay->counted_ = true;
  if (overlay->pure_) mirroredDevices_.fetch_add(1);
  if (overlay->multithreaded()) CGameCallLock::lockedDevices.fetch_add(1);
}

template <class Api>
CDeviceOverlay<Api>::CDeviceOverlay(Device* device, const Parameters& parameters, DWORD behaviorFlags,
                                    CountMethod addRef, CountMethod release)
    : CDeviceGuard(device, (behaviorFlags & Api::kMultithreaded) != 0),
      device_(device),
      pure_((behaviorFlags & Api::kPureDevice) != 0),
      ledger_(device, addRef, release),
      release_(release) {
  try {
    chains_.emplace_back(new Chain(device_, nullptr, parameters, ledger_));
    const PresentChain<Api>& own = chains_.front()->present;
    if (pure_) {
      mirror_.reset(new typename Api::StateMirror(own.width, own.height, parameters.EnableAutoDepthStencil != FALSE));
    }
    renderer_.reset(new typename Api::Renderer(device_, mirror_.get(), ledger_));
    // What the images will be is known now; the worker makes them from the game's first present on.
    renderer_->Prepare(own);
  } catch (...) {
    // Out of memory: the device runs without the overlay.
    renderer_.reset();
  }
}

template <class Api>
template <class Call, class Follow>
HRESULT CDeviceOverlay<Api>::Followed(Call call, Follow follow) {
  const CGameCallLock lock(device_, this, true);
  const HRESULT result = call();
  if (SUCCEEDED(result) && mirror_) {
    try {
      follow(*mirror_);
    } catch (...) {
      // Out of memory: the mirror may have missed a change, so the overlay stops rather than restore a wrong value.
      StopOverlay();
    }
  }
  return result;
}

template <class Api>
template <class Call>
HRESULT CDeviceOverlay<Api>::Present(SwapChain* chain, const RECT* source, HWND window, DWORD flags, Call present) {
  // A swap chain's present the system makes from inside the device's, and a present of the overlay's library above
  // drawing through this one, show what was drawn already.
  if (presentingThread_.load(std::memory_order_relaxed) == GetCurrentThreadId() || PresentingAbove()) {
    return present();
  }
  const DeviceLock lock(*this);
  Chain* target = FindChain(chain);
  if (!renderer_ || !target) return present();
  bool ready = false;
  // A present called again after the device was still drawing presents what was drawn into the frame already.
  const bool drawn = target->drawnAwaitingPresent;
  if (!drawn) {
    const bool newFrame = frames_.Presented(reinterpret_cast<std::uintptr_t>(chain == ownChain_ ? nullptr : chain) ^
                                            (reinterpret_cast<std::uintptr_t>(window) << 1));
    const OverlayThread overlayThread(*this);
    ready = Ready();
    if (ready) renderer_->DrawInto(target->present, source, newFrame, &target->keeper);
  }
  const std::uint64_t start = renderer_ && renderer_->counting() ? NowMicroseconds() : 0;
  presentingThread_.store(GetCurrentThreadId(), std::memory_order_relaxed);
  HRESULT result;
  {
    const CLayerPresent layer;
    result = present();
  }
  presentingThread_.store(0, std::memory_order_relaxed);
  // Found again: the game may have changed its swap chains from a window message handled meanwhile.
  target = FindChain(chain);
  if (!target) return result;
  const bool stillDrawing = (flags & Api::kDoNotWait) != 0 && result == Api::kStillDrawing;
  target->drawnAwaitingPresent = stillDrawing && (drawn || ready);
  if ((ready || drawn) && !stillDrawing && renderer_) {
    const OverlayThread overlayThread(*this);
    const PresentChain<Api>& presented = target->present;
    if (presented.keepsBackBuffers) {
      const FlipRotation rotation = presented.flips && target->keeper.Holds() ? Rotation() : FlipRotation::kUnknown;
      target->keeper.AfterPresent(presented, rotation, SUCCEEDED(result));
    }
    renderer_->OnPresented(renderer_->counting() ? NowMicroseconds() - start : 0);
  }
  return result;
}

template <class Api>
template <class Call>
HRESULT CDeviceOverlay<Api>::Reset(Parameters* parameters, Call reset) {
  const DeviceLock lock(*this);
  {
    const OverlayThread overlayThread(*this);
    if (renderer_) renderer_->OnBeforeReset();
    for (auto& chain : chains_) {
      chain->keeper.Release();
      chain->drawnAwaitingPresent = false;
    }
  }
  const HRESULT result = reset();
  const OverlayThread overlayThread(*this);
  if (SUCCEEDED(result) && parameters) {
    PresentChain<Api>& own = chains_.front()->present;
    own = PresentChain<Api>(device_, nullptr, *parameters);
    if (mirror_) mirror_->ResetToDefaults(own.width, own.height, parameters->EnableAutoDepthStencil != FALSE);
  }
  if (renderer_) renderer_->OnAfterReset(SUCCEEDED(result));
  return result;
}

template <class Api>
FlipRotation CDeviceOverlay<Api>::Rotation() {
  const void* table = *reinterpret_cast<void* const*>(device_);
  FlipRotation rotation = KnownRotationOf(table);
  if (rotation != FlipRotation::kUnknown) return rotation;
  rotation = Api::ProbeFlipRotation(device_, ledger_);
  // Where the probe could not tell, the documentation's flip is assumed, once for all.
  if (rotation == FlipRotation::kUnknown) rotation = FlipRotation::kDocumented;
  KeepRotation(table, rotation);
  return rotation;
}

template <class Api>
void CDeviceOverlay<Api>::Detach(bool deviceAlive) {
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

template <class Api>
void CDeviceOverlay<Api>::AddChain(SwapChain* chain, const Parameters& parameters) {
  const DeviceLock lock(*this);
  if (!renderer_ || !Api::HookSwapChain(chain)) return;
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

template <class Api>
void CDeviceOverlay<Api>::RemoveChain(SwapChain* chain) {
  if (chain == ownChain_) return;
  const DeviceLock lock(*this);
  Unregister(chain);
  const OverlayThread overlayThread(*this);
  ForgetChain(chain, false);
}

template <class Api>
void CDeviceOverlay<Api>::ForgetChain(SwapChain* chain, bool abandon) {
  for (auto& c : chains_) {
    if (c->chain == chain && abandon) c->keeper.Abandon();
  }
  chains_.erase(std::remove_if(chains_.begin(), chains_.end(), [chain](const auto& c) { return c->chain == chain; }),
                chains_.end());
}

}  // namespace ingame
