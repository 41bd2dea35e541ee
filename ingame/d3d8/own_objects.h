// What the overlay keeps on a game's device besides its textures' pixels: the count of the device references its
// own objects hold, the swap chains it draws into, and the copies of what it drew over in back buffers that the
// game expects to find as it left them.
#pragma once

#include <windows.h>
#include <d3d8.h>

#include <atomic>

namespace ingame {

// The references to the device that the overlay's own objects hold. Each resource holds one to its device, state
// blocks none, as far as the device says: the numbers are measured once, when the device is made, before the game
// has it. The game is told the device's count less these.
class CReferenceLedger {
 public:
  // Measures what a resource and a state block hold of `device`.
  void Measure(IDirect3DDevice8* device);
  ULONG held() const { return held_.load(std::memory_order_acquire); }

  // A resource the overlay has just made on the device.
  void Adopt(IUnknown* resource) {
    if (resource) held_.fetch_add(perResource_, std::memory_order_acq_rel);
  }
  // Releases one of the overlay's resources and clears the pointer.
  template <class Interface>
  void Release(Interface*& resource) {
    if (!resource) return;
    held_.fetch_sub(perResource_, std::memory_order_acq_rel);
    resource->Release();
    resource = nullptr;
  }
  // A state block the overlay has just made, and the deletion of one.
  void AdoptStateBlock() { held_.fetch_add(perStateBlock_, std::memory_order_acq_rel); }
  void DeleteStateBlock(IDirect3DDevice8* device, DWORD& token);


 private:
  std::atomic<ULONG> held_{0};
  ULONG perResource_ = 1;
  ULONG perStateBlock_ = 0;
};

// A swap chain as the overlay draws into it: the device's own (`chain` null) or an additional one.
struct PresentChain {
  PresentChain() = default;
  PresentChain(IDirect3DDevice8* device, IDirect3DSwapChain8* chain, const D3DPRESENT_PARAMETERS& parameters);

  // Its back buffer `index`, with a reference; null when it cannot be had.
  IDirect3DSurface8* BackBuffer(UINT index) const;

  IDirect3DDevice8* device = nullptr;
  IDirect3DSwapChain8* chain = nullptr;
  UINT width = 0;  // of the back buffers, as the device made them
  UINT height = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  D3DMULTISAMPLE_TYPE multiSample = D3DMULTISAMPLE_NONE;
  UINT backBufferCount = 1;
  // Copy and flip promise the back buffers as the game drew them after a present; discard does not.
  bool keepsBackBuffers = false;
};

// Keeps what the overlay drew over in a back buffer, for a swap chain that keeps its back buffers: saved before the
// overlay draws, copied back once the device has presented.
class CBackBufferKeeper {
 public:
  explicit CBackBufferKeeper(CReferenceLedger& ledger) : ledger_(ledger) {}
  ~CBackBufferKeeper() { Release(); }
  CBackBufferKeeper(const CBackBufferKeeper&) = delete;
  CBackBufferKeeper& operator=(const CBackBufferKeeper&) = delete;

  static constexpr int kMaxAreas = 8;
  // Saves the areas of `backBuffer` (back buffer 0 of `chain`); false when they could not be saved, and then the
  // overlay must not draw over them.
  bool Save(const PresentChain& chain, IDirect3DSurface8* backBuffer, const RECT* areas, int count);
  // Copies the saved areas back into the back buffer that holds the presented frame now: the last one, which is
  // where the device's flip leaves it (and, with one back buffer, the one the game drew into).
  void Restore(const PresentChain& chain);
  // Gives up the copy (before a reset, or when the swap chain ends).
  void Release();
  // Forgets the copy without a call to the device, which has ended.
  void Abandon() {
    saved_ = nullptr;
    count_ = 0;
  }

 private:
  CReferenceLedger& ledger_;
  IDirect3DSurface8* saved_ = nullptr;
  D3DSURFACE_DESC savedDesc_{};
  RECT areas_[kMaxAreas] = {};
  POINT points_[kMaxAreas] = {};
  int count_ = 0;
};

}  // namespace ingame
