// The overlay of one game's Direct3D 9 device. The game keeps its own device: the device's table has methods
// patched (d3d9_hooks.cpp), as have its swap chains' and, on pure and multithreaded devices, its state blocks', and
// they come here for the device they were called on. It keeps the promises of Direct3D 8's overlay (reference
// counts, states, back buffers, threads, time: ingame/d3d8/device_overlay.h), with Direct3D 9's differences:
// - Swap chains. A device has one implicit swap chain per head (several for a device made for an adapter group),
//   which the game may also present through GetSwapChain; those count as the device's own. Present calls of the
//   device and of the swap chains may nest: the system may present a swap chain through its table from inside the
//   device's Present, which draws nothing a second time.
// - Presenting without waiting (D3DPRESENT_DONOTWAIT): a present the system turns down because the hardware is
//   still busy (D3DERR_WASSTILLDRAWING) showed nothing, and the game presents the same frame again: the overlay
//   drawn into it is still there, so that present shows it without drawing it a second time.
// - The overlay draws into the first head's swap chain of a device made for an adapter group.
// - Reset and ResetEx reset alike; a Direct3D 9Ex device has no managed pool, which the overlay does not use.
// - State blocks are objects of their own: a pure device's mirror follows their Apply, Capture and last Release.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "ingame/common/device_guard.h"
#include "ingame/common/layered_present.h"
#include "ingame/common/layout.h"
#include "ingame/d3d9/locked_methods.h"
#include "ingame/d3d9/overlay_renderer.h"
#include "ingame/d3d9/own_objects.h"
#include "ingame/d3d9/state_mirror.h"

namespace ingame {

class CDeviceOverlay : public CDeviceGuard {
 public:
  // Gives the device the game has just created its overlay, unless it cannot be had (out of memory): then the
  // device runs as the system made it. `addRef` and `release` are the device's own.
  // `parameters` are those of the first head, of `heads` (1 unless the device drives an adapter group). A device
  // that has an overlay already (the system made it through a patched method of its own) gets a new one in its place.
  static void Attach(IDirect3DDevice9* device, const D3DPRESENT_PARAMETERS& parameters, UINT heads,
                     DWORD behaviorFlags, CountMethod addRef, CountMethod release);
  // The overlay of a device, for the game's calls: null for a device without one, and when the calling thread is the
  // overlay's own, drawing on that device, whose calls go to the system unchanged.
  static CDeviceOverlay* FindForGame(IDirect3DDevice9* device);
  // The same, for a device whose state calls the overlay must follow in its mirror (a pure device), and only when
  // called by the game: null otherwise.
  static CDeviceOverlay* FindMirrored(IDirect3DDevice9* device) {
    return mirroredDevices_.load(std::memory_order_relaxed) != 0 ? FindPure(device) : nullptr;
  }
  // The overlay of the device a swap chain belongs to, one of its own or an additional one, for the game's calls.
  static CDeviceOverlay* FindByChain(IDirect3DSwapChain9* chain);

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

  // The game's Present or PresentEx of the device (`chain` null), or a swap chain's Present; `flags` are those of
  // PresentEx and of the swap chain's Present (0 for the device's Present); `present` is the system's.
  template <class Call>
  HRESULT Present(IDirect3DSwapChain9* chain, const RECT* source, HWND window, DWORD flags, Call present);
  // The game's Reset or ResetEx (the parameters of the first head); `reset` is the system's.
  template <class Call>
  HRESULT Reset(D3DPRESENT_PARAMETERS* parameters, Call reset);
  // An additional swap chain the game created, and the end of one (the game's last reference to it is going); the
  // device's own swap chains live on with it.
  void AddChain(IDirect3DSwapChain9* chain, const D3DPRESENT_PARAMETERS& parameters);
  void RemoveChain(IDirect3DSwapChain9* chain);

 private:
  CDeviceOverlay(IDirect3DDevice9* device, const D3DPRESENT_PARAMETERS& parameters, DWORD behaviorFlags,
                 CountMethod addRef, CountMethod release);
  ~CDeviceOverlay();

  // A swap chain the game presents: the device's own (`chain` null) or an additional one.
  struct Chain {
    Chain(IDirect3DDevice9* device, IDirect3DSwapChain9* chain_, const D3DPRESENT_PARAMETERS& parameters,
          CReferenceLedger& ledger)
        : chain(chain_), present(device, chain_, parameters), keeper(ledger) {}
    IDirect3DSwapChain9* const chain;
    PresentChain present;
    CBackBufferKeeper keeper;
    // The overlay is drawn into the back buffer, whose present found the device still drawing: the present called
    // again presents it.
    bool drawnAwaitingPresent = false;
  };

  static CDeviceOverlay* FindPure(IDirect3DDevice9* device);
  // The record of `chain`; the device's own first head's for its own swap chain too.
  Chain* FindChain(IDirect3DSwapChain9* chain);
  // Drops the record of an additional swap chain; `abandon` when it may have ended with its device unseen, so
  // that nothing of the overlay's on it is touched.
  void ForgetChain(IDirect3DSwapChain9* chain, bool abandon);
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

  IDirect3DDevice9* const device_;
  const bool pure_;
  bool counted_ = false;  // among the pure and multithreaded devices counted
  CReferenceLedger ledger_;
  const CountMethod release_;
  bool measured_ = false;
  std::unique_ptr<CStateMirror> mirror_;
  std::unique_ptr<COverlayRenderer> renderer_;
  std::vector<std::unique_ptr<Chain>> chains_;  // the device's own first
  // The device's own swap chain of its first head, whose Present the game may call as well as the device's.
  IDirect3DSwapChain9* ownChain_ = nullptr;
  // The thread in a present of the device's: a swap chain's present made from inside it is the system's own.
  std::atomic<DWORD> presentingThread_{0};
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
HRESULT CDeviceOverlay::Present(IDirect3DSwapChain9* chain, const RECT* source, HWND window, DWORD flags,
                                Call present) {
  // A swap chain's present the system makes from inside the device's, and a present of the overlay's Direct3D 8
  // drawing through this one, show what was drawn above.
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
    const bool newFrame = frames_.Presented(reinterpret_cast<std::uintptr_t>(target) ^
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
  const bool stillDrawing = result == D3DERR_WASSTILLDRAWING && (flags & D3DPRESENT_DONOTWAIT) != 0;
  target->drawnAwaitingPresent = stillDrawing && (drawn || ready);
  if ((ready || drawn) && !stillDrawing && renderer_) {
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
    for (auto& chain : chains_) {
      chain->keeper.Release();
      chain->drawnAwaitingPresent = false;
    }
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
