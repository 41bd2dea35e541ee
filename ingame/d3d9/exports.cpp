// d3d9.dll's exports. A game loads this library in place of the system's Direct3D 9 (it lies beside the game's
// .exe, where Windows looks first; under Wine with WINEDLLOVERRIDES=d3d9=n,b). Everything goes on to the system's
// own d3d9.dll, or to the wrapper that d3d9_chain.txt beside this library names (chained_library.h). The game gets
// the objects of whichever made them; the overlay reaches it through a few patched methods of theirs
// (d3d9_hooks.h). This file is built with frame pointers, by which calls from the wrapper are told apart.
//
// The library exports every entry point that any version of the system's library has, so that a program that
// looks one up finds it here too; where neither the wrapper nor the system's library has it, the call answers as
// a system without that feature would (no object, E_NOTIMPL, nothing done).
#include <windows.h>
// Direct3D's interface identifiers are defined here: this library must not import the d3d9.dll it stands for.
#include <initguid.h>
#include <d3d9.h>

#include "ingame/common/chained_library.h"
#include "ingame/common/layered_present.h"
#include "ingame/d3d9/d3d9_hooks.h"

// The arguments of the entry points that make a Direct3D 9 object on top of Direct3D 12, which this library only
// passes on; newer system headers define the structure, older ones do not.
struct _D3D9ON12_ARGS;

extern "C" {

// Marks this library as the overlay's d3d9.dll: a library named in d3d9_chain.txt that has it is a copy of the
// overlay, which would draw it a second time, and is not used.
__declspec(dllexport) int VaVazuOverlayDirect3D9() { return 1; }

// Whether the calling thread is in a game's present of this library: a library of the overlay's below this one
// (layered_present.h) then draws nothing into the frame.
__declspec(dllexport) int VaVazuOverlayPresenting() { return ingame::PresentingHere() ? 1 : 0; }

}  // extern "C"

namespace {

ingame::CChainedLibrary& Library() {
  static ingame::CChainedLibrary library(
      {L"d3d9.dll", L"d3d9_chain.txt", "Direct3DCreate9", "VaVazuOverlayDirect3D9", L"Direct3D 9"});
  return library;
}

// Calls the entry point `name` of the library below with `arguments`; `otherwise` when it has none.
template <class Function, class Result, class... Arguments>
Result Forward(const char* name, bool fromChosen, Result otherwise, Arguments... arguments) {
  return ingame::Forward<Function>(Library(), name, fromChosen, otherwise, arguments...);
}

// The same for an entry point that returns nothing.
template <class Function, class... Arguments>
void ForwardVoid(const char* name, bool fromChosen, Arguments... arguments) {
  bool chosen = false;
  const FARPROC address = Library().Find(name, fromChosen, &chosen);
  if (!address) return;
  const auto function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
  if (!chosen) return function(arguments...);
  const ingame::CChainedLibrary::Inside inside;
  function(arguments...);
}

bool FromChosen() { return Library().FromChosen(); }

using Direct3DCreate9Fn = IDirect3D9*(WINAPI*)(UINT);
using Direct3DCreate9ExFn = HRESULT(WINAPI*)(UINT, IDirect3D9Ex**);
using Direct3DCreate9On12Fn = IDirect3D9*(WINAPI*)(UINT, _D3D9ON12_ARGS*, UINT);
using Direct3DCreate9On12ExFn = HRESULT(WINAPI*)(UINT, _D3D9ON12_ARGS*, UINT, IDirect3D9Ex**);
using ShaderValidatorCreate9Fn = void*(WINAPI*)();
using BeginEventFn = int(WINAPI*)(D3DCOLOR, LPCWSTR);
using EndEventFn = int(WINAPI*)();
using GetStatusFn = DWORD(WINAPI*)();
using QueryRepeatFrameFn = BOOL(WINAPI*)();
using MarkFn = void(WINAPI*)(D3DCOLOR, LPCWSTR);
using SetOptionsFn = void(WINAPI*)(DWORD);
using DebugSetLevelFn = int(WINAPI*)();
using DebugSetMuteFn = void(WINAPI*)();
using PSGPErrorFn = void(WINAPI*)(void*, int, UINT);
using PSGPSampleTextureFn = void(WINAPI*)(void*, UINT, float (*)[4], UINT, float (*)[4]);
using EnableMaximizedWindowedModeShimFn = HRESULT(WINAPI*)(UINT);

// The Direct3D object a creating entry point made, hooked unless the call came from inside the chosen library: the
// chosen library's own object, made from the system's, is the one that draws.
void Hook(IDirect3D9* direct3d, bool fromChosen) {
  if (direct3d && !fromChosen) ingame::d3d9::HookDirect3D(direct3d);
}

void Hook(IDirect3D9Ex* direct3d, bool fromChosen) {
  if (direct3d && !fromChosen) ingame::d3d9::HookDirect3DEx(direct3d);
}

}  // namespace

