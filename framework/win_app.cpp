#include "framework/win_app.h"

#include "framework/library.h"

namespace {

CWinApp* g_app = nullptr;

std::string ModuleBaseName(HINSTANCE instance) {
  const std::string path = AfxGetModuleFileName(instance);
  const std::size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

}  // namespace

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::Run() {
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetInstanceHandle() { return g_app != nullptr ? g_app->m_hInstance : ::GetModuleHandleA(nullptr); }

int AfxWinMain(HINSTANCE instance) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return 1;
  app->m_hInstance = instance;
  app->m_pszAppName = ModuleBaseName(instance);
  AfxRestrictLibrarySearch();
  if (!app->InitInstance()) return 0;
  return app->Run();
}
