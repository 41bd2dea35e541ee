#include "ingame/d3d9/direct3d9.h"

#include <cstdint>
#include <utility>

#include "ingame/common/probe_window.h"
#include "ingame/d3d9/d3d9_hooks.h"
#include "ingame/d3d9/overlay_states.h"

namespace ingame::d3d9 {
namespace {

void Release(IUnknown* object) {
  if (object) object->Release();
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

IDirect3DSurface9* Direct3D9::MakeProbeSurface(Device* device) {
  IDirect3DSurface9* surface = nullptr;
  for (const D3DFORMAT format : {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5}) {
    if (!surface && FAILED(device->CreateOffscreenPlainSurface(1, 1, format, D3DPOOL_SYSTEMMEM, &surface, nullptr))) {
      surface = nullptr;
    }
  }
  return surface;
}

void Direct3D9::ReleaseStateBlock(Device*, StateBlock& block) {
  block->Release();
  block = nullptr;
}

SwapRules Direct3D9::SwapRulesOf(const PresentParameters& parameters) {
  SwapRules rules;
  // A flip of Direct3D 9Ex's own model rotates its buffers as a flip does.
  rules.flips = parameters.SwapEffect == D3DSWAPEFFECT_FLIP || parameters.SwapEffect == D3DSWAPEFFECT_FLIPEX;
  rules.keepsBackBuffers = rules.flips || parameters.SwapEffect == D3DSWAPEFFECT_COPY;
  return rules;
}

IDirect3DSurface9* Direct3D9::BackBuffer(Device* device, SwapChain* chain, UINT index) {
  IDirect3DSurface9* backBuffer = nullptr;
  const HRESULT result = chain ? chain->GetBackBuffer(index, D3DBACKBUFFER_TYPE_MONO, &backBuffer)
                               : device->GetBackBuffer(0, index, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
  return SUCCEEDED(result) ? backBuffer : nullptr;
}

IDirect3DSurface9* Direct3D9::MakeCopyTarget(Device* device, const SurfaceDesc& desc) {
  IDirect3DSurface9* surface = nullptr;
  if (FAILED(device->CreateRenderTarget(desc.Width, desc.Height, desc.Format, D3DMULTISAMPLE_NONE, 0, FALSE, &surface,
                                        nullptr))) {
    return nullptr;
  }
  return surface;
}

bool Direct3D9::CopyArea(Device* device, Surface* from, const RECT& area, Surface* to) {
  return SUCCEEDED(device->StretchRect(from, &area, to, &area, D3DTEXF_NONE));
}

D3DCAPS9 Direct3D9::CapsOf(Device* device) {
  D3DCAPS9 caps{};
  if (FAILED(device->GetDeviceCaps(&caps))) caps = D3DCAPS9{};
  return caps;
}

// What the device holds: textures with alpha in the first format it takes, and opaque ones in the back buffer's
// usual format where it can copy from them.
DeviceLimits Direct3D9::LimitsOf(Device* device, const Caps& caps) {
  DeviceLimits limits;
  limits.maxTextureWidth = caps.MaxTextureWidth;
  limits.maxTextureHeight = caps.MaxTextureHeight;
  limits.wholeTiles = (caps.Caps2 & D3DCAPS2_DYNAMICTEXTURES) != 0;
  IDirect3D9* direct3d = nullptr;
  D3DDEVICE_CREATION_PARAMETERS creation{};
  D3DDISPLAYMODE mode{};
  if (SUCCEEDED(device->GetDirect3D(&direct3d)) && direct3d && SUCCEEDED(device->GetCreationParameters(&creation)) &&
      SUCCEEDED(device->GetDisplayMode(0, &mode))) {
    const auto takes = [&](TileFormat format) {
      return SUCCEEDED(direct3d->CheckDeviceFormat(creation.AdapterOrdinal, creation.DeviceType, mode.Format, 0,
                                                   D3DRTYPE_TEXTURE, ToD3D(format)));
    };
    for (const TileFormat format : {TileFormat::kA8R8G8B8, TileFormat::kA4R4G4B4, TileFormat::kA1R5G5B5}) {
      if (takes(format)) {
        limits.alphaFormat = format;
        break;
      }
    }
    // Opaque images are copied into a back buffer of their format where the device copies from textures: cheaper
    // than drawing them.
    if ((caps.DevCaps2 & D3DDEVCAPS2_CAN_STRETCHRECT_FROM_TEXTURES) != 0 && takes(TileFormat::kX8R8G8B8)) {
      limits.copyableFormat = TileFormat::kX8R8G8B8;
    }
  }
  Release(direct3d);
  return limits;
}

HRESULT Direct3D9::CaptureStateBlock(Device*, StateBlock block) { return block->Capture(); }

void Direct3D9::ApplyStateBlock(Device*, StateBlock block) { block->Apply(); }

bool Direct3D9::MakeVertexBuffer(Device* device, UINT bytes, VertexBuffer** buffer) {
  return SUCCEEDED(device->CreateVertexBuffer(bytes, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, kOverlayVertexFormat,
                                              D3DPOOL_DEFAULT, buffer, nullptr));
}

void* Direct3D9::LockVertices(VertexBuffer* buffer, UINT offset, UINT bytes) {
  void* data = nullptr;
  return SUCCEEDED(buffer->Lock(offset, bytes, &data, D3DLOCK_NOOVERWRITE)) ? data : nullptr;
}

void Direct3D9::DrawQuad(Device* device, Texture* texture, bool opaque, UINT firstVertex) {
  device->SetTexture(0, texture);
  if (opaque) device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  device->DrawPrimitive(D3DPT_TRIANGLESTRIP, firstVertex, 2);
  if (opaque) device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
}

bool Direct3D9::HookSwapChain(SwapChain* chain) { return d3d9::HookSwapChain(chain); }

void Direct3D9::RepatchTables() { d3d9::RepatchTables(); }

IDirect3DSwapChain9* Direct3D9::OwnChain(Device* device) {
  IDirect3DSwapChain9* own = nullptr;
  if (FAILED(device->GetSwapChain(0, &own)) || !own) return nullptr;
  // It lives as long as the device.
  own->Release();
  return own;
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

FlipRotation Direct3D9::ProbeFlipRotation(Device* device, CReferenceLedger& ledger) {
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

}  // namespace ingame::d3d9
