// The thinnest wrapper of a window handle that the dialogs need.
#pragma once

#include <windows.h>

#include <string>

class CWnd {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  virtual ~CWnd() = default;

  HWND GetSafeHwnd() const { return m_hWnd; }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  void SetDlgItemText(int id, const char* text) const { ::SetDlgItemTextA(m_hWnd, id, text); }
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
  }
  BOOL IsIconic() const { return ::IsIconic(m_hWnd); }

  // Destroys the window. Virtual so that a dialog can release what it holds just before its window goes.
  virtual BOOL DestroyWindow();

  HWND m_hWnd = nullptr;
};

// A control's whole text, however long; no buffer is sized by a guess.
std::string GetWindowTextString(HWND window);
