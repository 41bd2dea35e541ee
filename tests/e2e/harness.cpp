#include "harness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <utility>
#include <vector>

#include "menu_reader.h"
#include "overlay/hotkey_message.h"
#include "res/resource.h"
#include "tests/support/screen_pixels.h"

namespace fs = std::filesystem;

namespace e2e {
namespace {

constexpr UINT kSendTimeoutMs = 2000;
constexpr int kMessageBoxTextId = 0xFFFF;

// Wine copies a text across processes and the edit control lays it out: about a second per megabyte on a
// busy machine (a multiline box wraps it too, several seconds), so a long text gets a millisecond per 50
// bytes on top of the usual wait.
UINT TextTimeoutMs(std::size_t length) { return kSendTimeoutMs + static_cast<UINT>(length / 50); }

bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result = nullptr,
          UINT timeoutMs = kSendTimeoutMs) {
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, timeoutMs, &answer)) {
    return false;
  }
  if (result) *result = static_cast<LRESULT>(answer);
  return true;
}

DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

struct WindowSearch {
  DWORD pid;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindowOf(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  if (ProcessOf(window) == search->pid) search->found.push_back(window);
  return TRUE;
}

using testsupport::TopDownBitmapInfo;

// A 32-bit top-down bitmap of the given size, selected into its own memory device context.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    const BITMAPINFO info = TopDownBitmapInfo(width, height);
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
  }
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC dc() const { return dc_; }
  bool valid() const { return bits_ != nullptr; }
  std::uint32_t Pixel(int x, int y) const { return bits_[y * width_ + x] & 0xFFFFFF; }
  // Copies what the screen shows from (left, top) on.
  void CopyScreen(int left, int top) {
    HDC screen = GetDC(nullptr);
    BitBlt(dc_, 0, 0, width_, height_, screen, left, top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    GdiFlush();
  }
  void Fill(std::uint32_t colour) {
    for (int i = 0; i < width_ * height_; ++i) bits_[i] = colour;
  }
  int CountEqual(const Canvas& other) const {
    int n = 0;
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) n += Pixel(x, y) == other.Pixel(x, y) ? 1 : 0;
    }
    return n;
  }

 private:
  int width_;
  int height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  std::uint32_t* bits_ = nullptr;
};

// Which standard icon the icon control shows. An icon handle of another process cannot be examined, so the
// control's pixels on the screen are compared with each standard icon drawn here on the same background.
Icon RecogniseIcon(HWND iconControl) {
  const int size = GetSystemMetrics(SM_CXICON);
  RECT rect{};
  GetWindowRect(iconControl, &rect);
  if (rect.right - rect.left < size || rect.bottom - rect.top < size) return Icon::Unknown;

  Canvas screen(size, size);
  if (!screen.valid()) return Icon::Unknown;
  screen.CopyScreen(rect.left, rect.top);

  const struct {
    Icon icon;
    LPCSTR id;
  } candidates[] = {{Icon::Error, IDI_HAND},
                    {Icon::Warning, IDI_EXCLAMATION},
                    {Icon::Information, IDI_ASTERISK},
                    {Icon::Question, IDI_QUESTION}};
  Icon best = Icon::Unknown;
  int bestScore = size * size * 9 / 10;  // anything less is not a match
  for (const auto& candidate : candidates) {
    Canvas drawn(size, size);
    drawn.Fill(screen.Pixel(0, 0));  // the corners of the standard icons are transparent
    DrawIconEx(drawn.dc(), 0, 0, LoadIconA(nullptr, candidate.id), size, size, 0, nullptr, DI_NORMAL);
    const int score = drawn.CountEqual(screen);
    if (score > bestScore) {
      best = candidate.icon;
      bestScore = score;
    }
  }
  return best;
}

// The visible icon control of a message box, if it has one with an icon set.
HWND IconControlOf(HWND box) {
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassName(child) != "Static" || !IsWindowVisible(child)) continue;
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
    LRESULT icon = 0;
    if (Send(child, STM_GETICON, 0, 0, &icon) && icon != 0) return child;
  }
  return nullptr;
}

void CopyInto(const fs::path& from, const fs::path& folder) {
  std::error_code error;
  fs::copy_file(from, folder / from.filename(), fs::copy_options::overwrite_existing, error);
  if (error) ADD_FAILURE() << "cannot copy " << from.string() << ": " << error.message();
}

}  // namespace

