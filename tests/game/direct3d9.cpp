// The test game's Direct3D 9: its part of the game (the interfaces, the calls whose signatures are its own, the
// states only it has, its Ex device and its presents that do not wait), and the busy device the game can emulate
// under everything else (--still-drawing). The game loads "d3d9.dll" by name only when it runs on Direct3D 9, so
// that a d3d9.dll beside it (an overlay's) is taken, and a Direct3D 8 game never loads one.
#include <windows.h>
// Direct3D's interface identifiers, for GetContainer, are defined here.
#include <initguid.h>
#include <d3d9.h>

#include "tests/game/game_core.h"
#include "tests/game/system_slots.h"

namespace testgame {
namespace {

using Create9Fn = IDirect3D9*(WINAPI*)(UINT);
using Create9ExFn = HRESULT(WINAPI*)(UINT, IDirect3D9Ex**);
using ChainPresentFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DSwapChain9*, const RECT*, const RECT*, HWND,
                                                   const RGNDATA*, DWORD);
using PresentExFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice9Ex*, const RECT*, const RECT*, HWND, const RGNDATA*,
                                                DWORD);

// The game's device is an Ex device (--d3d9ex).
bool g_ex = false;

// Direct3DCreate9, or Direct3DCreate9Ex, of `library`.
IDirect3D9* CreateThrough(HMODULE library, bool ex) {
  const auto entry = [library](const char* name) {
    return library ? reinterpret_cast<void (*)()>(GetProcAddress(library, name)) : nullptr;
  };
  if (!ex) {
    const auto create = reinterpret_cast<Create9Fn>(entry("Direct3DCreate9"));
    return create ? create(D3D_SDK_VERSION) : nullptr;
  }
  const auto create = reinterpret_cast<Create9ExFn>(entry("Direct3DCreate9Ex"));
  IDirect3D9Ex* direct3d = nullptr;
  return create && SUCCEEDED(create(D3D_SDK_VERSION, &direct3d)) ? direct3d : nullptr;
}

HRESULT CreateDeviceOf(IDirect3D9* direct3d, bool ex, HWND window, DWORD flags, D3DPRESENT_PARAMETERS* parameters,
                       IDirect3DDevice9** device) {
  if (!ex) return direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, flags, parameters, device);
  // Full screen, an Ex device takes the display mode too: the display's own.
  D3DDISPLAYMODEEX mode{};
  mode.Size = sizeof mode;
  mode.Width = parameters->BackBufferWidth;
  mode.Height = parameters->BackBufferHeight;
  mode.Format = parameters->BackBufferFormat;
  mode.ScanLineOrdering = D3DSCANLINEORDERING_PROGRESSIVE;
  IDirect3DDevice9Ex* made = nullptr;
  const HRESULT result = static_cast<IDirect3D9Ex*>(direct3d)->CreateDeviceEx(
      D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, flags, parameters, parameters->Windowed ? nullptr : &mode, &made);
  *device = made;
  return result;
}

// --still-drawing and --present-through-chain: the system's functions the ones below everything else call on to,
// how often a present that does not wait finds the device still drawing, and the presents counted.
struct BusyDevice {
  Method chainPresent = nullptr;
  Method presentEx = nullptr;
  bool throughChain = false;
  LONG every = 0;
  LONG presents = 0;
};
BusyDevice g_busy;

bool StillDrawing(DWORD flags) {
  if (g_busy.every == 0 || (flags & D3DPRESENT_DONOTWAIT) == 0 ||
      InterlockedIncrement(&g_busy.presents) % g_busy.every != 0) {
    return false;
  }
  g_report->stillDrawingMade.fetch_add(1);
  return true;
}

HRESULT STDMETHODCALLTYPE BusyChainPresent(IDirect3DSwapChain9* chain, const RECT* source, const RECT* destination,
                                           HWND window, const RGNDATA* dirty, DWORD flags) {
  if (StillDrawing(flags)) return D3DERR_WASSTILLDRAWING;
  return reinterpret_cast<ChainPresentFn>(g_busy.chainPresent)(chain, source, destination, window, dirty, flags);
}

using GetDeviceCapsFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice9*, D3DCAPS9*);
Method g_getDeviceCaps = nullptr;

// A device's capabilities without dynamic textures (--no-dynamic-textures).
HRESULT STDMETHODCALLTYPE CapsWithoutDynamicTextures(IDirect3DDevice9* device, D3DCAPS9* caps) {
  const HRESULT result = reinterpret_cast<GetDeviceCapsFn>(g_getDeviceCaps)(device, caps);
  if (SUCCEEDED(result) && caps) caps->Caps2 &= ~static_cast<DWORD>(D3DCAPS2_DYNAMICTEXTURES);
  return result;
}

// The device's present made as the present of its own swap chain, through that swap chain's table.
HRESULT PresentThroughChain(IDirect3DDevice9* device, const RECT* source, const RECT* destination, HWND window,
                            const RGNDATA* dirty, DWORD flags) {
  IDirect3DSwapChain9* chain = nullptr;
  HRESULT result = device->GetSwapChain(0, &chain);
  if (SUCCEEDED(result)) result = chain->Present(source, destination, window, dirty, flags);
  ReleaseAndClear(chain);
  g_report->throughChain.fetch_add(1);
  return result;
}

HRESULT STDMETHODCALLTYPE BusyPresentEx(IDirect3DDevice9Ex* device, const RECT* source, const RECT* destination,
                                        HWND window, const RGNDATA* dirty, DWORD flags) {
  if (StillDrawing(flags)) return D3DERR_WASSTILLDRAWING;
  if (g_busy.throughChain) return PresentThroughChain(device, source, destination, window, dirty, flags);
  return reinterpret_cast<PresentExFn>(g_busy.presentEx)(device, source, destination, window, dirty, flags);
}

HRESULT STDMETHODCALLTYPE ChainedPresent(IDirect3DDevice9* device, const RECT* source, const RECT* destination,
                                         HWND window, const RGNDATA* dirty) {
  return PresentThroughChain(device, source, destination, window, dirty, 0);
}

// Loads the system's own d3d9.dll (not the d3d9.dll the game loads by name, which may be an overlay's), makes a
// throwaway device of the game's kind on a hidden window to reach the tables of its devices and swap chains, and
// puts the busy presents, or those through the swap chain, there, before anything else can patch them.
bool PatchTheSystemBelow(const Options& options, HINSTANCE instance) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  IDirect3D9* direct3d = CreateThrough(LoadLibraryW((std::wstring(folder, length) + L"\\d3d9.dll").c_str()), g_ex);
  HWND window = CreateWindowA("VaVazuTestGame", "throwaway", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64, nullptr, nullptr,
                              instance, nullptr);
  D3DPRESENT_PARAMETERS parameters{};
  parameters.BackBufferWidth = 64;
  parameters.BackBufferHeight = 64;
  parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
  parameters.BackBufferCount = 1;
  parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
  parameters.hDeviceWindow = window;
  parameters.Windowed = TRUE;
  IDirect3DDevice9* device = nullptr;
  IDirect3DSwapChain9* chain = nullptr;
  bool patched = direct3d && window &&
                 SUCCEEDED(CreateDeviceOf(direct3d, g_ex, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &parameters,
                                          &device)) &&
                 SUCCEEDED(device->GetSwapChain(0, &chain));
  if (patched) {
    const SystemSlots9& slots = kSystemSlots9;
    g_busy.every = static_cast<LONG>(options.stillDrawingEvery);
    g_busy.throughChain = options.presentThroughChain;
    g_busy.chainPresent = TableOf(chain)[slots.swapChainPresent];
    patched = options.stillDrawingEvery == 0 || WriteSlot(TableOf(chain), slots.swapChainPresent, &BusyChainPresent);
    if (options.noDynamicTextures) {
      g_getDeviceCaps = TableOf(device)[slots.deviceGetDeviceCaps];
      patched = patched && WriteSlot(TableOf(device), slots.deviceGetDeviceCaps, &CapsWithoutDynamicTextures);
    }
    if (options.presentThroughChain) {
      patched = patched && WriteSlot(TableOf(device), slots.devicePresent, &ChainedPresent);
    }
    if (g_ex) {
      g_busy.presentEx = TableOf(device)[slots.devicePresentEx];
      patched = patched && WriteSlot(TableOf(device), slots.devicePresentEx, &BusyPresentEx);
    }
  }
  ReleaseAndClear(chain);
  ReleaseAndClear(device);
  ReleaseAndClear(direct3d);
  if (window) DestroyWindow(window);
  // The system's library stays loaded: its tables and these functions are in use for the process's life.
  return patched;
}

