// d3d8.dll's exports. A game loads this library in place of the system's Direct3D 8 (it lies beside the game's
// .exe, where Windows looks first; under Wine with WINEDLLOVERRIDES=d3d8=n,b). Everything goes on to the system's
// own d3d8.dll, or to the wrapper that d3d8_chain.txt beside this library names (chained_library.h). The game gets
// the objects of whichever made them; the overlay reaches it through a few patched methods of theirs
// (d3d8_hooks.h). This file is built with frame pointers, by which calls from the wrapper are told apart.
#include <windows.h>
// Direct3D's interface identifiers are defined here: this library must not import the d3d8.dll it stands for.
#include <initguid.h>
#include <d3d8.h>

#include "ingame/common/chained_library.h"
#include "ingame/common/layered_present.h"
#include "ingame/d3d8/d3d8_hooks.h"

extern "C" {

// Marks this library as the overlay's d3d8.dll: a library named in d3d8_chain.txt that has it is a copy of the
// overlay, which would draw it a second time, and is not used.
__declspec(dllexport) int VaVazuOverlayDirect3D8() { return 1; }

// Whether the calling thread is in a game's present of this library: a library of the overlay's below this one
// (layered_present.h) then draws nothing into the frame.
__declspec(dllexport) int VaVazuOverlayPresenting() { return ingame::PresentingHere() ? 1 : 0; }

}  // extern "C"

namespace {

ingame::CChainedLibrary& Library() {
  static ingame::CChainedLibrary library(
      {L"d3d8.dll", L"d3d8_chain.txt", "Direct3DCreate8", "VaVazuOverlayDirect3D8", L"Direct3D 8"});
  return library;
}

// Calls the entry point `name` of the library below with `arguments`; `otherwise` when it has none.
template <class Function, class Result, class... Arguments>
Result Forward(const char* name, bool fromChosen, Result otherwise, Arguments... arguments) {
  return ingame::Forward<Function>(Library(), name, fromChosen, otherwise, arguments...);
}

bool FromChosen() { return Library().FromChosen(); }

using Direct3DCreate8Fn = IDirect3D8*(WINAPI*)(UINT);
using ValidatePixelShaderFn = HRESULT(WINAPI*)(const DWORD*, const DWORD*, BOOL, char**);
using ValidateVertexShaderFn = HRESULT(WINAPI*)(const DWORD*, const DWORD*, const DWORD*, BOOL, char**);
using DebugSetMuteFn = void(WINAPI*)();
using GetSWInfoFn = void*(WINAPI*)();
using EnableMaximizedWindowedModeShimFn = HRESULT(WINAPI*)(UINT);

}  // namespace

extern "C" {

// The Direct3D object of the chosen library or the system's, whose devices draw the overlay. When its methods
// cannot be patched, the game runs without the overlay. A call from inside the chosen library gets the system's
// object untouched: the chosen library's own object, made from it, is the one that draws.
IDirect3D8* WINAPI Direct3DCreate8(UINT SDKVersion) {
  const bool fromChosen = FromChosen();
  IDirect3D8* direct3d =
      Forward<Direct3DCreate8Fn>("Direct3DCreate8", fromChosen, static_cast<IDirect3D8*>(nullptr), SDKVersion);
  if (direct3d && !fromChosen) ingame::d3d8::HookDirect3D(direct3d);
  return direct3d;
}

HRESULT WINAPI ValidatePixelShader(const DWORD* shader, const DWORD* reserved, BOOL returnErrors, char** errors) {
  return Forward<ValidatePixelShaderFn>("ValidatePixelShader", FromChosen(), E_FAIL, shader, reserved, returnErrors, errors);
}

HRESULT WINAPI ValidateVertexShader(const DWORD* shader, const DWORD* reserved1, const DWORD* reserved2,
                                    BOOL returnErrors, char** errors) {
  return Forward<ValidateVertexShaderFn>("ValidateVertexShader", FromChosen(), E_FAIL, shader, reserved1, reserved2,
                                         returnErrors, errors);
}

void WINAPI DebugSetMute() {
  bool chosen = false;
  const FARPROC address = Library().Find("DebugSetMute", FromChosen(), &chosen);
  if (!address) return;
  const auto mute = reinterpret_cast<DebugSetMuteFn>(reinterpret_cast<void (*)()>(address));
  if (!chosen) return mute();
  const ingame::CChainedLibrary::Inside inside;
  mute();
}

// Undocumented; exported by the system's library, so a program that asks for it finds it here too.
void* WINAPI D3D8GetSWInfo() {
  return Forward<GetSWInfoFn>("D3D8GetSWInfo", FromChosen(), static_cast<void*>(nullptr));
}

HRESULT WINAPI Direct3D8EnableMaximizedWindowedModeShim(UINT enable) {
  return Forward<EnableMaximizedWindowedModeShimFn>("Direct3D8EnableMaximizedWindowedModeShim", FromChosen(),
                                                            S_OK, enable);
}

}  // extern "C"
