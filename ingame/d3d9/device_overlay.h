// The overlay of one game's Direct3D 9 device. The game keeps its own device: the device's table has methods
// patched (d3d9_hooks.cpp), as have its swap chains' and, on pure and multithreaded devices, its state blocks', and
// they come here for the device they were called on. It keeps the promises of Direct3D 8's overlay (reference
// counts, states, back buffers, threads, time: ingame/d3d8/device_overlay.h), with Direct3D 9's differences:
// - Swap chains. A device has one implicit swap chain per head (several for a device made for an adapter group),
//   which the game may also present through GetSwapChain; those count as the device's own. Present calls of the
//   device and of the swap chains may nest: the system may present a swap chain through its table from inside the
//   device's Present, which draws nothing a second time.
// - Presenting without waiting (D3DPRESENT_DONOTWAIT): a present the system turns down because the hardware is
//   still busy (D3DERR_WASSTILLDRAWING) showed nothing, and the game presents the same frame again.
// - State blocks are objects of their own: a pure device's mirror follows their Apply, Capture and last Release.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include <atomic>
#include <memory>

#include "ingame/d3d9/locked_methods.h"
#include "ingame/d3d9/state_mirror.h"

namespace ingame {

// A device's own AddRef or Release, as the system's table had it.
using CountMethod = ULONG(STDMETHODCALLTYPE*)(IDirect3DDevice9*);

class CDeviceOverlay {
 public:
  // Gives the device the game has just created its overlay, unless it cannot be had (out of memory): then the
  // device runs as the system made it. `parameters` are those of the first head, of `heads` (1 unless the device
  // drives an adapter group). `addRef` and `release` are the device's own. A device that has an overlay already
  // (the system made it through a patched method of its own) gets a new one in place of it.
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
  // The overlay of the device a swap chain belongs to, an implicit or an additional one, for the game's calls.
  static CDeviceOverlay* FindByChain(IDirect3DSwapChain9* chain);

  CDeviceOverlay(const CDeviceOverlay&) = delete;
  CDeviceOverlay& operator=(const CDeviceOverlay&) = delete;

  // The game's Release of the device. Before its last reference goes, the overlay's objects go.
  ULONG Release();

  // A game's call of a pure device, or of one of its state blocks, that sets or uses the states the overlay draws
  // with: followed by the mirror (`follow(mirror)`) once the device has accepted it, under the overlay's lock when
  // the device is also multithreaded.
  template <class Call, class Follow>
  HRESULT Followed(Call call, Follow follow);

  // Makes `call` as the overlay draws: on a multithreaded device, with every other thread's calls waited out and
  // held back. For the game's calls that change how the overlay draws (recording a state block, a new swap chain).
  template <class Call>
  auto Exclusively(Call call) {
    return call();
  }
  // The game starts or ends recording a state block.
  void SetRecording(bool recording);

  // The game's Present of the device (`chain` null), PresentEx, or the Present of a swap chain; `flags` are
  // PresentEx's and the swap chain's (0 for the device's Present), `present` is the system's.
  template <class Call>
  HRESULT Present(IDirect3DSwapChain9* chain, const RECT* source, HWND window, DWORD flags, Call present);
  // The game's Reset or ResetEx, with the parameters of every head; `reset` is the system's.
  template <class Call>
  HRESULT Reset(D3DPRESENT_PARAMETERS* parameters, Call reset);
  // An additional swap chain the game created, and the end of a swap chain the overlay knows (the game's last
  // reference to it is going); an implicit swap chain lives on with its device.
  void AddChain(IDirect3DSwapChain9* chain, const D3DPRESENT_PARAMETERS& parameters);
  void RemoveChain(IDirect3DSwapChain9* chain);

 private:
  CDeviceOverlay(IDirect3DDevice9* device, const D3DPRESENT_PARAMETERS& parameters, DWORD behaviorFlags);
  ~CDeviceOverlay();

  static CDeviceOverlay* FindPure(IDirect3DDevice9* device);
  // Drops the mirror: the overlay stops rather than restore a value it may have missed.
  void StopOverlay();

  // How many devices are pure: while none is, the state calls go to the system without a look for a mirror.
  inline static std::atomic<int> mirroredDevices_{0};

  IDirect3DDevice9* const device_;
  std::unique_ptr<CStateMirror> mirror_;
};

template <class Call, class Follow>
HRESULT CDeviceOverlay::Followed(Call call, Follow follow) {
  const CGameCallLock lock(device_, nullptr, true);
  const HRESULT result = call();
  if (SUCCEEDED(result) && mirror_) {
    try {
      follow(*mirror_);
    } catch (...) {
      StopOverlay();
    }
  }
  return result;
}

// Drawing into Direct3D 9's frames waits for the renderer shared with Direct3D 8: until then the device presents
// and resets as the system does, and the mirror follows its Reset.
template <class Call>
HRESULT CDeviceOverlay::Present(IDirect3DSwapChain9*, const RECT*, HWND, DWORD, Call present) {
  return present();
}

template <class Call>
HRESULT CDeviceOverlay::Reset(D3DPRESENT_PARAMETERS* parameters, Call reset) {
  const HRESULT result = reset();
  if (SUCCEEDED(result) && parameters && mirror_) {
    mirror_->ResetToDefaults(parameters->BackBufferWidth, parameters->BackBufferHeight,
                             parameters->EnableAutoDepthStencil != FALSE);
  }
  return result;
}

}  // namespace ingame
