#include "ingame/d3d8/direct3d8_proxy.h"

#include <new>

#include "ingame/d3d8/device_proxy.h"

namespace ingame {

CDirect3D8Proxy::~CDirect3D8Proxy() {
  real_->Release();
}

HRESULT STDMETHODCALLTYPE CDirect3D8Proxy::QueryInterface(REFIID riid, void** ppvObject) noexcept {
  if (!ppvObject) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDirect3D8)) {
    AddRef();
    *ppvObject = static_cast<IDirect3D8*>(this);
    return S_OK;
  }
  return real_->QueryInterface(riid, ppvObject);
}

ULONG STDMETHODCALLTYPE CDirect3D8Proxy::AddRef() noexcept {
  return ++references_;
}

ULONG STDMETHODCALLTYPE CDirect3D8Proxy::Release() noexcept {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

// A device the overlay cannot wrap (out of memory) is handed over as it is: the game runs without the overlay.
HRESULT STDMETHODCALLTYPE CDirect3D8Proxy::CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow,
                                                        DWORD BehaviorFlags,
                                                        D3DPRESENT_PARAMETERS* pPresentationParameters,
                                                        IDirect3DDevice8** ppReturnedDeviceInterface) noexcept {
  const HRESULT result = real_->CreateDevice(Adapter, DeviceType, hFocusWindow, BehaviorFlags, pPresentationParameters,
                                             ppReturnedDeviceInterface);
  if (FAILED(result) || !ppReturnedDeviceInterface || !*ppReturnedDeviceInterface || !pPresentationParameters) {
    return result;
  }
  IDirect3DDevice8* real = *ppReturnedDeviceInterface;
  if (auto* proxy = new (std::nothrow) CDeviceProxy(real, this, *pPresentationParameters, BehaviorFlags)) {
    *ppReturnedDeviceInterface = proxy;
  }
  return result;
}

HRESULT STDMETHODCALLTYPE CDirect3D8Proxy::RegisterSoftwareDevice(void* pInitializeFunction) noexcept {
  return real_->RegisterSoftwareDevice(pInitializeFunction);
}

UINT STDMETHODCALLTYPE CDirect3D8Proxy::GetAdapterCount() noexcept {
  return real_->GetAdapterCount();
}

HRESULT STDMETHODCALLTYPE CDirect3D8Proxy::GetAdapterIdentifier(UINT Adapter, DWORD Flags,
                                                                D3DADAPTER_IDENTIFIER8* pIdentifier) noexcept {
  return real_->GetAdapterIdentifier(Adapter, Flags, pIdentifier);
}

UINT STDMETHODCALLTYPE CDirect3D8Proxy::GetAdapterModeCount(UINT Adapter) noexcept {
  return real_->GetAdapterModeCount(Adapter);
}

HRESULT STDMETHODCALLTYPE CDirect3D8Proxy::EnumAdapterModes(UINT Adapter, UINT Mode, D3DDISPLAYMODE* pMode) noexcept {
  return real_->EnumAdapterModes(Adapter, Mode, pMode);
}

HRESULT STDMETHODCALLTYPE CDirect3D8Proxy::GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) noexcept {
  return real_->GetAdapterDisplayMode(Adapter, pMode);
}

HRESULT STDMETHODCALLTYPE CDirect3D8Proxy::CheckDeviceType(UINT Adapter, D3DDEVTYPE CheckType, D3DFORMAT DisplayFormat,
                                                           D3DFORMAT BackBufferFormat, BOOL Windowed) noexcept {
  return real_->CheckDeviceType(Adapter, CheckType, DisplayFormat, BackBufferFormat, Windowed);
}

HRESULT STDMETHODCALLTYPE CDirect3D8Proxy::CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType,
                                                             D3DFORMAT AdapterFormat, DWORD Usage,
                                                             D3DRESOURCETYPE RType, D3DFORMAT CheckFormat) noexcept {
  return real_->CheckDeviceFormat(Adapter, DeviceType, AdapterFormat, Usage, RType, CheckFormat);
}

HRESULT STDMETHODCALLTYPE CDirect3D8Proxy::CheckDeviceMultiSampleType(UINT Adapter, D3DDEVTYPE DeviceType,
                                                                      D3DFORMAT SurfaceFormat, BOOL Windowed,
                                                                      D3DMULTISAMPLE_TYPE MultiSampleType) noexcept {
  return real_->CheckDeviceMultiSampleType(Adapter, DeviceType, SurfaceFormat, Windowed, MultiSampleType);
}

HRESULT STDMETHODCALLTYPE CDirect3D8Proxy::CheckDepthStencilMatch(UINT Adapter, D3DDEVTYPE DeviceType,
                                                                  D3DFORMAT AdapterFormat, D3DFORMAT RenderTargetFormat,
                                                                  D3DFORMAT DepthStencilFormat) noexcept {
  return real_->CheckDepthStencilMatch(Adapter, DeviceType, AdapterFormat, RenderTargetFormat, DepthStencilFormat);
}

HRESULT STDMETHODCALLTYPE CDirect3D8Proxy::GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType,
                                                         D3DCAPS8* pCaps) noexcept {
  return real_->GetDeviceCaps(Adapter, DeviceType, pCaps);
}

HMONITOR STDMETHODCALLTYPE CDirect3D8Proxy::GetAdapterMonitor(UINT Adapter) noexcept {
  return real_->GetAdapterMonitor(Adapter);
}
}  // namespace ingame
