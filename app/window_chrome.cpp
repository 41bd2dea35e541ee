// The window chrome of the main dialog: the About entry of the system menu and the minimised icon.
#include "app/about_dlg.h"
#include "app/demo_dlg.h"
#include "res/resource.h"

void CDemoDlg::OnSysCommand(UINT id, LPARAM lParam) {
  // The low four bits of a system command are the system's own.
  if ((id & 0xFFF0) == IDM_ABOUT) {
    CAboutDlg about;
    about.DoModal();
  } else {
    CDialog::OnSysCommand(id, lParam);
  }
}

void CDemoDlg::OnPaint() {
  if (!IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(m_hWnd, &paint);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int iconWidth = ::GetSystemMetrics(SM_CXICON);
  const int iconHeight = ::GetSystemMetrics(SM_CYICON);
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  const int x = (client.right - client.left - iconWidth + 1) / 2;
  const int y = (client.bottom - client.top - iconHeight + 1) / 2;
  ::DrawIcon(dc, x, y, m_hIcon);
  ::EndPaint(m_hWnd, &paint);
}

// The minimised dialog is dragged with its icon.
HCURSOR CDemoDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
