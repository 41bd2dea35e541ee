// The overlay's keyboard-hook library "HVHook.dll": reports key presses from anywhere, the running game
// included, to the window given to HookOn (see keyboard_hook.cpp). The .def file exports HookOn and HookOff.
#include <cstdint>

#include "ingame/hook/keyboard_hook.h"
#include "overlay/contract_check.h"
#include "overlay/overlay_api.h"

extern "C" {

// TRUE once every hook is set: HookOn must be called on the window's own thread.
BOOL WINAPI HookOn(HWND window, std::uint32_t) { return hook::Start(window) ? TRUE : FALSE; }

BOOL WINAPI HookOff() {
  hook::Stop();
  return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // Released without HookOff: the hooks must not outlive the code they call.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) hook::StopOnRelease();
  return TRUE;
}

}  // extern "C"

ENTRY_POINT_MATCHES_CONTRACT(HookOn);
ENTRY_POINT_MATCHES_CONTRACT(HookOff);
