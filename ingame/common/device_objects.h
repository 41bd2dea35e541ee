// What the overlay keeps on a game's device besides its textures' pixels, for every Direct3D: the references its
// own objects take of the device, which it gives back so that the device's count stays the game's; the swap chains
// it draws into; and the copies of what it drew over in back buffers that the game expects to find as it left them.
//
// Written once over a Direct3D's layer `Api` (ingame/d3d8/direct3d8.h, ingame/d3d9/direct3d9.h), which names its
// interfaces and makes the few calls whose form is its own:
//   types        Device, SwapChain, Surface, StateBlock, PresentParameters, SurfaceDesc (Width, Height, Format),
//                Format
//   constants    kNoFormat
//   functions    Surface* MakeProbeSurface(Device*)             a surface of 1 x 1 in system memory, or null
//                void ReleaseStateBlock(Device*, StateBlock&)   lets a state block go and clears it
//                bool StateBlockMade(const StateBlock&)
//                SwapRules SwapRulesOf(const PresentParameters&)
//                Surface* BackBuffer(Device*, SwapChain*, UINT index)   with a reference; null when there is none
//                bool Multisampled(const SurfaceDesc&)
//                Surface* MakeCopyTarget(Device*, const SurfaceDesc&)   a render target of that size and format
//                bool CopyArea(Device*, Surface* from, const RECT&, Surface* to)   the area to the same place
#pragma once

#include <windows.h>

#include <utility>

#include "ingame/common/flip_rotation.h"
#include "ingame/common/overlay_core.h"

namespace ingame {

// What a swap effect promises of the back buffers after a present.
struct SwapRules {
  bool keepsBackBuffers = false;  // they hold what the game drew (copy and the flips)
  bool flips = false;             // and they rotate
};

// The references to the device that the overlay's own objects take, given back at once. Each resource of a device
// may hold a reference to it (as far as the device's count says: measured, 0 or 1); the overlay releases that
// reference as soon as it has made one of its own resources, and takes it again just before it lets one go. So the
// device's count is the game's at every moment, whoever calls AddRef and Release and whatever hooks are in place;
// the overlay's Release hook lets its objects go before the game's last reference, so that the device ends as it
// would have.
template <class Api>
class CReferenceLedger {
 public:
  using Device = typename Api::Device;
  // The device's own AddRef and Release, as the device's table had them before the overlay patched it.
  using CountMethod = ULONG(STDMETHODCALLTYPE*)(Device*);

  CReferenceLedger(Device* device, CountMethod addRef, CountMethod release)
      : device_(device), addRef_(addRef), release_(release) {}

  // Measures what a resource holds of the device, before the overlay makes any. False when the device gives no
  // steady answer: then the overlay makes nothing on it.
  bool Measure() {
    // Twice alike, as a multithreaded device's other threads may take or drop a reference meanwhile; and no more
    // than one, since giving back a reference the device never took would end the device under the game.
    for (int attempt = 0; attempt < 4; ++attempt) {
      ULONG measured[2] = {};
      for (ULONG& held : measured) {
        const ULONG before = DeviceCount();
        auto* surface = Api::MakeProbeSurface(device_);
        if (!surface) return false;
        held = DeviceCount() - before;
        surface->Release();
      }
      if (measured[0] == measured[1] && measured[0] <= 1) {
        perResource_ = measured[0];
        return true;
      }
    }
    return false;
  }
  // The device's count now.
  ULONG DeviceCount() const {
    addRef_(device_);
    return release_(device_);
  }

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
  // A state block the overlay has just made (`before`: the device's count before it made it), and the end of one.
  void AdoptStateBlock(ULONG before) {
    if (!stateBlockMeasured_) {
      const ULONG held = DeviceCount() - before;
      perStateBlock_ = held <= 1 ? held : 0;
      stateBlockMeasured_ = true;
    }
    GiveBack(perStateBlock_);
  }
  void DeleteStateBlock(typename Api::StateBlock& block) {
    if (!Api::StateBlockMade(block)) return;
    TakeBack(perStateBlock_);
    Api::ReleaseStateBlock(device_, block);
  }

 private:
  void GiveBack(ULONG count) const {
    for (ULONG i = 0; i < count; ++i) release_(device_);
  }
  void TakeBack(ULONG count) const {
    for (ULONG i = 0; i < count; ++i) addRef_(device_);
  }

