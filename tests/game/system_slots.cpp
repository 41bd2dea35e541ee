// The slot numbers of system_slots.h, from d3d8.h's C declarations (CINTERFACE): they list each interface's methods
// as the fields of a table, in the order the system's objects lay them out.
#define CINTERFACE
#include <d3d8.h>

#include <cstddef>

#include "tests/game/system_slots.h"

namespace testgame {

#define SLOT_OF(table, method) static_cast<int>(offsetof(table, method) / sizeof(void*))

const SystemSlots kSystemSlots = {
    SLOT_OF(IDirect3D8Vtbl, CreateDevice),
    SLOT_OF(IDirect3DDevice8Vtbl, CreateAdditionalSwapChain),
    SLOT_OF(IDirect3DDevice8Vtbl, Present),
    SLOT_OF(IDirect3DDevice8Vtbl, CopyRects),
    SLOT_OF(IDirect3DDevice8Vtbl, EndScene),
    SLOT_OF(IDirect3DDevice8Vtbl, CreateTexture),
    static_cast<int>(sizeof(IDirect3DDevice8Vtbl) / sizeof(void*)),
    SLOT_OF(IDirect3DSwapChain8Vtbl, Present),
    static_cast<int>(sizeof(IDirect3DSwapChain8Vtbl) / sizeof(void*)),
};

#undef SLOT_OF

}  // namespace testgame