std::vector<HWND> TopLevelWindowsOf(DWORD pid) {
  WindowSearch search{pid, {}};
  EnumWindows(CollectWindowOf, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

const char* ToString(Icon icon) {
  switch (icon) {
    case Icon::None: return "no icon";
    case Icon::Error: return "error icon";
    case Icon::Warning: return "warning icon";
    case Icon::Information: return "information icon";
    case Icon::Question: return "question icon";
    case Icon::Unknown: break;
  }
  return "unrecognised icon";
}

Thread::Thread(std::function<void()> body) : body_(std::move(body)) {
  handle_ = CreateThread(nullptr, 0, &Thread::Run, this, 0, nullptr);
  if (!handle_) ADD_FAILURE() << "cannot start a thread: error " << GetLastError();
}

Thread::~Thread() {
  if (!handle_) return;
  if (!Join(kWaitMs)) TerminateThread(handle_, 1);
  CloseHandle(handle_);
}

bool Thread::Join(DWORD timeoutMs) const {
  return !handle_ || WaitForSingleObject(handle_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD WINAPI Thread::Run(void* self) {
  static_cast<Thread*>(self)->body_();
  return 0;
}

Screenshot::Screenshot(const RECT& area)
    : left_(area.left), top_(area.top), width_(area.right - area.left), height_(area.bottom - area.top) {
  pixels_ = testsupport::ScreenPixels(area);
}

std::uint32_t Screenshot::At(int screenX, int screenY) const {
  const int x = screenX - left_;
  const int y = screenY - top_;
  if (!valid() || x < 0 || y < 0 || x >= width_ || y >= height_) return 0xFFFFFFFF;
  return pixels_[static_cast<std::size_t>(y * width_ + x)];
}

void Screenshot::Save(const fs::path& file) const {
  std::error_code error;
  fs::create_directories(file.parent_path(), error);
  const BITMAPINFO info = TopDownBitmapInfo(width_, height_);
  const DWORD dataSize = static_cast<DWORD>(pixels_.size() * sizeof pixels_[0]);
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof header + sizeof info.bmiHeader;
  header.bfSize = header.bfOffBits + dataSize;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(reinterpret_cast<const char*>(pixels_.data()), dataSize);
}

fs::path BinFolder() {
  std::string path(MAX_PATH, '\0');
  DWORD n = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
  path.resize(n);
  return fs::path(path).parent_path();
}

fs::path NewRunFolder() {
  static std::atomic<int> counter{0};
  char temp[MAX_PATH + 1] = "";
  GetTempPathA(sizeof temp, temp);
  fs::path folder = fs::path(temp) / "va_vazu_e2e" /
                    (std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter));
  std::error_code error;
  fs::remove_all(folder, error);
  fs::create_directories(folder, error);
  return folder;
}

std::string WindowText(HWND window) {
  LRESULT length = 0;
  if (!window || !Send(window, WM_GETTEXTLENGTH, 0, 0, &length) || length < 0) return "<no window>";
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  LRESULT copied = 0;
  if (!Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), &copied,
            TextTimeoutMs(text.size()))) {
    return "<no answer>";
  }
  text.resize(static_cast<std::size_t>(copied));
  return text;
}

bool SetText(HWND window, const std::string& text) {
  LRESULT ok = 0;
  return window && Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &ok,
                        TextTimeoutMs(text.size())) &&
         ok;
}

