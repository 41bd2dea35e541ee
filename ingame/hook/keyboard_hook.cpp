// Between Start and Stop every first press of a key, in any window of the desktop, is posted to the window
// given to Start as the hotkey message (WPARAM = virtual-key code); a key held down and repeating is reported
// once. The program acts on a report only if GetKeyState on its own thread shows the key down, so the report
// has to be handled while that thread's key state has the key down, which depends on who has the keyboard:
//
// - The program's thread has the keyboard: the key's own WM_KEYDOWN goes to that thread, and its key state
//   follows the key messages as the thread takes them from its queue. A WH_KEYBOARD hook on that thread
//   posts the report as WM_KEYDOWN is taken; posted messages are taken before further input, so the report
//   is handled after WM_KEYDOWN and before WM_KEYUP, however quick the tap. (A report from the low-level hook
//   would arrive before WM_KEYDOWN, with the key still up.)
// - Another window has the keyboard: the program's thread gets no key messages, and GetKeyState there follows
//   the desktop's key state (Wine brings an idle thread's key state in line with it when it asks). The
//   low-level hook (WH_KEYBOARD_LL) sees each key event before the desktop's key state takes it, so a report
//   posted from the hook could be handled before the key reads down; it is posted once the hook has returned
//   and the key reads down (GetAsyncKeyState), followed by a marker message. A WH_GETMESSAGE hook on the
//   program's thread notes the marker as the thread takes it from its queue: by then the report's handler has
//   read the key state, or has opened a box whose modal loop took the marker. When the low-level hook sees the
//   release of a key whose marker is not yet taken, it waits for it, at most kHoldMs: a quick tap still reads
//   down in a program that is idle, and a busy program costs another program's key at most that long.
//
// The low-level hook runs on a thread of its own, which does nothing else. Every key of the desktop waits
// for the hook, and Windows silently removes a low-level hook that keeps timing out: on the program's thread
// it would wait for whatever that thread is doing (a slow library call, a message box), and it must never run
// the program's messages itself.
#include "ingame/hook/keyboard_hook.h"

#include <atomic>
#include <cstdint>
#include <initializer_list>

#include "ingame/hook/key_presses.h"
#include "overlay/hotkey_message.h"

namespace hook {
namespace {

// How long the release of a key waits at most for the program to take the report of its press. An idle
// program took 5 to 30 ms for it under Wine (a hotkey's handler, the stand-in's trace written), 16 ms in the
// middle; a long key log makes the handler slower.
constexpr DWORD kHoldMs = 50;
// How long a report waits at most for its key to read down. Under Wine the key reads down as soon as the
// low-level hook has returned; Windows applies it a little later.
constexpr ULONGLONG kDownWaitMs = 20;
// How long stopping waits for the hook's thread, whose longest wait is kHoldMs.
constexpr DWORD kStopMs = 2000;

// Set by Start before any hook or the thread exists, and left alone until Stop has removed them.
HWND g_target = nullptr;
DWORD g_targetThread = 0;
UINT g_markerMessage = 0;

// On the target's thread.
HHOOK g_keyboardHook = nullptr;
HHOOK g_messageHook = nullptr;

// The hook's thread and the events it is told and tells by.
HANDLE g_thread = nullptr;
HANDLE g_ready = nullptr;   // the low-level hook is set
HANDLE g_stop = nullptr;    // remove the low-level hook and end (or park, see StopOnRelease)
HANDLE g_parked = nullptr;  // the thread is about to wait for g_never
HANDLE g_never = nullptr;   // never set
HANDLE g_taken = nullptr;   // the program has taken a marker (auto-reset)
std::atomic<bool> g_park{false};

// Presses that go to the target's thread, reported by the thread hook as their WM_KEYDOWN is taken. Set by
// the hook's thread, cleared by the target's.
std::atomic<bool> g_reportOnKeyMessage[256];
// The number of the last marker the target's thread has taken. Markers are numbered on from one session to
// the next, so that a marker of an earlier session still queued is never taken for a newer one.
std::atomic<std::uint32_t> g_markerTaken{0};

// The rest belongs to the hook's thread.
HeldKeys g_held;
// Presses in another window whose report waits for the key to read down, and when each was seen.
bool g_awaitingDown[256];
ULONGLONG g_pressedAt[256];
// For each key held down, the marker posted after its report, while not known to be taken; 0 for none.
std::uint32_t g_awaitedMarker[256];
std::uint32_t g_lastMarker = 0;

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&g_target), &module);
  return module;
}

