// The method tables of --second-table: functions of the test game's own in every slot, each counting its calls and
// calling on to the system's function of that slot, as a wrapper's devices have functions unlike the system's. A
// hook that called another table's original for an object of this one would miss them, and the counts show it.
#define CINTERFACE
#include "tests/game/counted_tables.h"

#include <d3d8.h>

#include <atomic>

#include "ingame/d3d8/d3d8_slots.h"

namespace testgame {
namespace {

constexpr int kMaxSlots = 128;
Method g_deviceBelow[kMaxSlots] = {};
Method g_chainBelow[kMaxSlots] = {};
std::atomic<long> g_deviceCalls[kMaxSlots] = {};
std::atomic<long> g_chainCalls[kMaxSlots] = {};

template <class Interface, Method* Below, std::atomic<long>* Calls, int Slot, class Function>
struct Counted;

template <class Interface, Method* Below, std::atomic<long>* Calls, int Slot, class Result, class... Args>
struct Counted<Interface, Below, Calls, Slot, Result(STDMETHODCALLTYPE*)(Interface*, Args...)> {
  static Result STDMETHODCALLTYPE Call(Interface* object, Args... args) {
    Calls[Slot].fetch_add(1);
    return reinterpret_cast<Result(STDMETHODCALLTYPE*)(Interface*, Args...)>(Below[Slot])(object, args...);
  }
};

enum DeviceSlot : int {
#define VA_SLOT(method) kDevice##method,
  VA_D3D8_DEVICE_METHODS(VA_SLOT)
#undef VA_SLOT
  kDeviceSlotCount
};

enum ChainSlot : int { kChainQueryInterface, kChainAddRef, kChainRelease, kChainPresent, kChainGetBackBuffer };

}  // namespace

void MakeCountedTables(const Method* systemDevice, Method* device, const Method* systemChain, Method* chain) {
  static_assert(kDeviceSlotCount == sizeof(IDirect3DDevice8Vtbl) / sizeof(void*), "every device method counted");
  for (int slot = 0; slot < kDeviceSlotCount; ++slot) g_deviceBelow[slot] = systemDevice[slot];
  for (int slot = 0; slot <= kChainGetBackBuffer; ++slot) g_chainBelow[slot] = systemChain[slot];
#define VA_COUNTED(method)                                                                                   \
  device[kDevice##method] = reinterpret_cast<Method>(                                                        \
      &Counted<IDirect3DDevice8, g_deviceBelow, g_deviceCalls, kDevice##method,                              \
               decltype(IDirect3DDevice8Vtbl::method)>::Call);
  VA_D3D8_DEVICE_METHODS(VA_COUNTED)
#undef VA_COUNTED
#define VA_COUNTED(method)                                                                                   \
  chain[kChain##method] = reinterpret_cast<Method>(                                                          \
      &Counted<IDirect3DSwapChain8, g_chainBelow, g_chainCalls, kChain##method,                              \
               decltype(IDirect3DSwapChain8Vtbl::method)>::Call);
  VA_COUNTED(QueryInterface) VA_COUNTED(AddRef) VA_COUNTED(Release) VA_COUNTED(Present) VA_COUNTED(GetBackBuffer)
#undef VA_COUNTED
}

long CountedPresents() { return g_deviceCalls[kDevicePresent].load() + g_chainCalls[kChainPresent].load(); }

}  // namespace testgame