// Calls `present` again for as long as it finds the device still drawing, counting those calls.
template <class Present>
HRESULT UntilDrawn(Present present) {
  HRESULT result = present();
  while (result == D3DERR_WASSTILLDRAWING) {
    g_report->stillDrawing.fetch_add(1);
    result = present();
  }
  return result;
}

// A vertex declaration laid out as kOddVertexFormat, and vs.1.1 "dcl_position v0; mov oPos, v0".
const D3DVERTEXELEMENT9 kOddDeclaration[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    {0, 32, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1},
    D3DDECL_END()};
const DWORD kVertexShader[] = {0xFFFE0101, 0x0000001F, 0x80000000, 0x900F0000,
                               0x00000001, 0xC00F0000, 0x90E40000, 0x0000FFFF};

struct OddSamplerState {
  DWORD sampler;
  D3DSAMPLERSTATETYPE type;
  DWORD odd;
  DWORD other;
  const char* name;
};

// The states only Direct3D 9 has, or keeps apart: sampler states, the scissor rectangle and its test, sRGB writes,
// a stream's frequency, and in turn a vertex declaration with a vertex shader or a vertex format alone, with shader
// constants and a pixel shader.
struct OddStates9 {
  bool Create(IDirect3DDevice9* device) {
    return SUCCEEDED(device->CreateVertexDeclaration(kOddDeclaration, &declaration)) &&
           SUCCEEDED(device->CreateVertexShader(kVertexShader, &vertexShader)) &&
           SUCCEEDED(device->CreatePixelShader(kPixelShader, &pixelShader));
  }
  void Release(IDirect3DDevice9* device) {
    device->SetVertexDeclaration(nullptr);
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    ReleaseAndClear(declaration);
    ReleaseAndClear(vertexShader);
    ReleaseAndClear(pixelShader);
  }
  void Set(IDirect3DDevice9* device, bool odd, bool withDeclaration) const {
    for (const OddSamplerState& s : kSamplerStates) device->SetSamplerState(s.sampler, s.type, odd ? s.odd : s.other);
    for (const OddRenderState& s : kRenderStates) device->SetRenderState(s.state, odd ? s.odd : s.other);
    if (odd) device->SetScissorRect(&kScissor);
    device->SetStreamSourceFreq(0, odd ? kOddFrequency : 1);
    device->SetVertexShaderConstantF(0, odd ? kOddConstants : kOtherConstants, 2);
    device->SetPixelShaderConstantF(1, odd ? kOddConstants : kOtherConstants, 2);
    if (odd && withDeclaration) {
      device->SetVertexDeclaration(declaration);
      device->SetVertexShader(vertexShader);
    } else {
      device->SetFVF(odd ? kOddVertexFormat : D3DFVF_XYZ);
      device->SetVertexShader(nullptr);
    }
    device->SetPixelShader(odd ? pixelShader : nullptr);
  }
  template <class Mismatch>
  void Check(IDirect3DDevice9* device, bool withDeclaration, Mismatch mismatch) const {
    DWORD value = 0;
    for (const OddSamplerState& s : kSamplerStates) {
      if (FAILED(device->GetSamplerState(s.sampler, s.type, &value)) || value != s.odd) mismatch(s.name, s.odd, value);
    }
    for (const OddRenderState& s : kRenderStates) {
      if (FAILED(device->GetRenderState(s.state, &value)) || value != s.odd) mismatch(s.name, s.odd, value);
    }
    RECT scissor{};
    device->GetScissorRect(&scissor);
    if (!EqualRect(&scissor, &kScissor)) {
      mismatch("scissor rectangle", static_cast<DWORD>(kScissor.right), scissor.right);
    }
    UINT frequency = 0;
    device->GetStreamSourceFreq(0, &frequency);
    if (frequency != kOddFrequency) mismatch("stream 0 frequency", kOddFrequency, frequency);
    float constants[8] = {};
    device->GetVertexShaderConstantF(0, constants, 2);
    if (std::memcmp(constants, kOddConstants, sizeof constants) != 0) mismatch("vertex shader constants", 1, 0);
    device->GetPixelShaderConstantF(1, constants, 2);
    if (std::memcmp(constants, kOddConstants, sizeof constants) != 0) mismatch("pixel shader constants", 1, 0);
    // A declaration set unsets the vertex format, which reads as 0.
    device->GetFVF(&value);
    const DWORD format = withDeclaration ? 0 : kOddVertexFormat;
    if (value != format) mismatch("vertex format", format, value);
    IDirect3DVertexDeclaration9* boundDeclaration = nullptr;
    IDirect3DVertexShader9* boundVertexShader = nullptr;
    IDirect3DPixelShader9* boundPixelShader = nullptr;
    device->GetVertexDeclaration(&boundDeclaration);
    device->GetVertexShader(&boundVertexShader);
    device->GetPixelShader(&boundPixelShader);
    if (withDeclaration && boundDeclaration != declaration) mismatch("vertex declaration", 1, 0);
    if (!withDeclaration && !boundDeclaration) mismatch("vertex format's declaration", 1, 0);
    if (boundVertexShader != (withDeclaration ? vertexShader : nullptr)) mismatch("vertex shader", withDeclaration, 0);
    if (boundPixelShader != pixelShader) mismatch("pixel shader", 1, 0);
    ReleaseAndClear(boundDeclaration);
    ReleaseAndClear(boundVertexShader);
    ReleaseAndClear(boundPixelShader);
  }

