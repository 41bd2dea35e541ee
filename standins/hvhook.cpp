// Stand-in for the keyboard-hook library "HVHook.dll". HookOn and HookOff are recorded with their arguments
// and return what the script file asks for; HookOn also records the system menu of the window it is given.
// Which entry points are exported is decided by the .def file.
//
// Between HookOn and HookOff the library catches keys for real, with the overlay's own hook code
// (ingame/hook/keyboard_hook.cpp): every first press of a key, in any window of the desktop, is posted to the
// window given to HookOn as the hotkey message (WPARAM = virtual-key code).
#include "ingame/hook/keyboard_hook.h"
#include "overlay/contract_check.h"
#include "overlay/overlay_api.h"
#include "standin.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// The items of the window's system menu, one per line: "----" for a separator, else the command id in hex and
// the text ("0x0010 &About..."). Recorded here, inside the program's process, because under Wine another
// process cannot read a window's menus.
std::string SystemMenuItems(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  HMENU menu = process == GetCurrentProcessId() ? GetSystemMenu(window, FALSE) : nullptr;
  std::string items;
  const int count = menu ? GetMenuItemCount(menu) : 0;
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    if (!GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info)) continue;
    if (!items.empty()) items += '\n';
    if (info.fType & MFT_SEPARATOR) {
      items += "----";
      continue;
    }
    std::string text(info.cch + 1, '\0');
    info.dwTypeData = &text[0];
    info.cch = static_cast<UINT>(text.size());
    GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info);
    text.resize(info.cch);
    char id[16];
    std::snprintf(id, sizeof id, "0x%04X ", info.wID);
    items += id + text;
  }
  return items;
}

}  // namespace

extern "C" {

// The hooks are set whatever result the script asks for: the program does not read it.
DWORD WINAPI HookOn(HWND window, std::uint32_t reserved) {
  hook::Start(window);
  return standin::Call("HookOn")
      .Hex("window", static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window)))
      .Unsigned("reserved", reserved)
      .Text("sysmenu", SystemMenuItems(window).c_str())
      .Finish();
}

DWORD WINAPI HookOff() {
  hook::Stop();
  return standin::Call("HookOff").Finish();
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  // Released without HookOff: the hooks must not outlive the code they call. (At process exit the system
  // removes them itself.)
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) hook::StopOnRelease();
  standin::OnDllMain(module, "HVHook.dll", reason, reserved);
  return TRUE;
}

}  // extern "C"

ENTRY_POINT_MATCHES_CONTRACT(HookOn);
ENTRY_POINT_MATCHES_CONTRACT(HookOff);
