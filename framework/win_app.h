// The application object: one global instance, whose InitInstance the program's entry point runs.
#pragma once

#include <windows.h>

#include <string>

#include "framework/wnd.h"

class CWinApp {
 public:
  CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;
  virtual ~CWinApp();

  // Returns FALSE to end the program at once, TRUE to run a message loop until a quit request.
  virtual BOOL InitInstance();
  virtual int Run();

  CWnd* m_pMainWnd = nullptr;
  std::string m_pszAppName;  // the program file's name without its extension; captions message boxes
  HINSTANCE m_hInstance = nullptr;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();

// The program's entry point calls this with its instance handle; it returns the process's exit code.
int AfxWinMain(HINSTANCE instance);
