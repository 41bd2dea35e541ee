// The methods of Direct3D 9 objects that the overlay patches (ingame/common/table_patch.h), and what it does in each:
// the Direct3D object's CreateDevice and CreateDeviceEx give the new device its overlay; the device's Release lets
// the overlay's objects go before the game's last reference; Present, PresentEx, Reset, ResetEx and the swap
// chains' Present draw the overlay; the calls that set the states the overlay draws with, state blocks' Apply and
// Capture among them, are followed on a pure device; and on a multithreaded device every method that touches what
// the overlay draws with is a marked call (locked_methods.h). A table gets only the hooks its process's devices
// have needed so far.
//
// An Ex object's table is the plain one with further slots after it, and may be the very table plain objects of
// the same implementation use: the plain slots and the further ones are patched apart, the further ones only
// through objects known to be Ex, so that no slot past the end of a plain table is ever written.
#pragma once

#include <d3d9.h>

namespace ingame::d3d9 {

// Patches the table of the Direct3D object's class, once for each class; false when it cannot be. The Ex object's
// CreateDeviceEx too.
bool HookDirect3D(IDirect3D9* direct3d);
bool HookDirect3DEx(IDirect3D9Ex* direct3d);
// The same for a device's class, with the hooks that a device made with `behaviorFlags` needs (an Ex device's
// further methods too), for a swap chain's, and for a state block's.
bool HookDevice(IDirect3DDevice9* device, DWORD behaviorFlags);
bool HookSwapChain(IDirect3DSwapChain9* chain);
bool HookStateBlock(IDirect3DStateBlock9* block);
// Puts the overlay's hooks back into every table where someone has written back the functions that were there
// before the overlay patched it; at once for `device`'s table when that is so.
void RepatchTables();
void RepatchIfRestored(IDirect3DDevice9* device);

}  // namespace ingame::d3d9
