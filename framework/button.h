// A button control attached to an existing child window of a dialog.
#pragma once

#include <windows.h>

class CButton {
 public:
  bool IsAttached() const { return m_hWnd != nullptr; }
  void Attach(HWND window) { m_hWnd = window; }
  HWND GetSafeHwnd() const { return m_hWnd; }

  int GetCheck() const { return static_cast<int>(::SendMessageA(m_hWnd, BM_GETCHECK, 0, 0)); }
  void SetCheck(int state) const { ::SendMessageA(m_hWnd, BM_SETCHECK, static_cast<WPARAM>(state), 0); }

 private:
  HWND m_hWnd = nullptr;
};
