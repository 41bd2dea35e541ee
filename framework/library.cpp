#include "framework/library.h"

std::string AfxGetModuleFileName(HMODULE module) {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: try again with room to spare
  }
}

void AfxRestrictLibrarySearch() {
  // SetDllDirectory with any folder drops the current directory from the search order. The empty string
  // would do so on Windows but not under Wine, so it is given the program's own folder, which is searched
  // first anyway.
  std::string path = AfxGetModuleFileName(nullptr);
  const std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return;
  path.resize(slash == 2 && path[1] == ':' ? slash + 1 : slash);  // keep "C:\" whole
  ::SetDllDirectoryA(path.c_str());
}

HMODULE AfxLoadLibrary(const char* fileName) { return ::LoadLibraryA(fileName); }

BOOL AfxFreeLibrary(HMODULE module) { return ::FreeLibrary(module); }
