// The methods of the system's Direct3D 8 objects that the overlay patches (table_patch.h), and what it does in
// each: the Direct3D object's CreateDevice gives the new device its overlay; the device's AddRef and Release keep
// its count the game's; Present, Reset and the additional swap chains' Present draw the overlay; and the calls
// that set or use the states the overlay draws with are followed on a pure device and kept out of the overlay's
// drawing on a multithreaded one. Every other method is the system's, untouched.
#pragma once

#include <d3d8.h>

namespace ingame {

// Patches the tables of the Direct3D object's interface, once; false when it cannot be.
bool HookDirect3D(IDirect3D8* direct3d);
// The same for a device's interface, and for a swap chain's.
bool HookDevice(IDirect3DDevice8* device);
bool HookSwapChain(IDirect3DSwapChain8* chain);

}  // namespace ingame
