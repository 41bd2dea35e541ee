// The game's device, wrapped: every call goes to the system's device unchanged, and Present first draws the
// overlay into the back buffer. Reset gives the overlay's resources up first, as a reset requires, and the last
// Release ends the overlay before the device. On a pure device, whose state cannot be read back, the wrapper
// also follows the states the overlay changes (CStateMirror). On a multithreaded device it keeps the game's other
// threads out while the overlay draws, so none of their calls falls between its drawing and its restoring.
#pragma once

#include <windows.h>
#include <d3d8.h>

#include <atomic>
#include <memory>

#include "ingame/d3d8/overlay_renderer.h"
#include "ingame/d3d8/state_mirror.h"

namespace ingame {

class CDirect3D8Proxy;

class CDeviceProxy final : public IDirect3DDevice8 {
 public:
  // Takes over the caller's reference to `real`, and takes one of its own to `direct3d`.
  CDeviceProxy(IDirect3DDevice8* real, CDirect3D8Proxy* direct3d, const D3DPRESENT_PARAMETERS& parameters,
               DWORD behaviorFlags);
  CDeviceProxy(const CDeviceProxy&) = delete;
  CDeviceProxy& operator=(const CDeviceProxy&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) noexcept override;
  ULONG STDMETHODCALLTYPE AddRef() noexcept override;
  ULONG STDMETHODCALLTYPE Release() noexcept override;
  HRESULT STDMETHODCALLTYPE TestCooperativeLevel() noexcept override;
  UINT STDMETHODCALLTYPE GetAvailableTextureMem() noexcept override;
  HRESULT STDMETHODCALLTYPE ResourceManagerDiscardBytes(DWORD Bytes) noexcept override;
  HRESULT STDMETHODCALLTYPE GetDirect3D(IDirect3D8** ppD3D8) noexcept override;
  HRESULT STDMETHODCALLTYPE GetDeviceCaps(D3DCAPS8* pCaps) noexcept override;
  HRESULT STDMETHODCALLTYPE GetDisplayMode(D3DDISPLAYMODE* pMode) noexcept override;
  HRESULT STDMETHODCALLTYPE GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* pParameters) noexcept override;
  HRESULT STDMETHODCALLTYPE SetCursorProperties(UINT XHotSpot, UINT YHotSpot,
                                                IDirect3DSurface8* pCursorBitmap) noexcept override;
  void STDMETHODCALLTYPE SetCursorPosition(UINT XScreenSpace, UINT YScreenSpace, DWORD Flags) noexcept override;
  BOOL STDMETHODCALLTYPE ShowCursor(BOOL bShow) noexcept override;
  HRESULT STDMETHODCALLTYPE CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* pPresentationParameters,
                                                      IDirect3DSwapChain8** pSwapChain) noexcept override;
  HRESULT STDMETHODCALLTYPE Reset(D3DPRESENT_PARAMETERS* pPresentationParameters) noexcept override;
  HRESULT STDMETHODCALLTYPE Present(const RECT* src_rect, const RECT* dst_rect, HWND dst_window_override,
                                    const RGNDATA* dirty_region) noexcept override;
  HRESULT STDMETHODCALLTYPE GetBackBuffer(UINT BackBuffer, D3DBACKBUFFER_TYPE Type,
                                          IDirect3DSurface8** ppBackBuffer) noexcept override;
  HRESULT STDMETHODCALLTYPE GetRasterStatus(D3DRASTER_STATUS* pRasterStatus) noexcept override;
  void STDMETHODCALLTYPE SetGammaRamp(DWORD flags, const D3DGAMMARAMP* ramp) noexcept override;
  void STDMETHODCALLTYPE GetGammaRamp(D3DGAMMARAMP* pRamp) noexcept override;
  HRESULT STDMETHODCALLTYPE CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format,
                                          D3DPOOL Pool, IDirect3DTexture8** ppTexture) noexcept override;
  HRESULT STDMETHODCALLTYPE CreateVolumeTexture(UINT Width, UINT Height, UINT Depth, UINT Levels, DWORD Usage,
                                                D3DFORMAT Format, D3DPOOL Pool,
                                                IDirect3DVolumeTexture8** ppVolumeTexture) noexcept override;
  HRESULT STDMETHODCALLTYPE CreateCubeTexture(UINT EdgeLength, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                              IDirect3DCubeTexture8** ppCubeTexture) noexcept override;
  HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                               IDirect3DVertexBuffer8** ppVertexBuffer) noexcept override;
  HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                              IDirect3DIndexBuffer8** ppIndexBuffer) noexcept override;
  HRESULT STDMETHODCALLTYPE CreateRenderTarget(UINT Width, UINT Height, D3DFORMAT Format,
                                               D3DMULTISAMPLE_TYPE MultiSample, BOOL Lockable,
                                               IDirect3DSurface8** ppSurface) noexcept override;
  HRESULT STDMETHODCALLTYPE CreateDepthStencilSurface(UINT Width, UINT Height, D3DFORMAT Format,
                                                      D3DMULTISAMPLE_TYPE MultiSample,
                                                      IDirect3DSurface8** ppSurface) noexcept override;
  HRESULT STDMETHODCALLTYPE CreateImageSurface(UINT Width, UINT Height, D3DFORMAT Format,
                                               IDirect3DSurface8** ppSurface) noexcept override;
  HRESULT STDMETHODCALLTYPE CopyRects(IDirect3DSurface8* src_surface, const RECT* src_rects, UINT rect_count,
                                      IDirect3DSurface8* dst_surface, const POINT* dst_points) noexcept override;
  HRESULT STDMETHODCALLTYPE UpdateTexture(IDirect3DBaseTexture8* pSourceTexture,
                                          IDirect3DBaseTexture8* pDestinationTexture) noexcept override;
  HRESULT STDMETHODCALLTYPE GetFrontBuffer(IDirect3DSurface8* pDestSurface) noexcept override;
  HRESULT STDMETHODCALLTYPE SetRenderTarget(IDirect3DSurface8* pRenderTarget,
                                            IDirect3DSurface8* pNewZStencil) noexcept override;
  HRESULT STDMETHODCALLTYPE GetRenderTarget(IDirect3DSurface8** ppRenderTarget) noexcept override;
  HRESULT STDMETHODCALLTYPE GetDepthStencilSurface(IDirect3DSurface8** ppZStencilSurface) noexcept override;
  HRESULT STDMETHODCALLTYPE BeginScene() noexcept override;
  HRESULT STDMETHODCALLTYPE EndScene() noexcept override;
  HRESULT STDMETHODCALLTYPE Clear(DWORD rect_count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                                  DWORD stencil) noexcept override;
  HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) noexcept override;
  HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) noexcept override;
  HRESULT STDMETHODCALLTYPE MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) noexcept override;
  HRESULT STDMETHODCALLTYPE SetViewport(const D3DVIEWPORT8* viewport) noexcept override;
  HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT8* pViewport) noexcept override;
  HRESULT STDMETHODCALLTYPE SetMaterial(const D3DMATERIAL8* material) noexcept override;
  HRESULT STDMETHODCALLTYPE GetMaterial(D3DMATERIAL8* pMaterial) noexcept override;
  HRESULT STDMETHODCALLTYPE SetLight(DWORD index, const D3DLIGHT8* light) noexcept override;
  HRESULT STDMETHODCALLTYPE GetLight(DWORD Index, D3DLIGHT8* pLight) noexcept override;
  HRESULT STDMETHODCALLTYPE LightEnable(DWORD Index, BOOL Enable) noexcept override;
  HRESULT STDMETHODCALLTYPE GetLightEnable(DWORD Index, BOOL* pEnable) noexcept override;
  HRESULT STDMETHODCALLTYPE SetClipPlane(DWORD index, const float* plane) noexcept override;
  HRESULT STDMETHODCALLTYPE GetClipPlane(DWORD Index, float* pPlane) noexcept override;
  HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) noexcept override;
  HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) noexcept override;
  HRESULT STDMETHODCALLTYPE BeginStateBlock() noexcept override;
  HRESULT STDMETHODCALLTYPE EndStateBlock(DWORD* pToken) noexcept override;
  HRESULT STDMETHODCALLTYPE ApplyStateBlock(DWORD Token) noexcept override;
  HRESULT STDMETHODCALLTYPE CaptureStateBlock(DWORD Token) noexcept override;
  HRESULT STDMETHODCALLTYPE DeleteStateBlock(DWORD Token) noexcept override;
  HRESULT STDMETHODCALLTYPE CreateStateBlock(D3DSTATEBLOCKTYPE Type, DWORD* pToken) noexcept override;
  HRESULT STDMETHODCALLTYPE SetClipStatus(const D3DCLIPSTATUS8* clip_status) noexcept override;
  HRESULT STDMETHODCALLTYPE GetClipStatus(D3DCLIPSTATUS8* pClipStatus) noexcept override;
  HRESULT STDMETHODCALLTYPE GetTexture(DWORD Stage, IDirect3DBaseTexture8** ppTexture) noexcept override;
  HRESULT STDMETHODCALLTYPE SetTexture(DWORD Stage, IDirect3DBaseTexture8* pTexture) noexcept override;
  HRESULT STDMETHODCALLTYPE GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type,
                                                 DWORD* pValue) noexcept override;
  HRESULT STDMETHODCALLTYPE SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type,
                                                 DWORD Value) noexcept override;
  HRESULT STDMETHODCALLTYPE ValidateDevice(DWORD* pNumPasses) noexcept override;
  HRESULT STDMETHODCALLTYPE GetInfo(DWORD DevInfoID, void* pDevInfoStruct, DWORD DevInfoStructSize) noexcept override;
  HRESULT STDMETHODCALLTYPE SetPaletteEntries(UINT palette_idx, const PALETTEENTRY* entries) noexcept override;
  HRESULT STDMETHODCALLTYPE GetPaletteEntries(UINT PaletteNumber, PALETTEENTRY* pEntries) noexcept override;
  HRESULT STDMETHODCALLTYPE SetCurrentTexturePalette(UINT PaletteNumber) noexcept override;
  HRESULT STDMETHODCALLTYPE GetCurrentTexturePalette(UINT* PaletteNumber) noexcept override;
  HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex,
                                          UINT PrimitiveCount) noexcept override;
  HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT minIndex, UINT NumVertices,
                                                 UINT startIndex, UINT primCount) noexcept override;
  HRESULT STDMETHODCALLTYPE DrawPrimitiveUP(D3DPRIMITIVETYPE primitive_type, UINT primitive_count, const void* data,
                                            UINT stride) noexcept override;
  HRESULT STDMETHODCALLTYPE DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE primitive_type, UINT min_vertex_idx,
                                                   UINT vertex_count, UINT primitive_count, const void* index_data,
                                                   D3DFORMAT index_format, const void* data,
                                                   UINT stride) noexcept override;
  HRESULT STDMETHODCALLTYPE ProcessVertices(UINT SrcStartIndex, UINT DestIndex, UINT VertexCount,
                                            IDirect3DVertexBuffer8* pDestBuffer, DWORD Flags) noexcept override;
  HRESULT STDMETHODCALLTYPE CreateVertexShader(const DWORD* declaration, const DWORD* byte_code, DWORD* shader,
                                               DWORD usage) noexcept override;
  HRESULT STDMETHODCALLTYPE SetVertexShader(DWORD Handle) noexcept override;
  HRESULT STDMETHODCALLTYPE GetVertexShader(DWORD* pHandle) noexcept override;
  HRESULT STDMETHODCALLTYPE DeleteVertexShader(DWORD Handle) noexcept override;
  HRESULT STDMETHODCALLTYPE SetVertexShaderConstant(DWORD reg_idx, const void* data, DWORD count) noexcept override;
  HRESULT STDMETHODCALLTYPE GetVertexShaderConstant(DWORD Register, void* pConstantData,
                                                    DWORD ConstantCount) noexcept override;
  HRESULT STDMETHODCALLTYPE GetVertexShaderDeclaration(DWORD Handle, void* pData, DWORD* pSizeOfData) noexcept override;
  HRESULT STDMETHODCALLTYPE GetVertexShaderFunction(DWORD Handle, void* pData, DWORD* pSizeOfData) noexcept override;
  HRESULT STDMETHODCALLTYPE SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8* pStreamData,
                                            UINT Stride) noexcept override;
  HRESULT STDMETHODCALLTYPE GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8** ppStreamData,
                                            UINT* pStride) noexcept override;
  HRESULT STDMETHODCALLTYPE SetIndices(IDirect3DIndexBuffer8* pIndexData, UINT BaseVertexIndex) noexcept override;
  HRESULT STDMETHODCALLTYPE GetIndices(IDirect3DIndexBuffer8** ppIndexData, UINT* pBaseVertexIndex) noexcept override;
  HRESULT STDMETHODCALLTYPE CreatePixelShader(const DWORD* byte_code, DWORD* shader) noexcept override;
  HRESULT STDMETHODCALLTYPE SetPixelShader(DWORD Handle) noexcept override;
  HRESULT STDMETHODCALLTYPE GetPixelShader(DWORD* pHandle) noexcept override;
  HRESULT STDMETHODCALLTYPE DeletePixelShader(DWORD Handle) noexcept override;
  HRESULT STDMETHODCALLTYPE SetPixelShaderConstant(DWORD reg_idx, const void* data, DWORD count) noexcept override;
  HRESULT STDMETHODCALLTYPE GetPixelShaderConstant(DWORD Register, void* pConstantData,
                                                   DWORD ConstantCount) noexcept override;
  HRESULT STDMETHODCALLTYPE GetPixelShaderFunction(DWORD Handle, void* pData, DWORD* pSizeOfData) noexcept override;
  HRESULT STDMETHODCALLTYPE DrawRectPatch(UINT handle, const float* segment_count,
                                          const D3DRECTPATCH_INFO* patch_info) noexcept override;
  HRESULT STDMETHODCALLTYPE DrawTriPatch(UINT handle, const float* segment_count,
                                         const D3DTRIPATCH_INFO* patch_info) noexcept override;
  HRESULT STDMETHODCALLTYPE DeletePatch(UINT Handle) noexcept override;

 private:
  ~CDeviceProxy();

  // Holds the device's lock for the length of one call, on a multithreaded device only.
  class DeviceGuard {
   public:
    explicit DeviceGuard(const CDeviceProxy& device) : device_(device) {
      if (device_.multithreaded_) EnterCriticalSection(&device_.lock_);
    }
    ~DeviceGuard() {
      if (device_.multithreaded_) LeaveCriticalSection(&device_.lock_);
    }
    DeviceGuard(const DeviceGuard&) = delete;
    DeviceGuard& operator=(const DeviceGuard&) = delete;

   private:
    const CDeviceProxy& device_;
  };

  // Tells the mirror of a pure device about a change the device accepted.
  template <class Change>
  void Follow(Change change);

  IDirect3DDevice8* real_;
  CDirect3D8Proxy* direct3d_;
  std::atomic<ULONG> references_{1};
  bool multithreaded_;
  bool autoDepthStencil_;
  mutable CRITICAL_SECTION lock_;
  std::unique_ptr<CStateMirror> mirror_;
  std::unique_ptr<COverlayRenderer> renderer_;
};

}  // namespace ingame
