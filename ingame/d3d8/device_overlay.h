// The overlay of one game device. The game keeps the system's own device: the device's table has a few methods
// patched (d3d8_hooks.cpp), and they come here for the device they were called on.
//
// What the game sees of the device is what the system gives it:
// - Reference counts. The overlay's own textures, surfaces and state blocks hold references to the device, as
//   every resource does; the device's AddRef and Release tell the game the count without them, and when only they
//   are left the overlay lets them go first, which ends the device as the game's last Release would have.
// - States. Present draws the overlay into the back buffer the game presents and puts back every state it set,
//   through a state block of exactly those states, or on a pure device, whose states cannot be read, from a
//   mirror that follows the game's own calls. Whatever of the game's it unbinds for that time (a texture, a
//   vertex buffer, the render target) it holds a reference to until it has bound it again.
// - Back buffers. Where the swap effect promises that the back buffers stay as the game drew them (copy, flip),
//   what the overlay drew over is saved before and copied back once the device has presented.
// - Threads. On a multithreaded device the game's other threads are kept out of the methods that set or use
//   these states while the overlay draws and restores.
#pragma once

#include <windows.h>
#include <d3d8.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "ingame/common/layout.h"
#include "ingame/d3d8/overlay_renderer.h"
#include "ingame/d3d8/state_mirror.h"

namespace ingame {

class CDeviceOverlay {
 public:
  // Gives the device the game has just created its overlay, unless it cannot be had (out of memory, a table that
  // cannot be patched): then the device runs as the system made it.
  static void Attach(IDirect3DDevice8* device, const D3DPRESENT_PARAMETERS& parameters, DWORD behaviorFlags);
  // The overlay of a device, for the game's calls: null for a device without one, and when the calling thread is the
  // overlay's own, drawing on that device, whose calls go to the system unchanged, neither followed nor counted.
  static CDeviceOverlay* FindForGame(IDirect3DDevice8* device);
  // The same, for a device whose state calls the overlay must follow or keep out while it draws (a pure or a
  // multithreaded device), and only when called by the game: null otherwise, so that the call goes on unchanged.
  static CDeviceOverlay* FindFollowed(IDirect3DDevice8* device);
  // The overlay of the device an additional swap chain belongs to, for the game's calls.
  static CDeviceOverlay* FindByChain(IDirect3DSwapChain8* chain);

  CDeviceOverlay(const CDeviceOverlay&) = delete;
  CDeviceOverlay& operator=(const CDeviceOverlay&) = delete;

  // The device's count as the game would see it without the overlay, given the device's own.
  ULONG GameCount(ULONG deviceCount) const;
  // The game's Release: `release` is the device's own. Ends the overlay with the game's last reference.
  template <class ReleaseFunction>
  ULONG Release(ReleaseFunction release);

  // A call that sets or uses the states the overlay draws with: made under the device's lock on a multithreaded
  // device, and followed by the mirror (`follow(mirror)`) on a pure device once the device has accepted it.
  template <class Call, class Follow>
  HRESULT Followed(Call call, Follow follow);
  void FollowRenderTarget(IDirect3DSurface8* target);

  // The game's Present of the device (`chain` null) or of an additional swap chain; `present` is the system's.
  template <class Call>
  HRESULT Present(IDirect3DSwapChain8* chain, const RECT* source, HWND window, Call present);
  // The game's Reset; `reset` is the system's.
  template <class Call>
  HRESULT Reset(D3DPRESENT_PARAMETERS* parameters, Call reset);
  // An additional swap chain the game created, and its end.
  void AddChain(IDirect3DSwapChain8* chain, const D3DPRESENT_PARAMETERS& parameters);
  void RemoveChain(IDirect3DSwapChain8* chain);
  // The game starts or ends recording a state block.
  void SetRecording(bool recording);

 private:
  CDeviceOverlay(IDirect3DDevice8* device, const D3DPRESENT_PARAMETERS& parameters, DWORD behaviorFlags);
  ~CDeviceOverlay();

  // Marks the calling thread as the overlay's for the scope (FindForGame).
  class OverlayThread {
   public:
    explicit OverlayThread(CDeviceOverlay& overlay);
    ~OverlayThread();
    OverlayThread(const OverlayThread&) = delete;
    OverlayThread& operator=(const OverlayThread&) = delete;

   private:
    CDeviceOverlay& overlay_;
    DWORD before_;
  };

  // Holds the device's lock for a scope, on a multithreaded device only.
  class DeviceLock {
   public:
    explicit DeviceLock(CDeviceOverlay& overlay) : overlay_(overlay) {
      if (overlay_.multithreaded_) EnterCriticalSection(&overlay_.lock_);
    }
    ~DeviceLock() {
      if (overlay_.multithreaded_) LeaveCriticalSection(&overlay_.lock_);
    }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

   private:
    CDeviceOverlay& overlay_;
  };

  // A swap chain the game presents: the device's own (`chain` null) or an additional one.
  struct Chain {
    Chain(IDirect3DDevice8* device, IDirect3DSwapChain8* chain_, const D3DPRESENT_PARAMETERS& parameters,
          CReferenceLedger& ledger)
        : chain(chain_), present(device, chain_, parameters), keeper(ledger) {}
    IDirect3DSwapChain8* const chain;
    PresentChain present;
    CBackBufferKeeper keeper;
  };

  bool OnOverlayThread() const { return overlayThread_.load(std::memory_order_relaxed) == GetCurrentThreadId(); }
  Chain* FindChain(IDirect3DSwapChain8* chain);
  // Drops the overlay and its objects; `deviceAlive` false when the device has ended already.
  void Detach(bool deviceAlive);
  void StopOverlay();

  IDirect3DDevice8* const device_;
  const bool pure_;
  const bool multithreaded_;
  bool followedCounted_ = false;  // counted among the pure and multithreaded devices
  CRITICAL_SECTION lock_;
  std::atomic<DWORD> overlayThread_{0};
  CReferenceLedger ledger_;
  std::unique_ptr<CStateMirror> mirror_;
  std::unique_ptr<COverlayRenderer> renderer_;
  std::vector<std::unique_ptr<Chain>> chains_;  // the device's own first
  FrameCounter frames_;
};

template <class ReleaseFunction>
ULONG CDeviceOverlay::Release(ReleaseFunction release) {
  const ULONG held = ledger_.held();
  const ULONG left = release(device_);
  if (left > held) return left - held;
  // Nothing of the game's holds the device any longer: its last reference has gone, and with the overlay's
  // objects the device ends, as it would have at once without them.
  Detach(left != 0 && left == held);
  return 0;
}

template <class Call, class Follow>
HRESULT CDeviceOverlay::Followed(Call call, Follow follow) {
  const DeviceLock lock(*this);
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
  bool restore = false;
  {
    const OverlayThread overlayThread(*this);
    restore = renderer_->DrawInto(target->present, source, newFrame, &target->keeper);
  }
  const std::uint64_t start = renderer_->counting() ? NowMicroseconds() : 0;
  const HRESULT result = present();
  // Found again: the game may have changed its swap chains from a window message handled meanwhile.
  target = FindChain(chain);
  if (renderer_ && target) {
    const OverlayThread overlayThread(*this);
    if (restore) target->keeper.Restore(target->present);
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
  if (renderer_) renderer_->OnAfterReset();
  return result;
}

}  // namespace ingame
