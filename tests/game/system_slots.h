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

}  // namespace testgame
