#include "ingame/d3d8/own_objects.h"

namespace ingame {
namespace {

ULONG DeviceCount(IDirect3DDevice8* device) {
  device->AddRef();
  return device->Release();
}

}  // namespace

void CReferenceLedger::Measure(IDirect3DDevice8* device) {
  const ULONG before = DeviceCount(device);
  IDirect3DSurface8* surface = nullptr;
  if (SUCCEEDED(device->CreateImageSurface(1, 1, D3DFMT_A8R8G8B8, &surface)) && surface) {
    perResource_ = DeviceCount(device) - before;
    surface->Release();
  }
  DWORD token = 0;
  if (SUCCEEDED(device->BeginStateBlock())) {
    if (SUCCEEDED(device->EndStateBlock(&token)) && token != 0) {
      perStateBlock_ = DeviceCount(device) - before;
      device->DeleteStateBlock(token);
    }
  }
}

void CReferenceLedger::DeleteStateBlock(IDirect3DDevice8* device, DWORD& token) {
  if (token == 0) return;
  held_.fetch_sub(perStateBlock_, std::memory_order_acq_rel);
  device->DeleteStateBlock(token);
  token = 0;
}

PresentChain::PresentChain(IDirect3DDevice8* device_, IDirect3DSwapChain8* chain_,
                           const D3DPRESENT_PARAMETERS& parameters)
    : device(device_), chain(chain_) {
  backBufferCount = parameters.BackBufferCount == 0 ? 1 : parameters.BackBufferCount;
  keepsBackBuffers = parameters.SwapEffect == D3DSWAPEFFECT_COPY || parameters.SwapEffect == D3DSWAPEFFECT_COPY_VSYNC ||
                     parameters.SwapEffect == D3DSWAPEFFECT_FLIP;
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

bool CBackBufferKeeper::Save(const PresentChain& chain, IDirect3DSurface8* backBuffer, const RECT* areas, int count) {
  count_ = 0;
  if (count <= 0 || count > kMaxAreas) return count == 0;
  D3DSURFACE_DESC desc{};
  if (FAILED(backBuffer->GetDesc(&desc))) return false;
  if (saved_ && (savedDesc_.Width != desc.Width || savedDesc_.Height != desc.Height || savedDesc_.Format != desc.Format)) {
    ledger_.Release(saved_);
  }
  if (!saved_) {
    // A surface of the device's memory, like the back buffer: copying into it and back is the device's own work.
    if (FAILED(chain.device->CreateRenderTarget(desc.Width, desc.Height, desc.Format, D3DMULTISAMPLE_NONE, FALSE,
                                                &saved_))) {
      saved_ = nullptr;
      return false;
    }
    ledger_.Adopt(saved_);
    savedDesc_ = desc;
  }
  for (int i = 0; i < count; ++i) {
    areas_[i] = areas[i];
    points_[i] = POINT{areas[i].left, areas[i].top};
  }
  if (FAILED(chain.device->CopyRects(backBuffer, areas_, static_cast<UINT>(count), saved_, points_))) return false;
  count_ = count;
  return true;
}

void CBackBufferKeeper::Restore(const PresentChain& chain) {
  if (count_ == 0 || !saved_) return;
  if (IDirect3DSurface8* backBuffer = chain.BackBuffer(chain.backBufferCount - 1)) {
    chain.device->CopyRects(saved_, areas_, static_cast<UINT>(count_), backBuffer, points_);
    backBuffer->Release();
  }
  count_ = 0;
}

void CBackBufferKeeper::Release() {
  ledger_.Release(saved_);
  count_ = 0;
}

}  // namespace ingame