extern "C" {

// The Direct3D object of the chosen library or the system's, whose devices draw the overlay. When its methods
// cannot be patched, the game runs without the overlay.
IDirect3D9* WINAPI Direct3DCreate9(UINT SDKVersion) {
  const bool fromChosen = FromChosen();
  IDirect3D9* direct3d =
      Forward<Direct3DCreate9Fn>("Direct3DCreate9", fromChosen, static_cast<IDirect3D9*>(nullptr), SDKVersion);
  Hook(direct3d, fromChosen);
  return direct3d;
}

HRESULT WINAPI Direct3DCreate9Ex(UINT SDKVersion, IDirect3D9Ex** direct3d) {
  const bool fromChosen = FromChosen();
  const HRESULT result =
      Forward<Direct3DCreate9ExFn>("Direct3DCreate9Ex", fromChosen, HRESULT{E_NOTIMPL}, SDKVersion, direct3d);
  if (SUCCEEDED(result) && direct3d) Hook(*direct3d, fromChosen);
  return result;
}

// Direct3D 9 on top of Direct3D 12: the object and its devices are Direct3D 9's to the game, and get the overlay
// as any other.
IDirect3D9* WINAPI Direct3DCreate9On12(UINT SDKVersion, _D3D9ON12_ARGS* overrides, UINT overrideCount) {
  const bool fromChosen = FromChosen();
  IDirect3D9* direct3d = Forward<Direct3DCreate9On12Fn>("Direct3DCreate9On12", fromChosen,
                                                        static_cast<IDirect3D9*>(nullptr), SDKVersion, overrides,
                                                        overrideCount);
  Hook(direct3d, fromChosen);
  return direct3d;
}

HRESULT WINAPI Direct3DCreate9On12Ex(UINT SDKVersion, _D3D9ON12_ARGS* overrides, UINT overrideCount,
                                     IDirect3D9Ex** direct3d) {
  const bool fromChosen = FromChosen();
  const HRESULT result = Forward<Direct3DCreate9On12ExFn>("Direct3DCreate9On12Ex", fromChosen, HRESULT{E_NOTIMPL},
                                                          SDKVersion, overrides, overrideCount, direct3d);
  if (SUCCEEDED(result) && direct3d) Hook(*direct3d, fromChosen);
  return result;
}

// Undocumented; what it makes is the system's own and is passed on untouched.
void* WINAPI Direct3DShaderValidatorCreate9() {
  return Forward<ShaderValidatorCreate9Fn>("Direct3DShaderValidatorCreate9", FromChosen(),
                                           static_cast<void*>(nullptr));
}

// The markers that performance tools read: passed on as they are, so that such a tool sees the game's events.
int WINAPI D3DPERF_BeginEvent(D3DCOLOR color, LPCWSTR name) {
  return Forward<BeginEventFn>("D3DPERF_BeginEvent", FromChosen(), 0, color, name);
}

int WINAPI D3DPERF_EndEvent() { return Forward<EndEventFn>("D3DPERF_EndEvent", FromChosen(), 0); }

DWORD WINAPI D3DPERF_GetStatus() { return Forward<GetStatusFn>("D3DPERF_GetStatus", FromChosen(), DWORD{0}); }

BOOL WINAPI D3DPERF_QueryRepeatFrame() {
  return Forward<QueryRepeatFrameFn>("D3DPERF_QueryRepeatFrame", FromChosen(), BOOL{FALSE});
}

void WINAPI D3DPERF_SetMarker(D3DCOLOR color, LPCWSTR name) {
  ForwardVoid<MarkFn>("D3DPERF_SetMarker", FromChosen(), color, name);
}

void WINAPI D3DPERF_SetOptions(DWORD options) {
  ForwardVoid<SetOptionsFn>("D3DPERF_SetOptions", FromChosen(), options);
}

void WINAPI D3DPERF_SetRegion(D3DCOLOR color, LPCWSTR name) {
  ForwardVoid<MarkFn>("D3DPERF_SetRegion", FromChosen(), color, name);
}

// Undocumented, as are the two below; exported by the system's library, so a program that asks for them finds
// them here too.
int WINAPI DebugSetLevel() { return Forward<DebugSetLevelFn>("DebugSetLevel", FromChosen(), 0); }

void WINAPI DebugSetMute() { ForwardVoid<DebugSetMuteFn>("DebugSetMute", FromChosen()); }

void WINAPI PSGPError(void* vertices, int error, UINT instruction) {
  ForwardVoid<PSGPErrorFn>("PSGPError", FromChosen(), vertices, error, instruction);
}

void WINAPI PSGPSampleTexture(void* vertices, UINT stage, float (*coordinates)[4], UINT count,
                              float (*samples)[4]) {
  ForwardVoid<PSGPSampleTextureFn>("PSGPSampleTexture", FromChosen(), vertices, stage, coordinates, count, samples);
}

HRESULT WINAPI Direct3D9EnableMaximizedWindowedModeShim(UINT enable) {
  return Forward<EnableMaximizedWindowedModeShimFn>("Direct3D9EnableMaximizedWindowedModeShim", FromChosen(), S_OK,
                                                    enable);
}

}  // extern "C"
