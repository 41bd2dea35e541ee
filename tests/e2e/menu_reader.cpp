// A library that a test loads into the program with a window hook, to read a window's system menu from
// inside: under Wine another process cannot reach a window's menus. Asked with the request message, it
// answers with the menu's items in UTF-16, one a line, a separator as "----", as the text of the window the
// request names.
#include <windows.h>

#include <string>

#include "menu_reader.h"

extern "C" LRESULT CALLBACK ReadSystemMenu(int code, WPARAM wParam, LPARAM lParam) {
  static const UINT request = RegisterWindowMessageW(e2e::kMenuReaderRequest);
  const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call->message == request) {
    std::wstring items;
    HMENU menu = GetSystemMenu(call->hwnd, FALSE);
    const int count = menu ? GetMenuItemCount(menu) : 0;
    for (int i = 0; i < count; ++i) {
      const UINT position = static_cast<UINT>(i);
      if (GetMenuState(menu, position, MF_BYPOSITION) & MF_SEPARATOR) {
        items += L"----\n";
        continue;
      }
      std::wstring text(static_cast<std::size_t>(GetMenuStringW(menu, position, nullptr, 0, MF_BYPOSITION)) + 1, L'\0');
      text.resize(static_cast<std::size_t>(
          GetMenuStringW(menu, position, text.data(), static_cast<int>(text.size()), MF_BYPOSITION)));
      items += text + L'\n';
    }
    SetWindowTextW(reinterpret_cast<HWND>(call->wParam), items.c_str());
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