  static constexpr OddSamplerState kSamplerStates[] = {
      {0, D3DSAMP_ADDRESSU, D3DTADDRESS_MIRROR, D3DTADDRESS_WRAP, "sampler 0.ADDRESSU"},
      {0, D3DSAMP_ADDRESSV, D3DTADDRESS_BORDER, D3DTADDRESS_WRAP, "sampler 0.ADDRESSV"},
      {0, D3DSAMP_BORDERCOLOR, 0x11223344, 0, "sampler 0.BORDERCOLOR"},
      {0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR, D3DTEXF_POINT, "sampler 0.MAGFILTER"},
      {0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR, D3DTEXF_POINT, "sampler 0.MINFILTER"},
      {0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR, D3DTEXF_NONE, "sampler 0.MIPFILTER"},
      {0, D3DSAMP_SRGBTEXTURE, TRUE, FALSE, "sampler 0.SRGBTEXTURE"},
      {1, D3DSAMP_MAXANISOTROPY, 4, 1, "sampler 1.MAXANISOTROPY"},
      {1, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP, D3DTADDRESS_WRAP, "sampler 1.ADDRESSU"},
  };
  static constexpr OddRenderState kRenderStates[] = {
      {D3DRS_SCISSORTESTENABLE, TRUE, FALSE, "SCISSORTESTENABLE"},
      {D3DRS_SRGBWRITEENABLE, TRUE, FALSE, "SRGBWRITEENABLE"},
      {D3DRS_SEPARATEALPHABLENDENABLE, TRUE, FALSE, "SEPARATEALPHABLENDENABLE"},
      {D3DRS_SRCBLENDALPHA, D3DBLEND_INVDESTALPHA, D3DBLEND_ONE, "SRCBLENDALPHA"},
  };
  static constexpr RECT kScissor = {16, 24, 200, 150};
  static constexpr UINT kOddFrequency = D3DSTREAMSOURCE_INDEXEDDATA | 3;
  static constexpr float kOddConstants[8] = {1.5f, -2.0f, 0.25f, 8.0f, 3.0f, 0.5f, -1.0f, 2.0f};
  static constexpr float kOtherConstants[8] = {};
  IDirect3DVertexDeclaration9* declaration = nullptr;
  IDirect3DVertexShader9* vertexShader = nullptr;
  IDirect3DPixelShader9* pixelShader = nullptr;
};

