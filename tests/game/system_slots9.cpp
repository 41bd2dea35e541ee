// The slot numbers of SystemSlots9 (system_slots.h), from d3d9.h's C declarations (CINTERFACE), as system_slots.cpp
// works out Direct3D 8's.
#define CINTERFACE
#include <d3d9.h>

#include <cstddef>

#include "tests/game/system_slots.h"

namespace testgame {

#define SLOT_OF(table, method) static_cast<int>(offsetof(table, method) / sizeof(void*))

const SystemSlots9 kSystemSlots9 = {
    SLOT_OF(IDirect3DDevice9Vtbl, GetDeviceCaps),
    SLOT_OF(IDirect3DDevice9Vtbl, Present),
    SLOT_OF(IDirect3DDevice9ExVtbl, PresentEx),
    SLOT_OF(IDirect3DSwapChain9Vtbl, Present),
};

#undef SLOT_OF

}  // namespace testgame
