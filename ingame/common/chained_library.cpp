#include "ingame/common/chained_library.h"

#include <string>

namespace ingame {
namespace {

// How much of the setting is read: room for comments and a long path; a file that claims more is not read on.
constexpr DWORD kSettingMaxBytes = 4096;

// How deep this thread is in a call of the chosen library (or in loading it), in a slot of the system's thread
// storage: a compiler's thread_local may allocate on the game's heap, once on each of its threads.
DWORD DepthSlot() {
  static const DWORD slot = TlsAlloc();
  return slot;
}

int Depth() {
  const DWORD slot = DepthSlot();
  return slot == TLS_OUT_OF_INDEXES ? 0 : static_cast<int>(reinterpret_cast<INT_PTR>(TlsGetValue(slot)));
}

void AddDepth(int change) {
  const DWORD slot = DepthSlot();
  if (slot != TLS_OUT_OF_INDEXES) TlsSetValue(slot, reinterpret_cast<void*>(static_cast<INT_PTR>(Depth() + change)));
}

// An object in this library's image (a thread's variables are not), by which the library finds its module.
const char kInThisLibrary = 0;

// This library's own module: the stand-in the code is linked into.
HMODULE ThisLibrary() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&kInThisLibrary), &self);
  return self;
}

HMODULE ModuleAt(const void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCWSTR>(address), &module);
  return module;
}

std::wstring Wide(const char* ascii) { return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii)); }

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

// The text of the setting: UTF-8 (with or without its byte-order mark) when it is valid UTF-8, else the ANSI code
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

}  // namespace

CChainedLibrary::Inside::Inside() { AddDepth(1); }

CChainedLibrary::Inside::~Inside() { AddDepth(-1); }

bool CChainedLibrary::FromChosen() const { return Depth() != 0 || CalledFromChosen(); }

// A wrapper that loaded the stand-in's name and calls it later (from its CreateDevice, say) or from a thread of its
// own would otherwise be handed itself again without end. The return addresses come from the chain of frames: the
// first one outside this library after those inside it is the caller's.
bool CChainedLibrary::CalledFromChosen() const {
  const HMODULE chosen = chosen_.load(std::memory_order_acquire);
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

FARPROC CChainedLibrary::Find(const char* name, bool fromChosen, bool* chosen) {
  *chosen = false;
  if (!fromChosen) {
    if (HMODULE library = Chosen()) {
      if (const FARPROC address = GetProcAddress(library, name)) {
        *chosen = true;
        return address;
      }
    }
  }
  HMODULE library = System();
  return library ? GetProcAddress(library, name) : nullptr;
}

HMODULE CChainedLibrary::System() {
  InitOnceExecuteOnce(&systemOnce_, LoadSystemOnce, this, nullptr);
  return system_;
}

HMODULE CChainedLibrary::Chosen() {
  InitOnceExecuteOnce(&chosenOnce_, LoadChosenOnce, this, nullptr);
  return chosen_.load(std::memory_order_acquire);
}

BOOL CALLBACK CChainedLibrary::LoadSystemOnce(PINIT_ONCE, PVOID self, PVOID*) {
  auto& library = *static_cast<CChainedLibrary*>(self);
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  const std::wstring path = std::wstring(folder, length) + L'\\' + library.names_.library;
  library.system_ = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return TRUE;
}

BOOL CALLBACK CChainedLibrary::LoadChosenOnce(PINIT_ONCE, PVOID self, PVOID*) {
  auto& library = *static_cast<CChainedLibrary*>(self);
  library.chosen_.store(library.LoadChosen(), std::memory_order_release);
  return TRUE;
}

// One line of debugger output saying why the setting is not followed.
void CChainedLibrary::Complain(const wchar_t* why) const {
  const std::wstring line =
      L"va_vazu " + std::wstring(names_.library) + L": " + why + L"; using the system's " + names_.api + L"\n";
  const int length = WideCharToMultiByte(CP_ACP, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return;
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, line.c_str(), -1, &text[0], length, nullptr, nullptr);
  OutputDebugStringA(text.c_str());
}

// Reads the setting beside the stand-in and loads the library it names; null (the system's) when there is no such
// file or the setting cannot be followed.
HMODULE CChainedLibrary::LoadChosen() const {
  const std::wstring folder = ThisFolder();
  if (folder.empty()) return nullptr;
  const std::wstring settingName = names_.setting;
  const std::wstring file = folder + L'\\' + settingName;
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      Complain((settingName + L" cannot be read (error " + std::to_wstring(error) + L")").c_str());
    }
    return nullptr;
  }
  // One byte more than is used tells a longer file, whose last line read may be cut: that line is dropped.
  std::string bytes(kSettingMaxBytes + 1, '\0');
  DWORD read = 0;
  const bool readable = GetFileType(handle) == FILE_TYPE_DISK &&
                        ReadFile(handle, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(handle);
  if (!readable) {
    Complain((settingName + L" cannot be read (error " + std::to_wstring(error) + L")").c_str());
    return nullptr;
  }
  bytes.resize(read);
  if (read > kSettingMaxBytes) {
    const std::size_t lastEnd = bytes.find_last_of('\n', kSettingMaxBytes - 1);
    bytes.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
  }
  const std::wstring setting = FirstSetting(Decode(bytes));
  const std::wstring named = settingName + L" names \"" + setting + L"\"";
  if (setting.empty()) {
    Complain((settingName + L" names no library").c_str());
    return nullptr;
  }
  for (const wchar_t c : setting) {
    if (c < L' ') {
      Complain((settingName + L" holds control characters: it is not UTF-8 or ANSI text").c_str());
      return nullptr;
    }
  }
  const std::wstring path = Resolve(setting, folder);
  if (path.empty()) {
    Complain((named + L", neither a full path nor one from the overlay's folder").c_str());
    return nullptr;
  }

  // Whatever the library's start-up calls of the Direct3D reach the stand-in again: they go to the system's.
  const Inside loading;
  HMODULE chosen = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!chosen) {
    Complain((named + L", which cannot be loaded (error " + std::to_wstring(GetLastError()) + L")").c_str());
    return nullptr;
  }
  std::wstring wrong;
  if (chosen == ThisLibrary()) {
    wrong = L", which is this overlay's " + std::wstring(names_.library) + L" itself";
  } else if (GetProcAddress(chosen, names_.marker)) {
    wrong = L", which is a copy of the overlay's " + std::wstring(names_.library);
  } else if (!GetProcAddress(chosen, names_.creator)) {
    wrong = L", which has no " + Wide(names_.creator);
  }
  if (!wrong.empty()) {
    FreeLibrary(chosen);
    Complain((named + wrong).c_str());
    return nullptr;
  }
  return chosen;
}


}  // namespace ingame
