// The test game's Direct3D 8: its part of the game (the interfaces, the calls whose signatures are its own, the
// states only it has), and the other Direct3D 8s the game puts on the system's before its first call of it.
#include <windows.h>
// Direct3D's interface identifiers, for GetContainer, are defined here.
#include <initguid.h>
#include <d3d8.h>

#include <map>

#include "tests/game/counted_tables.h"
#include "tests/game/game_core.h"
#include "tests/game/system_slots.h"

namespace testgame {
namespace {

// Another Direct3D 8 put on the system's: slots of the method tables that all the system's objects of an interface
// share, redirected before the imported Direct3DCreate8 runs (so before an overlay in the game's folder patches
// them too, and finds these functions there as the system's).
using CopyRectsFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice8*, IDirect3DSurface8*, const RECT*, UINT,
                                                IDirect3DSurface8*, const POINT*);
using DevicePresentFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice8*, const RECT*, const RECT*, HWND,
                                                    const RGNDATA*);
using ChainPresentFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DSwapChain8*, const RECT*, const RECT*, HWND,
                                                   const RGNDATA*);
using CreateDeviceFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3D8*, UINT, D3DDEVTYPE, HWND, DWORD,
                                                   D3DPRESENT_PARAMETERS*, IDirect3DDevice8**);
using CreateChainFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice8*, D3DPRESENT_PARAMETERS*, IDirect3DSwapChain8**);
using EndSceneFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice8*);
using CreateTextureFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice8*, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                                    IDirect3DTexture8**);

struct SystemTables {
  Method* device = nullptr;             // the table all the system's devices share
  std::vector<Method> deviceAsMade;     // its slots before anything was patched (--restore-table)
  std::vector<Method> privateDevice;    // the table of every second device (--second-table)
  std::vector<Method> privateChain;     // and of its additional swap chains
  Method copyRects = nullptr;           // the system's own methods
  Method devicePresent = nullptr;
  Method chainPresent = nullptr;
  Method createDevice = nullptr;
  Method createChain = nullptr;
  Method createTexture = nullptr;
  bool flip = false;                    // the game's swap chains flip (--documented-flip rotates them)
  bool firstRectOnly = false;           // how the patched CopyRects copies
  bool textureCopiesRefused = false;
  LONG devicesMade = 0;
};
SystemTables g_system;
// --refuse-textures: until when, and whether the game itself is making its resources.
ULONGLONG g_refuseUntil = 0;
bool g_gameCreating = false;

// --other-tool: what the tool's Present and EndScene replaced and call on to.
struct OtherTool {
  Method present = nullptr;
  Method endScene = nullptr;
};
OtherTool g_tool;

bool IsPlainTextureLevel(IDirect3DSurface8* surface) {
  D3DSURFACE_DESC description{};
  IDirect3DTexture8* texture = nullptr;
  if (FAILED(surface->GetDesc(&description)) || description.Pool != D3DPOOL_DEFAULT) return false;
  if (FAILED(surface->GetContainer(IID_IDirect3DTexture8, reinterpret_cast<void**>(&texture))) || !texture) {
    return false;
  }
  texture->Release();
  return (description.Usage & D3DUSAGE_RENDERTARGET) == 0;
}

bool InDefaultPool(IDirect3DSurface8* surface) {
  D3DSURFACE_DESC description{};
  return SUCCEEDED(surface->GetDesc(&description)) && description.Pool == D3DPOOL_DEFAULT;
}

// --first-rect-only: only the first rectangle of a call is copied, and the call succeeds all the same.
// --texture-copies-refused: no copy between the device's surfaces where either is a plain texture's level.
HRESULT STDMETHODCALLTYPE CopyAsAnotherSystem(IDirect3DDevice8* device, IDirect3DSurface8* source, const RECT* rects,
                                              UINT count, IDirect3DSurface8* destination, const POINT* points) {
  if (g_system.textureCopiesRefused && source && destination && InDefaultPool(source) &&
      InDefaultPool(destination) && (IsPlainTextureLevel(source) || IsPlainTextureLevel(destination))) {
    return D3DERR_INVALIDCALL;
  }
  if (!g_system.firstRectOnly) {
    return reinterpret_cast<CopyRectsFn>(g_system.copyRects)(device, source, rects, count, destination, points);
  }
  const HRESULT result =
      reinterpret_cast<CopyRectsFn>(g_system.copyRects)(device, source, rects, std::min(count, 1u), destination, points);
  return count > 1 && SUCCEEDED(result) ? D3D_OK : result;
}

