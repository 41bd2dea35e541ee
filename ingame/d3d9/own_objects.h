// What the overlay keeps on a game's device besides its textures' pixels: the references its own objects take of
// the device, which it gives back so that the device's count stays the game's; the swap chains it draws into; and
// the copies of what it drew over in back buffers that the game expects to find as it left them.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

#include "ingame/common/flip_rotation.h"

namespace ingame {

// The device's own AddRef and Release, as the device's table had them before the overlay patched it.
using CountMethod = ULONG(STDMETHODCALLTYPE*)(IDirect3DDevice9*);

// The references to the device that the overlay's own objects take, given back at once. Each resource of a device
// may hold a reference to it (as far as the device's count says: measured, 0 or 1); the overlay releases that
// reference as soon as it has made one of its own resources, and takes it again just before it lets one go. So the
// device's count is the game's at every moment, whoever calls AddRef and Release and whatever hooks are in place;
// the overlay's Release hook lets its objects go before the game's last reference, so that the device ends as it
// would have.
class CReferenceLedger {
 public:
  CReferenceLedger(IDirect3DDevice9* device, CountMethod addRef, CountMethod release)
      : device_(device), addRef_(addRef), release_(release) {}

  // Measures what a resource and a state block hold of the device, before the overlay makes any. False when the
  // device gives no steady answer: then the overlay makes nothing on it.
  bool Measure();
  // The device's count now.
  ULONG DeviceCount() const;

  // A resource the overlay has just made on the device: the reference it took of the device is given back.
  void Adopt(IUnknown* resource) {
    if (resource) GiveBack(perResource_);
  }
  // Releases one of the overlay's resources, taking its reference of the device again first, and clears the pointer.
  template <class Interface>
  void Release(Interface*& resource) {
    if (!resource) return;
    TakeBack(perResource_);
    resource->Release();
    resource = nullptr;
  }
  // Forgets a resource without a call to the device, which has ended.
  template <class Interface>
  static void Abandon(Interface*& resource) {
    resource = nullptr;
  }
  // A state block the overlay has just made (`before`: the device's count before it made it), and the release of
  // one.
  void AdoptStateBlock(ULONG before);
  void DeleteStateBlock(IDirect3DStateBlock9*& block);

 private:
  void GiveBack(ULONG count) const {
    for (ULONG i = 0; i < count; ++i) release_(device_);
  }
  void TakeBack(ULONG count) const {
    for (ULONG i = 0; i < count; ++i) addRef_(device_);
  }

  IDirect3DDevice9* const device_;
  const CountMethod addRef_;
  const CountMethod release_;
  ULONG perResource_ = 0;
  ULONG perStateBlock_ = 0;
  bool stateBlockMeasured_ = false;
};

// A swap chain as the overlay draws into it: the device's own (`chain` null) or an additional one.
struct PresentChain {
  PresentChain() = default;
  PresentChain(IDirect3DDevice9* device, IDirect3DSwapChain9* chain, const D3DPRESENT_PARAMETERS& parameters);

  // Its back buffer `index`, with a reference; null when it cannot be had.
  IDirect3DSurface9* BackBuffer(UINT index) const;

  IDirect3DDevice9* device = nullptr;
  IDirect3DSwapChain9* chain = nullptr;
  UINT width = 0;  // of the back buffers, as the device made them
  UINT height = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  D3DMULTISAMPLE_TYPE multiSample = D3DMULTISAMPLE_NONE;
  UINT backBufferCount = 1;
  // Copy and the flips promise the back buffers as the game drew them after a present; discard and overlay do not.
  bool keepsBackBuffers = false;
  bool flips = false;
};

// Finds out which rotation the device's flips follow, with a small swap chain of the overlay's own on a window of
// its own that is never shown, made by a thread of the overlay's; kUnknown when that cannot be made. Costs a few
// waits for the device, once.
FlipRotation ProbeFlipRotation(IDirect3DDevice9* device, CReferenceLedger& ledger);

// Keeps what the overlay drew over in a back buffer, for a swap chain that keeps its back buffers: saved before the
// overlay draws, copied back into the buffer that holds that frame once the device has presented it.
class CBackBufferKeeper {
 public:
  explicit CBackBufferKeeper(CReferenceLedger& ledger) : ledger_(ledger) {}
  ~CBackBufferKeeper() { Release(); }
  CBackBufferKeeper(const CBackBufferKeeper&) = delete;
  CBackBufferKeeper& operator=(const CBackBufferKeeper&) = delete;

  static constexpr int kMaxAreas = 8;
  // Saves the areas of `backBuffer` (back buffer 0 of `chain`); false when they could not be saved, and then the
  // overlay must not draw over them.
  bool Save(const PresentChain& chain, IDirect3DSurface9* backBuffer, const RECT* areas, int count);
  // Once the device has presented (`presented`: it did), copies what was saved back into the buffer that holds
  // the frame it was saved from: with copy, back buffer 0 at once; with a flip that leaves the presented frame in
  // the last back buffer, that one at once; with the documentation's flip, the last back buffer after the next
  // present, when the frame comes back there.
  void AfterPresent(const PresentChain& chain, FlipRotation rotation, bool presented);
  // Whether anything saved waits to be copied back.
  bool Holds() const { return saved_.count > 0 || waiting_.count > 0; }
  // Gives up the copies (before a reset, or when the swap chain ends).
  void Release();
  // Forgets the copies without a call to the device, which has ended.
  void Abandon();

 private:
  struct Copy {
    IDirect3DSurface9* surface = nullptr;
    D3DSURFACE_DESC desc{};
    RECT areas[kMaxAreas] = {};
    int count = 0;
  };
  // Copies the areas of `from` into `to`, one rectangle a call (some implementations copy only the first of a call);
  // false when one failed.
  static bool CopyAreas(const PresentChain& chain, const Copy& copy, IDirect3DSurface9* from, IDirect3DSurface9* to);
  void Restore(const PresentChain& chain, Copy& copy, UINT backBuffer);

  CReferenceLedger& ledger_;
  Copy saved_;    // saved at this present
  Copy waiting_;  // saved at the present before, waiting for its frame to come back (the documentation's flip)
};

}  // namespace ingame
