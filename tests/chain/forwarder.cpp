// A Direct3D 8 of the tests' own, standing for a wrapper that a player puts beside a game with the overlay: every
// entry point is passed on to a Direct3D 8 below it, and Direct3DCreate8 sets the event "va_vazu.chain.<process
// id>", kept open for the process's life, so that a test can see from outside that it was used.
//
// Below it is the system's d3d8.dll, loaded by its full path; or, when this library's file name starts with
// "byname", whatever "d3d8.dll" names in the process, as some wrappers load it: beside the overlay that is the
// overlay's d3d8.dll, which must then pass the calls to the system's rather than back here. When the name starts
// with "lazy", "d3d8.dll" is loaded by name too, and only later, on a thread of the forwarder's own that makes the
// Direct3D object below while Direct3DCreate8 waits for it.
#include <windows.h>
#include <d3d8.h>

#include <cstring>
#include <string>

namespace {

HMODULE g_below = nullptr;

// Whether this library's file name starts with `prefix`.
bool NamedWith(const char* prefix) {
  HMODULE self = nullptr;
  char path[MAX_PATH] = {};
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&g_below), &self);
  GetModuleFileNameA(self, path, MAX_PATH);
  const char* name = std::strrchr(path, '\\');
  name = name ? name + 1 : path;
  return _strnicmp(name, prefix, std::strlen(prefix)) == 0;
}

BOOL CALLBACK LoadBelow(PINIT_ONCE, PVOID, PVOID*) {
  if (NamedWith("byname") || NamedWith("lazy")) {
    g_below = LoadLibraryA("d3d8.dll");
  } else {
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH) g_below = LoadLibraryA((std::string(folder, length) + "\\d3d8.dll").c_str());
  }
  return TRUE;
}

template <class Function>
Function Below(const char* name) {
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  InitOnceExecuteOnce(&once, LoadBelow, nullptr, nullptr);
  return g_below ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(g_below, name))) : nullptr;
}

struct Creation {
  UINT version;
  IDirect3D8* made;
};

DWORD WINAPI CreateBelow(void* parameter) {
  auto* creation = static_cast<Creation*>(parameter);
  const auto create = Below<IDirect3D8*(WINAPI*)(UINT)>("Direct3DCreate8");
  creation->made = create ? create(creation->version) : nullptr;
  return 0;
}

}  // namespace

extern "C" {

IDirect3D8* WINAPI Direct3DCreate8(UINT version) {
  CreateEventA(nullptr, TRUE, TRUE, ("va_vazu.chain." + std::to_string(GetCurrentProcessId())).c_str());
  Creation creation{version, nullptr};
  if (!NamedWith("lazy")) {
    CreateBelow(&creation);
    return creation.made;
  }
  HANDLE thread = CreateThread(nullptr, 0, CreateBelow, &creation, 0, nullptr);
  if (!thread) return nullptr;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return creation.made;
}

HRESULT WINAPI ValidatePixelShader(const DWORD* shader, const DWORD* reserved, BOOL errorsWanted, char** errors) {
  const auto validate = Below<HRESULT(WINAPI*)(const DWORD*, const DWORD*, BOOL, char**)>("ValidatePixelShader");
  return validate ? validate(shader, reserved, errorsWanted, errors) : E_FAIL;
}

HRESULT WINAPI ValidateVertexShader(const DWORD* shader, const DWORD* reserved1, const DWORD* reserved2,
                                    BOOL errorsWanted, char** errors) {
  const auto validate =
      Below<HRESULT(WINAPI*)(const DWORD*, const DWORD*, const DWORD*, BOOL, char**)>("ValidateVertexShader");
  return validate ? validate(shader, reserved1, reserved2, errorsWanted, errors) : E_FAIL;
}

void WINAPI DebugSetMute() {
  if (const auto mute = Below<void(WINAPI*)()>("DebugSetMute")) mute();
}

void* WINAPI D3D8GetSWInfo() {
  const auto info = Below<void*(WINAPI*)()>("D3D8GetSWInfo");
  return info ? info() : nullptr;
}

HRESULT WINAPI Direct3D8EnableMaximizedWindowedModeShim(UINT enable) {
  const auto shim = Below<HRESULT(WINAPI*)(UINT)>("Direct3D8EnableMaximizedWindowedModeShim");
  return shim ? shim(enable) : S_OK;
}

}  // extern "C"