HRESULT STDMETHODCALLTYPE RefusingCreateTexture(IDirect3DDevice8* device, UINT width, UINT height, UINT levels,
                                                DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DTexture8** texture) {
  if (!g_gameCreating && g_refuseUntil != 0 && GetTickCount64() < g_refuseUntil) {
    g_report->refusedTextures.fetch_add(1);
    return D3DERR_OUTOFVIDEOMEMORY;
  }
  return reinterpret_cast<CreateTextureFn>(g_system.createTexture)(device, width, height, levels, usage, format, pool,
                                                                  texture);
}

HRESULT STDMETHODCALLTYPE ToolPresent(IDirect3DDevice8* device, const RECT* source, const RECT* destination,
                                      HWND window, const RGNDATA* dirty) {
  g_report->toolPresents.fetch_add(1);
  return reinterpret_cast<DevicePresentFn>(g_tool.present)(device, source, destination, window, dirty);
}

HRESULT STDMETHODCALLTYPE ToolEndScene(IDirect3DDevice8* device) {
  g_report->toolEndScenes.fetch_add(1);
  return reinterpret_cast<EndSceneFn>(g_tool.endScene)(device);
}

// The tool's Present and EndScene into `table`, calling on to what was there.
bool PatchAsTheTool(Method* table) {
  const testgame::SystemSlots& slots = testgame::kSystemSlots;
  g_tool.present = table[slots.devicePresent];
  g_tool.endScene = table[slots.deviceEndScene];
  return WriteSlot(table, slots.devicePresent, &ToolPresent) && WriteSlot(table, slots.deviceEndScene, &ToolEndScene);
}

// --documented-flip: what each swap chain (the device's own under the device's key) presented last, its "front
// buffer", black at first; and the copy of the frame being presented.
struct FrontBuffer {
  IDirect3DSurface8* front = nullptr;
  IDirect3DSurface8* next = nullptr;
};
std::map<void*, FrontBuffer> g_fronts;

void DropFrontBuffers() {
  for (auto& [key, buffers] : g_fronts) {
    ReleaseAndClear(buffers.front);
    ReleaseAndClear(buffers.next);
  }
  g_fronts.clear();
}

bool SameSize(IDirect3DSurface8* surface, const D3DSURFACE_DESC& desc) {
  D3DSURFACE_DESC own{};
  return surface && SUCCEEDED(surface->GetDesc(&own)) && own.Width == desc.Width && own.Height == desc.Height &&
         own.Format == desc.Format;
}

IDirect3DSurface8* BlackSurface(IDirect3DDevice8* device, const D3DSURFACE_DESC& desc) {
  IDirect3DSurface8* surface = nullptr;
  D3DLOCKED_RECT locked{};
  if (FAILED(device->CreateImageSurface(desc.Width, desc.Height, desc.Format, &surface))) return nullptr;
  if (SUCCEEDED(surface->LockRect(&locked, nullptr, 0))) {
    const UINT bytes = desc.Format == D3DFMT_R5G6B5 || desc.Format == D3DFMT_X1R5G5B5 ? 2 : 4;
    for (UINT y = 0; y < desc.Height; ++y) {
      std::memset(static_cast<unsigned char*>(locked.pBits) + static_cast<std::ptrdiff_t>(y) * locked.Pitch, 0,
                  static_cast<std::size_t>(desc.Width) * bytes);
    }
    surface->UnlockRect();
  }
  return surface;
}

// The system's present, then the former front buffer put into the last back buffer, where the system leaves the
// frame it presented: after it, back buffer i holds what back buffer i + 1 held and the last one the former front.
template <class GetBackBuffer, class Present>
HRESULT PresentAsDocumented(void* key, GetBackBuffer backBuffer, Present present) {
  if (!g_system.flip) return present();
  std::vector<IDirect3DSurface8*> buffers;
  IDirect3DSurface8* buffer = nullptr;
  while (buffers.size() < 4 && SUCCEEDED(backBuffer(static_cast<UINT>(buffers.size()), &buffer)) && buffer) {
    buffers.push_back(buffer);
    buffer = nullptr;
  }
  IDirect3DDevice8* device = nullptr;
  D3DSURFACE_DESC desc{};
  if (buffers.empty() || FAILED(buffers[0]->GetDesc(&desc)) || FAILED(buffers[0]->GetDevice(&device))) {
    for (IDirect3DSurface8* b : buffers) b->Release();
    return present();
  }
  const auto copy = [device](IDirect3DSurface8* from, IDirect3DSurface8* to) {
    return reinterpret_cast<CopyRectsFn>(g_system.copyRects)(device, from, nullptr, 0, to, nullptr);
  };
  FrontBuffer& f = g_fronts[key];
  if (!SameSize(f.front, desc) || !SameSize(f.next, desc)) {
    ReleaseAndClear(f.front);
    ReleaseAndClear(f.next);
    f.front = BlackSurface(device, desc);
    f.next = BlackSurface(device, desc);
  }
  const bool copied = f.front && f.next && SUCCEEDED(copy(buffers[0], f.next));
  const HRESULT result = present();
  if (copied && SUCCEEDED(result) && SUCCEEDED(copy(f.front, buffers.back()))) std::swap(f.front, f.next);
  for (IDirect3DSurface8* b : buffers) b->Release();
  device->Release();
  return result;
}

