// What the tests and the menu-reading library loaded into the program (menu_reader.cpp) agree on.
#pragma once

namespace e2e {

// The library's file, beside the test program.
inline constexpr char kMenuReaderFile[] = "va_vazu_menu_reader.dll";
// Its window hook (WH_CALLWNDPROC), exported under this name.
inline constexpr char kMenuReaderHook[] = "ReadSystemMenu";
// The request: sent to a window of the program, with the window that is to receive the answer as its WPARAM.
inline constexpr wchar_t kMenuReaderRequest[] = L"va_vazu_e2e_read_system_menu";

}  // namespace e2e
