// The benchmark's baseline: the program's main dialog template shown with the system's own modal dialog call
// and nothing else: no libraries, no data exchange, no icon or menu work. What va_vazu costs beyond this is
// what its own code costs.
#include <windows.h>

#include "resource.h"

namespace {

// Ends on CLOSE, Escape and the window's close box, as the program does; everything else is the system's.
INT_PTR CALLBACK BareDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) noexcept {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, BareDialogProc, 0);
  return 0;
}