HRESULT STDMETHODCALLTYPE DevicePresentAsDocumented(IDirect3DDevice8* device, const RECT* source,
                                                    const RECT* destination, HWND window, const RGNDATA* dirty) {
  return PresentAsDocumented(
      device, [device](UINT i, IDirect3DSurface8** b) { return device->GetBackBuffer(i, D3DBACKBUFFER_TYPE_MONO, b); },
      [&] {
        return reinterpret_cast<DevicePresentFn>(g_system.devicePresent)(device, source, destination, window, dirty);
      });
}

HRESULT STDMETHODCALLTYPE ChainPresentAsDocumented(IDirect3DSwapChain8* chain, const RECT* source,
                                                   const RECT* destination, HWND window, const RGNDATA* dirty) {
  return PresentAsDocumented(
      chain, [chain](UINT i, IDirect3DSurface8** b) { return chain->GetBackBuffer(i, D3DBACKBUFFER_TYPE_MONO, b); },
      [&] {
        return reinterpret_cast<ChainPresentFn>(g_system.chainPresent)(chain, source, destination, window, dirty);
      });
}

// --second-table: the swap chains of a device with a table of its own get one too, and so does every second device.
HRESULT STDMETHODCALLTYPE CreateChainWithATableOfItsOwn(IDirect3DDevice8* device, D3DPRESENT_PARAMETERS* parameters,
                                                        IDirect3DSwapChain8** chain) {
  const HRESULT result = reinterpret_cast<CreateChainFn>(g_system.createChain)(device, parameters, chain);
  if (SUCCEEDED(result) && chain && *chain) SetTableOf(*chain, g_system.privateChain.data());
  return result;
}

HRESULT STDMETHODCALLTYPE CreateEverySecondDeviceWithATableOfItsOwn(IDirect3D8* direct3d, UINT adapter,
                                                                    D3DDEVTYPE type, HWND window, DWORD flags,
                                                                    D3DPRESENT_PARAMETERS* parameters,
                                                                    IDirect3DDevice8** device) {
  const HRESULT result = reinterpret_cast<CreateDeviceFn>(g_system.createDevice)(direct3d, adapter, type, window,
                                                                                 flags, parameters, device);
  if (SUCCEEDED(result) && device && *device && InterlockedIncrement(&g_system.devicesMade) % 2 == 0) {
    SetTableOf(*device, g_system.privateDevice.data());
  }
  return result;
}

// A throwaway device of the Direct3D 8 that `library` holds, on a hidden window of its own, and with `withChain` an
// additional swap chain of it: what a component makes to reach the tables the objects of their classes share.
// Released with the object; the library stays loaded.
struct CThrowawayDevice {
  CThrowawayDevice(HMODULE library, HINSTANCE instance, bool withChain) {
    using CreateFn = IDirect3D8*(WINAPI*)(UINT);
    const auto create =
        library ? reinterpret_cast<CreateFn>(reinterpret_cast<void (*)()>(GetProcAddress(library, "Direct3DCreate8")))
                : nullptr;
    direct3d = create ? create(D3D_SDK_VERSION) : nullptr;
    window = CreateWindowA("VaVazuTestGame", "throwaway", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64, nullptr, nullptr,
                           instance, nullptr);
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 64;
    parameters.BackBufferHeight = 64;
    parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
    parameters.BackBufferCount = 1;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.hDeviceWindow = window;
    parameters.Windowed = TRUE;
    if (direct3d && window &&
        SUCCEEDED(direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                         D3DCREATE_HARDWARE_VERTEXPROCESSING, &parameters, &device)) &&
        withChain && FAILED(device->CreateAdditionalSwapChain(&parameters, &chain))) {
      chain = nullptr;
    }
    chainWanted = withChain;
  }
  ~CThrowawayDevice() {
    ReleaseAndClear(chain);
    ReleaseAndClear(device);
    ReleaseAndClear(direct3d);
    if (window) DestroyWindow(window);
  }
  CThrowawayDevice(const CThrowawayDevice&) = delete;
  CThrowawayDevice& operator=(const CThrowawayDevice&) = delete;

  bool made() const { return device && (!chainWanted || chain); }

  IDirect3D8* direct3d = nullptr;
  IDirect3DDevice8* device = nullptr;
  IDirect3DSwapChain8* chain = nullptr;
  HWND window = nullptr;
  bool chainWanted = false;
};

