// The slot numbers of d3d9_slots.h against d3d9.h's own tables: its C declarations (CINTERFACE) list each
// interface's methods as the fields of a table, in the order the system's objects lay them out.
#define CINTERFACE
#include <d3d9.h>

#include <cstddef>

#include "ingame/d3d9/d3d9_slots.h"

namespace ingame::slots {
namespace {

template <std::size_t Offset>
constexpr int SlotAt = static_cast<int>(Offset / sizeof(void*));

#define SLOT_IS(table, method, slot) \
  static_assert(SlotAt<offsetof(table, method)> == (slot), #table "::" #method " is not at " #slot)
#define SLOTS_ARE(table, count) \
  static_assert(sizeof(table) == (count) * sizeof(void*), #table " has " #count " methods")

SLOT_IS(IDirect3D9Vtbl, CreateDevice, kCreateDevice);
SLOTS_ARE(IDirect3D9Vtbl, kDirect3DSlotCount);
SLOT_IS(IDirect3D9ExVtbl, CreateDevice, kCreateDevice);
SLOT_IS(IDirect3D9ExVtbl, CreateDeviceEx, kCreateDeviceEx);
SLOTS_ARE(IDirect3D9ExVtbl, kDirect3DExSlotCount);

// Every method of the device's lists at its place in the tables, the plain device's in both.
enum DeviceMethodOrder : int {
#define VA_ORDER(method) kOrder##method,
  VA_D3D9_DEVICE_METHODS(VA_ORDER)
  kOrderCount,
  kOrderExFirst = kOrderCount - 1,
  VA_D3D9_DEVICE_EX_METHODS(VA_ORDER)
  kOrderExEnd
#undef VA_ORDER
};
static_assert(kOrderCount == kDeviceSlotCount, "the list names every method of IDirect3DDevice9");
static_assert(kOrderExEnd == kDeviceExSlotCount, "the lists name every method of IDirect3DDevice9Ex");
#define VA_IN_ORDER(method) SLOT_IS(IDirect3DDevice9Vtbl, method, kOrder##method);
VA_D3D9_DEVICE_METHODS(VA_IN_ORDER)
#undef VA_IN_ORDER
#define VA_IN_ORDER(method) SLOT_IS(IDirect3DDevice9ExVtbl, method, kOrder##method);
VA_D3D9_DEVICE_METHODS(VA_IN_ORDER)
VA_D3D9_DEVICE_EX_METHODS(VA_IN_ORDER)
#undef VA_IN_ORDER

SLOT_IS(IDirect3DDevice9Vtbl, QueryInterface, kQueryInterface);
SLOT_IS(IDirect3DDevice9Vtbl, AddRef, kAddRef);
SLOT_IS(IDirect3DDevice9Vtbl, Release, kRelease);
SLOT_IS(IDirect3DDevice9Vtbl, CreateAdditionalSwapChain, kCreateAdditionalSwapChain);
SLOT_IS(IDirect3DDevice9Vtbl, Reset, kReset);
SLOT_IS(IDirect3DDevice9Vtbl, Present, kPresent);
SLOT_IS(IDirect3DDevice9Vtbl, SetRenderTarget, kSetRenderTarget);
SLOT_IS(IDirect3DDevice9Vtbl, SetDepthStencilSurface, kSetDepthStencilSurface);
SLOT_IS(IDirect3DDevice9Vtbl, SetViewport, kSetViewport);
SLOT_IS(IDirect3DDevice9Vtbl, SetRenderState, kSetRenderState);
SLOT_IS(IDirect3DDevice9Vtbl, CreateStateBlock, kCreateStateBlock);
SLOT_IS(IDirect3DDevice9Vtbl, BeginStateBlock, kBeginStateBlock);
SLOT_IS(IDirect3DDevice9Vtbl, EndStateBlock, kEndStateBlock);
SLOT_IS(IDirect3DDevice9Vtbl, SetTexture, kSetTexture);
SLOT_IS(IDirect3DDevice9Vtbl, SetTextureStageState, kSetTextureStageState);
SLOT_IS(IDirect3DDevice9Vtbl, SetSamplerState, kSetSamplerState);
SLOT_IS(IDirect3DDevice9Vtbl, SetScissorRect, kSetScissorRect);
SLOT_IS(IDirect3DDevice9Vtbl, DrawPrimitiveUP, kDrawPrimitiveUP);
SLOT_IS(IDirect3DDevice9Vtbl, DrawIndexedPrimitiveUP, kDrawIndexedPrimitiveUP);
SLOT_IS(IDirect3DDevice9Vtbl, SetVertexDeclaration, kSetVertexDeclaration);
SLOT_IS(IDirect3DDevice9Vtbl, SetFVF, kSetFVF);
SLOT_IS(IDirect3DDevice9Vtbl, SetVertexShader, kSetVertexShader);
SLOT_IS(IDirect3DDevice9Vtbl, SetStreamSource, kSetStreamSource);
SLOT_IS(IDirect3DDevice9Vtbl, SetStreamSourceFreq, kSetStreamSourceFreq);
SLOT_IS(IDirect3DDevice9Vtbl, SetPixelShader, kSetPixelShader);
SLOTS_ARE(IDirect3DDevice9Vtbl, kDeviceSlotCount);
SLOT_IS(IDirect3DDevice9ExVtbl, PresentEx, kPresentEx);
SLOT_IS(IDirect3DDevice9ExVtbl, ResetEx, kResetEx);
SLOTS_ARE(IDirect3DDevice9ExVtbl, kDeviceExSlotCount);

SLOT_IS(IDirect3DSwapChain9Vtbl, Release, kSwapChainRelease);
SLOT_IS(IDirect3DSwapChain9Vtbl, Present, kSwapChainPresent);
SLOTS_ARE(IDirect3DSwapChain9Vtbl, kSwapChainSlotCount);
SLOT_IS(IDirect3DSwapChain9ExVtbl, Release, kSwapChainRelease);
SLOT_IS(IDirect3DSwapChain9ExVtbl, Present, kSwapChainPresent);
SLOTS_ARE(IDirect3DSwapChain9ExVtbl, kSwapChainExSlotCount);

SLOT_IS(IDirect3DStateBlock9Vtbl, Release, kStateBlockRelease);
SLOT_IS(IDirect3DStateBlock9Vtbl, Capture, kStateBlockCapture);
SLOT_IS(IDirect3DStateBlock9Vtbl, Apply, kStateBlockApply);
SLOTS_ARE(IDirect3DStateBlock9Vtbl, kStateBlockSlotCount);

#undef SLOTS_ARE
#undef SLOT_IS

}  // namespace
}  // namespace ingame::slots
