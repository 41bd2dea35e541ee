// The methods of Direct3D 8 objects that the overlay patches (table_patch.h), and what it does in each: the
// Direct3D object's CreateDevice gives the new device its overlay; the device's Release lets the overlay's objects
// go before the game's last reference; Present, Reset and the additional swap chains' Present draw the overlay;
// the calls that set the states the overlay draws with are followed on a pure device; and on a multithreaded
// device every method that touches what the overlay draws with is a marked call (locked_methods.h). A table gets
// only the hooks its process's devices have needed so far.
#pragma once

#include <d3d8.h>

namespace ingame::d3d8 {

// Patches the table of the Direct3D object's class, once for each class; false when it cannot be.
bool HookDirect3D(IDirect3D8* direct3d);
// The same for a device's class, with the hooks that a device made with `behaviorFlags` needs, and for a swap
// chain's.
bool HookDevice(IDirect3DDevice8* device, DWORD behaviorFlags);
bool HookSwapChain(IDirect3DSwapChain8* chain);
// Puts the overlay's hooks back into every table where someone has written back the functions that were there
// before the overlay patched it; at once for `device`'s table when that is so.
void RepatchTables();
void RepatchIfRestored(IDirect3DDevice8* device);

}  // namespace ingame::d3d8
