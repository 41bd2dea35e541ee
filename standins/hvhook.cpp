// Stand-in for the keyboard-hook library "HVHook.dll". HookOn and HookOff are recorded with their arguments
// and return what the script file asks for; HookOn also records the system menu of the window it is given.
// Which entry points are exported is decided by the .def file.
//
// Between HookOn and HookOff the library catches keys for real: every first press of a key, in any window of
// the desktop, is posted to the window given to HookOn as the hotkey message (WPARAM = virtual-key code). The
// program acts on a report only if GetKeyState on its own thread shows the key down, so the report has to
// arrive while that thread's key state has the key down, which depends on who has the keyboard:
//
// - The program's thread has the keyboard: the key's own WM_KEYDOWN goes to that thread, and its key state
//   follows the key messages as the thread takes them from its queue. A WH_KEYBOARD hook on that thread
//   posts the report as WM_KEYDOWN is taken; posted messages are taken before further input, so the report
//   is handled after WM_KEYDOWN and before WM_KEYUP. (Reporting from the low-level hook instead would arrive
//   before WM_KEYDOWN, with the key still up.)
// - Another window has the keyboard: the program's thread gets no key messages, and its key state follows
//   the desktop's key state. The low-level hook (WH_KEYBOARD_LL, called on the thread that installed it, ahead
//   of the desktop's key state) posts the report at the press. If the key is still held when the report is
//   handled, it reads down; for a quick tap the release may come first, so when the low-level hook sees a
//   release it first hands every report still queued for the window to it: the release is not yet applied
//   then, so the key still reads down.
//
// Both hooks run on the program's thread (HookOn is called there) and share the state below without locks.
// The low-level hook sees every key event first and decides, per press, which of the two reports it; a key
// held down and repeating is reported once.
#include "contract_check.h"
#include "overlay/hotkey_message.h"
#include "overlay/overlay_api.h"
#include "standin.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

HMODULE g_module = nullptr;

// The window HookOn was given, and its thread, where both hooks run and the reports are handled.
HWND g_target = nullptr;
DWORD g_targetThread = 0;
HHOOK g_lowLevelHook = nullptr;
HHOOK g_threadHook = nullptr;

// Keys held down as the low-level hook has seen them, to tell a first press from the key repeating.
bool g_held[256] = {};
// Presses that went to the target's thread and are reported by the thread hook as their WM_KEYDOWN is taken.
bool g_reportOnKeyDown[256] = {};
// Set while queued reports are being handed over, so that a nested release does not start another round.
bool g_handingOver = false;

// The low-level hook names the left and right SHIFT, CTRL and ALT apart; key messages use one code for both.
DWORD CommonKeyCode(DWORD key) {
  switch (key) {
    case VK_LSHIFT:
    case VK_RSHIFT:
      return VK_SHIFT;
    case VK_LCONTROL:
    case VK_RCONTROL:
      return VK_CONTROL;
    case VK_LMENU:
    case VK_RMENU:
      return VK_MENU;
    default:
      return key & 0xFF;
  }
}

bool TargetThreadHasKeyboard() {
  HWND foreground = GetForegroundWindow();
  return foreground != nullptr && GetWindowThreadProcessId(foreground, nullptr) == g_targetThread;
}

void Report(DWORD key) { PostMessageA(g_target, WM_HOOKKEY, key, 0); }

// Hands the reports still queued for the target to it now, in their order. The release waits for this hook,
// and the system stops waiting for a low-level hook after a while (and Windows then drops the hook), so the
// hand-over stops after kHandOverMs; a report takes a few milliseconds, and a tap leaves one queued.
// The look into the queue may run messages sent to this thread meanwhile, as any look does: limited to posted
// messages (PM_QS_POSTMESSAGE), Wine missed the queued report whenever a sent message was waiting.
constexpr ULONGLONG kHandOverMs = 100;

void HandOverQueuedReports() {
  if (g_handingOver) return;
  g_handingOver = true;
  const ULONGLONG start = GetTickCount64();
  MSG msg;
  while (g_target && GetTickCount64() - start < kHandOverMs &&
         PeekMessageA(&msg, g_target, WM_HOOKKEY, WM_HOOKKEY, PM_REMOVE)) {
    DispatchMessageA(&msg);
  }
  g_handingOver = false;
}

LRESULT CALLBACK LowLevelKeyboardProc(int code, WPARAM message, LPARAM data) {
  if (code == HC_ACTION && g_target) {
    const auto* event = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
    const DWORD key = CommonKeyCode(event->vkCode);
    if (event->flags & LLKHF_UP) {
      g_held[key] = false;
      HandOverQueuedReports();
    } else if (!g_held[key]) {
      g_held[key] = true;
      g_reportOnKeyDown[key] = TargetThreadHasKeyboard();
      if (!g_reportOnKeyDown[key]) Report(key);
    }
  }
  return CallNextHookEx(nullptr, code, message, data);
}

// Runs on the target's thread as it takes a key message from its queue (HC_ACTION; HC_NOREMOVE is a look).
LRESULT CALLBACK ThreadKeyboardProc(int code, WPARAM key, LPARAM flags) {
  const bool pressed = (static_cast<DWORD>(flags) & 0x80000000u) == 0;
  if (code == HC_ACTION && g_target && pressed && key < 256 && g_reportOnKeyDown[key]) {
    g_reportOnKeyDown[key] = false;
    Report(static_cast<DWORD>(key));
  }
  return CallNextHookEx(nullptr, code, key, flags);
}

void Unhook() {
  if (g_lowLevelHook) UnhookWindowsHookEx(g_lowLevelHook);
  if (g_threadHook) UnhookWindowsHookEx(g_threadHook);
  g_lowLevelHook = nullptr;
  g_threadHook = nullptr;
  g_target = nullptr;
  g_targetThread = 0;
  for (int key = 0; key < 256; ++key) {
    g_held[key] = false;
    g_reportOnKeyDown[key] = false;
  }
}

// Starts catching keys for `window`. Both hooks must run on the window's thread (see the top of this file),
// so a window of another thread is recorded but not hooked.
void Hook(HWND window) {
  Unhook();
  if (!IsWindow(window) || GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) return;
  g_target = window;
  g_targetThread = GetCurrentThreadId();
  g_lowLevelHook = SetWindowsHookExA(WH_KEYBOARD_LL, LowLevelKeyboardProc, g_module, 0);
  g_threadHook = SetWindowsHookExA(WH_KEYBOARD, ThreadKeyboardProc, nullptr, g_targetThread);
  if (!g_lowLevelHook || !g_threadHook) Unhook();
}

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
  Hook(window);
  return standin::Call("HookOn")
      .Hex("window", static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window)))
      .Unsigned("reserved", reserved)
      .Text("sysmenu", SystemMenuItems(window).c_str())
      .Finish();
}

DWORD WINAPI HookOff() {
  Unhook();
  return standin::Call("HookOff").Finish();
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) g_module = module;
  // Released without HookOff: the hooks must not outlive the code they call. (At process exit the system
  // removes them itself.)
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) Unhook();
  standin::OnDllMain(module, "HVHook.dll", reason, reserved);
  return TRUE;
}

}  // extern "C"

STANDIN_MATCHES_CONTRACT(HookOn);
STANDIN_MATCHES_CONTRACT(HookOff);
