#include "ingame/d3d8/own_objects.h"

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
      IDirect3DSurface8* surface = nullptr;
      for (const D3DFORMAT format : {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5}) {
        if (!surface && FAILED(device_->CreateImageSurface(1, 1, format, &surface))) surface = nullptr;
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

void CReferenceLedger::DeleteStateBlock(DWORD& token) {
  if (token == 0) return;
  TakeBack(perStateBlock_);
  device_->DeleteStateBlock(token);
  token = 0;
}

PresentChain::PresentChain(IDirect3DDevice8* device_, IDirect3DSwapChain8* chain_,
                           const D3DPRESENT_PARAMETERS& parameters)
    : device(device_), chain(chain_) {
  backBufferCount = parameters.BackBufferCount == 0 ? 1 : parameters.BackBufferCount;
  flips = parameters.SwapEffect == D3DSWAPEFFECT_FLIP;
  keepsBackBuffers = flips || parameters.SwapEffect == D3DSWAPEFFECT_COPY ||
                     parameters.SwapEffect == D3DSWAPEFFECT_COPY_VSYNC;
  // The device may have chosen the size itself (a windowed device takes its window's): its back buffer says.
  if (IDirect3DSurface8* backBuffer = BackBuffer(0)) {
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

IDirect3DSurface8* PresentChain::BackBuffer(UINT index) const {
  IDirect3DSurface8* backBuffer = nullptr;
  const HRESULT result = chain ? chain->GetBackBuffer(index, D3DBACKBUFFER_TYPE_MONO, &backBuffer)
                               : device->GetBackBuffer(index, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
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

// Fills `surface` (in system memory) with `pattern`, or reads its first pixel; false when it cannot be locked.
bool FillSurface(IDirect3DSurface8* surface, std::uint32_t pattern, int bytes) {
  D3DLOCKED_RECT locked{};
  if (FAILED(surface->LockRect(&locked, nullptr, 0))) return false;
  for (int y = 0; y < 8; ++y) {
    auto* row = static_cast<unsigned char*>(locked.pBits) + static_cast<std::ptrdiff_t>(y) * locked.Pitch;
    for (int x = 0; x < 8; ++x) {
      for (int b = 0; b < bytes; ++b) row[x * bytes + b] = static_cast<unsigned char>(pattern >> (8 * b));
    }
  }
  surface->UnlockRect();
  return true;
}

bool ReadFirstPixel(IDirect3DSurface8* surface, int bytes, std::uint32_t& pixel) {
  D3DLOCKED_RECT locked{};
  if (FAILED(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY))) return false;
  pixel = 0;
  const auto* first = static_cast<const unsigned char*>(locked.pBits);
  for (int b = 0; b < bytes; ++b) pixel |= static_cast<std::uint32_t>(first[b]) << (8 * b);
  surface->UnlockRect();
  return true;
}

}  // namespace

FlipRotation ProbeFlipRotation(IDirect3DDevice8* device, CReferenceLedger& ledger) {
  D3DDISPLAYMODE mode{};
  if (FAILED(device->GetDisplayMode(&mode))) return FlipRotation::kUnknown;
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
  IDirect3DSwapChain8* chain = nullptr;
  IDirect3DSurface8* image = nullptr;
  if (SUCCEEDED(device->CreateAdditionalSwapChain(&parameters, &chain)) && chain) {
    ledger.Adopt(chain);
    if (SUCCEEDED(device->CreateImageSurface(8, 8, mode.Format, &image)) && image) {
      ledger.Adopt(image);
      const RECT all{0, 0, 8, 8};
      const POINT corner{0, 0};
      bool ready = true;
      for (UINT index = 0; index < 2 && ready; ++index) {
        IDirect3DSurface8* backBuffer = nullptr;
        ready = SUCCEEDED(chain->GetBackBuffer(index, D3DBACKBUFFER_TYPE_MONO, &backBuffer)) && backBuffer &&
                FillSurface(image, index == 0 ? kPresented : kSecond, bytes) &&
                SUCCEEDED(device->CopyRects(image, &all, 1, backBuffer, &corner));
        if (backBuffer) backBuffer->Release();
      }
      IDirect3DSurface8* last = nullptr;
      std::uint32_t pixel = 0;
      if (ready && SUCCEEDED(chain->Present(nullptr, nullptr, nullptr, nullptr)) &&
          SUCCEEDED(chain->GetBackBuffer(1, D3DBACKBUFFER_TYPE_MONO, &last)) && last &&
          SUCCEEDED(device->CopyRects(last, &all, 1, image, &corner)) && ReadFirstPixel(image, bytes, pixel)) {
        rotation = (pixel & bits) == (kPresented & bits) ? FlipRotation::kPresentedStaysLast
                                                         : FlipRotation::kDocumented;
      }
      if (last) last->Release();
      ledger.Release(image);
    }
    ledger.Release(chain);
  }
  return rotation;
}

bool CBackBufferKeeper::CopyAreas(const PresentChain& chain, const Copy& copy, IDirect3DSurface8* from,
                                  IDirect3DSurface8* to) {
  bool copied = true;
  for (int i = 0; i < copy.count; ++i) {
    const POINT corner{copy.areas[i].left, copy.areas[i].top};
    copied = SUCCEEDED(chain.device->CopyRects(from, &copy.areas[i], 1, to, &corner)) && copied;
  }
  return copied;
}

bool CBackBufferKeeper::Save(const PresentChain& chain, IDirect3DSurface8* backBuffer, const RECT* areas, int count) {
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
    if (FAILED(chain.device->CreateRenderTarget(desc.Width, desc.Height, desc.Format, D3DMULTISAMPLE_NONE, FALSE,
                                                &saved_.surface))) {
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
  if (IDirect3DSurface8* target = chain.BackBuffer(backBuffer)) {
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
