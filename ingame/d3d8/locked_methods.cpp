// The locking hooks of the device's methods, one per slot, each made from the method's own C declaration in d3d8.h:
// its arguments pass to the system's function unchanged.
#define CINTERFACE
#include "ingame/d3d8/locked_methods.h"

#include <d3d8.h>

#include <initializer_list>

namespace ingame::d3d8 {
namespace {

template <int Slot, class Function>
struct Locked;

template <int Slot, class Result, class... Args>
struct Locked<Slot, Result(STDMETHODCALLTYPE*)(IDirect3DDevice8*, Args...)> {
  static Result STDMETHODCALLTYPE Call(IDirect3DDevice8* device, Args... args) noexcept {
    using Function = Result(STDMETHODCALLTYPE*)(IDirect3DDevice8*, Args...);
    const auto original = reinterpret_cast<Function>(OriginalDeviceMethod(device, Slot));
    const CGameCallLock lock(device);
    return original(device, args...);
  }
};

enum DeviceSlot : int {
#define VA_SLOT(method) kSlot##method,
  VA_D3D8_DEVICE_METHODS(VA_SLOT)
#undef VA_SLOT
};

}  // namespace

void LockedDeviceMethods(Method (&methods)[slots::kDeviceSlotCount]) {
#define VA_LOCKED(method)                                                                         \
  methods[kSlot##method] = reinterpret_cast<Method>(                                              \
      &Locked<kSlot##method, decltype(IDirect3DDevice8Vtbl::method)>::Call);
  VA_D3D8_DEVICE_METHODS(VA_LOCKED)
#undef VA_LOCKED
  methods[slots::kQueryInterface] = nullptr;
  methods[slots::kAddRef] = nullptr;
  methods[slots::kRelease] = nullptr;
  // What touches nothing the overlay draws with goes to the system unpatched, and never waits for its drawing: a
  // thread that watches for a lost device, or asks what the device is, runs as it would alone.
  for (const int slot : {kSlotTestCooperativeLevel, kSlotGetAvailableTextureMem, kSlotGetDirect3D, kSlotGetDeviceCaps,
                         kSlotGetDisplayMode, kSlotGetCreationParameters, kSlotGetRasterStatus, kSlotGetGammaRamp,
                         kSlotSetGammaRamp, kSlotSetCursorPosition, kSlotShowCursor, kSlotGetInfo}) {
    methods[slot] = nullptr;
  }
}

}  // namespace ingame::d3d8
