// The overlay of one game device. The game keeps its own device: the device's table has methods patched
// (d3d8_hooks.cpp), and they come here for the device they were called on.
//
// What the game sees of the device is what its implementation gives it:
// - Reference counts. The overlay's own textures, surfaces and state blocks may hold references to the device, as
//   every resource does; the overlay gives each such reference back as soon as it has made the object
//   (CReferenceLedger), so the device's count is the game's whoever asks, and before the game's last reference
//   goes, the overlay lets its objects go, which ends the device as it would have.
// - States. Present draws the overlay into the back buffer the game presents and puts back every state it set: the
//   render and stage states and the viewport through a state block of exactly those, the bindings it replaces
//   (texture 0, stream 0, the shaders, the render target) one by one; on a pure device, whose states cannot be
//   read, from a mirror that follows the game's own calls. What it unbinds of the game's for that time it holds a
//   reference to until it has bound it again, and no longer.
// - Back buffers. Where the swap effect promises that the back buffers stay as the game drew them (copy, flip),
//   what the overlay drew over is saved before and copied back into the buffer that holds that frame once the
//   device has presented it.
// - Threads. On a multithreaded device no other thread meets the overlay half-way through its drawing: every method
//   the game calls that reads or changes what the overlay draws with is a marked call (CGameCallLock), which the
//   overlay's drawing waits out before it begins and which waits for the drawing to end; the overlay's lock is
//   taken before the system's. A call the system makes back into the table from inside a method on the same thread
//   goes on without waiting.
// - Time. Nothing is made on the device before the game's first present: creating the device only patches tables,
//   reads what the device is, and posts the jobs of the images it will show, which the overlay's worker starts on
//   at the first present.
#pragma once

#include <windows.h>
#include <d3d8.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "ingame/common/device_guard.h"
#include "ingame/common/layered_present.h"
#include "ingame/common/layout.h"
#include "ingame/d3d8/locked_methods.h"
#include "ingame/d3d8/overlay_renderer.h"
#include "ingame/d3d8/own_objects.h"
#include "ingame/d3d8/state_mirror.h"

namespace ingame {

class CDeviceOverlay : public CDeviceGuard {
 public:
  // Gives the device the game has just created its overlay, unless it cannot be had (out of memory): then the
  // device runs as the system made it. `addRef` and `release` are the device's own.
  static void Attach(IDirect3DDevice8* device, const D3DPRESENT_PARAMETERS& parameters, DWORD behaviorFlags,
                     CountMethod addRef, CountMethod release);
  // The overlay of a device, for the game's calls: null for a device without one, and when the calling thread is the
  // overlay's own, drawing on that device, whose calls go to the system unchanged.
  static CDeviceOverlay* FindForGame(IDirect3DDevice8* device);
  // The same, for a device whose state calls the overlay must follow in its mirror (a pure device), and only when
  // called by the game: null otherwise.
  static CDeviceOverlay* FindMirrored(IDirect3DDevice8* device) {
    return mirroredDevices_.load(std::memory_order_relaxed) != 0 ? FindPure(device) : nullptr;
  }
  // The overlay of the device an additional swap chain belongs to, for the game's calls.
  static CDeviceOverlay* FindByChain(IDirect3DSwapChain8* chain);

  CDeviceOverlay(const CDeviceOverlay&) = delete;
  CDeviceOverlay& operator=(const CDeviceOverlay&) = delete;

  // The game's Release of the device. Before its last reference goes, the overlay's objects go.
  ULONG Release();

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
  void SetRecording(bool recording);

  // The game's Present of the device (`chain` null) or of an additional swap chain; `present` is the system's.
  template <class Call>
  HRESULT Present(IDirect3DSwapChain8* chain, const RECT* source, HWND window, Call present);
  // The game's Reset; `reset` is the system's.
  template <class Call>
  HRESULT Reset(D3DPRESENT_PARAMETERS* parameters, Call reset);
  // An additional swap chain the game created, and its end.
  void AddChain(IDirect3DSwapChain8* chain, const D3DPRESENT_PARAMETERS& parameters);
  void RemoveChain(IDirect3DSwapChain8* chain);

 private:
  CDeviceOverlay(IDirect3DDevice8* device, const D3DPRESENT_PARAMETERS& parameters, DWORD behaviorFlags,
                 CountMethod addRef, CountMethod release);
  ~CDeviceOverlay();

