// The locking hooks of the Direct3D 9 device's methods, one per slot, each made from the method's own C declaration
// in d3d9.h: its arguments pass to the system's function unchanged.
#define CINTERFACE
#include "ingame/d3d9/locked_methods.h"

#include <d3d9.h>

#include <initializer_list>

namespace ingame::d3d9 {
namespace {

template <int Slot, class Function>
struct Locked;

template <int Slot, class Result, class Device, class... Args>
struct Locked<Slot, Result(STDMETHODCALLTYPE*)(Device*, Args...)> {
  static Result STDMETHODCALLTYPE Call(Device* device, Args... args) noexcept {
    using Function = Result(STDMETHODCALLTYPE*)(Device*, Args...);
    const auto original = reinterpret_cast<Function>(OriginalDeviceMethod(device, Slot));
    const CGameCallLock lock(device);
    return original(device, args...);
  }
};

enum DeviceSlot : int {
#define VA_SLOT(method) kSlot##method,
  VA_D3D9_DEVICE_METHODS(VA_SLOT)
  kSlotCount,
  kSlotExFirst = kSlotCount - 1,
  VA_D3D9_DEVICE_EX_METHODS(VA_SLOT)
#undef VA_SLOT
};

}  // namespace

void LockedDeviceMethods(Method (&methods)[slots::kDeviceSlotCount]) {
#define VA_LOCKED(method)                                                                         \
  methods[kSlot##method] = reinterpret_cast<Method>(                                              \
      &Locked<kSlot##method, decltype(IDirect3DDevice9Vtbl::method)>::Call);
  VA_D3D9_DEVICE_METHODS(VA_LOCKED)
#undef VA_LOCKED
  methods[slots::kQueryInterface] = nullptr;
  methods[slots::kAddRef] = nullptr;
  methods[slots::kRelease] = nullptr;
  // What touches nothing the overlay draws with goes to the system unpatched, and never waits for its drawing: a
  // thread that watches for a lost device, or asks what the device is, runs as it would alone.
  for (const int slot : {kSlotTestCooperativeLevel, kSlotGetAvailableTextureMem, kSlotGetDirect3D, kSlotGetDeviceCaps,
                         kSlotGetDisplayMode, kSlotGetCreationParameters, kSlotGetNumberOfSwapChains,
                         kSlotGetRasterStatus, kSlotGetGammaRamp, kSlotSetGammaRamp, kSlotSetCursorPosition,
                         kSlotShowCursor}) {
    methods[slot] = nullptr;
  }
}

void LockedDeviceExMethods(Method (&methods)[slots::kDeviceExSlotCount]) {
#define VA_LOCKED(method)                                                                         \
  methods[kSlot##method] = reinterpret_cast<Method>(                                              \
      &Locked<kSlot##method, decltype(IDirect3DDevice9ExVtbl::method)>::Call);
  VA_D3D9_DEVICE_EX_METHODS(VA_LOCKED)
#undef VA_LOCKED
  // The same for the Ex device's questions; and waiting for the vertical blank, which would hold the overlay's
  // drawing back for as long as it waits.
  for (const int slot : {kSlotCheckDeviceState, kSlotGetDisplayModeEx, kSlotGetGPUThreadPriority,
                         kSlotGetMaximumFrameLatency, kSlotWaitForVBlank, kSlotCheckResourceResidency}) {
    methods[slot] = nullptr;
  }
}

}  // namespace ingame::d3d9
