#include "ingame/d3d8/d3d8_hooks.h"

#include "ingame/d3d8/d3d8_slots.h"
#include "ingame/d3d8/device_overlay.h"
#include "ingame/d3d8/locked_methods.h"
#include "ingame/common/table_patch.h"

namespace ingame::d3d8 {
namespace {

CPatchedTables<slots::kDirect3DSlotCount> g_direct3d;
CPatchedTables<slots::kDeviceSlotCount> g_devices;
CPatchedTables<slots::kSwapChainSlotCount> g_swapChains;

// The function that was in `Slot` of the object's table, called with the arguments the game passed.
template <int Slot, class Result = HRESULT, class... Args>
Result CallDevice(IDirect3DDevice8* device, Args... args) {
  return g_devices.Original<Result(STDMETHODCALLTYPE*)(IDirect3DDevice8*, Args...)>(device, Slot)(device, args...);
}

template <int Slot, class Result = HRESULT, class... Args>
Result CallSwapChain(IDirect3DSwapChain8* chain, Args... args) {
  return g_swapChains.Original<Result(STDMETHODCALLTYPE*)(IDirect3DSwapChain8*, Args...)>(chain, Slot)(chain, args...);
}

// A method that sets the states the overlay draws with: the system's, followed by the mirror of a pure device, and a
// marked call on a multithreaded one (CGameCallLock); on any other device, just the system's.
template <int Slot, class Follow, class... Args>
HRESULT Followed(IDirect3DDevice8* device, Follow follow, Args... args) {
  if (CDeviceOverlay* overlay = CDeviceOverlay::FindMirrored(device)) {
    return overlay->Followed([&] { return CallDevice<Slot>(device, args...); }, follow);
  }
  const CGameCallLock lock(device);
  return CallDevice<Slot>(device, args...);
}

HRESULT STDMETHODCALLTYPE CreateDevice(IDirect3D8* direct3d, UINT adapter, D3DDEVTYPE type, HWND focusWindow,
                                       DWORD behaviorFlags, D3DPRESENT_PARAMETERS* parameters,
                                       IDirect3DDevice8** device) noexcept {
  using Function = HRESULT(STDMETHODCALLTYPE*)(IDirect3D8*, UINT, D3DDEVTYPE, HWND, DWORD, D3DPRESENT_PARAMETERS*,
                                              IDirect3DDevice8**);
  const HRESULT result = g_direct3d.Original<Function>(direct3d, slots::kCreateDevice)(
      direct3d, adapter, type, focusWindow, behaviorFlags, parameters, device);
  if (SUCCEEDED(result) && device && *device && parameters && HookDevice(*device, behaviorFlags)) {
    CDeviceOverlay::Attach(*device, *parameters, behaviorFlags,
                           g_devices.Original<CountMethod>(*device, slots::kAddRef),
                           g_devices.Original<CountMethod>(*device, slots::kRelease));
  }
  return result;
}

ULONG STDMETHODCALLTYPE Release(IDirect3DDevice8* device) noexcept {
  CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  return overlay ? overlay->Release() : CallDevice<slots::kRelease, ULONG>(device);
}

HRESULT STDMETHODCALLTYPE CreateAdditionalSwapChain(IDirect3DDevice8* device, D3DPRESENT_PARAMETERS* parameters,
                                                    IDirect3DSwapChain8** chain) noexcept {
  const auto create = [&] { return CallDevice<slots::kCreateAdditionalSwapChain>(device, parameters, chain); };
  CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  if (!overlay) return create();
  return overlay->Exclusively([&] {
    const HRESULT result = create();
    if (SUCCEEDED(result) && parameters && chain && *chain) overlay->AddChain(*chain, *parameters);
    return result;
  });
}

HRESULT STDMETHODCALLTYPE Reset(IDirect3DDevice8* device, D3DPRESENT_PARAMETERS* parameters) noexcept {
  CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  if (!overlay) return CallDevice<slots::kReset>(device, parameters);
  return overlay->Reset(parameters, [&] { return CallDevice<slots::kReset>(device, parameters); });
}

HRESULT STDMETHODCALLTYPE Present(IDirect3DDevice8* device, const RECT* source, const RECT* destination,
                                  HWND window, const RGNDATA* dirty) noexcept {
  CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  const auto present = [&] { return CallDevice<slots::kPresent>(device, source, destination, window, dirty); };
  if (!overlay) return present();
  RepatchIfRestored(device);
  return overlay->Present(nullptr, source, window, 0, present);
}

HRESULT STDMETHODCALLTYPE SetRenderTarget(IDirect3DDevice8* device, IDirect3DSurface8* target,
                                          IDirect3DSurface8* depthStencil) noexcept {
  return Followed<slots::kSetRenderTarget>(
      device,
      [target](CStateMirror& m) {
        // A new render target brings a viewport over all of it.
        D3DSURFACE_DESC desc{};
        if (target && SUCCEEDED(target->GetDesc(&desc))) m.SetRenderTarget(desc.Width, desc.Height);
      },
      target, depthStencil);
}

HRESULT STDMETHODCALLTYPE SetViewport(IDirect3DDevice8* device, const D3DVIEWPORT8* viewport) noexcept {
  return Followed<slots::kSetViewport>(
      device, [viewport](CStateMirror& m) { if (viewport) m.SetViewport(*viewport); }, viewport);
}

HRESULT STDMETHODCALLTYPE SetRenderState(IDirect3DDevice8* device, D3DRENDERSTATETYPE state, DWORD value) noexcept {
  return Followed<slots::kSetRenderState>(
      device, [=](CStateMirror& m) { m.SetRenderState(state, value); }, state, value);
}

// While the game records a state block, the overlay draws nothing: its calls would be recorded into the game's
// block. So the start and end of recording are told to the overlay of every device, with no drawing between.
HRESULT STDMETHODCALLTYPE BeginStateBlock(IDirect3DDevice8* device) noexcept {
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

HRESULT STDMETHODCALLTYPE EndStateBlock(IDirect3DDevice8* device, DWORD* token) noexcept {
  const auto end = [&] {
    return Followed<slots::kEndStateBlock>(
        device, [token](CStateMirror& m) { if (token) m.EndStateBlock(*token); }, token);
  };
  CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  if (!overlay) return end();
  return overlay->Exclusively([&] {
    const HRESULT result = end();
    overlay->SetRecording(false);
    return result;
  });
}

HRESULT STDMETHODCALLTYPE ApplyStateBlock(IDirect3DDevice8* device, DWORD token) noexcept {
  return Followed<slots::kApplyStateBlock>(device, [token](CStateMirror& m) { m.ApplyStateBlock(token); }, token);
}

HRESULT STDMETHODCALLTYPE CaptureStateBlock(IDirect3DDevice8* device, DWORD token) noexcept {
  return Followed<slots::kCaptureStateBlock>(device, [token](CStateMirror& m) { m.CaptureStateBlock(token); },
                                             token);
}

HRESULT STDMETHODCALLTYPE DeleteStateBlock(IDirect3DDevice8* device, DWORD token) noexcept {
  return Followed<slots::kDeleteStateBlock>(device, [token](CStateMirror& m) { m.DeleteStateBlock(token); }, token);
}

HRESULT STDMETHODCALLTYPE CreateStateBlock(IDirect3DDevice8* device, D3DSTATEBLOCKTYPE type, DWORD* token) noexcept {
  return Followed<slots::kCreateStateBlock>(
      device, [=](CStateMirror& m) { if (token) m.CreateStateBlock(type, *token); }, type, token);
}

HRESULT STDMETHODCALLTYPE SetTexture(IDirect3DDevice8* device, DWORD stage, IDirect3DBaseTexture8* texture) noexcept {
  return Followed<slots::kSetTexture>(device, [=](CStateMirror& m) { m.SetTexture(stage, texture); }, stage,
                                      texture);
}

HRESULT STDMETHODCALLTYPE SetTextureStageState(IDirect3DDevice8* device, DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                               DWORD value) noexcept {
  return Followed<slots::kSetTextureStageState>(
      device, [=](CStateMirror& m) { m.SetTextureStageState(stage, type, value); }, stage, type, value);
}

// Drawing from the game's memory leaves stream 0 empty.
HRESULT STDMETHODCALLTYPE DrawPrimitiveUP(IDirect3DDevice8* device, D3DPRIMITIVETYPE type, UINT count,
                                          const void* data, UINT stride) noexcept {
  return Followed<slots::kDrawPrimitiveUP>(device, [](CStateMirror& m) { m.DrawFromUserMemory(); }, type, count,
                                           data, stride);
}

HRESULT STDMETHODCALLTYPE DrawIndexedPrimitiveUP(IDirect3DDevice8* device, D3DPRIMITIVETYPE type, UINT minIndex,
                                                 UINT vertexCount, UINT count, const void* indices,
                                                 D3DFORMAT indexFormat, const void* data, UINT stride) noexcept {
  return Followed<slots::kDrawIndexedPrimitiveUP>(device, [](CStateMirror& m) { m.DrawFromUserMemory(); }, type,
                                                  minIndex, vertexCount, count, indices, indexFormat, data, stride);
}

HRESULT STDMETHODCALLTYPE SetVertexShader(IDirect3DDevice8* device, DWORD handle) noexcept {
  return Followed<slots::kSetVertexShader>(device, [handle](CStateMirror& m) { m.SetVertexShader(handle); }, handle);
}

HRESULT STDMETHODCALLTYPE SetStreamSource(IDirect3DDevice8* device, UINT stream, IDirect3DVertexBuffer8* buffer,
                                          UINT stride) noexcept {
  return Followed<slots::kSetStreamSource>(
      device, [=](CStateMirror& m) { m.SetStreamSource(stream, buffer, stride); }, stream, buffer, stride);
}

HRESULT STDMETHODCALLTYPE SetPixelShader(IDirect3DDevice8* device, DWORD handle) noexcept {
  return Followed<slots::kSetPixelShader>(device, [handle](CStateMirror& m) { m.SetPixelShader(handle); }, handle);
}

HRESULT STDMETHODCALLTYPE SwapChainPresent(IDirect3DSwapChain8* chain, const RECT* source, const RECT* destination,
                                           HWND window, const RGNDATA* dirty) noexcept {
  CDeviceOverlay* overlay = CDeviceOverlay::FindByChain(chain);
  const auto present = [&] {
    return CallSwapChain<slots::kSwapChainPresent>(chain, source, destination, window, dirty);
  };
  return overlay ? overlay->Present(chain, source, window, 0, present) : present();
}

ULONG STDMETHODCALLTYPE SwapChainRelease(IDirect3DSwapChain8* chain) noexcept {
  CDeviceOverlay* overlay = CDeviceOverlay::FindByChain(chain);
  const auto release = [chain] { return CallSwapChain<slots::kSwapChainRelease, ULONG>(chain); };
  if (!overlay) return release();
  // The swap chain's last reference: the overlay lets go of it first. Its release may end the device, and the
  // device's overlay with it, so nothing of the overlay's is touched after it.
  chain->AddRef();
  if (release() == 1) overlay->RemoveChain(chain);
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

// What the overlay puts into the device's table, by what the devices of the process need: every device's present,
// reset, release, additional swap chains and recording of state blocks; on a pure device, the calls of the states
// the overlay draws with, which its mirror follows; on a multithreaded device, every method but those that touch
// nothing the overlay draws with, each a marked call (locked_methods.h). A slot the devices do not need stays the
// system's, and costs the game nothing.
enum HookLevel : int { kPlainHooks, kPureHooks, kLockedHooks };

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
    methods[slots::kSetRenderState] = AsMethod(&SetRenderState);
    methods[slots::kApplyStateBlock] = AsMethod(&ApplyStateBlock);
    methods[slots::kCaptureStateBlock] = AsMethod(&CaptureStateBlock);
    methods[slots::kDeleteStateBlock] = AsMethod(&DeleteStateBlock);
    methods[slots::kCreateStateBlock] = AsMethod(&CreateStateBlock);
    methods[slots::kSetTexture] = AsMethod(&SetTexture);
    methods[slots::kSetTextureStageState] = AsMethod(&SetTextureStageState);
    methods[slots::kDrawPrimitiveUP] = AsMethod(&DrawPrimitiveUP);
    methods[slots::kDrawIndexedPrimitiveUP] = AsMethod(&DrawIndexedPrimitiveUP);
    methods[slots::kSetVertexShader] = AsMethod(&SetVertexShader);
    methods[slots::kSetStreamSource] = AsMethod(&SetStreamSource);
    methods[slots::kSetPixelShader] = AsMethod(&SetPixelShader);
  }
};

struct SwapChainHooks {
  Method methods[slots::kSwapChainSlotCount] = {};
  SwapChainHooks() {
    methods[slots::kSwapChainRelease] = AsMethod(&SwapChainRelease);
    methods[slots::kSwapChainPresent] = AsMethod(&SwapChainPresent);
  }
};

const Direct3DHooks& TheDirect3DHooks() {
  static const Direct3DHooks hooks;
  return hooks;
}

const DeviceHooks& TheDeviceHooks(HookLevel level) {
  static const DeviceHooks hooks[] = {DeviceHooks(kPlainHooks), DeviceHooks(kPureHooks), DeviceHooks(kLockedHooks)};
  return hooks[level];
}

// The hooks the devices of the process have needed so far: they only ever grow.
std::atomic<int> g_deviceHookLevel{kPlainHooks};

const DeviceHooks& CurrentDeviceHooks() { return TheDeviceHooks(static_cast<HookLevel>(g_deviceHookLevel.load())); }

const SwapChainHooks& TheSwapChainHooks() {
  static const SwapChainHooks hooks;
  return hooks;
}

}  // namespace

Method OriginalDeviceMethod(const void* device, int slot) { return g_devices.OriginalMethod(device, slot); }

bool HookDirect3D(IDirect3D8* direct3d) { return g_direct3d.Install(direct3d, TheDirect3DHooks().methods); }

bool HookDevice(IDirect3DDevice8* device, DWORD behaviorFlags) {
  const HookLevel level = (behaviorFlags & D3DCREATE_MULTITHREADED) != 0 ? kLockedHooks
                          : (behaviorFlags & D3DCREATE_PUREDEVICE) != 0  ? kPureHooks
                                                                         : kPlainHooks;
  int before = g_deviceHookLevel.load();
  while (before < level && !g_deviceHookLevel.compare_exchange_weak(before, level)) {
  }
  // The tables patched before get the further hooks wherever they still hold the functions found there first.
  if (before < level) g_devices.Repatch(TheDeviceHooks(level).methods);
  return g_devices.Install(device, CurrentDeviceHooks().methods);
}

bool HookSwapChain(IDirect3DSwapChain8* chain) { return g_swapChains.Install(chain, TheSwapChainHooks().methods); }

void RepatchIfRestored(IDirect3DDevice8* device) {
  // The slots without which the game's Reset and last Release would miss the overlay's objects: where someone has
  // written the originals back, the hooks go back in at once rather than with the worker's next look.
  const Method* const table = *reinterpret_cast<Method* const*>(device);
  if (table[slots::kRelease] == g_devices.OriginalMethod(device, slots::kRelease) ||
      table[slots::kReset] == g_devices.OriginalMethod(device, slots::kReset)) {
    RepatchTables();
  }
}

void RepatchTables() {
  g_direct3d.Repatch(TheDirect3DHooks().methods);
  g_devices.Repatch(CurrentDeviceHooks().methods);
  g_swapChains.Repatch(TheSwapChainHooks().methods);
}

}  // namespace ingame::d3d8