  Device* const device_;
  const CountMethod addRef_;
  const CountMethod release_;
  ULONG perResource_ = 0;
  ULONG perStateBlock_ = 0;
  bool stateBlockMeasured_ = false;
};

// A swap chain as the overlay draws into it: the device's own (`chain` null) or an additional one.
template <class Api>
struct PresentChain {
  using Device = typename Api::Device;
  using SwapChain = typename Api::SwapChain;
  using Surface = typename Api::Surface;

  PresentChain() = default;
  PresentChain(Device* device_, SwapChain* chain_, const typename Api::PresentParameters& parameters)
      : device(device_), chain(chain_) {
    backBufferCount = parameters.BackBufferCount == 0 ? 1 : parameters.BackBufferCount;
    const SwapRules rules = Api::SwapRulesOf(parameters);
    keepsBackBuffers = rules.keepsBackBuffers;
    flips = rules.flips;
    // The device may have chosen the size itself (a windowed device takes its window's): its back buffer says.
    if (Surface* backBuffer = BackBuffer(0)) {
      typename Api::SurfaceDesc desc{};
      if (SUCCEEDED(backBuffer->GetDesc(&desc))) {
        width = desc.Width;
        height = desc.Height;
        format = desc.Format;
        multisampled = Api::Multisampled(desc);
      }
      backBuffer->Release();
    }
  }

  // Its back buffer `index`, with a reference; null when it cannot be had.
  Surface* BackBuffer(UINT index) const { return Api::BackBuffer(device, chain, index); }

  Device* device = nullptr;
  SwapChain* chain = nullptr;
  UINT width = 0;  // of the back buffers, as the device made them
  UINT height = 0;
  typename Api::Format format = Api::kNoFormat;
  bool multisampled = false;
  UINT backBufferCount = 1;
  // Copy and flip promise the back buffers as the game drew them after a present; discard does not.
  bool keepsBackBuffers = false;
  bool flips = false;
};

// Keeps what the overlay drew over in a back buffer, for a swap chain that keeps its back buffers: saved before the
// overlay draws, copied back into the buffer that holds that frame once the device has presented it.
template <class Api>
class CBackBufferKeeper {
 public:
  using Surface = typename Api::Surface;
  using Chain = PresentChain<Api>;

  explicit CBackBufferKeeper(CReferenceLedger<Api>& ledger) : ledger_(ledger) {}
  ~CBackBufferKeeper() { Release(); }
  CBackBufferKeeper(const CBackBufferKeeper&) = delete;
  CBackBufferKeeper& operator=(const CBackBufferKeeper&) = delete;

  static constexpr int kMaxAreas = 8;

  // Saves the areas of `backBuffer` (back buffer 0 of `chain`); false when they could not be saved, and then the
  // overlay must not draw over them.
  bool Save(const Chain& chain, Surface* backBuffer, const RECT* areas, int count) {
    saved_.count = 0;
    if (count <= 0 || count > kMaxAreas) return count == 0;
    typename Api::SurfaceDesc desc{};
    if (FAILED(backBuffer->GetDesc(&desc))) return false;
    if (saved_.surface && !SameSurface(saved_.desc, desc)) ledger_.Release(saved_.surface);
    if (!saved_.surface) {
      // A surface of the device's memory, like the back buffer: copying into it and back is the device's own work.
      saved_.surface = Api::MakeCopyTarget(chain.device, desc);
      if (!saved_.surface) return false;
      ledger_.Adopt(saved_.surface);
      saved_.desc = desc;
    }
    for (int i = 0; i < count; ++i) saved_.areas[i] = areas[i];
    saved_.count = count;
    if (CopyAreas(chain, saved_, backBuffer, saved_.surface)) return true;
    saved_.count = 0;
    return false;
  }
  // Once the device has presented (`presented`: it did), copies what was saved back into the buffer that holds
  // the frame it was saved from (flip_rotation.h).
  void AfterPresent(const Chain& chain, FlipRotation rotation, bool presented) {
    if (!presented) {
      // Where the frame went is not known: what was saved is dropped rather than copied over something else.
      saved_.count = waiting_.count = 0;
      return;
    }
    const UINT last = chain.backBufferCount - 1;
    switch (WhereFrameStays(chain.flips, rotation)) {
      case KeptFrame::kFirstNow: return Restore(chain, saved_, 0);
      case KeptFrame::kLastNow: return Restore(chain, saved_, last);
      case KeptFrame::kLastAtNextPresent:
        // The documentation's flip, which is also what the overlay assumes where it could not find out: the frame
        // presented before this one has just come back as the last back buffer.
        Restore(chain, waiting_, last);
        std::swap(saved_, waiting_);
        return;
    }
  }
  // Whether anything saved waits to be copied back.
  bool Holds() const { return saved_.count > 0 || waiting_.count > 0; }
  // Gives up the copies (before a reset, or when the swap chain ends).
  void Release() {
    ledger_.Release(saved_.surface);
    ledger_.Release(waiting_.surface);
    saved_.count = waiting_.count = 0;
  }
  // Forgets the copies without a call to the device, which has ended.
  void Abandon() {
    CReferenceLedger<Api>::Abandon(saved_.surface);
    CReferenceLedger<Api>::Abandon(waiting_.surface);
    saved_.count = waiting_.count = 0;
  }

