// The keyboard hook behind HookOn and HookOff: reports key presses from anywhere on the desktop to a window of
// the program as the hotkey message. Shared by the overlay's HVHook.dll and its recording stand-in; how it
// works, and why, is at the top of keyboard_hook.cpp.
#pragma once

#include <windows.h>

namespace hook {

// Starts reporting key presses to `window`, after stopping any earlier reporting. Must be called on the
// window's own thread, where the hooks that see the program's own keys are set; for a window of another
// thread nothing is hooked. True when every hook is set.
bool Start(HWND window);

// Stops reporting and removes every hook. Not from DllMain: see StopOnRelease.
void Stop();

// The same from DllMain while the library is being released without Stop: no code of the library is left to
// run afterwards. (At the process's exit the system removes the hooks with the threads.)
void StopOnRelease();

}  // namespace hook
