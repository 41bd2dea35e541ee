// The game's Direct3D object, wrapped so that the devices it creates draw the overlay. Everything else goes to
// the system's object unchanged.
#pragma once

#include <d3d8.h>

#include <atomic>

namespace ingame {

class CDirect3D8Proxy final : public IDirect3D8 {
 public:
  // Takes over the caller's reference to `real`.
  explicit CDirect3D8Proxy(IDirect3D8* real) : real_(real) {}
  CDirect3D8Proxy(const CDirect3D8Proxy&) = delete;
  CDirect3D8Proxy& operator=(const CDirect3D8Proxy&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) noexcept override;
  ULONG STDMETHODCALLTYPE AddRef() noexcept override;
  ULONG STDMETHODCALLTYPE Release() noexcept override;
  HRESULT STDMETHODCALLTYPE RegisterSoftwareDevice(void* pInitializeFunction) noexcept override;
  UINT STDMETHODCALLTYPE GetAdapterCount() noexcept override;
  HRESULT STDMETHODCALLTYPE GetAdapterIdentifier(UINT Adapter, DWORD Flags,
                                                 D3DADAPTER_IDENTIFIER8* pIdentifier) noexcept override;
  UINT STDMETHODCALLTYPE GetAdapterModeCount(UINT Adapter) noexcept override;
  HRESULT STDMETHODCALLTYPE EnumAdapterModes(UINT Adapter, UINT Mode, D3DDISPLAYMODE* pMode) noexcept override;
  HRESULT STDMETHODCALLTYPE GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) noexcept override;
  HRESULT STDMETHODCALLTYPE CheckDeviceType(UINT Adapter, D3DDEVTYPE CheckType, D3DFORMAT DisplayFormat,
                                            D3DFORMAT BackBufferFormat, BOOL Windowed) noexcept override;
  HRESULT STDMETHODCALLTYPE CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat, DWORD Usage,
                                              D3DRESOURCETYPE RType, D3DFORMAT CheckFormat) noexcept override;
  HRESULT STDMETHODCALLTYPE CheckDeviceMultiSampleType(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT SurfaceFormat,
                                                       BOOL Windowed,
                                                       D3DMULTISAMPLE_TYPE MultiSampleType) noexcept override;
  HRESULT STDMETHODCALLTYPE CheckDepthStencilMatch(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat,
                                                   D3DFORMAT RenderTargetFormat,
                                                   D3DFORMAT DepthStencilFormat) noexcept override;
  HRESULT STDMETHODCALLTYPE GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS8* pCaps) noexcept override;
  HMONITOR STDMETHODCALLTYPE GetAdapterMonitor(UINT Adapter) noexcept override;
  HRESULT STDMETHODCALLTYPE CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow, DWORD BehaviorFlags,
                                         D3DPRESENT_PARAMETERS* pPresentationParameters,
                                         struct IDirect3DDevice8** ppReturnedDeviceInterface) noexcept override;

 private:
  ~CDirect3D8Proxy();

  IDirect3D8* real_;
  std::atomic<ULONG> references_{1};
};

}  // namespace ingame
