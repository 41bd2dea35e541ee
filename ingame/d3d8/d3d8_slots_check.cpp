// The slot numbers of d3d8_slots.h against d3d8.h's own tables: its C declarations (CINTERFACE) list each
// interface's methods as the fields of a table, in the order the system's objects lay them out.
#define CINTERFACE
#include <d3d8.h>

#include <cstddef>

#include "ingame/d3d8/d3d8_slots.h"

namespace ingame::slots {
namespace {

template <std::size_t Offset>
constexpr int SlotAt = static_cast<int>(Offset / sizeof(void*));

#define SLOT_IS(table, method, slot) \
  static_assert(SlotAt<offsetof(table, method)> == (slot), #table "::" #method " is not at " #slot)

SLOT_IS(IDirect3D8Vtbl, CreateDevice, kCreateDevice);
static_assert(sizeof(IDirect3D8Vtbl) == kDirect3DSlotCount * sizeof(void*), "IDirect3D8 has 16 methods");

// Every method of the device's list at its place in the table.
enum DeviceMethodOrder : int {
#define VA_ORDER(method) kOrder##method,
  VA_D3D8_DEVICE_METHODS(VA_ORDER)
#undef VA_ORDER
  kOrderCount
};
static_assert(kOrderCount == kDeviceSlotCount, "the list names every method of IDirect3DDevice8");
#define VA_IN_ORDER(method) SLOT_IS(IDirect3DDevice8Vtbl, method, kOrder##method);
VA_D3D8_DEVICE_METHODS(VA_IN_ORDER)
#undef VA_IN_ORDER

SLOT_IS(IDirect3DDevice8Vtbl, AddRef, kAddRef);
SLOT_IS(IDirect3DDevice8Vtbl, Release, kRelease);
SLOT_IS(IDirect3DDevice8Vtbl, CreateAdditionalSwapChain, kCreateAdditionalSwapChain);
SLOT_IS(IDirect3DDevice8Vtbl, Reset, kReset);
SLOT_IS(IDirect3DDevice8Vtbl, Present, kPresent);
SLOT_IS(IDirect3DDevice8Vtbl, SetRenderTarget, kSetRenderTarget);
SLOT_IS(IDirect3DDevice8Vtbl, BeginScene, kBeginScene);
SLOT_IS(IDirect3DDevice8Vtbl, EndScene, kEndScene);
SLOT_IS(IDirect3DDevice8Vtbl, Clear, kClear);
SLOT_IS(IDirect3DDevice8Vtbl, SetViewport, kSetViewport);
SLOT_IS(IDirect3DDevice8Vtbl, SetRenderState, kSetRenderState);
SLOT_IS(IDirect3DDevice8Vtbl, BeginStateBlock, kBeginStateBlock);
SLOT_IS(IDirect3DDevice8Vtbl, EndStateBlock, kEndStateBlock);
SLOT_IS(IDirect3DDevice8Vtbl, ApplyStateBlock, kApplyStateBlock);
SLOT_IS(IDirect3DDevice8Vtbl, CaptureStateBlock, kCaptureStateBlock);
SLOT_IS(IDirect3DDevice8Vtbl, DeleteStateBlock, kDeleteStateBlock);
SLOT_IS(IDirect3DDevice8Vtbl, CreateStateBlock, kCreateStateBlock);
SLOT_IS(IDirect3DDevice8Vtbl, SetTexture, kSetTexture);
SLOT_IS(IDirect3DDevice8Vtbl, SetTextureStageState, kSetTextureStageState);
SLOT_IS(IDirect3DDevice8Vtbl, DrawPrimitive, kDrawPrimitive);
SLOT_IS(IDirect3DDevice8Vtbl, DrawIndexedPrimitive, kDrawIndexedPrimitive);
SLOT_IS(IDirect3DDevice8Vtbl, DrawPrimitiveUP, kDrawPrimitiveUP);
SLOT_IS(IDirect3DDevice8Vtbl, DrawIndexedPrimitiveUP, kDrawIndexedPrimitiveUP);
SLOT_IS(IDirect3DDevice8Vtbl, SetVertexShader, kSetVertexShader);
SLOT_IS(IDirect3DDevice8Vtbl, SetStreamSource, kSetStreamSource);
SLOT_IS(IDirect3DDevice8Vtbl, SetPixelShader, kSetPixelShader);
static_assert(sizeof(IDirect3DDevice8Vtbl) == kDeviceSlotCount * sizeof(void*), "IDirect3DDevice8 has 97 methods");

SLOT_IS(IDirect3DSwapChain8Vtbl, Release, kSwapChainRelease);
SLOT_IS(IDirect3DSwapChain8Vtbl, Present, kSwapChainPresent);
static_assert(sizeof(IDirect3DSwapChain8Vtbl) == kSwapChainSlotCount * sizeof(void*), "IDirect3DSwapChain8 has 5");

#undef SLOT_IS

}  // namespace
}  // namespace ingame::slots
