#include "ingame/d3d8/direct3d8.h"

#include <cstdint>
#include <utility>

#include "ingame/common/probe_window.h"
#include "ingame/d3d8/d3d8_hooks.h"
#include "ingame/d3d8/overlay_states.h"

namespace ingame::d3d8 {
namespace {

void Release(IUnknown* object) {
  if (object) object->Release();
}

template <std::size_t Count>
TileFormat TextureFormat(IDirect3DDevice8* device, const TileFormat (&formats)[Count]) {
  IDirect3D8* direct3d = nullptr;
  D3DDEVICE_CREATION_PARAMETERS creation{};
  D3DDISPLAYMODE mode{};
  TileFormat found = TileFormat::kNone;
  if (SUCCEEDED(device->GetDirect3D(&direct3d)) && direct3d && SUCCEEDED(device->GetCreationParameters(&creation)) &&
      SUCCEEDED(device->GetDisplayMode(&mode))) {
    for (TileFormat format : formats) {
      if (SUCCEEDED(direct3d->CheckDeviceFormat(creation.AdapterOrdinal, creation.DeviceType, mode.Format, 0,
                                                D3DRTYPE_TEXTURE, ToD3D(format)))) {
        found = format;
        break;
      }
    }
  }
  Release(direct3d);
  return found;
}

}  // namespace

D3DFORMAT ToD3D(TileFormat format) {
  switch (format) {
    case TileFormat::kA8R8G8B8: return D3DFMT_A8R8G8B8;
    case TileFormat::kA4R4G4B4: return D3DFMT_A4R4G4B4;
    case TileFormat::kA1R5G5B5: return D3DFMT_A1R5G5B5;
    case TileFormat::kX8R8G8B8: return D3DFMT_X8R8G8B8;
    default: return D3DFMT_UNKNOWN;
  }
}

IDirect3DSurface8* Direct3D8::MakeProbeSurface(Device* device) {
  IDirect3DSurface8* surface = nullptr;
  for (const D3DFORMAT format : {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5}) {
    if (!surface && FAILED(device->CreateImageSurface(1, 1, format, &surface))) surface = nullptr;
  }
  return surface;
}

void Direct3D8::ReleaseStateBlock(Device* device, StateBlock& block) {
  device->DeleteStateBlock(block);
  block = 0;
}

SwapRules Direct3D8::SwapRulesOf(const PresentParameters& parameters) {
  SwapRules rules;
  rules.flips = parameters.SwapEffect == D3DSWAPEFFECT_FLIP;
  rules.keepsBackBuffers = rules.flips || parameters.SwapEffect == D3DSWAPEFFECT_COPY ||
                           parameters.SwapEffect == D3DSWAPEFFECT_COPY_VSYNC;
  return rules;
}

IDirect3DSurface8* Direct3D8::BackBuffer(Device* device, SwapChain* chain, UINT index) {
  IDirect3DSurface8* backBuffer = nullptr;
  const HRESULT result = chain ? chain->GetBackBuffer(index, D3DBACKBUFFER_TYPE_MONO, &backBuffer)
                               : device->GetBackBuffer(index, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
  return SUCCEEDED(result) ? backBuffer : nullptr;
}

IDirect3DSurface8* Direct3D8::MakeCopyTarget(Device* device, const SurfaceDesc& desc) {
  IDirect3DSurface8* surface = nullptr;
  if (FAILED(device->CreateRenderTarget(desc.Width, desc.Height, desc.Format, D3DMULTISAMPLE_NONE, FALSE, &surface))) {
    return nullptr;
  }
  return surface;
}

bool Direct3D8::CopyArea(Device* device, Surface* from, const RECT& area, Surface* to) {
  const POINT corner{area.left, area.top};
  return SUCCEEDED(device->CopyRects(from, &area, 1, to, &corner));
}

D3DCAPS8 Direct3D8::CapsOf(Device* device) {
  D3DCAPS8 caps{};
  if (FAILED(device->GetDeviceCaps(&caps))) caps = D3DCAPS8{};
  return caps;
}

DeviceLimits Direct3D8::LimitsOf(Device* device, const Caps& caps) {
  DeviceLimits limits;
  limits.maxTextureWidth = caps.MaxTextureWidth;
  limits.maxTextureHeight = caps.MaxTextureHeight;
  const TileFormat withAlpha[] = {TileFormat::kA8R8G8B8, TileFormat::kA4R4G4B4, TileFormat::kA1R5G5B5};
  const TileFormat copyable[] = {TileFormat::kX8R8G8B8};
  limits.alphaFormat = TextureFormat(device, withAlpha);
  limits.copyableFormat = TextureFormat(device, copyable);
  return limits;
}

HRESULT Direct3D8::CaptureStateBlock(Device* device, StateBlock block) { return device->CaptureStateBlock(block); }

void Direct3D8::ApplyStateBlock(Device* device, StateBlock block) { device->ApplyStateBlock(block); }

bool Direct3D8::MakeVertexBuffer(Device* device, UINT bytes, VertexBuffer** buffer) {
  return SUCCEEDED(device->CreateVertexBuffer(bytes, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, kOverlayVertexFormat,
                                              D3DPOOL_DEFAULT, buffer));
}

void* Direct3D8::LockVertices(VertexBuffer* buffer, UINT offset, UINT bytes) {
  BYTE* data = nullptr;
  return SUCCEEDED(buffer->Lock(offset, bytes, &data, D3DLOCK_NOOVERWRITE)) ? data : nullptr;
}

void Direct3D8::DrawQuad(Device* device, Texture* texture, bool opaque, UINT firstVertex) {
  device->SetTexture(0, texture);
  if (opaque) device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  device->DrawPrimitive(D3DPT_TRIANGLESTRIP, firstVertex, 2);
  if (opaque) device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
}

bool Direct3D8::HookSwapChain(SwapChain* chain) { return d3d8::HookSwapChain(chain); }

void Direct3D8::RepatchTables() { d3d8::RepatchTables(); }

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

FlipRotation Direct3D8::ProbeFlipRotation(Device* device, CReferenceLedger& ledger) {
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

}  // namespace ingame::d3d8
