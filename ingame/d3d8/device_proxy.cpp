#include "ingame/d3d8/device_proxy.h"

#include <new>

#include "ingame/d3d8/direct3d8_proxy.h"

namespace ingame {

CDeviceProxy::CDeviceProxy(IDirect3DDevice8* real, CDirect3D8Proxy* direct3d, const D3DPRESENT_PARAMETERS& parameters,
                           DWORD behaviorFlags)
    : real_(real),
      direct3d_(direct3d),
      multithreaded_((behaviorFlags & D3DCREATE_MULTITHREADED) != 0),
      autoDepthStencil_(parameters.EnableAutoDepthStencil != FALSE) {
  InitializeCriticalSection(&lock_);
  direct3d_->AddRef();
  const bool pure = (behaviorFlags & D3DCREATE_PUREDEVICE) != 0;
  if (pure) {
    UINT width = 0;
    UINT height = 0;
    BackBufferSize(real_, width, height);
    mirror_.reset(new (std::nothrow) CStateMirror(width, height, autoDepthStencil_));
  }
  // A pure device without its mirror gets no overlay rather than one that would spoil its states.
  if (!pure || mirror_) renderer_.reset(new (std::nothrow) COverlayRenderer(real_, mirror_.get()));
}

CDeviceProxy::~CDeviceProxy() {
  // The overlay's textures and state block belong to the device: they go first.
  renderer_.reset();
  mirror_.reset();
  real_->Release();
  direct3d_->Release();
  DeleteCriticalSection(&lock_);
}

template <class Change>
void CDeviceProxy::Follow(Change change) {
  if (!mirror_) return;
  try {
    change(*mirror_);
  } catch (...) {
    // Out of memory: the mirror may have missed a change, so the overlay stops rather than restore a wrong value.
    renderer_.reset();
    mirror_.reset();
  }
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::QueryInterface(REFIID riid, void** ppvObject) noexcept {
  if (!ppvObject) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDirect3DDevice8)) {
    AddRef();
    *ppvObject = static_cast<IDirect3DDevice8*>(this);
    return S_OK;
  }
  return real_->QueryInterface(riid, ppvObject);
}

ULONG STDMETHODCALLTYPE CDeviceProxy::AddRef() noexcept {
  return ++references_;
}

