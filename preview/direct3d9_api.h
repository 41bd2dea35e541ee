// What is particular to Direct3D 9 in the preview's drawing, for the renderer that draws the same scene on
// either Direct3D (scene_renderer.h): its interfaces, and the few calls whose form differs from Direct3D 8's.
// Direct3D9Ex is the same with the extended object, device and present.
//
// d3d9.dll is loaded by name when the first Direct3D object is made, not imported: a program on Direct3D 8 never
// loads it, and LoadLibrary looks beside the program first, as the loader does for an import, so a d3d9.dll put
// beside the program (an overlay's) takes the system's place.
#pragma once

#include <windows.h>
#include <d3d9.h>

namespace preview {

struct Direct3D9Api {
  using Direct3D = IDirect3D9;
  using Device = IDirect3DDevice9;
  using Texture = IDirect3DTexture9;
  using VertexBuffer = IDirect3DVertexBuffer9;
  using IndexBuffer = IDirect3DIndexBuffer9;
  using Caps = D3DCAPS9;
  using Light = D3DLIGHT9;
  using Material = D3DMATERIAL9;
  // Filtering and addressing are the sampler's states in Direct3D 9.
  using SamplerState = D3DSAMPLERSTATETYPE;
  static constexpr SamplerState kMinFilter = D3DSAMP_MINFILTER;
  static constexpr SamplerState kMagFilter = D3DSAMP_MAGFILTER;
  static constexpr SamplerState kMipFilter = D3DSAMP_MIPFILTER;
  static constexpr SamplerState kAddressU = D3DSAMP_ADDRESSU;
  static constexpr SamplerState kAddressV = D3DSAMP_ADDRESSV;
  static constexpr char kName[] = "Direct3D 9";
  // Where buffers and textures live, and the textures' usage: the managed pool, which survives a Reset.
  static constexpr D3DPOOL kPool = D3DPOOL_MANAGED;
  static constexpr DWORD kTextureUsage = 0;

  // An entry point of the d3d9.dll a program in this folder would load, which stays loaded as an import would;
  // null when there is none.
  template <class Function>
  static Function Entry(const char* name) {
    const HMODULE library = Library();
    return library ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)))
                   : nullptr;
  }
  static HMODULE Library() {
    static const HMODULE library = LoadLibraryA("d3d9.dll");
    return library;
  }
  static Direct3D* Create() {
    const auto create = Entry<IDirect3D9*(WINAPI*)(UINT)>("Direct3DCreate9");
    return create ? create(D3D_SDK_VERSION) : nullptr;
  }
  static HRESULT CreateDevice(Direct3D* direct3d, HWND window, DWORD behaviour, D3DPRESENT_PARAMETERS& parameters,
                              Device** device) {
    return direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, behaviour, &parameters, device);
  }
  static UINT& Interval(D3DPRESENT_PARAMETERS& parameters) { return parameters.PresentationInterval; }
  static HRESULT Present(Device* device) { return device->Present(nullptr, nullptr, nullptr, nullptr); }

  static HRESULT CreateVertexBuffer(Device* device, UINT bytes, DWORD fvf, D3DPOOL pool, VertexBuffer** buffer) {
    return device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, fvf, pool, buffer, nullptr);
  }
  static HRESULT CreateIndexBuffer(Device* device, UINT bytes, D3DPOOL pool, IndexBuffer** buffer) {
    return device->CreateIndexBuffer(bytes, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, pool, buffer, nullptr);
  }
  static HRESULT CreateTexture(Device* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                               D3DPOOL pool, Texture** texture) {
    return device->CreateTexture(width, height, levels, usage, format, pool, texture, nullptr);
  }
  // Locks all of a vertex or index buffer.
  template <class Buffer>
  static HRESULT Lock(Buffer* buffer, UINT bytes, void** data) {
    return buffer->Lock(0, bytes, data, 0);
  }

  static void SetFvf(Device* device, DWORD fvf) { device->SetFVF(fvf); }
  static void SetStream(Device* device, VertexBuffer* buffer, UINT stride) {
    device->SetStreamSource(0, buffer, 0, stride);
  }
  static void SetSampler(Device* device, SamplerState state, DWORD value) { device->SetSamplerState(0, state, value); }
  static void SetIndices(Device* device, IndexBuffer* indices) { device->SetIndices(indices); }
  static void DrawIndexed(Device* device, D3DPRIMITIVETYPE type, UINT vertices, UINT triangles) {
    device->DrawIndexedPrimitive(type, 0, 0, vertices, 0, triangles);
  }
};

// The extended Direct3D 9: Direct3DCreate9Ex, CreateDeviceEx and PresentEx. Its devices are never lost and take
// no managed pool: buffers and textures live in the device's own pool, the textures dynamic so that they can be
// written.
struct Direct3D9ExApi : Direct3D9Api {
  static constexpr char kName[] = "Direct3D 9Ex";
  static constexpr D3DPOOL kPool = D3DPOOL_DEFAULT;
  static constexpr DWORD kTextureUsage = D3DUSAGE_DYNAMIC;

  static Direct3D* Create() {
    const auto create = Entry<HRESULT(WINAPI*)(UINT, IDirect3D9Ex**)>("Direct3DCreate9Ex");
    IDirect3D9Ex* direct3d = nullptr;
    return create && SUCCEEDED(create(D3D_SDK_VERSION, &direct3d)) ? direct3d : nullptr;
  }
  static HRESULT CreateDevice(Direct3D* direct3d, HWND window, DWORD behaviour, D3DPRESENT_PARAMETERS& parameters,
                              Device** device) {
    IDirect3DDevice9Ex* extended = nullptr;
    const HRESULT result = static_cast<IDirect3D9Ex*>(direct3d)->CreateDeviceEx(
        D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, behaviour, &parameters, nullptr, &extended);
    *device = extended;
    return result;
  }
  static HRESULT Present(Device* device) {
    return static_cast<IDirect3DDevice9Ex*>(device)->PresentEx(nullptr, nullptr, nullptr, nullptr, 0);
  }
};

}  // namespace preview
