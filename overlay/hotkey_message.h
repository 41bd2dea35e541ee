// The message the hook library sends to the window given to HookOn: WPARAM is the virtual-key code of the
// key that was pressed; LPARAM carries nothing the program reads.
#pragma once

#include <windows.h>

#define WM_HOOKKEY (WM_USER + 0x1000)
static_assert(WM_HOOKKEY == 0x1400, "the hook library posts 0x1400");
