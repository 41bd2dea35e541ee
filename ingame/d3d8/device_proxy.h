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

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE TestCooperativeLevel() override;
  UINT STDMETHODCALLTYPE GetAvailableTextureMem() override;
  HRESULT STDMETHODCALLTYPE ResourceManagerDiscardBytes(DWORD Bytes) override;
  HRESULT STDMETHODCALLTYPE GetDirect3D(IDirect3D8 ** ppD3D8) override;
  HRESULT STDMETHODCALLTYPE GetDeviceCaps(D3DCAPS8 * pCaps) override;
  HRESULT STDMETHODCALLTYPE GetDisplayMode(D3DDISPLAYMODE * pMode) override;
  HRESULT STDMETHODCALLTYPE GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS * pParameters) override;
  HRESULT STDMETHODCALLTYPE SetCursorProperties(UINT XHotSpot, UINT YHotSpot, IDirect3DSurface8 * pCursorBitmap) override;
  void STDMETHODCALLTYPE SetCursorPosition(UINT XScreenSpace, UINT YScreenSpace, DWORD Flags) override;
  WINBOOL STDMETHODCALLTYPE ShowCursor(BOOL bShow) override;
  HRESULT STDMETHODCALLTYPE CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS * pPresentationParameters, IDirect3DSwapChain8 ** pSwapChain) override;
  HRESULT STDMETHODCALLTYPE Reset(D3DPRESENT_PARAMETERS * pPresentationParameters) override;
  HRESULT STDMETHODCALLTYPE Present(const RECT *src_rect, const RECT *dst_rect, HWND dst_window_override, const RGNDATA *dirty_region) override;
  HRESULT STDMETHODCALLTYPE GetBackBuffer(UINT BackBuffer, D3DBACKBUFFER_TYPE Type, IDirect3DSurface8 ** ppBackBuffer) override;
  HRESULT STDMETHODCALLTYPE GetRasterStatus(D3DRASTER_STATUS * pRasterStatus) override;
  void STDMETHODCALLTYPE SetGammaRamp(DWORD flags, const D3DGAMMARAMP *ramp) override;
  void STDMETHODCALLTYPE GetGammaRamp(D3DGAMMARAMP * pRamp) override;
  HRESULT STDMETHODCALLTYPE CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool, IDirect3DTexture8 ** ppTexture) override;
  HRESULT STDMETHODCALLTYPE CreateVolumeTexture(UINT Width, UINT Height, UINT Depth, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool, IDirect3DVolumeTexture8 ** ppVolumeTexture) override;
  HRESULT STDMETHODCALLTYPE CreateCubeTexture(UINT EdgeLength, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool, IDirect3DCubeTexture8 ** ppCubeTexture) override;
  HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool, IDirect3DVertexBuffer8 ** ppVertexBuffer) override;
  HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool, IDirect3DIndexBuffer8 ** ppIndexBuffer) override;
  HRESULT STDMETHODCALLTYPE CreateRenderTarget(UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample, BOOL Lockable, IDirect3DSurface8 ** ppSurface) override;
  HRESULT STDMETHODCALLTYPE CreateDepthStencilSurface(UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample, IDirect3DSurface8 ** ppSurface) override;
  HRESULT STDMETHODCALLTYPE CreateImageSurface(UINT Width, UINT Height, D3DFORMAT Format, IDirect3DSurface8 ** ppSurface) override;
  HRESULT STDMETHODCALLTYPE CopyRects(IDirect3DSurface8 *src_surface, const RECT *src_rects, UINT rect_count, IDirect3DSurface8 *dst_surface, const POINT *dst_points) override;
  HRESULT STDMETHODCALLTYPE UpdateTexture(IDirect3DBaseTexture8 * pSourceTexture, IDirect3DBaseTexture8 * pDestinationTexture) override;
  HRESULT STDMETHODCALLTYPE GetFrontBuffer(IDirect3DSurface8 * pDestSurface) override;
  HRESULT STDMETHODCALLTYPE SetRenderTarget(IDirect3DSurface8 * pRenderTarget, IDirect3DSurface8 * pNewZStencil) override;
  HRESULT STDMETHODCALLTYPE GetRenderTarget(IDirect3DSurface8 ** ppRenderTarget) override;
  HRESULT STDMETHODCALLTYPE GetDepthStencilSurface(IDirect3DSurface8 ** ppZStencilSurface) override;
  HRESULT STDMETHODCALLTYPE BeginScene() override;
  HRESULT STDMETHODCALLTYPE EndScene() override;
  HRESULT STDMETHODCALLTYPE Clear(DWORD rect_count, const D3DRECT *rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
  HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix) override;
  HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX * pMatrix) override;
  HRESULT STDMETHODCALLTYPE MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix) override;
  HRESULT STDMETHODCALLTYPE SetViewport(const D3DVIEWPORT8 *viewport) override;
  HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT8 * pViewport) override;
  HRESULT STDMETHODCALLTYPE SetMaterial(const D3DMATERIAL8 *material) override;
  HRESULT STDMETHODCALLTYPE GetMaterial(D3DMATERIAL8 *pMaterial) override;
  HRESULT STDMETHODCALLTYPE SetLight(DWORD index, const D3DLIGHT8 *light) override;
  HRESULT STDMETHODCALLTYPE GetLight(DWORD Index, D3DLIGHT8 * pLight) override;
  HRESULT STDMETHODCALLTYPE LightEnable(DWORD Index, BOOL Enable) override;
  HRESULT STDMETHODCALLTYPE GetLightEnable(DWORD Index, BOOL * pEnable) override;
  HRESULT STDMETHODCALLTYPE SetClipPlane(DWORD index, const float *plane) override;
  HRESULT STDMETHODCALLTYPE GetClipPlane(DWORD Index, float * pPlane) override;
  HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override;
  HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE State, DWORD * pValue) override;
  HRESULT STDMETHODCALLTYPE BeginStateBlock() override;
  HRESULT STDMETHODCALLTYPE EndStateBlock(DWORD * pToken) override;
  HRESULT STDMETHODCALLTYPE ApplyStateBlock(DWORD Token) override;
  HRESULT STDMETHODCALLTYPE CaptureStateBlock(DWORD Token) override;
  HRESULT STDMETHODCALLTYPE DeleteStateBlock(DWORD Token) override;
  HRESULT STDMETHODCALLTYPE CreateStateBlock(D3DSTATEBLOCKTYPE Type, DWORD * pToken) override;
  HRESULT STDMETHODCALLTYPE SetClipStatus(const D3DCLIPSTATUS8 *clip_status) override;
  HRESULT STDMETHODCALLTYPE GetClipStatus(D3DCLIPSTATUS8 * pClipStatus) override;
  HRESULT STDMETHODCALLTYPE GetTexture(DWORD Stage, IDirect3DBaseTexture8 ** ppTexture) override;
  HRESULT STDMETHODCALLTYPE SetTexture(DWORD Stage, IDirect3DBaseTexture8 * pTexture) override;
  HRESULT STDMETHODCALLTYPE GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD * pValue) override;
  HRESULT STDMETHODCALLTYPE SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) override;
  HRESULT STDMETHODCALLTYPE ValidateDevice(DWORD * pNumPasses) override;
  HRESULT STDMETHODCALLTYPE GetInfo(DWORD DevInfoID, void * pDevInfoStruct, DWORD DevInfoStructSize) override;
  HRESULT STDMETHODCALLTYPE SetPaletteEntries(UINT palette_idx, const PALETTEENTRY *entries) override;
  HRESULT STDMETHODCALLTYPE GetPaletteEntries(UINT PaletteNumber, PALETTEENTRY * pEntries) override;
  HRESULT STDMETHODCALLTYPE SetCurrentTexturePalette(UINT PaletteNumber) override;
  HRESULT STDMETHODCALLTYPE GetCurrentTexturePalette(UINT * PaletteNumber) override;
  HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) override;
  HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT minIndex, UINT NumVertices, UINT startIndex, UINT primCount) override;
  HRESULT STDMETHODCALLTYPE DrawPrimitiveUP(D3DPRIMITIVETYPE primitive_type, UINT primitive_count, const void *data, UINT stride) override;
  HRESULT STDMETHODCALLTYPE DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE primitive_type, UINT min_vertex_idx, UINT vertex_count, UINT primitive_count, const void *index_data, D3DFORMAT index_format, const void *data, UINT stride) override;
  HRESULT STDMETHODCALLTYPE ProcessVertices(UINT SrcStartIndex, UINT DestIndex, UINT VertexCount, IDirect3DVertexBuffer8 * pDestBuffer, DWORD Flags) override;
  HRESULT STDMETHODCALLTYPE CreateVertexShader(const DWORD *declaration, const DWORD *byte_code, DWORD *shader, DWORD usage) override;
  HRESULT STDMETHODCALLTYPE SetVertexShader(DWORD Handle) override;
  HRESULT STDMETHODCALLTYPE GetVertexShader(DWORD * pHandle) override;
  HRESULT STDMETHODCALLTYPE DeleteVertexShader(DWORD Handle) override;
  HRESULT STDMETHODCALLTYPE SetVertexShaderConstant(DWORD reg_idx, const void *data, DWORD count) override;
  HRESULT STDMETHODCALLTYPE GetVertexShaderConstant(DWORD Register, void * pConstantData, DWORD ConstantCount) override;
  HRESULT STDMETHODCALLTYPE GetVertexShaderDeclaration(DWORD Handle, void * pData, DWORD * pSizeOfData) override;
  HRESULT STDMETHODCALLTYPE GetVertexShaderFunction(DWORD Handle, void * pData, DWORD * pSizeOfData) override;
  HRESULT STDMETHODCALLTYPE SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8 * pStreamData, UINT Stride) override;
  HRESULT STDMETHODCALLTYPE GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8 ** ppStreamData, UINT * pStride) override;
  HRESULT STDMETHODCALLTYPE SetIndices(IDirect3DIndexBuffer8 * pIndexData, UINT BaseVertexIndex) override;
  HRESULT STDMETHODCALLTYPE GetIndices(IDirect3DIndexBuffer8 ** ppIndexData, UINT * pBaseVertexIndex) override;
  HRESULT STDMETHODCALLTYPE CreatePixelShader(const DWORD *byte_code, DWORD *shader) override;
  HRESULT STDMETHODCALLTYPE SetPixelShader(DWORD Handle) override;
  HRESULT STDMETHODCALLTYPE GetPixelShader(DWORD * pHandle) override;
  HRESULT STDMETHODCALLTYPE DeletePixelShader(DWORD Handle) override;
  HRESULT STDMETHODCALLTYPE SetPixelShaderConstant(DWORD reg_idx, const void *data, DWORD count) override;
  HRESULT STDMETHODCALLTYPE GetPixelShaderConstant(DWORD Register, void * pConstantData, DWORD ConstantCount) override;
  HRESULT STDMETHODCALLTYPE GetPixelShaderFunction(DWORD Handle, void * pData, DWORD * pSizeOfData) override;
  HRESULT STDMETHODCALLTYPE DrawRectPatch(UINT handle, const float *segment_count, const D3DRECTPATCH_INFO *patch_info) override;
  HRESULT STDMETHODCALLTYPE DrawTriPatch(UINT handle, const float *segment_count, const D3DTRIPATCH_INFO *patch_info) override;
  HRESULT STDMETHODCALLTYPE DeletePatch(UINT Handle) override;

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

  // The back buffer's size as the device made it (a windowed device may have picked the window's size).
  void BackBufferSize(UINT& width, UINT& height) const;
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
