#include "standin.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace standin {
namespace {

HMODULE g_module = nullptr;

// The folder of this DLL, with a trailing backslash.
std::string ModuleFolder() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    DWORD n = GetModuleFileNameA(g_module, &path[0], static_cast<DWORD>(path.size()));
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of("\\/") + 1);
}

void WriteLine(std::string line) {
  line += '\n';
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of the file, whoever else has it open.
  HANDLE file = CreateFileA((ModuleFolder() + "trace.log").c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

std::string ReadScript() {
  HANDLE file = CreateFileA((ModuleFolder() + "standin.ini").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string content;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
  CloseHandle(file);
  return content;
}

std::string Trim(const std::string& s) {
  const char* blanks = " \t\r\n";
  std::size_t first = s.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

std::string Format(const char* format, ...) {
  char buffer[64];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

}  // namespace

void OnDllMain(HINSTANCE module, const char* libraryName, DWORD reason, LPVOID reserved) {
  g_module = module;
  std::string line(libraryName);
  if (reason == DLL_PROCESS_ATTACH) {
    line += ":attach";
  } else if (reason == DLL_PROCESS_DETACH) {
    // A null reserved pointer means FreeLibrary; otherwise the process is ending with the library still loaded.
    line += reserved ? ":detach by=exit" : ":detach by=FreeLibrary";
  } else {
    return;
  }
  WriteLine(line);
}

std::int64_t ScriptValue(const char* key, std::int64_t fallback) {
  std::string script = ReadScript();
  std::size_t pos = 0;
  while (pos < script.size()) {
    std::size_t end = script.find('\n', pos);
    if (end == std::string::npos) end = script.size();
    std::string line = Trim(script.substr(pos, end - pos));
    pos = end + 1;
    std::size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '[' || eq == std::string::npos) continue;
    if (Trim(line.substr(0, eq)) != key) continue;
    std::string value = Trim(line.substr(eq + 1));
    char* rest = nullptr;
    long long number = std::strtoll(value.c_str(), &rest, 0);
    if (value.empty() || *rest != '\0') return fallback;
    return number;
  }
  return fallback;
}

void Misbehave(const char* libraryName, const char* entryPoint) {
  const std::string name(entryPoint);
  const std::int64_t delay = ScriptValue((name + "_delay_ms").c_str(), 0);
  if (delay > 0) Sleep(static_cast<DWORD>(delay));
  if (ScriptValue((name + "_message_box").c_str(), 0) != 0) {
    MessageBoxA(nullptr, (name + " is being called.").c_str(), libraryName, MB_OK | MB_ICONINFORMATION);
  }
}

std::string Escape(const char* text, std::size_t length) {
  std::string out;
  for (std::size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c >= 0x20 && c <= 0x7E) {
          out += static_cast<char>(c);
        } else {
          out += Format("\\x%02X", c);
        }
    }
  }
  return out;
}

Call::Call(const char* entryPoint) : entryPoint_(entryPoint), line_(entryPoint) {}

Call& Call::Raw(const char* key, const std::string& value) {
  line_ += ' ';
  line_ += key;
  line_ += '=';
  line_ += value;
  return *this;
}

Call& Call::Unsigned(const char* key, std::uint32_t value) {
  return Raw(key, Format("%lu", static_cast<unsigned long>(value)));
}

Call& Call::Signed(const char* key, std::int32_t value) { return Raw(key, Format("%ld", static_cast<long>(value))); }

Call& Call::Hex(const char* key, std::uint32_t value) {
  return Raw(key, Format("0x%08lX", static_cast<unsigned long>(value)));
}

Call& Call::Text(const char* key, const char* text) {
  if (!text) return Raw(key, "null");
  std::size_t length = std::strlen(text);
  line_ += ' ';
  line_ += key;
  line_ += Format("[%lu]=\"", static_cast<unsigned long>(length));
  line_ += Escape(text, length);
  line_ += '"';
  return *this;
}

DWORD Call::Finish(DWORD unscripted) {
  DWORD result = static_cast<DWORD>(ScriptValue(entryPoint_, unscripted));
  Hex("ret", result);
  WriteLine(line_);
  return result;
}

}  // namespace standin
