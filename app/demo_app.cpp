#include "app/demo_app.h"

#include "app/demo_dlg.h"

CDemoApp theApp;

BOOL CDemoApp::InitInstance() {
  CWinApp::InitInstance();
  CDemoDlg dialog;
  m_pMainWnd = &dialog;
  dialog.DoModal();
  m_pMainWnd = nullptr;
  // The dialog was the whole program: end without a message loop of our own.
  return FALSE;
}
