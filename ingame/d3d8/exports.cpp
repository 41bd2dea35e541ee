// d3d8.dll's exports. A game loads this library in place of the system's Direct3D 8 (it lies beside the game's
// .exe, where Windows looks first; under Wine with WINEDLLOVERRIDES=d3d8=n,b). Everything goes on to the system's
// own d3d8.dll, loaded by its full path in the system folder, so that this library never loads itself or another
// copy from the game's folder; or, when the player asks for it, to another Direct3D 8 (a wrapper's d3d8.dll,
// renamed) named in d3d8_chain.txt beside this library. The game gets the objects of whichever made them; the
// overlay reaches it through a few patched methods of theirs (d3d8_hooks.h).
//
// d3d8_chain.txt is the player's, and read as untrusted: at most its first 4 KiB, in UTF-8 or the ANSI code page,
// blank lines and lines starting with '#' or ';' skipped, spaces and quotes around a line trimmed. Its first
// remaining line names the library: a full path, or a path taken from this library's folder. A setting that
// cannot be followed (the file unreadable, no library named, one that cannot be loaded, lacks Direct3DCreate8, or
// is this overlay again, by any name or as a copy) leaves the system's, with one line of debugger output.
#include <windows.h>
// Direct3D's interface identifiers are defined here: this library must not import the d3d8.dll it stands for.
#include <initguid.h>
#include <d3d8.h>

#include <atomic>
#include <string>

#include "ingame/d3d8/d3d8_hooks.h"

extern "C" {

// Marks this library as the overlay's d3d8.dll: a library named in d3d8_chain.txt that has it is a copy of the
// overlay, which would draw it a second time, and is not used.
__declspec(dllexport) int VaVazuOverlayDirect3D8() { return 1; }

}  // extern "C"

namespace {

constexpr char kMarkerExport[] = "VaVazuOverlayDirect3D8";
constexpr wchar_t kChainFileName[] = L"d3d8_chain.txt";
// How much of d3d8_chain.txt is read: room for comments and a long path; a file that claims more is not read on.
constexpr DWORD kChainFileMaxBytes = 4096;

HMODULE g_systemDirect3D = nullptr;
// Written once, when the chosen library has been loaded; read by calls on any thread.
std::atomic<HMODULE> g_chosenDirect3D{nullptr};

// How deep this thread is in a call of the chosen library (or in loading it). A wrapper that loads "d3d8.dll" by
// name gets this library back, and its calls from inside ours go straight to the system's; so do its calls at any
// other time and from any other thread, which CalledFromChosen tells by their return address.
thread_local int t_inChosen = 0;

class InChosen {
 public:
  InChosen() { ++t_inChosen; }
  ~InChosen() { --t_inChosen; }
  InChosen(const InChosen&) = delete;
  InChosen& operator=(const InChosen&) = delete;
};

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

HMODULE ThisLibrary() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&g_systemDirect3D), &self);
  return self;
}

// The folder of this library, without a trailing backslash; empty when it cannot be had.
std::wstring ThisFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(ThisLibrary(), &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= 32768) return std::wstring();
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

HMODULE ModuleAt(const void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCWSTR>(address), &module);
  return module;
}

// Whether the entry point running on this thread was called by code of the chosen library: a wrapper that loaded
// "d3d8.dll" by name and calls it later (from its CreateDevice, say) or from a thread of its own, and that would
// otherwise be handed itself again without end. The return addresses come from the chain of frames, which this
// file keeps (its build keeps frame pointers): the first one outside this library after those inside it is the
// caller's.
bool CalledFromChosen() {
  const HMODULE chosen = g_chosenDirect3D.load(std::memory_order_acquire);
  if (!chosen) return false;
  void* returns[16] = {};
  const USHORT count = CaptureStackBackTrace(0, 16, returns, nullptr);
  const HMODULE self = ThisLibrary();
  bool inSelf = false;
  for (USHORT i = 0; i < count; ++i) {
    const HMODULE module = ModuleAt(returns[i]);
    if (module == self) {
      inSelf = true;
    } else if (inSelf) {
      return module == chosen;
    }
  }
  return false;
}