ULONG STDMETHODCALLTYPE CDeviceProxy::Release() noexcept {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetDirect3D(IDirect3D8** ppD3D8) noexcept {
  if (!ppD3D8) return D3DERR_INVALIDCALL;
  direct3d_->AddRef();
  *ppD3D8 = direct3d_;
  return D3D_OK;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::Reset(D3DPRESENT_PARAMETERS* pPresentationParameters) noexcept {
  const DeviceGuard guard(*this);
  if (renderer_) renderer_->OnBeforeReset();
  const HRESULT result = real_->Reset(pPresentationParameters);
  if (SUCCEEDED(result) && pPresentationParameters) {
    autoDepthStencil_ = pPresentationParameters->EnableAutoDepthStencil != FALSE;
    UINT width = 0;
    UINT height = 0;
    BackBufferSize(real_, width, height);
    Follow([&](CStateMirror& m) { m.ResetToDefaults(width, height, autoDepthStencil_); });
  }
  if (renderer_) renderer_->OnAfterReset();
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::Present(const RECT* src_rect, const RECT* dst_rect, HWND dst_window_override,
                                                const RGNDATA* dirty_region) noexcept {
  const DeviceGuard guard(*this);
  if (renderer_) {
    try {
      renderer_->OnPresent();
    } catch (...) {
      // Out of memory for a text or a picture: this frame goes without the overlay.
    }
  }
  const double start = renderer_ && renderer_->counting() ? NowMicroseconds() : 0.0;
  const HRESULT result = real_->Present(src_rect, dst_rect, dst_window_override, dirty_region);
  if (renderer_) renderer_->OnPresented(renderer_->counting() ? NowMicroseconds() - start : 0.0);
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetRenderTarget(IDirect3DSurface8* pRenderTarget,
                                                        IDirect3DSurface8* pNewZStencil) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->SetRenderTarget(pRenderTarget, pNewZStencil);
  if (SUCCEEDED(result) && pRenderTarget && mirror_) {
    D3DSURFACE_DESC desc{};
    if (SUCCEEDED(pRenderTarget->GetDesc(&desc))) {
      Follow([&](CStateMirror& m) { m.SetRenderTarget(desc.Width, desc.Height); });
    }
  }
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetViewport(const D3DVIEWPORT8* viewport) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->SetViewport(viewport);
  if (SUCCEEDED(result) && viewport) Follow([&](CStateMirror& m) { m.SetViewport(*viewport); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->SetRenderState(State, Value);
  if (SUCCEEDED(result)) Follow([&](CStateMirror& m) { m.SetRenderState(State, Value); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::BeginStateBlock() noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->BeginStateBlock();
  if (SUCCEEDED(result)) Follow([&](CStateMirror& m) { m.BeginStateBlock(); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::EndStateBlock(DWORD* pToken) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->EndStateBlock(pToken);
  if (SUCCEEDED(result) && pToken) Follow([&](CStateMirror& m) { m.EndStateBlock(*pToken); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::ApplyStateBlock(DWORD Token) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->ApplyStateBlock(Token);
  if (SUCCEEDED(result)) Follow([&](CStateMirror& m) { m.ApplyStateBlock(Token); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::CaptureStateBlock(DWORD Token) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->CaptureStateBlock(Token);
  if (SUCCEEDED(result)) Follow([&](CStateMirror& m) { m.CaptureStateBlock(Token); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::DeleteStateBlock(DWORD Token) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->DeleteStateBlock(Token);
  if (SUCCEEDED(result)) Follow([&](CStateMirror& m) { m.DeleteStateBlock(Token); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::CreateStateBlock(D3DSTATEBLOCKTYPE Type, DWORD* pToken) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->CreateStateBlock(Type, pToken);
  if (SUCCEEDED(result) && pToken) Follow([&](CStateMirror& m) { m.CreateStateBlock(Type, *pToken); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetTexture(DWORD Stage, IDirect3DBaseTexture8* pTexture) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->SetTexture(Stage, pTexture);
  if (SUCCEEDED(result)) Follow([&](CStateMirror& m) { m.SetTexture(Stage, pTexture); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type,
                                                             DWORD Value) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->SetTextureStageState(Stage, Type, Value);
  if (SUCCEEDED(result)) Follow([&](CStateMirror& m) { m.SetTextureStageState(Stage, Type, Value); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetVertexShader(DWORD Handle) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->SetVertexShader(Handle);
  if (SUCCEEDED(result)) Follow([&](CStateMirror& m) { m.SetVertexShader(Handle); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetPixelShader(DWORD Handle) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->SetPixelShader(Handle);
  if (SUCCEEDED(result)) Follow([&](CStateMirror& m) { m.SetPixelShader(Handle); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8* pStreamData,
                                                        UINT Stride) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->SetStreamSource(StreamNumber, pStreamData, Stride);
  if (SUCCEEDED(result)) Follow([&](CStateMirror& m) { m.SetStreamSource(StreamNumber, pStreamData, Stride); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::DrawPrimitiveUP(D3DPRIMITIVETYPE primitive_type, UINT primitive_count,
                                                        const void* data, UINT stride) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->DrawPrimitiveUP(primitive_type, primitive_count, data, stride);
  if (SUCCEEDED(result)) Follow([](CStateMirror& m) { m.DrawFromUserMemory(); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE primitive_type, UINT min_vertex_idx,
                                                               UINT vertex_count, UINT primitive_count,
                                                               const void* index_data, D3DFORMAT index_format,
                                                               const void* data, UINT stride) noexcept {
  const DeviceGuard guard(*this);
  const HRESULT result = real_->DrawIndexedPrimitiveUP(primitive_type, min_vertex_idx, vertex_count, primitive_count,
                                                       index_data, index_format, data, stride);
  if (SUCCEEDED(result)) Follow([](CStateMirror& m) { m.DrawFromUserMemory(); });
  return result;
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::TestCooperativeLevel() noexcept {
  const DeviceGuard guard(*this);
  return real_->TestCooperativeLevel();
}

UINT STDMETHODCALLTYPE CDeviceProxy::GetAvailableTextureMem() noexcept {
  const DeviceGuard guard(*this);
  return real_->GetAvailableTextureMem();
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::ResourceManagerDiscardBytes(DWORD Bytes) noexcept {
  const DeviceGuard guard(*this);
  return real_->ResourceManagerDiscardBytes(Bytes);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetDeviceCaps(D3DCAPS8* pCaps) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetDeviceCaps(pCaps);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetDisplayMode(D3DDISPLAYMODE* pMode) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetDisplayMode(pMode);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* pParameters) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetCreationParameters(pParameters);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetCursorProperties(UINT XHotSpot, UINT YHotSpot,
                                                            IDirect3DSurface8* pCursorBitmap) noexcept {
  const DeviceGuard guard(*this);
  return real_->SetCursorProperties(XHotSpot, YHotSpot, pCursorBitmap);
}

void STDMETHODCALLTYPE CDeviceProxy::SetCursorPosition(UINT XScreenSpace, UINT YScreenSpace, DWORD Flags) noexcept {
  const DeviceGuard guard(*this);
  real_->SetCursorPosition(XScreenSpace, YScreenSpace, Flags);
}

BOOL STDMETHODCALLTYPE CDeviceProxy::ShowCursor(BOOL bShow) noexcept {
  const DeviceGuard guard(*this);
  return real_->ShowCursor(bShow);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* pPresentationParameters,
                                                                  IDirect3DSwapChain8** pSwapChain) noexcept {
  const DeviceGuard guard(*this);
  return real_->CreateAdditionalSwapChain(pPresentationParameters, pSwapChain);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetBackBuffer(UINT BackBuffer, D3DBACKBUFFER_TYPE Type,
                                                      IDirect3DSurface8** ppBackBuffer) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetBackBuffer(BackBuffer, Type, ppBackBuffer);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetRasterStatus(D3DRASTER_STATUS* pRasterStatus) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetRasterStatus(pRasterStatus);
}

void STDMETHODCALLTYPE CDeviceProxy::SetGammaRamp(DWORD flags, const D3DGAMMARAMP* ramp) noexcept {
  const DeviceGuard guard(*this);
  real_->SetGammaRamp(flags, ramp);
}

void STDMETHODCALLTYPE CDeviceProxy::GetGammaRamp(D3DGAMMARAMP* pRamp) noexcept {
  const DeviceGuard guard(*this);
  real_->GetGammaRamp(pRamp);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage,
                                                      D3DFORMAT Format, D3DPOOL Pool,
                                                      IDirect3DTexture8** ppTexture) noexcept {
  const DeviceGuard guard(*this);
  return real_->CreateTexture(Width, Height, Levels, Usage, Format, Pool, ppTexture);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::CreateVolumeTexture(UINT Width, UINT Height, UINT Depth, UINT Levels,
                                                            DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                                            IDirect3DVolumeTexture8** ppVolumeTexture) noexcept {
  const DeviceGuard guard(*this);
  return real_->CreateVolumeTexture(Width, Height, Depth, Levels, Usage, Format, Pool, ppVolumeTexture);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::CreateCubeTexture(UINT EdgeLength, UINT Levels, DWORD Usage, D3DFORMAT Format,
                                                          D3DPOOL Pool,
                                                          IDirect3DCubeTexture8** ppCubeTexture) noexcept {
  const DeviceGuard guard(*this);
  return real_->CreateCubeTexture(EdgeLength, Levels, Usage, Format, Pool, ppCubeTexture);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                                           IDirect3DVertexBuffer8** ppVertexBuffer) noexcept {
  const DeviceGuard guard(*this);
  return real_->CreateVertexBuffer(Length, Usage, FVF, Pool, ppVertexBuffer);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                                          IDirect3DIndexBuffer8** ppIndexBuffer) noexcept {
  const DeviceGuard guard(*this);
  return real_->CreateIndexBuffer(Length, Usage, Format, Pool, ppIndexBuffer);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::CreateRenderTarget(UINT Width, UINT Height, D3DFORMAT Format,
                                                           D3DMULTISAMPLE_TYPE MultiSample, BOOL Lockable,
                                                           IDirect3DSurface8** ppSurface) noexcept {
  const DeviceGuard guard(*this);
  return real_->CreateRenderTarget(Width, Height, Format, MultiSample, Lockable, ppSurface);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::CreateDepthStencilSurface(UINT Width, UINT Height, D3DFORMAT Format,
                                                                  D3DMULTISAMPLE_TYPE MultiSample,
                                                                  IDirect3DSurface8** ppSurface) noexcept {
  const DeviceGuard guard(*this);
  return real_->CreateDepthStencilSurface(Width, Height, Format, MultiSample, ppSurface);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::CreateImageSurface(UINT Width, UINT Height, D3DFORMAT Format,
                                                           IDirect3DSurface8** ppSurface) noexcept {
  const DeviceGuard guard(*this);
  return real_->CreateImageSurface(Width, Height, Format, ppSurface);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::CopyRects(IDirect3DSurface8* src_surface, const RECT* src_rects,
                                                  UINT rect_count, IDirect3DSurface8* dst_surface,
                                                  const POINT* dst_points) noexcept {
  const DeviceGuard guard(*this);
  return real_->CopyRects(src_surface, src_rects, rect_count, dst_surface, dst_points);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::UpdateTexture(IDirect3DBaseTexture8* pSourceTexture,
                                                      IDirect3DBaseTexture8* pDestinationTexture) noexcept {
  const DeviceGuard guard(*this);
  return real_->UpdateTexture(pSourceTexture, pDestinationTexture);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetFrontBuffer(IDirect3DSurface8* pDestSurface) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetFrontBuffer(pDestSurface);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetRenderTarget(IDirect3DSurface8** ppRenderTarget) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetRenderTarget(ppRenderTarget);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetDepthStencilSurface(IDirect3DSurface8** ppZStencilSurface) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetDepthStencilSurface(ppZStencilSurface);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::BeginScene() noexcept {
  const DeviceGuard guard(*this);
  return real_->BeginScene();
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::EndScene() noexcept {
  const DeviceGuard guard(*this);
  return real_->EndScene();
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::Clear(DWORD rect_count, const D3DRECT* rects, DWORD flags, D3DCOLOR color,
                                              float z, DWORD stencil) noexcept {
  const DeviceGuard guard(*this);
  return real_->Clear(rect_count, rects, flags, color, z, stencil);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) noexcept {
  const DeviceGuard guard(*this);
  return real_->SetTransform(state, matrix);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetTransform(State, pMatrix);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::MultiplyTransform(D3DTRANSFORMSTATETYPE state,
                                                          const D3DMATRIX* matrix) noexcept {
  const DeviceGuard guard(*this);
  return real_->MultiplyTransform(state, matrix);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetViewport(D3DVIEWPORT8* pViewport) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetViewport(pViewport);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetMaterial(const D3DMATERIAL8* material) noexcept {
  const DeviceGuard guard(*this);
  return real_->SetMaterial(material);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetMaterial(D3DMATERIAL8* pMaterial) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetMaterial(pMaterial);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetLight(DWORD index, const D3DLIGHT8* light) noexcept {
  const DeviceGuard guard(*this);
  return real_->SetLight(index, light);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetLight(DWORD Index, D3DLIGHT8* pLight) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetLight(Index, pLight);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::LightEnable(DWORD Index, BOOL Enable) noexcept {
  const DeviceGuard guard(*this);
  return real_->LightEnable(Index, Enable);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetLightEnable(DWORD Index, BOOL* pEnable) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetLightEnable(Index, pEnable);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetClipPlane(DWORD index, const float* plane) noexcept {
  const DeviceGuard guard(*this);
  return real_->SetClipPlane(index, plane);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetClipPlane(DWORD Index, float* pPlane) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetClipPlane(Index, pPlane);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetRenderState(State, pValue);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetClipStatus(const D3DCLIPSTATUS8* clip_status) noexcept {
  const DeviceGuard guard(*this);
  return real_->SetClipStatus(clip_status);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetClipStatus(D3DCLIPSTATUS8* pClipStatus) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetClipStatus(pClipStatus);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetTexture(DWORD Stage, IDirect3DBaseTexture8** ppTexture) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetTexture(Stage, ppTexture);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type,
                                                             DWORD* pValue) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetTextureStageState(Stage, Type, pValue);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::ValidateDevice(DWORD* pNumPasses) noexcept {
  const DeviceGuard guard(*this);
  return real_->ValidateDevice(pNumPasses);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetInfo(DWORD DevInfoID, void* pDevInfoStruct,
                                                DWORD DevInfoStructSize) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetInfo(DevInfoID, pDevInfoStruct, DevInfoStructSize);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetPaletteEntries(UINT palette_idx, const PALETTEENTRY* entries) noexcept {
  const DeviceGuard guard(*this);
  return real_->SetPaletteEntries(palette_idx, entries);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetPaletteEntries(UINT PaletteNumber, PALETTEENTRY* pEntries) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetPaletteEntries(PaletteNumber, pEntries);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetCurrentTexturePalette(UINT PaletteNumber) noexcept {
  const DeviceGuard guard(*this);
  return real_->SetCurrentTexturePalette(PaletteNumber);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetCurrentTexturePalette(UINT* PaletteNumber) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetCurrentTexturePalette(PaletteNumber);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex,
                                                      UINT PrimitiveCount) noexcept {
  const DeviceGuard guard(*this);
  return real_->DrawPrimitive(PrimitiveType, StartVertex, PrimitiveCount);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT minIndex,
                                                             UINT NumVertices, UINT startIndex,
                                                             UINT primCount) noexcept {
  const DeviceGuard guard(*this);
  return real_->DrawIndexedPrimitive(PrimitiveType, minIndex, NumVertices, startIndex, primCount);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::ProcessVertices(UINT SrcStartIndex, UINT DestIndex, UINT VertexCount,
                                                        IDirect3DVertexBuffer8* pDestBuffer, DWORD Flags) noexcept {
  const DeviceGuard guard(*this);
  return real_->ProcessVertices(SrcStartIndex, DestIndex, VertexCount, pDestBuffer, Flags);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::CreateVertexShader(const DWORD* declaration, const DWORD* byte_code,
                                                           DWORD* shader, DWORD usage) noexcept {
  const DeviceGuard guard(*this);
  return real_->CreateVertexShader(declaration, byte_code, shader, usage);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetVertexShader(DWORD* pHandle) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetVertexShader(pHandle);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::DeleteVertexShader(DWORD Handle) noexcept {
  const DeviceGuard guard(*this);
  return real_->DeleteVertexShader(Handle);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetVertexShaderConstant(DWORD reg_idx, const void* data, DWORD count) noexcept {
  const DeviceGuard guard(*this);
  return real_->SetVertexShaderConstant(reg_idx, data, count);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetVertexShaderConstant(DWORD Register, void* pConstantData,
                                                                DWORD ConstantCount) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetVertexShaderConstant(Register, pConstantData, ConstantCount);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetVertexShaderDeclaration(DWORD Handle, void* pData,
                                                                   DWORD* pSizeOfData) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetVertexShaderDeclaration(Handle, pData, pSizeOfData);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetVertexShaderFunction(DWORD Handle, void* pData,
                                                                DWORD* pSizeOfData) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetVertexShaderFunction(Handle, pData, pSizeOfData);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8** ppStreamData,
                                                        UINT* pStride) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetStreamSource(StreamNumber, ppStreamData, pStride);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetIndices(IDirect3DIndexBuffer8* pIndexData, UINT BaseVertexIndex) noexcept {
  const DeviceGuard guard(*this);
  return real_->SetIndices(pIndexData, BaseVertexIndex);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetIndices(IDirect3DIndexBuffer8** ppIndexData,
                                                   UINT* pBaseVertexIndex) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetIndices(ppIndexData, pBaseVertexIndex);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::CreatePixelShader(const DWORD* byte_code, DWORD* shader) noexcept {
  const DeviceGuard guard(*this);
  return real_->CreatePixelShader(byte_code, shader);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetPixelShader(DWORD* pHandle) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetPixelShader(pHandle);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::DeletePixelShader(DWORD Handle) noexcept {
  const DeviceGuard guard(*this);
  return real_->DeletePixelShader(Handle);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::SetPixelShaderConstant(DWORD reg_idx, const void* data, DWORD count) noexcept {
  const DeviceGuard guard(*this);
  return real_->SetPixelShaderConstant(reg_idx, data, count);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetPixelShaderConstant(DWORD Register, void* pConstantData,
                                                               DWORD ConstantCount) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetPixelShaderConstant(Register, pConstantData, ConstantCount);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::GetPixelShaderFunction(DWORD Handle, void* pData, DWORD* pSizeOfData) noexcept {
  const DeviceGuard guard(*this);
  return real_->GetPixelShaderFunction(Handle, pData, pSizeOfData);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::DrawRectPatch(UINT handle, const float* segment_count,
                                                      const D3DRECTPATCH_INFO* patch_info) noexcept {
  const DeviceGuard guard(*this);
  return real_->DrawRectPatch(handle, segment_count, patch_info);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::DrawTriPatch(UINT handle, const float* segment_count,
                                                     const D3DTRIPATCH_INFO* patch_info) noexcept {
  const DeviceGuard guard(*this);
  return real_->DrawTriPatch(handle, segment_count, patch_info);
}

HRESULT STDMETHODCALLTYPE CDeviceProxy::DeletePatch(UINT Handle) noexcept {
  const DeviceGuard guard(*this);
  return real_->DeletePatch(Handle);
}
}  // namespace ingame
