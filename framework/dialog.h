// A dialog created from a template and run modally by a loop of its own.
#pragma once

#include <windows.h>

#include "framework/wnd.h"

class CDataExchange;

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT templateId, CWnd* parent = nullptr) : m_templateId(templateId), m_pParentWnd(parent) {}

  // Creates the dialog and runs it until it ends; returns IDOK, IDCANCEL, or -1 if it could not be created.
  // Before returning it destroys the window through the virtual DestroyWindow. A quit request that ended
  // the loop is posted again, so that every loop around this one ends too.
  virtual INT_PTR DoModal();
  void EndDialog(INT_PTR result);

  // TRUE reads all fields from the controls and validates them; FALSE writes all fields to the controls.
  // A read stops at the first field that fails: the user is told, the focus goes to that control, and the
  // result is FALSE.
  BOOL UpdateData(BOOL saveAndValidate = TRUE);

 protected:
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(CDataExchange* exchange);
  virtual void OnOK();
  virtual void OnCancel();

  // The derived dialog's message map; returns false when it has no entry for the message.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  // The system's default handling, for handlers that act on some cases and leave the rest to it.
  void OnSysCommand(UINT id, LPARAM lParam);
  void OnPaint();

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  BOOL InitDialogAndPlace();
  void CentreWindow();
  HWND FindOwner() const;

  UINT m_templateId;
  CWnd* m_pParentWnd;
  bool m_modalEnded = false;
  INT_PTR m_modalResult = -1;
};
