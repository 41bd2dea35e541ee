#include "framework/dialog.h"

#include "core/placement.h"
#include "framework/data_exchange.h"
#include "framework/message_map.h"
#include "framework/win_app.h"

BOOL CWnd::DestroyWindow() {
  if (m_hWnd == nullptr) return FALSE;
  const BOOL destroyed = ::DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
  return destroyed;
}

std::string GetWindowTextString(HWND window) {
  const int length = ::GetWindowTextLengthA(window);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = ::GetWindowTextA(window, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

namespace {

core::ScreenRect ToScreenRect(const RECT& rect) {
  return {static_cast<int>(rect.left), static_cast<int>(rect.top), static_cast<int>(rect.right),
          static_cast<int>(rect.bottom)};
}

}  // namespace

HWND CDialog::FindOwner() const {
  if (m_pParentWnd != nullptr) return m_pParentWnd->m_hWnd;
  // Like any modal window, a dialog without a parent belongs to the program's main window, unless it is it.
  const CWinApp* app = AfxGetApp();
  if (app == nullptr || app->m_pMainWnd == nullptr || app->m_pMainWnd == this) return nullptr;
  HWND owner = app->m_pMainWnd->m_hWnd;
  return owner != nullptr ? ::GetLastActivePopup(owner) : nullptr;
}

INT_PTR CDialog::DoModal() {
  HWND owner = FindOwner();
  const bool disableOwner = owner != nullptr && ::IsWindowEnabled(owner);
  if (disableOwner) ::EnableWindow(owner, FALSE);

  m_modalEnded = false;
  m_modalResult = -1;
  HWND created = ::CreateDialogParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_templateId), owner,
                                      &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  if (created == nullptr) {
    if (disableOwner) ::EnableWindow(owner, TRUE);
    return -1;
  }
  if (!m_modalEnded && !::IsWindowVisible(m_hWnd)) ::ShowWindow(m_hWnd, SW_SHOWNORMAL);

  bool quit = false;
  WPARAM quitCode = 0;
  int failuresInARow = 0;
  while (!m_modalEnded) {
    MSG msg;
    const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      quit = true;
      quitCode = msg.wParam;
      break;
    }
    // A message that could not be fetched (Wine fails this way on a text of several megabytes sent from
    // another process) is dropped, not taken as the end of the dialog. Only a queue that keeps failing
    // ends it, rather than spinning.
    if (got == -1) {
      if (++failuresInARow == 100) break;
      continue;
    }
    failuresInARow = 0;
    if (!::IsDialogMessageA(m_hWnd, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }

  // The owner is enabled before this window goes, so that the system activates it and not another program.
  if (disableOwner) ::EnableWindow(owner, TRUE);
  if (owner != nullptr && ::GetActiveWindow() == m_hWnd) ::SetActiveWindow(owner);
  DestroyWindow();
  if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
  return m_modalResult;
}

void CDialog::EndDialog(INT_PTR result) {
  m_modalResult = result;
  m_modalEnded = true;
  // Wakes the loop in case this was called from inside a nested loop, such as a message box's.
  if (m_hWnd != nullptr) ::PostMessageA(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange exchange(*this, saveAndValidate != FALSE);
  DoDataExchange(&exchange);
  if (!exchange.Failed()) return TRUE;
  exchange.ReportFailure();
  return FALSE;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
  if (UpdateData(TRUE)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

void CDialog::OnSysCommand(UINT id, LPARAM lParam) { ::DefWindowProcA(m_hWnd, WM_SYSCOMMAND, id, lParam); }

void CDialog::OnPaint() { ::DefWindowProcA(m_hWnd, WM_PAINT, 0, 0); }

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  CDialog* dialog = nullptr;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<CDialog*>(lParam);
    ::SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
    dialog->m_hWnd = window;
  } else {
    dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(window, DWLP_USER));
  }
  if (dialog == nullptr) return FALSE;

  // Nothing may unwind into the system's code: a handler that runs out of memory leaves the message
  // unhandled instead of ending the program.
  try {
    return dialog->HandleMessage(message, wParam, lParam);
  } catch (...) {
    return FALSE;
  }
}

// The dialog manager leaves a dialog where its template puts it: at the top-left corner of the screen, or of
// its owner. Users expect a modal dialog in the middle, so one that its start-up neither showed nor moved is
// centred once start-up is over; a dialog that placed or showed itself stays as it is.
BOOL CDialog::InitDialogAndPlace() {
  RECT before{};
  ::GetWindowRect(m_hWnd, &before);
  const bool visibleBefore = ::IsWindowVisible(m_hWnd) != FALSE;
  const BOOL result = OnInitDialog();
  RECT after{};
  if (!visibleBefore && m_hWnd != nullptr && ::IsWindow(m_hWnd) && !::IsWindowVisible(m_hWnd) &&
      ::GetWindowRect(m_hWnd, &after) && after.left == before.left && after.top == before.top) {
    CentreWindow();
  }
  return result;
}

// Centres the dialog on its owner when the owner is there to be seen (visible, not minimised), else on the
// work area of the monitor it is on, and keeps it within that monitor's work area.
void CDialog::CentreWindow() {
  HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  const bool onOwner = owner != nullptr && ::IsWindowVisible(owner) && !::IsIconic(owner);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!::GetMonitorInfoA(::MonitorFromWindow(onOwner ? owner : m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor)) return;
  RECT on = monitor.rcWork;
  RECT own{};
  if ((onOwner && !::GetWindowRect(owner, &on)) || !::GetWindowRect(m_hWnd, &own)) return;
  const int width = static_cast<int>(own.right - own.left);
  const int height = static_cast<int>(own.bottom - own.top);
  const core::ScreenPoint origin = core::CentredOrigin(ToScreenRect(on), width, height, ToScreenRect(monitor.rcWork));
  ::SetWindowPos(m_hWnd, nullptr, origin.x, origin.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) return InitDialogAndPlace();

  LRESULT result = 0;
  if (OnMessage(message, wParam, lParam, result)) {
    if (DialogReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
  }

  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    switch (LOWORD(wParam)) {
      case IDOK:
        OnOK();
        return TRUE;
      case IDCANCEL:
        OnCancel();
        return TRUE;
      default:
        break;
    }
  }
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
    m_hWnd = nullptr;
  }
  return FALSE;
}
