// Tells the user something in a modal message box owned by the program's active window.
#pragma once

#include <windows.h>

int AfxMessageBox(const char* text, UINT style = MB_OK, UINT helpId = 0);
