#include "ingame/d3d8/d3d8_hooks.h"

#include "ingame/d3d8/d3d8_slots.h"
#include "ingame/d3d8/device_overlay.h"
#include "ingame/d3d8/table_patch.h"

namespace ingame {
namespace {

CPatchedTable<slots::kCreateDevice + 1> g_direct3d;
CPatchedTable<slots::kDeviceSlotCount> g_device;
CPatchedTable<slots::kSwapChainSlotCount> g_swapChain;

// The system's own method of the device's table at `Slot`, called with the arguments the game passed.
template <int Slot, class Result = HRESULT, class... Args>
Result CallDevice(IDirect3DDevice8* device, Args... args) {
  return g_device.Original<Result(STDMETHODCALLTYPE*)(IDirect3DDevice8*, Args...)>(Slot)(device, args...);
}

template <int Slot, class Result = HRESULT, class... Args>
Result CallSwapChain(IDirect3DSwapChain8* chain, Args... args) {
  return g_swapChain.Original<Result(STDMETHODCALLTYPE*)(IDirect3DSwapChain8*, Args...)>(Slot)(chain, args...);
}

// A method that sets or uses the states the overlay draws with: the system's, made under the overlay's lock on a
// multithreaded device and followed by the mirror of a pure device; on any other device, just the system's.
template <int Slot, class Follow, class... Args>
HRESULT Followed(IDirect3DDevice8* device, Follow follow, Args... args) {
  CDeviceOverlay* overlay = CDeviceOverlay::FindFollowed(device);
  if (!overlay) return CallDevice<Slot>(device, args...);
  return overlay->Followed([&] { return CallDevice<Slot>(device, args...); }, follow);
}

const auto kNothingToFollow = [](CStateMirror&) {};

HRESULT STDMETHODCALLTYPE CreateDevice(IDirect3D8* direct3d, UINT adapter, D3DDEVTYPE type, HWND focusWindow,
                                       DWORD behaviorFlags, D3DPRESENT_PARAMETERS* parameters,
                                       IDirect3DDevice8** device) noexcept {
  using Function = HRESULT(STDMETHODCALLTYPE*)(IDirect3D8*, UINT, D3DDEVTYPE, HWND, DWORD, D3DPRESENT_PARAMETERS*,
                                              IDirect3DDevice8**);
  const HRESULT result = g_direct3d.Original<Function>(slots::kCreateDevice)(direct3d, adapter, type, focusWindow,
                                                                             behaviorFlags, parameters, device);
  if (SUCCEEDED(result) && device && *device && parameters) CDeviceOverlay::Attach(*device, *parameters, behaviorFlags);
  return result;
}

ULONG STDMETHODCALLTYPE AddRef(IDirect3DDevice8* device) noexcept {
  const ULONG count = CallDevice<slots::kAddRef, ULONG>(device);
  const CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  return overlay ? overlay->GameCount(count) : count;
}

ULONG STDMETHODCALLTYPE Release(IDirect3DDevice8* device) noexcept {
  CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device);
  if (!overlay) return CallDevice<slots::kRelease, ULONG>(device);
  return overlay->Release([](IDirect3DDevice8* d) { return CallDevice<slots::kRelease, ULONG>(d); });
}

HRESULT STDMETHODCALLTYPE CreateAdditionalSwapChain(IDirect3DDevice8* device, D3DPRESENT_PARAMETERS* parameters,
                                                    IDirect3DSwapChain8** chain) noexcept {
  const HRESULT result = CallDevice<slots::kCreateAdditionalSwapChain>(device, parameters, chain);
  if (SUCCEEDED(result) && parameters && chain && *chain) {
    if (CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device)) overlay->AddChain(*chain, *parameters);
  }
  return result;
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
  return overlay ? overlay->Present(nullptr, source, window, present) : present();
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

HRESULT STDMETHODCALLTYPE BeginScene(IDirect3DDevice8* device) noexcept {
  return Followed<slots::kBeginScene>(device, kNothingToFollow);
}

HRESULT STDMETHODCALLTYPE EndScene(IDirect3DDevice8* device) noexcept {
  return Followed<slots::kEndScene>(device, kNothingToFollow);
}

HRESULT STDMETHODCALLTYPE Clear(IDirect3DDevice8* device, DWORD count, const D3DRECT* rects, DWORD flags,
                                D3DCOLOR colour, float z, DWORD stencil) noexcept {
  return Followed<slots::kClear>(device, kNothingToFollow, count, rects, flags, colour, z, stencil);
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
// block. So the start and end of recording are told to the overlay of every device.
HRESULT STDMETHODCALLTYPE BeginStateBlock(IDirect3DDevice8* device) noexcept {
  const HRESULT result =
      Followed<slots::kBeginStateBlock>(device, [](CStateMirror& m) { m.BeginStateBlock(); });
  if (SUCCEEDED(result)) {
    if (CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device)) overlay->SetRecording(true);
  }
  return result;
}

HRESULT STDMETHODCALLTYPE EndStateBlock(IDirect3DDevice8* device, DWORD* token) noexcept {
  const HRESULT result = Followed<slots::kEndStateBlock>(
      device, [token](CStateMirror& m) { if (token) m.EndStateBlock(*token); }, token);
  if (CDeviceOverlay* overlay = CDeviceOverlay::FindForGame(device)) overlay->SetRecording(false);
  return result;
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

HRESULT STDMETHODCALLTYPE DrawPrimitive(IDirect3DDevice8* device, D3DPRIMITIVETYPE type, UINT start,
                                        UINT count) noexcept {
  return Followed<slots::kDrawPrimitive>(device, kNothingToFollow, type, start, count);
}

HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(IDirect3DDevice8* device, D3DPRIMITIVETYPE type, UINT minIndex,
                                               UINT vertexCount, UINT startIndex, UINT count) noexcept {
  return Followed<slots::kDrawIndexedPrimitive>(device, kNothingToFollow, type, minIndex, vertexCount, startIndex,
                                                count);
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
  return overlay ? overlay->Present(chain, source, window, present) : present();
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

}  // namespace

bool HookDirect3D(IDirect3D8* direct3d) {
  const SlotHook hooks[] = {{slots::kCreateDevice, AsMethod(&CreateDevice)}};
  return g_direct3d.Install(direct3d, hooks);
}

bool HookDevice(IDirect3DDevice8* device) {
  const SlotHook hooks[] = {
      {slots::kAddRef, AsMethod(&AddRef)},
      {slots::kRelease, AsMethod(&Release)},
      {slots::kCreateAdditionalSwapChain, AsMethod(&CreateAdditionalSwapChain)},
      {slots::kReset, AsMethod(&Reset)},
      {slots::kPresent, AsMethod(&Present)},
      {slots::kSetRenderTarget, AsMethod(&SetRenderTarget)},
      {slots::kBeginScene, AsMethod(&BeginScene)},
      {slots::kEndScene, AsMethod(&EndScene)},
      {slots::kClear, AsMethod(&Clear)},
      {slots::kSetViewport, AsMethod(&SetViewport)},
      {slots::kSetRenderState, AsMethod(&SetRenderState)},
      {slots::kBeginStateBlock, AsMethod(&BeginStateBlock)},
      {slots::kEndStateBlock, AsMethod(&EndStateBlock)},
      {slots::kApplyStateBlock, AsMethod(&ApplyStateBlock)},
      {slots::kCaptureStateBlock, AsMethod(&CaptureStateBlock)},
      {slots::kDeleteStateBlock, AsMethod(&DeleteStateBlock)},
      {slots::kCreateStateBlock, AsMethod(&CreateStateBlock)},
      {slots::kSetTexture, AsMethod(&SetTexture)},
      {slots::kSetTextureStageState, AsMethod(&SetTextureStageState)},
      {slots::kDrawPrimitive, AsMethod(&DrawPrimitive)},
      {slots::kDrawIndexedPrimitive, AsMethod(&DrawIndexedPrimitive)},
      {slots::kDrawPrimitiveUP, AsMethod(&DrawPrimitiveUP)},
      {slots::kDrawIndexedPrimitiveUP, AsMethod(&DrawIndexedPrimitiveUP)},
      {slots::kSetVertexShader, AsMethod(&SetVertexShader)},
      {slots::kSetStreamSource, AsMethod(&SetStreamSource)},
      {slots::kSetPixelShader, AsMethod(&SetPixelShader)},
  };
  return g_device.Install(device, hooks);
}

bool HookSwapChain(IDirect3DSwapChain8* chain) {
  const SlotHook hooks[] = {{slots::kSwapChainRelease, AsMethod(&SwapChainRelease)},
                            {slots::kSwapChainPresent, AsMethod(&SwapChainPresent)}};
  return g_swapChain.Install(chain, hooks);
}

}  // namespace ingame
