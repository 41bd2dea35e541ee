// va_vazu_preview.exe: a small Direct3D 8 game standing in for a real one, for trying the overlay without a
// game. It draws through d3d8.dll like any game, so a d3d8.dll put beside it takes the system's place; with
// --d3d9 or --d3d9ex it draws through d3d9.dll, and a d3d9.dll put beside it takes the system's place.
#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "preview/options.h"
#include "preview/preview_window.h"

namespace {

constexpr char kCaption[] = "va_vazu preview";

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  std::vector<std::string> arguments;
  for (int i = 1; i < __argc; ++i) arguments.emplace_back(__argv[i]);
  const preview::ParsedOptions parsed = preview::ParseOptions(arguments);
  if (!parsed.error.empty()) {
    const std::string text = parsed.error + "\n\nUsage: " + preview::kUsage;
    MessageBoxA(nullptr, text.c_str(), kCaption, MB_OK | MB_ICONERROR);
    return 2;
  }

  // The imaging component that reads the still picture is a COM component.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int code = 3;
  {
    preview::CPreviewWindow window(parsed.options);
    std::string error;
    if (window.Create(instance, error)) {
      code = window.Run();
    } else {
      const std::string text = "The game screen cannot be shown.\n\n" + error;
      MessageBoxA(nullptr, text.c_str(), kCaption, MB_OK | MB_ICONERROR);
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return code;
}