bool TargetThreadHasKeyboard() {
  HWND foreground = GetForegroundWindow();
  return foreground != nullptr && GetWindowThreadProcessId(foreground, nullptr) == g_targetThread;
}

// Posts the report of a press in another window, and the marker after it.
void PostReport(std::uint8_t key) {
  g_awaitingDown[key] = false;
  if (!PostMessageA(g_target, WM_HOOKKEY, key, 0) || g_markerMessage == 0) return;
  if (++g_lastMarker == 0) ++g_lastMarker;
  if (PostMessageA(g_target, g_markerMessage, g_lastMarker, 0)) g_awaitedMarker[key] = g_lastMarker;
}

// Posts the reports whose key now reads down, or has waited long enough. True while some still wait.
bool PostReportsOfKeysDown() {
  bool waiting = false;
  const ULONGLONG now = GetTickCount64();
  for (int key = 0; key < 256; ++key) {
    if (!g_awaitingDown[key]) continue;
    if ((GetAsyncKeyState(key) & 0x8000) != 0 || now - g_pressedAt[key] >= kDownWaitMs) {
      PostReport(static_cast<std::uint8_t>(key));
    } else {
      waiting = true;
    }
  }
  return waiting;
}

void AwaitMarker(std::uint32_t marker) {
  const ULONGLONG end = GetTickCount64() + kHoldMs;
  while (!MarkerReached(g_markerTaken, marker)) {
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return;
    WaitForSingleObject(g_taken, static_cast<DWORD>(end - now));
  }
}

// On the hook's thread, for every key event of the desktop before it takes effect.
LRESULT CALLBACK LowLevelKeyboardProc(int code, WPARAM message, LPARAM data) {
  if (code == HC_ACTION) {
    const auto* event = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
    const std::uint8_t key = CommonKeyCode(event->vkCode);
    if (event->flags & LLKHF_UP) {
      g_held.Release(key);
      // The press has taken effect and the release has not: a report not yet posted goes now, while the key
      // reads down.
      if (g_awaitingDown[key]) PostReport(key);
      if (g_awaitedMarker[key] != 0) AwaitMarker(g_awaitedMarker[key]);
      g_awaitedMarker[key] = 0;
    } else if (g_held.Press(key)) {
      const bool onKeyMessage = TargetThreadHasKeyboard();
      g_reportOnKeyMessage[key] = onKeyMessage;
      if (!onKeyMessage) {
        g_awaitingDown[key] = true;
        g_pressedAt[key] = GetTickCount64();
      }
    }
  }
  return CallNextHookEx(nullptr, code, message, data);
}

// On the target's thread as it takes a key message from its queue (HC_ACTION; HC_NOREMOVE is a look).
LRESULT CALLBACK ThreadKeyboardProc(int code, WPARAM key, LPARAM flags) {
  const bool pressed = (static_cast<DWORD>(flags) & 0x80000000u) == 0;
  if (code == HC_ACTION && pressed && key < 256 && g_reportOnKeyMessage[key].exchange(false)) {
    PostMessageA(g_target, WM_HOOKKEY, key, 0);
  }
  return CallNextHookEx(nullptr, code, key, flags);
}

// On the target's thread as it takes any message from its queue. The marker goes no further than here.
LRESULT CALLBACK GetMessageProc(int code, WPARAM removal, LPARAM data) {
  auto* msg = reinterpret_cast<MSG*>(data);
  if (code == HC_ACTION && removal == PM_REMOVE && g_markerMessage != 0 && msg->message == g_markerMessage &&
      msg->hwnd == g_target) {
    g_markerTaken = static_cast<std::uint32_t>(msg->wParam);
    SetEvent(g_taken);
    msg->message = WM_NULL;
  }
  return CallNextHookEx(nullptr, code, removal, data);
}

