#include "ingame/d3d9/own_objects.h"

#include "ingame/common/probe_window.h"

#include <cwchar>
#include <memory>
#include <utility>

namespace ingame {

ULONG CReferenceLedger::DeviceCount() const {
  addRef_(device_);
  return release_(device_);
}

bool CReferenceLedger::Measure() {
  // Twice alike, as a multithreaded device's other threads may take or drop a reference meanwhile; and no more than
  // one, since giving back a reference the device never took would end the device under the game.
  for (int attempt = 0; attempt < 4; ++attempt) {
    ULONG measured[2] = {};
    bool made = true;
    for (ULONG& held : measured) {
      const ULONG before = DeviceCount();
      IDirect3DSurface9* surface = nullptr;
      for (const D3DFORMAT format : {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5}) {
        if (!surface && FAILED(device_->CreateOffscreenPlainSurface(1, 1, format, D3DPOOL_SYSTEMMEM, &surface,
                                                                    nullptr))) {
          surface = nullptr;
        }
      }
      made = surface != nullptr;
      if (!made) break;
      held = DeviceCount() - before;
      surface->Release();
    }
    if (!made) return false;
    if (measured[0] == measured[1] && measured[0] <= 1) {
      perResource_ = measured[0];
      return true;
    }
  }
  return false;
}

void CReferenceLedger::AdoptStateBlock(ULONG before) {
  if (!stateBlockMeasured_) {
    const ULONG held = DeviceCount() - before;
    perStateBlock_ = held <= 1 ? held : 0;
    stateBlockMeasured_ = true;
  }
  GiveBack(perStateBlock_);
}

void CReferenceLedger::DeleteStateBlock(IDirect3DStateBlock9*& block) {
  if (!block) return;
  TakeBack(perStateBlock_);
  block->Release();
  block = nullptr;
}

PresentChain::PresentChain(IDirect3DDevice9* device_, IDirect3DSwapChain9* chain_,
                           const D3DPRESENT_PARAMETERS& parameters)
    : device(device_), chain(chain_) {
  backBufferCount = parameters.BackBufferCount == 0 ? 1 : parameters.BackBufferCount;
  // A flip of Direct3D 9Ex's own model rotates its buffers as a flip does.
  flips = parameters.SwapEffect == D3DSWAPEFFECT_FLIP || parameters.SwapEffect == D3DSWAPEFFECT_FLIPEX;
  keepsBackBuffers = flips || parameters.SwapEffect == D3DSWAPEFFECT_COPY;
  // The device may have chosen the size itself (a windowed device takes its window's): its back buffer says.
  if (IDirect3DSurface9* backBuffer = BackBuffer(0)) {
    D3DSURFACE_DESC desc{};
    if (SUCCEEDED(backBuffer->GetDesc(&desc))) {
      width = desc.Width;
      height = desc.Height;
      format = desc.Format;
      multiSample = desc.MultiSampleType;
    }
    backBuffer->Release();
  }
}

IDirect3DSurface9* PresentChain::BackBuffer(UINT index) const {
  IDirect3DSurface9* backBuffer = nullptr;
  const HRESULT result = chain ? chain->GetBackBuffer(index, D3DBACKBUFFER_TYPE_MONO, &backBuffer)
                               : device->GetBackBuffer(0, index, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
  return SUCCEEDED(result) ? backBuffer : nullptr;
}

namespace {

// The bits of a pixel of `format` that hold its colour, and the bytes it takes; 0 for a format the probe does not use.
std::pair<std::uint32_t, int> ColourBits(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8R8G8B8: return {0x00FFFFFFu, 4};
    case D3DFMT_R5G6B5: return {0xFFFFu, 2};
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: return {0x7FFFu, 2};
    default: return {0, 0};
  }
}

// A colour 0x00RRGGBB as a pixel of `format`, as ColorFill writes it.
std::uint32_t Packed(std::uint32_t rgb, D3DFORMAT format) {
  const std::uint32_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  switch (format) {
    case D3DFMT_R5G6B5: return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    default: return rgb;
  }
}

// Reads the first pixel of `surface` (in system memory); false when it cannot be locked.
bool ReadFirstPixel(IDirect3DSurface9* surface, int bytes, std::uint32_t& pixel) {
  D3DLOCKED_RECT locked{};
  if (FAILED(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY))) return false;
  pixel = 0;
  const auto* first = static_cast<const unsigned char*>(locked.pBits);
  for (int b = 0; b < bytes; ++b) pixel |= static_cast<std::uint32_t>(first[b]) << (8 * b);
  surface->UnlockRect();
  return true;
}

}  // namespace

