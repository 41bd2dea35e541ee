// Loading libraries by name and resolving their entry points.
#pragma once

#include <windows.h>

#include <string>

// Takes the current directory out of the library search, so that a library loaded by name can never be
// one planted there. The program's own folder, the system folders and PATH are still searched.
void AfxRestrictLibrarySearch();

// The full path of a loaded module's file (null: the program), however long.
std::string AfxGetModuleFileName(HMODULE module);

HMODULE AfxLoadLibrary(const char* fileName);
BOOL AfxFreeLibrary(HMODULE module);

// Resolves an exported name into a pointer of the entry point's declared type; null when it is missing.
template <class EntryPoint>
EntryPoint GetEntryPoint(HMODULE module, const char* name) {
  // Through void(*)(), the one function type the compilers accept as a go-between without a warning.
  return reinterpret_cast<EntryPoint>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}