// Direct3D 9's part of the game (CGame in game_core.h; Direct3D8 in direct3d8.cpp lists what each part gives).
struct Direct3D9 {
  static constexpr int kVersion = 9;
  using Direct3D = IDirect3D9;
  using Device = IDirect3DDevice9;
  using SwapChain = IDirect3DSwapChain9;
  using Surface = IDirect3DSurface9;
  using BaseTexture = IDirect3DBaseTexture9;
  using Texture = IDirect3DTexture9;
  using CubeTexture = IDirect3DCubeTexture9;
  using VolumeTexture = IDirect3DVolumeTexture9;
  using Volume = IDirect3DVolume9;
  using VertexBuffer = IDirect3DVertexBuffer9;
  using IndexBuffer = IDirect3DIndexBuffer9;
  using Caps = D3DCAPS9;
  using Viewport = D3DVIEWPORT9;
  using Material = D3DMATERIAL9;
  using StateBlock = IDirect3DStateBlock9*;
  using MoreStates = OddStates9;
  static constexpr const char* kCreateName = "Direct3DCreate9";
  static constexpr bool kIndicesKeepTheBaseVertex = false;
  static constexpr const GUID& kTextureId = IID_IDirect3DTexture9;
  static constexpr const GUID& kCubeTextureId = IID_IDirect3DCubeTexture9;
  static constexpr const GUID& kVolumeTextureId = IID_IDirect3DVolumeTexture9;
  static constexpr const GUID& kSwapChainId = IID_IDirect3DSwapChain9;

  // Nothing refuses the game's textures here.
  struct GameCreating {
    GameCreating() {}
  };