// The hook's thread: the low-level hook is called from inside PeekMessage; once it has returned, the key
// events it saw have taken effect, and the reports waiting for them go.
DWORD WINAPI HookThread(void*) {
  HHOOK lowLevelHook = SetWindowsHookExA(WH_KEYBOARD_LL, LowLevelKeyboardProc, ThisModule(), 0);
  if (lowLevelHook) {
    SetEvent(g_ready);
    bool waiting = false;
    for (;;) {
      const DWORD woken =
          MsgWaitForMultipleObjectsEx(1, &g_stop, waiting ? 1 : INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      if (woken != WAIT_OBJECT_0 + 1 && woken != WAIT_TIMEOUT) break;  // told to stop, or the wait failed
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      }
      waiting = PostReportsOfKeysDown();
    }
    UnhookWindowsHookEx(lowLevelHook);
  }
  // Ending a thread takes the loader lock, which DllMain holds while the library is released.
  if (g_park) SignalObjectAndWait(g_parked, g_never, INFINITE, FALSE);
  return 0;
}

void CloseEvents() {
  for (HANDLE* event : {&g_ready, &g_stop, &g_parked, &g_never, &g_taken}) {
    if (*event) CloseHandle(*event);
    *event = nullptr;
  }
}

void StopHooks(bool releasing) {
  if (g_keyboardHook) UnhookWindowsHookEx(g_keyboardHook);
  if (g_messageHook) UnhookWindowsHookEx(g_messageHook);
  g_keyboardHook = nullptr;
  g_messageHook = nullptr;
  if (g_thread) {
    g_park = releasing;
    SetEvent(g_stop);
    if (releasing) {
      // The thread cannot end by itself under the loader lock: once it has removed its hook it waits for
      // good inside SignalObjectAndWait, where it is ended without running any more of this library.
      HANDLE parkedOrEnded[] = {g_parked, g_thread};
      WaitForMultipleObjects(2, parkedOrEnded, FALSE, kStopMs);
      TerminateThread(g_thread, 0);
    }
    if (WaitForSingleObject(g_thread, kStopMs) != WAIT_OBJECT_0) TerminateThread(g_thread, 0);
    CloseHandle(g_thread);
    g_thread = nullptr;
  }
  CloseEvents();
  g_target = nullptr;
  g_targetThread = 0;
}

}  // namespace

bool Start(HWND window) {
  Stop();
  if (!IsWindow(window) || GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) return false;
  g_target = window;
  g_targetThread = GetCurrentThreadId();
  if (g_markerMessage == 0) g_markerMessage = RegisterWindowMessageA("HVHook report taken");
  for (auto& flag : g_reportOnKeyMessage) flag = false;
  g_held.Clear();
  for (int key = 0; key < 256; ++key) {
    g_awaitingDown[key] = false;
    g_awaitedMarker[key] = 0;
  }
  g_ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_parked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_taken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!g_ready || !g_stop || !g_parked || !g_never || !g_taken) {
    Stop();
    return false;
  }

  g_keyboardHook = SetWindowsHookExA(WH_KEYBOARD, ThreadKeyboardProc, nullptr, g_targetThread);
  g_messageHook = SetWindowsHookExA(WH_GETMESSAGE, GetMessageProc, nullptr, g_targetThread);
  g_thread = CreateThread(nullptr, 0, HookThread, nullptr, 0, nullptr);
  HANDLE readyOrEnded[] = {g_ready, g_thread};
  const bool hooked = g_keyboardHook && g_messageHook && g_thread &&
                      WaitForMultipleObjects(2, readyOrEnded, FALSE, kStopMs) == WAIT_OBJECT_0;
  if (!hooked) Stop();
  return hooked;
}

void Stop() { StopHooks(false); }

void StopOnRelease() { StopHooks(true); }

}  // namespace hook
