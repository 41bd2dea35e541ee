#include "framework/message_box.h"

#include "framework/win_app.h"

namespace {

// The window a message box belongs to: the program's active window, or else its main window. If that is
// disabled by a modal window of its own, the box belongs to that modal window instead.
HWND MessageBoxOwner() {
  HWND owner = ::GetActiveWindow();
  if (owner == nullptr) {
    const CWinApp* app = AfxGetApp();
    if (app != nullptr && app->m_pMainWnd != nullptr) owner = app->m_pMainWnd->m_hWnd;
  }
  if (owner != nullptr) owner = ::GetLastActivePopup(owner);
  return owner;
}

}  // namespace

int AfxMessageBox(const char* text, UINT style, UINT /*helpId*/) {
  const CWinApp* app = AfxGetApp();
  const char* caption = app != nullptr ? app->m_pszAppName.c_str() : nullptr;
  return ::MessageBoxA(MessageBoxOwner(), text, caption, style);
}