// Loads the system's own d3d8.dll (not the d3d8.dll the game imports, which may be an overlay's), makes a throwaway
// device with an additional swap chain on a hidden window to reach the tables, and patches them as asked.
bool PatchTheSystem(const Options& options, HINSTANCE instance) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  const CThrowawayDevice throwaway(LoadLibraryW((std::wstring(folder, length) + L"\\d3d8.dll").c_str()), instance,
                                   true);
  bool patched = throwaway.made();
  if (patched) {
    const testgame::SystemSlots& slots = testgame::kSystemSlots;
    Method* deviceTable = TableOf(throwaway.device);
    Method* chainTable = TableOf(throwaway.chain);
    Method* direct3dTable = TableOf(throwaway.direct3d);
    g_system.device = deviceTable;
    g_system.deviceAsMade.assign(deviceTable, deviceTable + slots.deviceSlots);
    g_system.copyRects = deviceTable[slots.deviceCopyRects];
    g_system.devicePresent = deviceTable[slots.devicePresent];
    g_system.chainPresent = chainTable[slots.swapChainPresent];
    g_system.createDevice = direct3dTable[slots.createDevice];
    g_system.createChain = deviceTable[slots.deviceCreateSwapChain];
    g_system.flip = options.swap == Options::Swap::Flip;
    g_system.firstRectOnly = options.firstRectOnly;
    g_system.textureCopiesRefused = options.textureCopiesRefused;
    if (options.firstRectOnly || options.textureCopiesRefused) {
      patched = WriteSlot(deviceTable, slots.deviceCopyRects, &CopyAsAnotherSystem);
    }
    if (options.documentedFlip) {
      patched = patched && WriteSlot(deviceTable, slots.devicePresent, &DevicePresentAsDocumented) &&
                WriteSlot(chainTable, slots.swapChainPresent, &ChainPresentAsDocumented);
    }
    if (options.refuseTexturesMs != 0) {
      g_system.createTexture = deviceTable[slots.deviceCreateTexture];
      patched = patched && WriteSlot(deviceTable, slots.deviceCreateTexture, &RefusingCreateTexture);
    }
    if (options.tool == Options::Tool::First) patched = patched && PatchAsTheTool(deviceTable);
    if (options.secondTable) {
      g_system.privateDevice.assign(static_cast<std::size_t>(slots.deviceSlots), nullptr);
      g_system.privateChain.assign(static_cast<std::size_t>(slots.swapChainSlots), nullptr);
      testgame::MakeCountedTables(deviceTable, g_system.privateDevice.data(), chainTable, g_system.privateChain.data());
      g_system.privateDevice[slots.deviceCreateSwapChain] = reinterpret_cast<Method>(&CreateChainWithATableOfItsOwn);
      patched = patched && WriteSlot(direct3dTable, slots.createDevice, &CreateEverySecondDeviceWithATableOfItsOwn);
    }
  }
  // The system's library stays loaded: its tables and these functions are in use for the process's life.
  return patched;
}

// --other-tool late: the tool finds the device table through a throwaway device of "d3d8.dll", whichever library
// that name loads, patches it and lets the device go.
bool PatchAsALateTool(HINSTANCE instance) {
  const CThrowawayDevice throwaway(LoadLibraryA("d3d8.dll"), instance, false);
  return throwaway.made() && PatchAsTheTool(TableOf(throwaway.device));
}


// The states only Direct3D 8 sets as the game sets them: its vertex shader is a vertex format, its pixel shader a
// handle, and its filters and addressing are stage states.
struct OddStates8 {
  bool Create(IDirect3DDevice8* device) {
    if (FAILED(device->CreatePixelShader(kPixelShader, &pixelShader))) pixelShader = 0;
    return true;
  }
  void Release(IDirect3DDevice8* device) {
    if (pixelShader) device->DeletePixelShader(pixelShader);
    pixelShader = 0;
  }
  void Set(IDirect3DDevice8* device, bool odd, bool /*recorded*/) const {
    for (const OddStageState& s : kStageStates) device->SetTextureStageState(s.stage, s.type, odd ? s.odd : s.other);
    device->SetVertexShader(odd ? kOddVertexFormat : D3DFVF_XYZ);
    device->SetPixelShader(odd ? pixelShader : 0);
  }
  template <class Mismatch>
  void Check(IDirect3DDevice8* device, bool /*recorded*/, Mismatch mismatch) const {
    DWORD value = 0;
    for (const OddStageState& s : kStageStates) {
      if (FAILED(device->GetTextureStageState(s.stage, s.type, &value)) || value != s.odd) mismatch(s.name, s.odd, value);
    }
    if (SUCCEEDED(device->GetVertexShader(&value)) && value != kOddVertexFormat) {
      mismatch("vertex shader", kOddVertexFormat, value);
    }
    if (SUCCEEDED(device->GetPixelShader(&value)) && value != pixelShader) mismatch("pixel shader", pixelShader, value);
  }