 private:
  struct Copy {
    Surface* surface = nullptr;
    typename Api::SurfaceDesc desc{};
    RECT areas[kMaxAreas] = {};
    int count = 0;
  };

  static bool SameSurface(const typename Api::SurfaceDesc& a, const typename Api::SurfaceDesc& b) {
    return a.Width == b.Width && a.Height == b.Height && a.Format == b.Format;
  }
  // Copies the areas of `from` into `to`, one rectangle a call (some implementations copy only the first of a call);
  // false when one failed.
  static bool CopyAreas(const Chain& chain, const Copy& copy, Surface* from, Surface* to) {
    bool copied = true;
    for (int i = 0; i < copy.count; ++i) copied = Api::CopyArea(chain.device, from, copy.areas[i], to) && copied;
    return copied;
  }
  void Restore(const Chain& chain, Copy& copy, UINT backBuffer) {
    if (copy.count == 0 || !copy.surface) return;
    if (Surface* target = chain.BackBuffer(backBuffer)) {
      typename Api::SurfaceDesc desc{};
      if (SUCCEEDED(target->GetDesc(&desc)) && SameSurface(desc, copy.desc)) {
        CopyAreas(chain, copy, copy.surface, target);
      }
      target->Release();
    }
    copy.count = 0;
  }

  CReferenceLedger<Api>& ledger_;
  Copy saved_;    // saved at this present
  Copy waiting_;  // saved at the present before, waiting for its frame to come back (the documentation's flip)
};

// Draws the overlay as `core` lays it out into back buffer 0 of `chain`, in the `source` part of it (null: all of
// it), at the game's present of that chain: the flow every layer's renderer shares. `newFrame` when this present
// begins a frame of the game's. Nothing is drawn on a device that is lost (`deviceReady` false) or recording a
// state block. Where the chain keeps its back buffers, what is drawn over is saved in `keeper` first, and not drawn
// over when it cannot be saved; `draw(list, backBuffer)` is the layer's drawing. True when the keeper must restore
// what it saved once the device has presented.
template <class Api, class Ready, class Draw>
bool DrawFrame(COverlayCore& core, const PresentChain<Api>& chain, const RECT* source, bool newFrame,
               CBackBufferKeeper<Api>* keeper, Ready deviceReady, Draw draw) {
  const Rect presented = source ? Rect{source->left, source->top, source->right, source->bottom} : Rect{};
  const Rect screen = core.BeginFrame(chain.width, chain.height, source ? &presented : nullptr, newFrame);
  bool saved = false;
  if (!screen.Empty() && deviceReady()) {
    if (const DrawList* list = core.Update(screen)) {
      if (typename Api::Surface* backBuffer = chain.BackBuffer(0)) {
        bool drawable = true;
        if (chain.keepsBackBuffers && keeper) {
          // What cannot be saved is not drawn over: the game would find the overlay in its next frame.
          RECT covered[kElementCount];
          for (int i = 0; i < list->coveredCount; ++i) {
            const Rect& c = list->covered[i];
            covered[i] = RECT{static_cast<LONG>(c.left), static_cast<LONG>(c.top), static_cast<LONG>(c.right),
                              static_cast<LONG>(c.bottom)};
          }
          drawable = saved = keeper->Save(chain, backBuffer, covered, list->coveredCount);
        }
        if (drawable) draw(*list, backBuffer);
        backBuffer->Release();
      }
    }
  }
  core.EndFrame();
  return saved;
}

}  // namespace ingame
