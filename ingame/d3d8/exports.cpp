// d3d8.dll's exports. A game loads this library in place of the system's Direct3D 8 (it lies beside the game's
// .exe, where Windows looks first; under Wine with WINEDLLOVERRIDES=d3d8=n,b). Everything goes on to the system's
// own d3d8.dll, loaded by its full path in the system folder, so that this library never loads itself or another
// copy from the game's folder. The game gets the system's own objects; the overlay reaches it through a few
// patched methods of theirs (d3d8_hooks.h).
#include <windows.h>
// Direct3D's interface identifiers are defined here: this library must not import the d3d8.dll it stands for.
#include <initguid.h>
#include <d3d8.h>

#include <string>

#include "ingame/d3d8/d3d8_hooks.h"

namespace {

HMODULE g_systemDirect3D = nullptr;

BOOL CALLBACK LoadSystemDirect3D(PINIT_ONCE, PVOID, PVOID*) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  const std::wstring path = std::wstring(folder, length) + L"\\d3d8.dll";
  g_systemDirect3D = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return TRUE;
}

// The system's d3d8.dll, loaded on first use (never from DllMain) and kept for the process's life.
HMODULE SystemDirect3D() {
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  InitOnceExecuteOnce(&once, LoadSystemDirect3D, nullptr, nullptr);
  return g_systemDirect3D;
}

template <class Function>
Function SystemEntry(const char* name) {
  HMODULE module = SystemDirect3D();
  return module ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
}

using Direct3DCreate8Fn = IDirect3D8*(WINAPI*)(UINT);
using ValidatePixelShaderFn = HRESULT(WINAPI*)(const DWORD*, const DWORD*, BOOL, char**);
using ValidateVertexShaderFn = HRESULT(WINAPI*)(const DWORD*, const DWORD*, const DWORD*, BOOL, char**);
using DebugSetMuteFn = void(WINAPI*)();
using GetSWInfoFn = void*(WINAPI*)();
using EnableMaximizedWindowedModeShimFn = HRESULT(WINAPI*)(UINT);

}  // namespace

extern "C" {

// The system's Direct3D object, whose devices draw the overlay. When its methods cannot be patched, the game runs
// without the overlay.
IDirect3D8* WINAPI Direct3DCreate8(UINT SDKVersion) {
  const auto create = SystemEntry<Direct3DCreate8Fn>("Direct3DCreate8");
  IDirect3D8* direct3d = create ? create(SDKVersion) : nullptr;
  if (direct3d) ingame::HookDirect3D(direct3d);
  return direct3d;
}

HRESULT WINAPI ValidatePixelShader(const DWORD* shader, const DWORD* reserved, BOOL returnErrors, char** errors) {
  const auto validate = SystemEntry<ValidatePixelShaderFn>("ValidatePixelShader");
  return validate ? validate(shader, reserved, returnErrors, errors) : E_FAIL;
}

HRESULT WINAPI ValidateVertexShader(const DWORD* shader, const DWORD* reserved1, const DWORD* reserved2,
                                    BOOL returnErrors, char** errors) {
  const auto validate = SystemEntry<ValidateVertexShaderFn>("ValidateVertexShader");
  return validate ? validate(shader, reserved1, reserved2, returnErrors, errors) : E_FAIL;
}

void WINAPI DebugSetMute() {
  if (const auto mute = SystemEntry<DebugSetMuteFn>("DebugSetMute")) mute();
}

// Undocumented; exported by the system's library, so a program that asks for it finds it here too.
void* WINAPI D3D8GetSWInfo() {
  const auto info = SystemEntry<GetSWInfoFn>("D3D8GetSWInfo");
  return info ? info() : nullptr;
}

HRESULT WINAPI Direct3D8EnableMaximizedWindowedModeShim(UINT enable) {
  const auto shim = SystemEntry<EnableMaximizedWindowedModeShimFn>("Direct3D8EnableMaximizedWindowedModeShim");
  return shim ? shim(enable) : S_OK;
}

}  // extern "C"
