// va_vazu_preview.exe: a window standing in for a running game, for seeing what the dialog does to the
// overlay without a game. The communication library's stand-in finds it and sends it every call.
#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "preview/options.h"
#include "preview/preview_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  std::vector<std::string> arguments;
  for (int i = 1; i < __argc; ++i) arguments.emplace_back(__argv[i]);
  const preview::ParsedOptions parsed = preview::ParseOptions(arguments);
  if (!parsed.error.empty()) {
    const std::string text = parsed.error + "\n\nUsage: " + preview::kUsage;
    MessageBoxA(nullptr, text.c_str(), "va_vazu preview", MB_OK | MB_ICONERROR);
    return 2;
  }

  // The imaging component that reads the pictures is a COM component.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int code = 1;
  {
    preview::CPreviewWindow window(parsed.options);
    if (window.Create(instance)) code = window.Run();
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return code;
}