std::string ClassName(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

int CheckState(HWND button) {
  LRESULT state = 0;
  return button && Send(button, BM_GETCHECK, 0, 0, &state) ? static_cast<int>(state) : -1;
}

bool SetCheck(HWND button, int state) {
  return button && Send(button, BM_SETCHECK, static_cast<WPARAM>(state), 0);
}

void PostClick(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

void PostKey(HWND window, WORD virtualKey) {
  const LPARAM scanCode = static_cast<LPARAM>(MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC)) << 16;
  PostMessageA(window, WM_KEYDOWN, virtualKey, scanCode | 1);
  PostMessageA(window, WM_KEYUP, virtualKey, scanCode | 1 | 0xC0000000);
}

// - When the window gets the X focus a few milliseconds later, Wine brings its key state in line with the X
//   server's, which knows nothing of keys injected with SendInput: a key injected down before that would be
//   released. What that waits for took 5 ms; the change is let settle for 200.
// - The X focus events of a window shown just before can arrive late and take the foreground back; then it
//   is tried again.
bool BringToFront(HWND window) {
  constexpr DWORD kSettleMs = 200;
  for (int attempt = 0; attempt < 5; ++attempt) {
    SetForegroundWindow(window);
    if (!WaitUntil([&] { return GetForegroundWindow() == window; }, 2000)) continue;
    Sleep(kSettleMs);
    if (GetForegroundWindow() == window) return true;
  }
  return false;
}

void Dismiss(const MessageBoxInfo& box) {
  for (HWND child = GetWindow(box.window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassName(child) == "Button") {
      PostClick(child);
      return;
    }
  }
  PostMessageA(box.window, WM_COMMAND, IDCANCEL, 0);
}

App::App(const Libraries& libraries) : libraries_(libraries), runFolder_(NewRunFolder()) {
  programFolder_ = runFolder_ / "program";
  workingDirectory_ =
      libraries.inWorkingDirectory || libraries.separateWorkingDirectory ? runFolder_ / "work" : programFolder_;
  fs::create_directories(programFolder_);
  fs::create_directories(workingDirectory_);
  const fs::path bin = BinFolder();
  if (fs::exists(bin / "va_vazu.exe")) CopyInto(bin / "va_vazu.exe", programFolder_);
  // "overlay" is the overlay's own libraries; any other variant a folder of the stand-ins.
  const auto folderOf = [&](const std::string& variant) {
    return variant == "overlay" ? bin / "overlay" : bin / "standins" / variant;
  };
  if (!libraries.comms.empty()) CopyInto(folderOf(libraries.comms) / "hvcomms.dll", librariesFolder());
  if (!libraries.hook.empty()) CopyInto(folderOf(libraries.hook) / "HVHook.dll", librariesFolder());
}

App::~App() {
  if (process_.hProcess) {
    if (Running()) {
      TerminateProcess(process_.hProcess, 255);
      WaitForSingleObject(process_.hProcess, kWaitMs);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  if (::testing::Test::HasFailure()) {
    std::printf("Files of the failed run kept in %s\n", runFolder_.string().c_str());
  } else {
    std::error_code error;
    fs::remove_all(runFolder_, error);
  }
}

const fs::path& App::librariesFolder() const {
  return libraries_.inWorkingDirectory ? workingDirectory_ : programFolder_;
}

void App::WriteScript(const std::string& content) const {
  std::ofstream(librariesFolder() / "standin.ini", std::ios::binary | std::ios::trunc) << content;
}

Trace App::ReadTrace() const { return Trace::Load(librariesFolder() / "trace.log"); }

Trace App::WaitForEvents(const std::string& name, int count, DWORD timeoutMs) const {
  Trace trace;
  WaitUntil([&] { return (trace = ReadTrace()).Count(name) >= count || !Running(); }, timeoutMs);
  return trace;
}

bool App::Start() {
  const fs::path exe = programFolder_ / "va_vazu.exe";
  if (!fs::exists(exe)) {
    ADD_FAILURE() << "va_vazu.exe is not built: it is expected in " << BinFolder().string();
    return false;
  }
  std::string commandLine = "\"" + exe.string() + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessA(exe.string().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      workingDirectory_.string().c_str(), &startup, &process_)) {
    ADD_FAILURE() << "CreateProcess failed with error " << GetLastError();
    process_ = PROCESS_INFORMATION{};
    return false;
  }
  return true;
}

HWND App::WaitForDialog(DWORD timeoutMs) {
  WaitUntil(
      [&] {
        for (HWND window : TopLevelWindowsOf(process_.dwProcessId)) {
          if (IsWindowVisible(window) && WindowText(window) == kDialogTitle) {
            dialog_ = window;
            return true;
          }
        }
        return !Running();
      },
      timeoutMs);
  if (!dialog_) {
    std::optional<MessageBoxInfo> box = FindMessageBox();
    ADD_FAILURE() << "the dialog \"" << kDialogTitle << "\" did not appear"
                  << (Running() ? "" : " (the program has ended)")
                  << (box ? " - a message box says: " + box->text : std::string());
  }
  return dialog_;
}

HWND App::Control(int id) const { return dialog_ ? GetDlgItem(dialog_, id) : nullptr; }

bool App::ClickAndWait(int id) const {
  HWND button = Control(id);
  return button && Send(button, BM_CLICK, 0, 0);
}

void App::PostHotkey(WPARAM virtualKey) const { PostMessageA(dialog_, WM_HOOKKEY, virtualKey, 0); }

void App::PressKey(int id, WORD virtualKey) const {
  HWND target = dialog_;
  if (id != 0) {
    target = Control(id);
    Send(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
  } else if (HWND focus = FocusedWindow()) {
    target = focus;
  }
  PostKey(target, virtualKey);
}

HWND App::FocusedWindow() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(process_.dwThreadId, &info) ? info.hwndFocus : nullptr;
}

std::vector<HWND> App::OpenBoxes() const {
  std::vector<HWND> boxes;
  for (HWND window : TopLevelWindowsOf(process_.dwProcessId)) {
    if (window != dialog_ && IsWindowVisible(window)) boxes.push_back(window);
  }
  return boxes;
}

HWND App::FindBox() const {
  for (HWND window : OpenBoxes()) {
    if (ClassName(window) == "#32770") return window;
  }
  return nullptr;
}

std::vector<std::wstring> App::SystemMenuItems() const {
  std::vector<std::wstring> items;
  HMODULE reader = LoadLibraryA((BinFolder() / kMenuReaderFile).string().c_str());
  const auto hookProcedure =
      reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(GetProcAddress(reader, kMenuReaderHook)));
  const DWORD thread = GetWindowThreadProcessId(dialog_, nullptr);
  HHOOK hook = hookProcedure && thread ? SetWindowsHookExW(WH_CALLWNDPROC, hookProcedure, reader, thread) : nullptr;
  // The answer arrives as this window's text, sent while the request waits.
  HWND answer = CreateWindowExW(0, L"Static", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  DWORD_PTR ignored = 0;
  if (!hook || !answer) {
    ADD_FAILURE() << "cannot hook the program to read its system menu: error " << GetLastError();
  } else if (!SendMessageTimeoutW(dialog_, RegisterWindowMessageW(kMenuReaderRequest), reinterpret_cast<WPARAM>(answer),
                                  0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored)) {
    ADD_FAILURE() << "the program did not answer the request for its system menu";
  } else {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(answer)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(answer, text.data(), static_cast<int>(text.size()))));
    for (std::size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
      items.push_back(text.substr(start, end - start));
    }
  }
  if (answer) DestroyWindow(answer);
  if (hook) UnhookWindowsHookEx(hook);
  if (reader) FreeLibrary(reader);
  return items;
}