// One line of debugger output saying why the setting is not followed.
void Complain(const std::wstring& why) {
  const std::wstring line = L"va_vazu d3d8.dll: " + why + L"; using the system's Direct3D 8\n";
  const int length = WideCharToMultiByte(CP_ACP, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return;
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, line.c_str(), -1, &text[0], length, nullptr, nullptr);
  OutputDebugStringA(text.c_str());
}

// The text of d3d8_chain.txt: UTF-8 (with or without its byte-order mark) when it is valid UTF-8, else the ANSI code
// page.
std::wstring Decode(const std::string& bytes) {
  const std::size_t skip = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  const char* text = bytes.data() + skip;
  const int size = static_cast<int>(bytes.size() - skip);
  for (const UINT codePage : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
    const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int length = MultiByteToWideChar(codePage, flags, text, size, nullptr, 0);
    if (length <= 0) continue;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, text, size, &wide[0], length);
    return wide;
  }
  return std::wstring();
}

// The first line of `text` that is not blank or a comment, trimmed of spaces and quotes; empty when there is none.
std::wstring FirstSetting(const std::wstring& text) {
  constexpr wchar_t kTrimmed[] = L" \t\"";
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    const std::size_t first = line.find_first_not_of(kTrimmed);
    if (first == std::wstring::npos || line[first] == L'#' || line[first] == L';') continue;
    return line.substr(first, line.find_last_not_of(kTrimmed) - first + 1);
  }
  return std::wstring();
}

bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

// The full path the setting names: a full path as it is, anything else from `folder`, never from the current folder
// (a path from the current drive's root or a drive's current folder is refused, with an empty result).
std::wstring Resolve(const std::wstring& setting, const std::wstring& folder) {
  const bool drive = setting.size() >= 2 && setting[1] == L':' &&
                     ((setting[0] >= L'A' && setting[0] <= L'Z') || (setting[0] >= L'a' && setting[0] <= L'z'));
  const bool full = (drive && setting.size() >= 3 && IsSlash(setting[2])) ||
                    (setting.size() >= 2 && IsSlash(setting[0]) && IsSlash(setting[1]));
  if (!full && (drive || IsSlash(setting[0]) || setting.find(L':') != std::wstring::npos)) return std::wstring();
  const std::wstring joined = full ? setting : folder + L'\\' + setting;
  // Only ".." and the slashes are worked out: the path is a full one already.
  const DWORD length = GetFullPathNameW(joined.c_str(), 0, nullptr, nullptr);
  if (length == 0) return std::wstring();
  std::wstring path(length, L'\0');
  const DWORD written = GetFullPathNameW(joined.c_str(), length, &path[0], nullptr);
  if (written == 0 || written >= length) return std::wstring();
  path.resize(written);
  return path;
}

