// What is particular to Direct3D 8 in the preview's drawing, for the renderer that draws the same scene on
// either Direct3D (scene_renderer.h): its interfaces, and the few calls whose form differs from Direct3D 9's.
// Everything else the renderer calls by the names both Direct3Ds share.
#pragma once

#include <windows.h>
#include <d3d8.h>

namespace preview {

struct Direct3D8Api {
  using Direct3D = IDirect3D8;
  using Device = IDirect3DDevice8;
  using Texture = IDirect3DTexture8;
  using VertexBuffer = IDirect3DVertexBuffer8;
  using IndexBuffer = IDirect3DIndexBuffer8;
  using Caps = D3DCAPS8;
  using Light = D3DLIGHT8;
  using Material = D3DMATERIAL8;
  // Filtering and addressing are texture stage states in Direct3D 8.
  using SamplerState = D3DTEXTURESTAGESTATETYPE;
  static constexpr SamplerState kMinFilter = D3DTSS_MINFILTER;
  static constexpr SamplerState kMagFilter = D3DTSS_MAGFILTER;
  static constexpr SamplerState kMipFilter = D3DTSS_MIPFILTER;
  static constexpr SamplerState kAddressU = D3DTSS_ADDRESSU;
  static constexpr SamplerState kAddressV = D3DTSS_ADDRESSV;
  static constexpr char kName[] = "Direct3D 8";
  // Where buffers and textures live, and the textures' usage: the managed pool, which survives a Reset.
  static constexpr D3DPOOL kPool = D3DPOOL_MANAGED;
  static constexpr DWORD kTextureUsage = 0;

  // Through the d3d8.dll the program imports, the one beside it when there is one.
  static Direct3D* Create() { return Direct3DCreate8(D3D_SDK_VERSION); }
  static HRESULT CreateDevice(Direct3D* direct3d, HWND window, DWORD behaviour, D3DPRESENT_PARAMETERS& parameters,
                              Device** device) {
    return direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, behaviour, &parameters, device);
  }
  static UINT& Interval(D3DPRESENT_PARAMETERS& parameters) { return parameters.FullScreen_PresentationInterval; }
  static HRESULT Present(Device* device) { return device->Present(nullptr, nullptr, nullptr, nullptr); }

  static HRESULT CreateVertexBuffer(Device* device, UINT bytes, DWORD fvf, D3DPOOL pool, VertexBuffer** buffer) {
    return device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, fvf, pool, buffer);
  }
  static HRESULT CreateIndexBuffer(Device* device, UINT bytes, D3DPOOL pool, IndexBuffer** buffer) {
    return device->CreateIndexBuffer(bytes, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, pool, buffer);
  }
  static HRESULT CreateTexture(Device* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                               D3DPOOL pool, Texture** texture) {
    return device->CreateTexture(width, height, levels, usage, format, pool, texture);
  }
  // Locks all of a vertex or index buffer.
  template <class Buffer>
  static HRESULT Lock(Buffer* buffer, UINT bytes, void** data) {
    BYTE* bytesData = nullptr;
    const HRESULT result = buffer->Lock(0, bytes, &bytesData, 0);
    *data = bytesData;
    return result;
  }

  static void SetFvf(Device* device, DWORD fvf) { device->SetVertexShader(fvf); }
  static void SetStream(Device* device, VertexBuffer* buffer, UINT stride) {
    device->SetStreamSource(0, buffer, stride);
  }
  static void SetSampler(Device* device, SamplerState state, DWORD value) {
    device->SetTextureStageState(0, state, value);
  }
  static void SetIndices(Device* device, IndexBuffer* indices) { device->SetIndices(indices, 0); }
  static void DrawIndexed(Device* device, D3DPRIMITIVETYPE type, UINT vertices, UINT triangles) {
    device->DrawIndexedPrimitive(type, 0, vertices, 0, triangles);
  }
};

}  // namespace preview