  static constexpr OddStageState kStageStates[] = {
      {0, D3DTSS_ADDRESSU, D3DTADDRESS_MIRROR, D3DTADDRESS_WRAP, "0.ADDRESSU"},
      {0, D3DTSS_ADDRESSV, D3DTADDRESS_BORDER, D3DTADDRESS_WRAP, "0.ADDRESSV"},
      {0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR, D3DTEXF_POINT, "0.MAGFILTER"},
      {0, D3DTSS_MINFILTER, D3DTEXF_LINEAR, D3DTEXF_POINT, "0.MINFILTER"},
      {0, D3DTSS_MIPFILTER, D3DTEXF_LINEAR, D3DTEXF_NONE, "0.MIPFILTER"},
  };
  DWORD pixelShader = 0;
};

#define NAMED(prefix, name) {prefix##name, #name}
// Direct3D 8's part of the game (CGame in game_core.h).
struct Direct3D8 {
  static constexpr int kVersion = 8;
  using Direct3D = IDirect3D8;
  using Device = IDirect3DDevice8;
  using SwapChain = IDirect3DSwapChain8;
  using Surface = IDirect3DSurface8;
  using BaseTexture = IDirect3DBaseTexture8;
  using Texture = IDirect3DTexture8;
  using CubeTexture = IDirect3DCubeTexture8;
  using VolumeTexture = IDirect3DVolumeTexture8;
  using Volume = IDirect3DVolume8;
  using VertexBuffer = IDirect3DVertexBuffer8;
  using IndexBuffer = IDirect3DIndexBuffer8;
  using Caps = D3DCAPS8;
  using Viewport = D3DVIEWPORT8;
  using Material = D3DMATERIAL8;
  using StateBlock = DWORD;
  using MoreStates = OddStates8;
  static constexpr const char* kCreateName = "Direct3DCreate8";
  static constexpr bool kIndicesKeepTheBaseVertex = true;
  static constexpr const GUID& kTextureId = IID_IDirect3DTexture8;
  static constexpr const GUID& kCubeTextureId = IID_IDirect3DCubeTexture8;
  static constexpr const GUID& kVolumeTextureId = IID_IDirect3DVolumeTexture8;
  static constexpr const GUID& kDeviceId = IID_IDirect3DDevice8;

  // The game's own textures are never refused (--refuse-textures).
  struct GameCreating {
    GameCreating() { g_gameCreating = true; }
    ~GameCreating() { g_gameCreating = false; }
    GameCreating(const GameCreating&) = delete;
    GameCreating& operator=(const GameCreating&) = delete;
  };

