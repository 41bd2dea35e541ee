// Where the system's Direct3D 8 objects keep the methods the test game redirects: slot numbers in their method
// tables, worked out from d3d8.h's C declarations (system_slots.cpp), and the tables' sizes.
#pragma once

namespace testgame {

struct SystemSlots {
  int createDevice;               // IDirect3D8
  int deviceCreateSwapChain;      // IDirect3DDevice8::CreateAdditionalSwapChain
  int devicePresent;
  int deviceCopyRects;
  int deviceEndScene;
  int deviceCreateTexture;
  int deviceSlots;                // IDirect3DDevice8's methods
  int swapChainPresent;
  int swapChainSlots;             // IDirect3DSwapChain8's methods
};

extern const SystemSlots kSystemSlots;

// The same for the Direct3D 9 methods the game redirects (system_slots9.cpp, from d3d9.h).
struct SystemSlots9 {
  int deviceGetDeviceCaps;  // IDirect3DDevice9
  int devicePresent;     // IDirect3DDevice9
  int devicePresentEx;   // IDirect3DDevice9Ex
  int swapChainPresent;  // IDirect3DSwapChain9
};

extern const SystemSlots9 kSystemSlots9;

}  // namespace testgame