  // A swap chain the game presents: the device's own (`chain` null) or an additional one.
  struct Chain {
    Chain(IDirect3DDevice8* device, IDirect3DSwapChain8* chain_, const D3DPRESENT_PARAMETERS& parameters,
          CReferenceLedger& ledger)
        : chain(chain_), present(device, chain_, parameters), keeper(ledger) {}
    IDirect3DSwapChain8* const chain;
    PresentChain present;
    CBackBufferKeeper keeper;
  };

  static CDeviceOverlay* FindPure(IDirect3DDevice8* device);
  Chain* FindChain(IDirect3DSwapChain8* chain);
  // Drops the record of an additional swap chain; `abandon` when it may have ended with its device unseen, so
  // that nothing of the overlay's on it is touched.
  void ForgetChain(IDirect3DSwapChain8* chain, bool abandon);
  // At the game's presents, on the overlay's thread: measures the device the first time; false when the overlay
  // cannot draw on this device.
  bool Ready();
  // Where the device's flips leave the presented frame, found out once for each class of device.
  FlipRotation Rotation();
  // Drops the overlay and its objects; `deviceAlive` false when the device has ended already.
  void Detach(bool deviceAlive);
  void StopOverlay();

  // How many devices are pure: while none is, the state calls go to the system without a look for a mirror.
  inline static std::atomic<int> mirroredDevices_{0};

  IDirect3DDevice8* const device_;
  const bool pure_;
  bool counted_ = false;  // among the pure and multithreaded devices counted
  CReferenceLedger ledger_;
  const CountMethod release_;
  bool measured_ = false;
  std::unique_ptr<CStateMirror> mirror_;
  std::unique_ptr<COverlayRenderer> renderer_;
  std::vector<std::unique_ptr<Chain>> chains_;  // the device's own first
  FrameCounter frames_;
};

template <class Call, class Follow>
HRESULT CDeviceOverlay::Followed(Call call, Follow follow) {
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

template <class Call>
HRESULT CDeviceOverlay::Present(IDirect3DSwapChain8* chain, const RECT* source, HWND window, Call present) {
  const DeviceLock lock(*this);
  Chain* target = FindChain(chain);
  if (!renderer_ || !target) return present();
  const bool newFrame = frames_.Presented(reinterpret_cast<std::uintptr_t>(chain) ^
                                          (reinterpret_cast<std::uintptr_t>(window) << 1));
  bool ready = false;
  {
    const OverlayThread overlayThread(*this);
    ready = Ready();
    if (ready) renderer_->DrawInto(target->present, source, newFrame, &target->keeper);
  }
  const std::uint64_t start = renderer_ && renderer_->counting() ? NowMicroseconds() : 0;
  HRESULT result;
  {
    const CLayerPresent layer;
    result = present();
  }
  // Found again: the game may have changed its swap chains from a window message handled meanwhile.
  target = FindChain(chain);
  if (ready && renderer_ && target) {
    const OverlayThread overlayThread(*this);
    const PresentChain& presented = target->present;
    if (presented.keepsBackBuffers) {
      const FlipRotation rotation = presented.flips && target->keeper.Holds() ? Rotation() : FlipRotation::kUnknown;
      target->keeper.AfterPresent(presented, rotation, SUCCEEDED(result));
    }
    renderer_->OnPresented(renderer_->counting() ? NowMicroseconds() - start : 0);
  }
  return result;
}

template <class Call>
HRESULT CDeviceOverlay::Reset(D3DPRESENT_PARAMETERS* parameters, Call reset) {
  const DeviceLock lock(*this);
  {
    const OverlayThread overlayThread(*this);
    if (renderer_) renderer_->OnBeforeReset();
    for (auto& chain : chains_) chain->keeper.Release();
  }
  const HRESULT result = reset();
  const OverlayThread overlayThread(*this);
  if (SUCCEEDED(result) && parameters) {
    PresentChain& own = chains_.front()->present;
    own = PresentChain(device_, nullptr, *parameters);
    if (mirror_) mirror_->ResetToDefaults(own.width, own.height, parameters->EnableAutoDepthStencil != FALSE);
  }
  if (renderer_) renderer_->OnAfterReset(SUCCEEDED(result));
  return result;
}

}  // namespace ingame