  static const char* PrepareTheSystem(const Options& options, HINSTANCE instance) {
    if ((options.restoreTable || options.firstRectOnly || options.textureCopiesRefused || options.documentedFlip ||
         options.secondTable || options.refuseTexturesMs != 0 || options.tool == Options::Tool::First) &&
        !PatchTheSystem(options, instance)) {
      return "patching the system's tables";
    }
    if (options.tool == Options::Tool::Late && !PatchAsALateTool(instance)) {
      return "patching as a tool through d3d8.dll";
    }
    return nullptr;
  }
  static IDirect3D8* Create(const Options&) { return Direct3DCreate8(D3D_SDK_VERSION); }
  static HRESULT CreateDevice(IDirect3D8* direct3d, HWND window, DWORD flags, D3DPRESENT_PARAMETERS* parameters,
                              IDirect3DDevice8** device) {
    return direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, flags, parameters, device);
  }
  static void DeviceMade(IDirect3DDevice8*, const Options& options) {
    if (options.refuseTexturesMs != 0 && g_refuseUntil == 0) g_refuseUntil = GetTickCount64() + options.refuseTexturesMs;
  }
  static D3DPOOL ManagedPool(const Options&) { return D3DPOOL_MANAGED; }
  static D3DFORMAT BackBufferFormat(Options::Format format) {
    using Format = Options::Format;
    return format == Format::A8R8G8B8   ? D3DFMT_A8R8G8B8
           : format == Format::R5G6B5   ? D3DFMT_R5G6B5
           : format == Format::X1R5G5B5 ? D3DFMT_X1R5G5B5
                                        : D3DFMT_X8R8G8B8;
  }
  static D3DSWAPEFFECT SwapEffect(Options::Swap swap) {
    return swap == Options::Swap::Copy ? D3DSWAPEFFECT_COPY
           : swap == Options::Swap::Flip ? D3DSWAPEFFECT_FLIP
                                         : D3DSWAPEFFECT_DISCARD;
  }

  static HRESULT CreateTexture(IDirect3DDevice8* device, UINT width, UINT height, UINT levels, DWORD usage,
                               D3DFORMAT format, D3DPOOL pool, IDirect3DTexture8** texture) {
    return device->CreateTexture(width, height, levels, usage, format, pool, texture);
  }
  static HRESULT CreateCubeTexture(IDirect3DDevice8* device, UINT edge, UINT levels, DWORD usage, D3DFORMAT format,
                                   D3DPOOL pool, IDirect3DCubeTexture8** texture) {
    return device->CreateCubeTexture(edge, levels, usage, format, pool, texture);
  }
  static HRESULT CreateVolumeTexture(IDirect3DDevice8* device, UINT width, UINT height, UINT depth, UINT levels,
                                     DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture8** texture) {
    return device->CreateVolumeTexture(width, height, depth, levels, usage, format, pool, texture);
  }
  static HRESULT CreateVertexBuffer(IDirect3DDevice8* device, UINT length, DWORD usage, DWORD format, D3DPOOL pool,
                                    IDirect3DVertexBuffer8** buffer) {
    return device->CreateVertexBuffer(length, usage, format, pool, buffer);
  }
  static HRESULT CreateIndexBuffer(IDirect3DDevice8* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                   IDirect3DIndexBuffer8** buffer) {
    return device->CreateIndexBuffer(length, usage, format, pool, buffer);
  }
  static HRESULT CreateRenderTarget(IDirect3DDevice8* device, UINT width, UINT height, D3DFORMAT format,
                                    IDirect3DSurface8** surface) {
    return device->CreateRenderTarget(width, height, format, D3DMULTISAMPLE_NONE, FALSE, surface);
  }
  static HRESULT CreateDepthStencil(IDirect3DDevice8* device, UINT width, UINT height, D3DFORMAT format,
                                    IDirect3DSurface8** surface) {
    return device->CreateDepthStencilSurface(width, height, format, D3DMULTISAMPLE_NONE, surface);
  }
  static HRESULT CreateImage(IDirect3DDevice8* device, UINT width, UINT height, D3DFORMAT format,
                             IDirect3DSurface8** surface) {
    return device->CreateImageSurface(width, height, format, surface);
  }
  static HRESULT Lock(IDirect3DVertexBuffer8* buffer, void** data) {
    return buffer->Lock(0, 0, reinterpret_cast<BYTE**>(data), 0);
  }
  static HRESULT BackBuffer(IDirect3DDevice8* device, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface8** out) {
    return device->GetBackBuffer(index, type, out);
  }
  static void SetFvf(IDirect3DDevice8* device, DWORD format) { device->SetVertexShader(format); }
  static void SetStream(IDirect3DDevice8* device, UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) {
    device->SetStreamSource(stream, buffer, stride);
  }
  static void GetStream(IDirect3DDevice8* device, UINT stream, IDirect3DVertexBuffer8** buffer, UINT* stride) {
    device->GetStreamSource(stream, buffer, stride);
  }
  static void SetIndices(IDirect3DDevice8* device, IDirect3DIndexBuffer8* indices, UINT base) {
    device->SetIndices(indices, base);
  }
  static void GetIndices(IDirect3DDevice8* device, IDirect3DIndexBuffer8** indices, UINT* base) {
    device->GetIndices(indices, base);
  }
  static void GetTarget(IDirect3DDevice8* device, IDirect3DSurface8** target) { device->GetRenderTarget(target); }
  static HRESULT SetTargets(IDirect3DDevice8* device, IDirect3DSurface8* target, IDirect3DSurface8* depth) {
    return device->SetRenderTarget(target, depth);
  }
  static void EndStateBlock(IDirect3DDevice8* device, DWORD* block) { device->EndStateBlock(block); }
  static void CreateStateBlock(IDirect3DDevice8* device, DWORD* block) { device->CreateStateBlock(D3DSBT_ALL, block); }
  static void ApplyStateBlock(IDirect3DDevice8* device, DWORD block) { device->ApplyStateBlock(block); }
  static void DeleteStateBlock(IDirect3DDevice8* device, DWORD& block) {
    if (block) device->DeleteStateBlock(block);
    block = 0;
  }
  static HRESULT Present(IDirect3DDevice8* device, const RECT* source, const Options&) {
    return device->Present(source, nullptr, nullptr, nullptr);
  }
  static void PresentChain(IDirect3DSwapChain8* chain, const Options&) {
    chain->Present(nullptr, nullptr, nullptr, nullptr);
  }
  // A fixed-function vertex shader (a declaration alone) or a pixel shader: made, set and deleted.
  static bool ShaderRound(IDirect3DDevice8* device, UINT round) {
    static const DWORD kDeclaration[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_END()};
    DWORD handle = 0;
    if (round % 2 == 0) {
      if (FAILED(device->CreateVertexShader(kDeclaration, nullptr, &handle, 0))) return false;
      const HRESULT set = device->SetVertexShader(handle);
      return SUCCEEDED(device->DeleteVertexShader(handle)) && SUCCEEDED(set);
    }
    if (FAILED(device->CreatePixelShader(kPixelShader, &handle))) return false;
    const HRESULT set = device->SetPixelShader(handle);
    return SUCCEEDED(device->DeletePixelShader(handle)) && SUCCEEDED(set);
  }
  static HRESULT ProcessVertices(IDirect3DDevice8* device, UINT count, IDirect3DVertexBuffer8* destination) {
    return device->ProcessVertices(0, 0, count, destination, 0);
  }

  // What only the Direct3D 8 game does with the tables it patched.
  static void CountIfPrivate(void* object) {
    if (!g_system.privateDevice.empty() &&
        (TableOf(object) == g_system.privateDevice.data() || TableOf(object) == g_system.privateChain.data())) {
      g_report->privatePresents.fetch_add(1);
    }
  }
  static void AfterPresents(const Options& options) {
    if (options.secondTable) g_report->countedPresents.store(static_cast<std::uint32_t>(testgame::CountedPresents()));
  }
  static void RestoreTheTable() {
    WriteSlots(g_system.device, g_system.deviceAsMade.data(), g_system.deviceAsMade.size());
  }
  static void DropFrontBuffers() { testgame::DropFrontBuffers(); }

  // The names of the states a game can read back (--defaults).
  static constexpr std::pair<D3DRENDERSTATETYPE, const char*> kRenderStates[] = {
      NAMED(D3DRS_, ZENABLE), NAMED(D3DRS_, FILLMODE), NAMED(D3DRS_, SHADEMODE), NAMED(D3DRS_, LINEPATTERN),
      NAMED(D3DRS_, ZWRITEENABLE), NAMED(D3DRS_, ALPHATESTENABLE), NAMED(D3DRS_, LASTPIXEL), NAMED(D3DRS_, SRCBLEND),
      NAMED(D3DRS_, DESTBLEND), NAMED(D3DRS_, CULLMODE), NAMED(D3DRS_, ZFUNC), NAMED(D3DRS_, ALPHAREF),
      NAMED(D3DRS_, ALPHAFUNC), NAMED(D3DRS_, DITHERENABLE), NAMED(D3DRS_, ALPHABLENDENABLE), NAMED(D3DRS_, FOGENABLE),
      NAMED(D3DRS_, SPECULARENABLE), NAMED(D3DRS_, ZVISIBLE), NAMED(D3DRS_, FOGCOLOR), NAMED(D3DRS_, FOGTABLEMODE),
      NAMED(D3DRS_, FOGSTART), NAMED(D3DRS_, FOGEND), NAMED(D3DRS_, FOGDENSITY), NAMED(D3DRS_, EDGEANTIALIAS),
      NAMED(D3DRS_, ZBIAS), NAMED(D3DRS_, RANGEFOGENABLE), NAMED(D3DRS_, STENCILENABLE), NAMED(D3DRS_, STENCILFAIL),
      NAMED(D3DRS_, STENCILZFAIL), NAMED(D3DRS_, STENCILPASS), NAMED(D3DRS_, STENCILFUNC), NAMED(D3DRS_, STENCILREF),
      NAMED(D3DRS_, STENCILMASK), NAMED(D3DRS_, STENCILWRITEMASK), NAMED(D3DRS_, TEXTUREFACTOR), NAMED(D3DRS_, WRAP0),
      NAMED(D3DRS_, WRAP1), NAMED(D3DRS_, WRAP2), NAMED(D3DRS_, WRAP3), NAMED(D3DRS_, WRAP4), NAMED(D3DRS_, WRAP5),
      NAMED(D3DRS_, WRAP6), NAMED(D3DRS_, WRAP7), NAMED(D3DRS_, CLIPPING), NAMED(D3DRS_, LIGHTING),
      NAMED(D3DRS_, AMBIENT), NAMED(D3DRS_, FOGVERTEXMODE), NAMED(D3DRS_, COLORVERTEX), NAMED(D3DRS_, LOCALVIEWER),
      NAMED(D3DRS_, NORMALIZENORMALS), NAMED(D3DRS_, DIFFUSEMATERIALSOURCE), NAMED(D3DRS_, SPECULARMATERIALSOURCE),
      NAMED(D3DRS_, AMBIENTMATERIALSOURCE), NAMED(D3DRS_, EMISSIVEMATERIALSOURCE), NAMED(D3DRS_, VERTEXBLEND),
      NAMED(D3DRS_, CLIPPLANEENABLE), NAMED(D3DRS_, SOFTWAREVERTEXPROCESSING), NAMED(D3DRS_, POINTSIZE),
      NAMED(D3DRS_, POINTSIZE_MIN), NAMED(D3DRS_, POINTSPRITEENABLE), NAMED(D3DRS_, POINTSCALEENABLE),
      NAMED(D3DRS_, POINTSCALE_A), NAMED(D3DRS_, POINTSCALE_B), NAMED(D3DRS_, POINTSCALE_C),
      NAMED(D3DRS_, MULTISAMPLEANTIALIAS), NAMED(D3DRS_, MULTISAMPLEMASK), NAMED(D3DRS_, PATCHEDGESTYLE),
      NAMED(D3DRS_, PATCHSEGMENTS), NAMED(D3DRS_, DEBUGMONITORTOKEN), NAMED(D3DRS_, POINTSIZE_MAX),
      NAMED(D3DRS_, INDEXEDVERTEXBLENDENABLE), NAMED(D3DRS_, COLORWRITEENABLE), NAMED(D3DRS_, TWEENFACTOR),
      NAMED(D3DRS_, BLENDOP), NAMED(D3DRS_, POSITIONORDER), NAMED(D3DRS_, NORMALORDER)};
  static constexpr std::pair<D3DTEXTURESTAGESTATETYPE, const char*> kStageStates[] = {
      NAMED(D3DTSS_, COLOROP), NAMED(D3DTSS_, COLORARG1), NAMED(D3DTSS_, COLORARG2), NAMED(D3DTSS_, ALPHAOP),
      NAMED(D3DTSS_, ALPHAARG1), NAMED(D3DTSS_, ALPHAARG2), NAMED(D3DTSS_, BUMPENVMAT00), NAMED(D3DTSS_, BUMPENVMAT01),
      NAMED(D3DTSS_, BUMPENVMAT10), NAMED(D3DTSS_, BUMPENVMAT11), NAMED(D3DTSS_, TEXCOORDINDEX),
      NAMED(D3DTSS_, ADDRESSU), NAMED(D3DTSS_, ADDRESSV), NAMED(D3DTSS_, BORDERCOLOR), NAMED(D3DTSS_, MAGFILTER),
      NAMED(D3DTSS_, MINFILTER), NAMED(D3DTSS_, MIPFILTER), NAMED(D3DTSS_, MIPMAPLODBIAS), NAMED(D3DTSS_, MAXMIPLEVEL),
      NAMED(D3DTSS_, MAXANISOTROPY), NAMED(D3DTSS_, BUMPENVLSCALE), NAMED(D3DTSS_, BUMPENVLOFFSET),
      NAMED(D3DTSS_, TEXTURETRANSFORMFLAGS), NAMED(D3DTSS_, ADDRESSW), NAMED(D3DTSS_, COLORARG0),
      NAMED(D3DTSS_, ALPHAARG0), NAMED(D3DTSS_, RESULTARG)};
  static constexpr std::pair<D3DTRANSFORMSTATETYPE, const char*> kTransforms[] = {
      {D3DTS_WORLD, "WORLD"}, NAMED(D3DTS_, VIEW), NAMED(D3DTS_, PROJECTION), NAMED(D3DTS_, TEXTURE0),
      NAMED(D3DTS_, TEXTURE1), NAMED(D3DTS_, TEXTURE2), NAMED(D3DTS_, TEXTURE3), NAMED(D3DTS_, TEXTURE4),
      NAMED(D3DTS_, TEXTURE5), NAMED(D3DTS_, TEXTURE6), NAMED(D3DTS_, TEXTURE7)};
};
#undef NAMED

}  // namespace

int RunDirect3D8(const Options& options) { return RunGame<Direct3D8>(options); }

}  // namespace testgame