// Reads d3d8_chain.txt beside this library and loads the library it names; null (the system's) when there is no
// such file or the setting cannot be followed.
HMODULE LoadChosen() {
  const std::wstring folder = ThisFolder();
  if (folder.empty()) return nullptr;
  const std::wstring file = folder + L'\\' + kChainFileName;
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      Complain(std::wstring(kChainFileName) + L" cannot be read (error " + std::to_wstring(error) + L")");
    }
    return nullptr;
  }
  // One byte more than is used tells a longer file, whose last line read may be cut: that line is dropped.
  std::string bytes(kChainFileMaxBytes + 1, '\0');
  DWORD read = 0;
  const bool readable = GetFileType(handle) == FILE_TYPE_DISK &&
                        ReadFile(handle, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(handle);
  if (!readable) {
    Complain(std::wstring(kChainFileName) + L" cannot be read (error " + std::to_wstring(error) + L")");
    return nullptr;
  }
  bytes.resize(read);
  if (read > kChainFileMaxBytes) {
    const std::size_t lastEnd = bytes.find_last_of('\n', kChainFileMaxBytes - 1);
    bytes.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
  }
  const std::wstring setting = FirstSetting(Decode(bytes));
  const std::wstring named = std::wstring(kChainFileName) + L" names \"" + setting + L"\"";
  if (setting.empty()) {
    Complain(std::wstring(kChainFileName) + L" names no library");
    return nullptr;
  }
  for (const wchar_t c : setting) {
    if (c < L' ') {
      Complain(std::wstring(kChainFileName) + L" holds control characters: it is not UTF-8 or ANSI text");
      return nullptr;
    }
  }
  const std::wstring path = Resolve(setting, folder);
  if (path.empty()) {
    Complain(named + L", neither a full path nor one from the overlay's folder");
    return nullptr;
  }

  // Whatever the library's start-up calls of Direct3D 8 reach this library again: they go to the system's.
  InChosen loading;
  HMODULE chosen = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!chosen) {
    Complain(named + L", which cannot be loaded (error " + std::to_wstring(GetLastError()) + L")");
    return nullptr;
  }
  const wchar_t* wrong = nullptr;
  if (chosen == ThisLibrary()) {
    wrong = L", which is this overlay's d3d8.dll itself";
  } else if (GetProcAddress(chosen, kMarkerExport)) {
    wrong = L", which is a copy of the overlay's d3d8.dll";
  } else if (!GetProcAddress(chosen, "Direct3DCreate8")) {
    wrong = L", which has no Direct3DCreate8";
  }
  if (wrong) {
    FreeLibrary(chosen);
    Complain(named + wrong);
    return nullptr;
  }
  return chosen;
}

BOOL CALLBACK LoadChosenDirect3D(PINIT_ONCE, PVOID, PVOID*) {
  g_chosenDirect3D.store(LoadChosen(), std::memory_order_release);
  return TRUE;
}

// The Direct3D 8 that d3d8_chain.txt names, loaded on first use (never from DllMain) and kept for the process's
// life; null for the system's.
HMODULE ChosenDirect3D() {
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  InitOnceExecuteOnce(&once, LoadChosenDirect3D, nullptr, nullptr);
  return g_chosenDirect3D.load(std::memory_order_acquire);
}

// An entry point of the chosen library, or of the system's where the chosen one lacks it, where there is none, and
// for calls from inside the chosen one.
template <class Function>
struct Entry {
  Function function = nullptr;
  bool chosen = false;
};

template <class Function>
Entry<Function> Find(const char* name, bool fromChosen) {
  const auto cast = [](FARPROC address) { return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address)); };
  if (!fromChosen) {
    if (HMODULE chosen = ChosenDirect3D()) {
      if (const FARPROC address = GetProcAddress(chosen, name)) return {cast(address), true};
    }
  }
  HMODULE system = SystemDirect3D();
  return {system ? cast(GetProcAddress(system, name)) : nullptr, false};
}

// Whether this call comes from inside the chosen library, on this thread or from its code: it goes to the system's.
bool FromChosen() { return t_inChosen != 0 || CalledFromChosen(); }

// Calls the entry point `name` with `arguments`; `otherwise` when neither library has it.
template <class Function, class Result, class... Arguments>
Result Forward(const char* name, bool fromChosen, Result otherwise, Arguments... arguments) {
  const Entry<Function> entry = Find<Function>(name, fromChosen);
  if (!entry.function) return otherwise;
  if (!entry.chosen) return entry.function(arguments...);
  InChosen inside;
  return entry.function(arguments...);
}

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
  if (direct3d && !fromChosen) ingame::HookDirect3D(direct3d);
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
  const Entry<DebugSetMuteFn> entry = Find<DebugSetMuteFn>("DebugSetMute", FromChosen());
  if (!entry.function) return;
  if (!entry.chosen) return entry.function();
  InChosen inside;
  entry.function();
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