std::optional<MessageBoxInfo> App::FindMessageBox() const {
  for (HWND window : OpenBoxes()) {
    if (ClassName(window) != "#32770") continue;
    // The main dialog has static labels with the same id as a message box's text; its edit boxes tell it apart.
    HWND text = GetDlgItem(window, kMessageBoxTextId);
    if (!text || GetDlgItem(window, IDC_LINE_TEXT)) continue;
    MessageBoxInfo box;
    box.window = window;
    box.caption = WindowText(window);
    box.text = WindowText(text);
    HWND icon = IconControlOf(window);
    if (icon) {
      // The box may not be painted yet when it has just appeared.
      WaitUntil([&] { return (box.icon = RecogniseIcon(icon)) != Icon::Unknown; }, 1000);
    }
    return box;
  }
  return std::nullopt;
}

std::optional<MessageBoxInfo> App::WaitForMessageBox(DWORD timeoutMs) const {
  std::optional<MessageBoxInfo> box;
  WaitUntil([&] { return (box = FindMessageBox()).has_value() || !Running(); }, timeoutMs);
  return box;
}

bool App::Running() const {
  return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> App::WaitForExit(DWORD timeoutMs) const {
  if (!process_.hProcess || WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  GetExitCodeProcess(process_.hProcess, &code);
  return code;
}

std::vector<std::string> ExportedNames(HMODULE module) {
  const auto* base = reinterpret_cast<const BYTE*>(module);
  if (!base) return {};
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (directory.Size == 0) return {};
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const auto* nameOrdinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  std::vector<std::string> result;
  std::vector<bool> named(exports->NumberOfFunctions);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    result.emplace_back(reinterpret_cast<const char*>(base + names[i]));
    if (nameOrdinals[i] < named.size()) named[nameOrdinals[i]] = true;
  }
  const auto* functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
  for (DWORD i = 0; i < exports->NumberOfFunctions; ++i) {
    if (!named[i] && functions[i] != 0) result.push_back("#" + std::to_string(exports->Base + i));
  }
  return result;
}

}  // namespace e2e