  static const char* PrepareTheSystem(const Options& options, HINSTANCE instance) {
    g_ex = options.api == Options::Api::Direct3D9Ex;
    // "d3d9.dll" by name first: once the system's own is loaded, a load by that name would find it and never the
    // library beside the game.
    const bool below = options.stillDrawingEvery != 0 || options.presentThroughChain || options.noDynamicTextures;
    if (below) LoadLibraryA("d3d9.dll");
    if (below && !PatchTheSystemBelow(options, instance)) {
      return "patching the system's tables";
    }
    return nullptr;
  }
  static IDirect3D9* Create(const Options&) { return CreateThrough(LoadLibraryA("d3d9.dll"), g_ex); }
  static HRESULT CreateDevice(IDirect3D9* direct3d, HWND window, DWORD flags, D3DPRESENT_PARAMETERS* parameters,
                              IDirect3DDevice9** device) {
    return CreateDeviceOf(direct3d, g_ex, window, flags, parameters, device);
  }
  static void DeviceMade(IDirect3DDevice9* device, const Options&) {
    IDirect3DTexture9* texture = nullptr;
    g_report->managedPool.store(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr));
    ReleaseAndClear(texture);
  }
  static D3DPOOL ManagedPool(const Options& options) {
    return options.api == Options::Api::Direct3D9Ex ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
  }
  static D3DFORMAT BackBufferFormat(Options::Format format) {
    using Format = Options::Format;
    return format == Format::A8R8G8B8      ? D3DFMT_A8R8G8B8
           : format == Format::R5G6B5      ? D3DFMT_R5G6B5
           : format == Format::X1R5G5B5    ? D3DFMT_X1R5G5B5
           : format == Format::A2R10G10B10 ? D3DFMT_A2R10G10B10
                                           : D3DFMT_X8R8G8B8;
  }
  static D3DSWAPEFFECT SwapEffect(Options::Swap swap) {
    using Swap = Options::Swap;
    return swap == Swap::Copy      ? D3DSWAPEFFECT_COPY
           : swap == Swap::Flip    ? D3DSWAPEFFECT_FLIP
           : swap == Swap::FlipEx  ? D3DSWAPEFFECT_FLIPEX
           : swap == Swap::Overlay ? D3DSWAPEFFECT_OVERLAY
                                   : D3DSWAPEFFECT_DISCARD;
  }

  static HRESULT CreateTexture(IDirect3DDevice9* device, UINT width, UINT height, UINT levels, DWORD usage,
                               D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture) {
    return device->CreateTexture(width, height, levels, usage, format, pool, texture, nullptr);
  }
  static HRESULT CreateCubeTexture(IDirect3DDevice9* device, UINT edge, UINT levels, DWORD usage, D3DFORMAT format,
                                   D3DPOOL pool, IDirect3DCubeTexture9** texture) {
    return device->CreateCubeTexture(edge, levels, usage, format, pool, texture, nullptr);
  }
  static HRESULT CreateVolumeTexture(IDirect3DDevice9* device, UINT width, UINT height, UINT depth, UINT levels,
                                     DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture9** texture) {
    return device->CreateVolumeTexture(width, height, depth, levels, usage, format, pool, texture, nullptr);
  }
  static HRESULT CreateVertexBuffer(IDirect3DDevice9* device, UINT length, DWORD usage, DWORD format, D3DPOOL pool,
                                    IDirect3DVertexBuffer9** buffer) {
    return device->CreateVertexBuffer(length, usage, format, pool, buffer, nullptr);
  }
  static HRESULT CreateIndexBuffer(IDirect3DDevice9* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                   IDirect3DIndexBuffer9** buffer) {
    return device->CreateIndexBuffer(length, usage, format, pool, buffer, nullptr);
  }
  static HRESULT CreateRenderTarget(IDirect3DDevice9* device, UINT width, UINT height, D3DFORMAT format,
                                    IDirect3DSurface9** surface) {
    return device->CreateRenderTarget(width, height, format, D3DMULTISAMPLE_NONE, 0, FALSE, surface, nullptr);
  }
  static HRESULT CreateDepthStencil(IDirect3DDevice9* device, UINT width, UINT height, D3DFORMAT format,
                                    IDirect3DSurface9** surface) {
    return device->CreateDepthStencilSurface(width, height, format, D3DMULTISAMPLE_NONE, 0, FALSE, surface, nullptr);
  }
  static HRESULT CreateImage(IDirect3DDevice9* device, UINT width, UINT height, D3DFORMAT format,
                             IDirect3DSurface9** surface) {
    return device->CreateOffscreenPlainSurface(width, height, format, D3DPOOL_SYSTEMMEM, surface, nullptr);
  }
  static HRESULT Lock(IDirect3DVertexBuffer9* buffer, void** data) { return buffer->Lock(0, 0, data, 0); }
  static HRESULT BackBuffer(IDirect3DDevice9* device, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** out) {
    return device->GetBackBuffer(0, index, type, out);
  }
  static void SetFvf(IDirect3DDevice9* device, DWORD format) { device->SetFVF(format); }
  static void SetStream(IDirect3DDevice9* device, UINT stream, IDirect3DVertexBuffer9* buffer, UINT stride) {
    device->SetStreamSource(stream, buffer, 0, stride);
  }
  static void GetStream(IDirect3DDevice9* device, UINT stream, IDirect3DVertexBuffer9** buffer, UINT* stride) {
    UINT offset = 0;
    device->GetStreamSource(stream, buffer, &offset, stride);
  }
  static void SetIndices(IDirect3DDevice9* device, IDirect3DIndexBuffer9* indices, UINT /*base*/) {
    device->SetIndices(indices);
  }
  static void GetIndices(IDirect3DDevice9* device, IDirect3DIndexBuffer9** indices, UINT* base) {
    device->GetIndices(indices);
    *base = 0;
  }
  static void GetTarget(IDirect3DDevice9* device, IDirect3DSurface9** target) { device->GetRenderTarget(0, target); }
  static HRESULT SetTargets(IDirect3DDevice9* device, IDirect3DSurface9* target, IDirect3DSurface9* depth) {
    const HRESULT result = device->SetRenderTarget(0, target);
    device->SetDepthStencilSurface(depth);
    return result;
  }
  static void EndStateBlock(IDirect3DDevice9* device, IDirect3DStateBlock9** block) { device->EndStateBlock(block); }
  static void CreateStateBlock(IDirect3DDevice9* device, IDirect3DStateBlock9** block) {
    device->CreateStateBlock(D3DSBT_ALL, block);
  }
  static void ApplyStateBlock(IDirect3DDevice9*, IDirect3DStateBlock9* block) {
    if (block) block->Apply();
  }
  static void DeleteStateBlock(IDirect3DDevice9*, IDirect3DStateBlock9*& block) { ReleaseAndClear(block); }
  // PresentEx on an Ex device; otherwise Present, or the device's swap chain's Present where it must not wait.
  static HRESULT Present(IDirect3DDevice9* device, const RECT* source, const Options& options) {
    const DWORD flags = options.presentDoNotWait ? D3DPRESENT_DONOTWAIT : 0;
    return UntilDrawn([&] {
      if (g_ex) return static_cast<IDirect3DDevice9Ex*>(device)->PresentEx(source, nullptr, nullptr, nullptr, flags);
      if (flags == 0) return device->Present(source, nullptr, nullptr, nullptr);
      IDirect3DSwapChain9* chain = nullptr;
      HRESULT result = device->GetSwapChain(0, &chain);
      if (SUCCEEDED(result)) result = chain->Present(source, nullptr, nullptr, nullptr, flags);
      ReleaseAndClear(chain);
      return result;
    });
  }
  static void PresentChain(IDirect3DSwapChain9* chain, const Options& options) {
    const DWORD flags = options.presentDoNotWait ? D3DPRESENT_DONOTWAIT : 0;
    UntilDrawn([&] { return chain->Present(nullptr, nullptr, nullptr, nullptr, flags); });
  }
  // A vertex shader or a pixel shader: made, set and released.
  static bool ShaderRound(IDirect3DDevice9* device, UINT round) {
    HRESULT set = E_FAIL;
    if (round % 2 == 0) {
      IDirect3DVertexShader9* shader = nullptr;
      if (FAILED(device->CreateVertexShader(kVertexShader, &shader))) return false;
      set = device->SetVertexShader(shader);
      device->SetVertexShader(nullptr);
      shader->Release();
    } else {
      IDirect3DPixelShader9* shader = nullptr;
      if (FAILED(device->CreatePixelShader(kPixelShader, &shader))) return false;
      set = device->SetPixelShader(shader);
      device->SetPixelShader(nullptr);
      shader->Release();
    }
    return SUCCEEDED(set);
  }
  static HRESULT ProcessVertices(IDirect3DDevice9* device, UINT count, IDirect3DVertexBuffer9* destination) {
    return device->ProcessVertices(0, 0, count, destination, nullptr, 0);
  }
};

}  // namespace

int RunDirect3D9(const Options& options) { return RunGame<Direct3D9>(options); }

}  // namespace testgame
