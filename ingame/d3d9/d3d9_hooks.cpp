#include "ingame/d3d9/d3d9_hooks.h"

#include <atomic>

#include "ingame/common/table_patch.h"
#include "ingame/d3d9/d3d9_slots.h"
#include "ingame/d3d9/device_overlay.h"
#include "ingame/d3d9/locked_methods.h"

namespace ingame::d3d9 {
namespace {

// Each holds the slots it patches: the plain interface's, or the further slots of the Ex interface's (every slot
// before those it leaves alone).
CPatchedTables<slots::kDirect3DSlotCount> g_direct3d;
CPatchedTables<slots::kDirect3DExSlotCount> g_direct3dEx;
CPatchedTables<slots::kDeviceSlotCount> g_devices;
CPatchedTables<slots::kDeviceExSlotCount> g_devicesEx;
CPatchedTables<slots::kSwapChainSlotCount> g_swapChains;
CPatchedTables<slots::kStateBlockSlotCount> g_stateBlocks;

// The function that was in `Slot` of the object's table, called with the arguments the game passed.
template <int Slot, class Result = HRESULT, class... Args>
Result CallDevice(IDirect3DDevice9* device, Args... args) {
  return reinterpret_cast<Result(STDMETHODCALLTYPE*)(IDirect3DDevice9*, Args...)>(OriginalDeviceMethod(device, Slot))(
      device, args...);
}

template <int Slot, class Result = HRESULT, class... Args>
Result CallSwapChain(IDirect3DSwapChain9* chain, Args... args) {
  return g_swapChains.Original<Result(STDMETHODCALLTYPE*)(IDirect3DSwapChain9*, Args...)>(chain, Slot)(chain, args...);
}

template <int Slot, class Result = HRESULT>
Result CallStateBlock(IDirect3DStateBlock9* block) {
  return g_stateBlocks.Original<Result(STDMETHODCALLTYPE*)(IDirect3DStateBlock9*)>(block, Slot)(block);
}

// What the overlay puts into the device's table, by what the devices of the process need: every device's present,
// reset, release, additional swap chains and recording of state blocks; on a pure device, the calls of the states
// the overlay draws with, which its mirror follows; on a multithreaded device, every method but those that touch
// nothing the overlay draws with, each a marked call (locked_methods.h). A slot the devices do not need stays the
// system's, and costs the game nothing.
enum HookLevel : int { kPlainHooks, kPureHooks, kLockedHooks };
// The hooks the devices of the process have needed so far: they only ever grow.
std::atomic<int> g_deviceHookLevel{kPlainHooks};

// A method that sets the states the overlay draws with: the system's, followed by the mirror of a pure device, and a
// marked call on a multithreaded one (CGameCallLock); on any other device, just the system's.
template <int Slot, class Follow, class... Args>
HRESULT Followed(IDirect3DDevice9* device, Follow follow, Args... args) {
  if (CDeviceOverlay* overlay = CDeviceOverlay::FindMirrored(device)) {
    return overlay->Followed([&] { return CallDevice<Slot>(device, args...); }, follow);
  }
  const CGameCallLock lock(device);
  return CallDevice<Slot>(device, args...);
}

// The device a state block belongs to. The block holds its device for as long as it lives, so the reference
// GetDevice adds goes back at once, through the device's table as any of the game's would.
IDirect3DDevice9* DeviceOf(IDirect3DStateBlock9* block) {
  IDirect3DDevice9* device = nullptr;
  if (FAILED(block->GetDevice(&device)) || !device) return nullptr;
  device->Release();
  return device;
}

// A state block's method that changes the device's states or the block's: followed as the device's own methods.
template <int Slot, class Follow>
HRESULT FollowedBlock(IDirect3DStateBlock9* block, Follow follow) {
  const auto call = [block] { return CallStateBlock<Slot>(block); };
  IDirect3DDevice9* device = DeviceOf(block);
  if (!device) return call();
  if (CDeviceOverlay* overlay = CDeviceOverlay::FindMirrored(device)) return overlay->Followed(call, follow);
  const CGameCallLock lock(device);
  return call();
}

// A device the game has just made: hooked, and given its overlay with the parameters of its first head.
void AttachOverlay(IDirect3DDevice9* device, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& parameters) {
  if (!HookDevice(device, behaviorFlags)) return;
  // The overlay draws into the first head's swap chain of a device made for an adapter group; that swap chain's
  // table, which every head's shares, is patched with the overlay (CDeviceOverlay::Attach, Direct3D9::OwnChain).
  CDeviceOverlay::Attach(device, parameters, behaviorFlags,
                         reinterpret_cast<CountMethod>(OriginalDeviceMethod(device, slots::kAddRef)),
                         reinterpret_cast<CountMethod>(OriginalDeviceMethod(device, slots::kRelease)));
}

HRESULT STDMETHODCALLTYPE CreateDevice(IDirect3D9* direct3d, UINT adapter, D3DDEVTYPE type, HWND focusWindow,
                                       DWORD behaviorFlags, D3DPRESENT_PARAMETERS* parameters,
                                       IDirect3DDevice9** device) noexcept {
  using Function = HRESULT(STDMETHODCALLTYPE*)(IDirect3D9*, UINT, D3DDEVTYPE, HWND, DWORD, D3DPRESENT_PARAMETERS*,
                                              IDirect3DDevice9**);
  const HRESULT result = g_direct3d.Original<Function>(direct3d, slots::kCreateDevice)(
      direct3d, adapter, type, focusWindow, behaviorFlags, parameters, device);
  if (SUCCEEDED(result) && device && *device && parameters) AttachOverlay(*device, behaviorFlags, *parameters);
  return result;
}

HRESULT STDMETHODCALLTYPE CreateDeviceEx(IDirect3D9Ex* direct3d, UINT adapter, D3DDEVTYPE type, HWND focusWindow,
                                         DWORD behaviorFlags, D3DPRESENT_PARAMETERS* parameters,
                                         D3DDISPLAYMODEEX* fullscreenMode, IDirect3DDevice9Ex** device) noexcept {
  using Function = HRESULT(STDMETHODCALLTYPE*)(IDirect3D9Ex*, UINT, D3DDEVTYPE, HWND, DWORD, D3DPRESENT_PARAMETERS*,
                                              D3DDISPLAYMODEEX*, IDirect3DDevice9Ex**);
  const HRESULT result = g_direct3dEx.Original<Function>(direct3d, slots::kCreateDeviceEx)(
      direct3d, adapter, type, focusWindow, behaviorFlags, parameters, fullscreenMode, device);
  if (SUCCEEDED(result) && device && *device && parameters) AttachOverlay(*device, behaviorFlags, *parameters);
  return result;
}

ULONG STDMETHODCALLTYPE Release(IDirect3DDevice9* device) noexcept {
  CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  return overlay ? overlay->Release() : CallDevice<slots::kRelease, ULONG>(device);
}

HRESULT STDMETHODCALLTYPE CreateAdditionalSwapChain(IDirect3DDevice9* device, D3DPRESENT_PARAMETERS* parameters,
                                                    IDirect3DSwapChain9** chain) noexcept {
  const auto create = [&] { return CallDevice<slots::kCreateAdditionalSwapChain>(device, parameters, chain); };
  CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  if (!overlay) return create();
  return overlay->Exclusively([&] {
    const HRESULT result = create();
    if (SUCCEEDED(result) && parameters && chain && *chain) overlay->AddChain(*chain, *parameters);
    return result;
  });
}

HRESULT STDMETHODCALLTYPE Reset(IDirect3DDevice9* device, D3DPRESENT_PARAMETERS* parameters) noexcept {
  const auto reset = [&] { return CallDevice<slots::kReset>(device, parameters); };
  CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  return overlay ? overlay->Reset(parameters, reset) : reset();
}

HRESULT STDMETHODCALLTYPE ResetEx(IDirect3DDevice9* device, D3DPRESENT_PARAMETERS* parameters,
                                  D3DDISPLAYMODEEX* fullscreenMode) noexcept {
  const auto reset = [&] { return CallDevice<slots::kResetEx>(device, parameters, fullscreenMode); };
  CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  return overlay ? overlay->Reset(parameters, reset) : reset();
}

HRESULT STDMETHODCALLTYPE Present(IDirect3DDevice9* device, const RECT* source, const RECT* destination,
                                  HWND window, const RGNDATA* dirty) noexcept {
  CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  const auto present = [&] { return CallDevice<slots::kPresent>(device, source, destination, window, dirty); };
  if (!overlay) return present();
  RepatchIfRestored(device);
  return overlay->Present(nullptr, source, window, 0, present);
}

HRESULT STDMETHODCALLTYPE PresentEx(IDirect3DDevice9* device, const RECT* source, const RECT* destination,
                                    HWND window, const RGNDATA* dirty, DWORD flags) noexcept {
  CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  const auto present = [&] {
    return CallDevice<slots::kPresentEx>(device, source, destination, window, dirty, flags);
  };
  if (!overlay) return present();
  RepatchIfRestored(device);
  return overlay->Present(nullptr, source, window, flags, present);
}

HRESULT STDMETHODCALLTYPE SetRenderTarget(IDirect3DDevice9* device, DWORD index, IDirect3DSurface9* target) noexcept {
  return Followed<slots::kSetRenderTarget>(
      device,
      [=](CStateMirror& m) {
        // A new first render target brings a viewport and a scissor rect over all of it.
        D3DSURFACE_DESC desc{};
        if (index == 0 && target && SUCCEEDED(target->GetDesc(&desc))) {
          m.SetRenderTarget(index, desc.Width, desc.Height);
        }
      },
      index, target);
}

HRESULT STDMETHODCALLTYPE SetViewport(IDirect3DDevice9* device, const D3DVIEWPORT9* viewport) noexcept {
  return Followed<slots::kSetViewport>(
      device, [viewport](CStateMirror& m) { if (viewport) m.SetViewport(*viewport); }, viewport);
}

HRESULT STDMETHODCALLTYPE SetScissorRect(IDirect3DDevice9* device, const RECT* rect) noexcept {
  return Followed<slots::kSetScissorRect>(device, [rect](CStateMirror& m) { if (rect) m.SetScissorRect(*rect); },
                                           rect);
}

HRESULT STDMETHODCALLTYPE SetRenderState(IDirect3DDevice9* device, D3DRENDERSTATETYPE state, DWORD value) noexcept {
  return Followed<slots::kSetRenderState>(
      device, [=](CStateMirror& m) { m.SetRenderState(state, value); }, state, value);
}

// The state blocks of a device whose states the overlay follows or whose calls it marks have their tables patched
// too: their Apply and Capture change the device's states or the block's.
bool StateBlocksFollowed() { return g_deviceHookLevel.load(std::memory_order_relaxed) != kPlainHooks; }

HRESULT STDMETHODCALLTYPE CreateStateBlock(IDirect3DDevice9* device, D3DSTATEBLOCKTYPE type,
                                           IDirect3DStateBlock9** block) noexcept {
  const HRESULT result = Followed<slots::kCreateStateBlock>(
      device, [=](CStateMirror& m) { if (block && *block) m.CreateStateBlock(type, *block); }, type, block);
  if (SUCCEEDED(result) && block && *block) HookStateBlock(*block);
  return result;
}

// While the game records a state block, the overlay draws nothing: its calls would be recorded into the game's
// block. So the start and end of recording are told to the overlay of every device, with no drawing between.
HRESULT STDMETHODCALLTYPE BeginStateBlock(IDirect3DDevice9* device) noexcept {
  const auto begin = [&] {
    return Followed<slots::kBeginStateBlock>(device, [](CStateMirror& m) { m.BeginStateBlock(); });
  };
  CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  if (!overlay) return begin();
  return overlay->Exclusively([&] {
    const HRESULT result = begin();
    if (SUCCEEDED(result)) overlay->SetRecording(true);
    return result;
  });
}

HRESULT STDMETHODCALLTYPE EndStateBlock(IDirect3DDevice9* device, IDirect3DStateBlock9** block) noexcept {
  const auto end = [&] {
    const HRESULT result = Followed<slots::kEndStateBlock>(
        device, [block](CStateMirror& m) { m.EndStateBlock(block ? *block : nullptr); }, block);
    if (SUCCEEDED(result) && block && *block && StateBlocksFollowed()) HookStateBlock(*block);
    return result;
  };
  CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  if (!overlay) return end();
  return overlay->Exclusively([&] {
    const HRESULT result = end();
    overlay->SetRecording(false);
    return result;
  });
}

HRESULT STDMETHODCALLTYPE SetTexture(IDirect3DDevice9* device, DWORD stage, IDirect3DBaseTexture9* texture) noexcept {
  return Followed<slots::kSetTexture>(device, [=](CStateMirror& m) { m.SetTexture(stage, texture); }, stage,
                                       texture);
}

HRESULT STDMETHODCALLTYPE SetTextureStageState(IDirect3DDevice9* device, DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                               DWORD value) noexcept {
  return Followed<slots::kSetTextureStageState>(
      device, [=](CStateMirror& m) { m.SetTextureStageState(stage, type, value); }, stage, type, value);
}

HRESULT STDMETHODCALLTYPE SetSamplerState(IDirect3DDevice9* device, DWORD sampler, D3DSAMPLERSTATETYPE type,
                                          DWORD value) noexcept {
  return Followed<slots::kSetSamplerState>(
      device, [=](CStateMirror& m) { m.SetSamplerState(sampler, type, value); }, sampler, type, value);
}

// Drawing from the game's memory leaves stream 0 empty.
HRESULT STDMETHODCALLTYPE DrawPrimitiveUP(IDirect3DDevice9* device, D3DPRIMITIVETYPE type, UINT count,
                                          const void* data, UINT stride) noexcept {
  return Followed<slots::kDrawPrimitiveUP>(device, [](CStateMirror& m) { m.DrawFromUserMemory(); }, type, count,
                                            data, stride);
}

HRESULT STDMETHODCALLTYPE DrawIndexedPrimitiveUP(IDirect3DDevice9* device, D3DPRIMITIVETYPE type, UINT minIndex,
                                                 UINT vertexCount, UINT count, const void* indices,
                                                 D3DFORMAT indexFormat, const void* data, UINT stride) noexcept {
  return Followed<slots::kDrawIndexedPrimitiveUP>(device, [](CStateMirror& m) { m.DrawFromUserMemory(); }, type,
                                                   minIndex, vertexCount, count, indices, indexFormat, data, stride);
}

HRESULT STDMETHODCALLTYPE SetVertexDeclaration(IDirect3DDevice9* device,
                                               IDirect3DVertexDeclaration9* declaration) noexcept {
  return Followed<slots::kSetVertexDeclaration>(
      device, [declaration](CStateMirror& m) { m.SetVertexDeclaration(declaration); }, declaration);
}

HRESULT STDMETHODCALLTYPE SetFVF(IDirect3DDevice9* device, DWORD fvf) noexcept {
  return Followed<slots::kSetFVF>(device, [fvf](CStateMirror& m) { m.SetFVF(fvf); }, fvf);
}

HRESULT STDMETHODCALLTYPE SetVertexShader(IDirect3DDevice9* device, IDirect3DVertexShader9* shader) noexcept {
  return Followed<slots::kSetVertexShader>(device, [shader](CStateMirror& m) { m.SetVertexShader(shader); },
                                            shader);
}

HRESULT STDMETHODCALLTYPE SetPixelShader(IDirect3DDevice9* device, IDirect3DPixelShader9* shader) noexcept {
  return Followed<slots::kSetPixelShader>(device, [shader](CStateMirror& m) { m.SetPixelShader(shader); }, shader);
}

HRESULT STDMETHODCALLTYPE SetStreamSource(IDirect3DDevice9* device, UINT stream, IDirect3DVertexBuffer9* buffer,
                                          UINT offset, UINT stride) noexcept {
  return Followed<slots::kSetStreamSource>(
      device, [=](CStateMirror& m) { m.SetStreamSource(stream, buffer, offset, stride); }, stream, buffer, offset,
      stride);
}

HRESULT STDMETHODCALLTYPE SetStreamSourceFreq(IDirect3DDevice9* device, UINT stream, UINT frequency) noexcept {
  return Followed<slots::kSetStreamSourceFreq>(
      device, [=](CStateMirror& m) { m.SetStreamSourceFreq(stream, frequency); }, stream, frequency);
}

HRESULT STDMETHODCALLTYPE SwapChainPresent(IDirect3DSwapChain9* chain, const RECT* source, const RECT* destination,
                                           HWND window, const RGNDATA* dirty, DWORD flags) noexcept {
  CDeviceOverlay* overlay = CDeviceOverlay::FindByChain(chain);
  const auto present = [&] {
    return CallSwapChain<slots::kSwapChainPresent>(chain, source, destination, window, dirty, flags);
  };
  return overlay ? overlay->Present(chain, source, window, flags, present) : present();
}

ULONG STDMETHODCALLTYPE SwapChainRelease(IDirect3DSwapChain9* chain) noexcept {
  CDeviceOverlay* overlay = CDeviceOverlay::FindByChain(chain);
  const auto release = [chain] { return CallSwapChain<slots::kSwapChainRelease, ULONG>(chain); };
  if (!overlay) return release();
  // The swap chain's last reference: the overlay lets go of it first. Its release may end the device, and the
  // device's overlay with it, so nothing of the overlay's is touched after it.
  chain->AddRef();
  if (release() == 1) overlay->RemoveChain(chain);
  return release();
}

HRESULT STDMETHODCALLTYPE StateBlockApply(IDirect3DStateBlock9* block) noexcept {
  return FollowedBlock<slots::kStateBlockApply>(block, [block](CStateMirror& m) { m.ApplyStateBlock(block); });
}

HRESULT STDMETHODCALLTYPE StateBlockCapture(IDirect3DStateBlock9* block) noexcept {
  return FollowedBlock<slots::kStateBlockCapture>(block, [block](CStateMirror& m) { m.CaptureStateBlock(block); });
}

ULONG STDMETHODCALLTYPE StateBlockRelease(IDirect3DStateBlock9* block) noexcept {
  const auto release = [block] { return CallStateBlock<slots::kStateBlockRelease, ULONG>(block); };
  IDirect3DDevice9* device = DeviceOf(block);
  CDeviceOverlay* overlay = device ? CDeviceOverlay::FindMirrored(device) : nullptr;
  if (!overlay) return release();
  // The block's last reference: the mirror forgets it first, since the next block may be made at its address. Its
  // release may end the device, and the device's overlay with it, so nothing of the overlay's is touched after it.
  block->AddRef();
  if (release() == 1) {
    overlay->Followed([] { return S_OK; }, [block](CStateMirror& m) { m.ReleaseStateBlock(block); });
  }
  return release();
}

template <class Hook>
Method AsMethod(Hook hook) {
  return reinterpret_cast<Method>(hook);
}

// What the overlay puts into each slot of a table: null where it leaves the slot alone.
struct Direct3DHooks {
  Method methods[slots::kDirect3DSlotCount] = {};
  Direct3DHooks() { methods[slots::kCreateDevice] = AsMethod(&CreateDevice); }
};

struct Direct3DExHooks {
  Method methods[slots::kDirect3DExSlotCount] = {};
  Direct3DExHooks() { methods[slots::kCreateDeviceEx] = AsMethod(&CreateDeviceEx); }
};

struct DeviceHooks {
  Method methods[slots::kDeviceSlotCount] = {};
  explicit DeviceHooks(HookLevel level) {
    if (level == kLockedHooks) LockedDeviceMethods(methods);
    methods[slots::kRelease] = AsMethod(&Release);
    methods[slots::kCreateAdditionalSwapChain] = AsMethod(&CreateAdditionalSwapChain);
    methods[slots::kReset] = AsMethod(&Reset);
    methods[slots::kPresent] = AsMethod(&Present);
    methods[slots::kBeginStateBlock] = AsMethod(&BeginStateBlock);
    methods[slots::kEndStateBlock] = AsMethod(&EndStateBlock);
    if (level == kPlainHooks) return;
    methods[slots::kSetRenderTarget] = AsMethod(&SetRenderTarget);
    methods[slots::kSetViewport] = AsMethod(&SetViewport);
    methods[slots::kSetScissorRect] = AsMethod(&SetScissorRect);
    methods[slots::kSetRenderState] = AsMethod(&SetRenderState);
    methods[slots::kCreateStateBlock] = AsMethod(&CreateStateBlock);
    methods[slots::kSetTexture] = AsMethod(&SetTexture);
    methods[slots::kSetTextureStageState] = AsMethod(&SetTextureStageState);
    methods[slots::kSetSamplerState] = AsMethod(&SetSamplerState);
    methods[slots::kDrawPrimitiveUP] = AsMethod(&DrawPrimitiveUP);
    methods[slots::kDrawIndexedPrimitiveUP] = AsMethod(&DrawIndexedPrimitiveUP);
    methods[slots::kSetVertexDeclaration] = AsMethod(&SetVertexDeclaration);
    methods[slots::kSetFVF] = AsMethod(&SetFVF);
    methods[slots::kSetVertexShader] = AsMethod(&SetVertexShader);
    methods[slots::kSetStreamSource] = AsMethod(&SetStreamSource);
    methods[slots::kSetStreamSourceFreq] = AsMethod(&SetStreamSourceFreq);
    methods[slots::kSetPixelShader] = AsMethod(&SetPixelShader);
  }
};

// The further slots of an Ex device's table: its present and reset, and on a multithreaded device its other methods
// as the plain ones.
struct DeviceExHooks {
  Method methods[slots::kDeviceExSlotCount] = {};
  explicit DeviceExHooks(HookLevel level) {
    if (level == kLockedHooks) LockedDeviceExMethods(methods);
    methods[slots::kPresentEx] = AsMethod(&PresentEx);
    methods[slots::kResetEx] = AsMethod(&ResetEx);
  }
};

struct SwapChainHooks {
  Method methods[slots::kSwapChainSlotCount] = {};
  SwapChainHooks() {
    methods[slots::kSwapChainRelease] = AsMethod(&SwapChainRelease);
    methods[slots::kSwapChainPresent] = AsMethod(&SwapChainPresent);
  }
};

struct StateBlockHooks {
  Method methods[slots::kStateBlockSlotCount] = {};
  StateBlockHooks() {
    methods[slots::kStateBlockRelease] = AsMethod(&StateBlockRelease);
    methods[slots::kStateBlockCapture] = AsMethod(&StateBlockCapture);
    methods[slots::kStateBlockApply] = AsMethod(&StateBlockApply);
  }
};

template <class Hooks>
const Hooks& TheHooks() {
  static const Hooks hooks;
  return hooks;
}

const DeviceHooks& TheDeviceHooks(HookLevel level) {
  static const DeviceHooks hooks[] = {DeviceHooks(kPlainHooks), DeviceHooks(kPureHooks), DeviceHooks(kLockedHooks)};
  return hooks[level];
}

const DeviceExHooks& TheDeviceExHooks(HookLevel level) {
  static const DeviceExHooks hooks[] = {DeviceExHooks(kPlainHooks), DeviceExHooks(kPureHooks),
                                        DeviceExHooks(kLockedHooks)};
  return hooks[level];
}

HookLevel CurrentLevel() { return static_cast<HookLevel>(g_deviceHookLevel.load()); }

// Whether the device is an Ex device whose table is the one its plain methods are called through: the further
// slots are patched only then.
bool IsExDevice(IDirect3DDevice9* device) {
  IDirect3DDevice9Ex* ex = nullptr;
  if (FAILED(device->QueryInterface(IID_IDirect3DDevice9Ex, reinterpret_cast<void**>(&ex))) || !ex) return false;
  const bool same = static_cast<IDirect3DDevice9*>(ex) == device;
  ex->Release();
  return same;
}

}  // namespace

Method OriginalDeviceMethod(const void* device, int slot) {
  return slot < slots::kDeviceSlotCount ? g_devices.OriginalMethod(device, slot)
                                         : g_devicesEx.OriginalMethod(device, slot);
}

bool HookDirect3D(IDirect3D9* direct3d) { return g_direct3d.Install(direct3d, TheHooks<Direct3DHooks>().methods); }

bool HookDirect3DEx(IDirect3D9Ex* direct3d) {
  return HookDirect3D(direct3d) && g_direct3dEx.Install(direct3d, TheHooks<Direct3DExHooks>().methods);
}

bool HookDevice(IDirect3DDevice9* device, DWORD behaviorFlags) {
  const HookLevel level = (behaviorFlags & D3DCREATE_MULTITHREADED) != 0 ? kLockedHooks
                          : (behaviorFlags & D3DCREATE_PUREDEVICE) != 0  ? kPureHooks
                                                                         : kPlainHooks;
  int before = g_deviceHookLevel.load();
  while (before < level && !g_deviceHookLevel.compare_exchange_weak(before, level)) {
  }
  // The tables patched before get the further hooks wherever they still hold the functions found there first.
  if (before < level) {
    g_devices.Repatch(TheDeviceHooks(level).methods);
    g_devicesEx.Repatch(TheDeviceExHooks(level).methods);
  }
  const bool ex = IsExDevice(device);
  if (!g_devices.Install(device, TheDeviceHooks(CurrentLevel()).methods)) return false;
  return !ex || g_devicesEx.Install(device, TheDeviceExHooks(CurrentLevel()).methods);
}

bool HookSwapChain(IDirect3DSwapChain9* chain) {
  return g_swapChains.Install(chain, TheHooks<SwapChainHooks>().methods);
}

bool HookStateBlock(IDirect3DStateBlock9* block) {
  return g_stateBlocks.Install(block, TheHooks<StateBlockHooks>().methods);
}

void RepatchIfRestored(IDirect3DDevice9* device) {
  // The slots without which the game's Reset and last Release would miss the overlay's objects: where someone has
  // written the originals back, the hooks go back in at once rather than with the worker's next look.
  const Method* const table = *reinterpret_cast<Method* const*>(device);
  if (table[slots::kRelease] == g_devices.OriginalMethod(device, slots::kRelease) ||
      table[slots::kReset] == g_devices.OriginalMethod(device, slots::kReset)) {
    RepatchTables();
  }
}

void RepatchTables() {
  g_direct3d.Repatch(TheHooks<Direct3DHooks>().methods);
  g_direct3dEx.Repatch(TheHooks<Direct3DExHooks>().methods);
  g_devices.Repatch(TheDeviceHooks(CurrentLevel()).methods);
  g_devicesEx.Repatch(TheDeviceExHooks(CurrentLevel()).methods);
  g_swapChains.Repatch(TheHooks<SwapChainHooks>().methods);
  g_stateBlocks.Repatch(TheHooks<StateBlockHooks>().methods);
}

}  // namespace ingame::d3d9