FlipRotation ProbeFlipRotation(IDirect3DDevice9* device, CReferenceLedger& ledger) {
  D3DDISPLAYMODE mode{};
  if (FAILED(device->GetDisplayMode(0, &mode))) return FlipRotation::kUnknown;
  const auto [bits, bytes] = ColourBits(mode.Format);
  if (bytes == 0) return FlipRotation::kUnknown;
  const CProbeWindow probeWindow;
  HWND window = probeWindow.window();
  if (!window) return FlipRotation::kUnknown;
  // Two back buffers, each filled with a colour of its own: after one present, the last back buffer holds back
  // buffer 0's colour where the presented frame stays there, and the former front buffer's (never drawn) where the
  // flip is the documentation's.
  D3DPRESENT_PARAMETERS parameters{};
  parameters.BackBufferWidth = 8;
  parameters.BackBufferHeight = 8;
  parameters.BackBufferFormat = mode.Format;
  parameters.BackBufferCount = 2;
  parameters.SwapEffect = D3DSWAPEFFECT_FLIP;
  parameters.hDeviceWindow = window;
  parameters.Windowed = TRUE;
  constexpr std::uint32_t kPresented = 0x00A5C3E7;
  constexpr std::uint32_t kSecond = 0x003C5A78;
  FlipRotation rotation = FlipRotation::kUnknown;
  IDirect3DSwapChain9* chain = nullptr;
  IDirect3DSurface9* image = nullptr;
  if (SUCCEEDED(device->CreateAdditionalSwapChain(&parameters, &chain)) && chain) {
    ledger.Adopt(chain);
    if (SUCCEEDED(device->CreateOffscreenPlainSurface(8, 8, mode.Format, D3DPOOL_SYSTEMMEM, &image, nullptr)) &&
        image) {
      ledger.Adopt(image);
      bool ready = true;
      for (UINT index = 0; index < 2 && ready; ++index) {
        IDirect3DSurface9* backBuffer = nullptr;
        const D3DCOLOR colour = 0xFF000000 | (index == 0 ? kPresented : kSecond);
        ready = SUCCEEDED(chain->GetBackBuffer(index, D3DBACKBUFFER_TYPE_MONO, &backBuffer)) && backBuffer &&
                SUCCEEDED(device->ColorFill(backBuffer, nullptr, colour));
        if (backBuffer) backBuffer->Release();
      }
      IDirect3DSurface9* last = nullptr;
      std::uint32_t pixel = 0;
      if (ready && SUCCEEDED(chain->Present(nullptr, nullptr, nullptr, nullptr, 0)) &&
          SUCCEEDED(chain->GetBackBuffer(1, D3DBACKBUFFER_TYPE_MONO, &last)) && last &&
          SUCCEEDED(device->GetRenderTargetData(last, image)) && ReadFirstPixel(image, bytes, pixel)) {
        rotation = (pixel & bits) == (Packed(kPresented, mode.Format) & bits) ? FlipRotation::kPresentedStaysLast
                                                                               : FlipRotation::kDocumented;
      }
      if (last) last->Release();
      ledger.Release(image);
    }
    ledger.Release(chain);
  }
  return rotation;
}

bool CBackBufferKeeper::CopyAreas(const PresentChain& chain, const Copy& copy, IDirect3DSurface9* from,
                                  IDirect3DSurface9* to) {
  bool copied = true;
  for (int i = 0; i < copy.count; ++i) {
    copied = SUCCEEDED(chain.device->StretchRect(from, &copy.areas[i], to, &copy.areas[i], D3DTEXF_NONE)) && copied;
  }
  return copied;
}

bool CBackBufferKeeper::Save(const PresentChain& chain, IDirect3DSurface9* backBuffer, const RECT* areas, int count) {
  saved_.count = 0;
  if (count <= 0 || count > kMaxAreas) return count == 0;
  D3DSURFACE_DESC desc{};
  if (FAILED(backBuffer->GetDesc(&desc))) return false;
  if (saved_.surface && (saved_.desc.Width != desc.Width || saved_.desc.Height != desc.Height ||
                         saved_.desc.Format != desc.Format)) {
    ledger_.Release(saved_.surface);
  }
  if (!saved_.surface) {
    // A surface of the device's memory, like the back buffer: copying into it and back is the device's own work.
    if (FAILED(chain.device->CreateRenderTarget(desc.Width, desc.Height, desc.Format, D3DMULTISAMPLE_NONE, 0, FALSE,
                                                &saved_.surface, nullptr))) {
      saved_.surface = nullptr;
      return false;
    }
    ledger_.Adopt(saved_.surface);
    saved_.desc = desc;
  }
  for (int i = 0; i < count; ++i) saved_.areas[i] = areas[i];
  saved_.count = count;
  if (CopyAreas(chain, saved_, backBuffer, saved_.surface)) return true;
  saved_.count = 0;
  return false;
}

void CBackBufferKeeper::Restore(const PresentChain& chain, Copy& copy, UINT backBuffer) {
  if (copy.count == 0 || !copy.surface) return;
  if (IDirect3DSurface9* target = chain.BackBuffer(backBuffer)) {
    D3DSURFACE_DESC desc{};
    if (SUCCEEDED(target->GetDesc(&desc)) && desc.Width == copy.desc.Width && desc.Height == copy.desc.Height &&
        desc.Format == copy.desc.Format) {
      CopyAreas(chain, copy, copy.surface, target);
    }
    target->Release();
  }
  copy.count = 0;
}

void CBackBufferKeeper::AfterPresent(const PresentChain& chain, FlipRotation rotation, bool presented) {
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

void CBackBufferKeeper::Release() {
  ledger_.Release(saved_.surface);
  ledger_.Release(waiting_.surface);
  saved_.count = waiting_.count = 0;
}

void CBackBufferKeeper::Abandon() {
  CReferenceLedger::Abandon(saved_.surface);
  CReferenceLedger::Abandon(waiting_.surface);
  saved_.count = waiting_.count = 0;
}

}  // namespace ingame
