// Drives the real va_vazu.exe from outside, as a user would: starts it in a fresh folder with chosen stand-in
// libraries, finds its dialog and message boxes, types, clicks, presses keys and reads what it shows, and
// reads what the stand-ins recorded. Every wait is bounded, and the process is ended with the App object, so
// a failing test never hangs.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "trace.h"

namespace e2e {

// How long any single wait lasts before the test gives up: ample for Wine on a busy machine, where the real
// steps take milliseconds.
constexpr DWORD kWaitMs = 5000;

inline constexpr char kDialogTitle[] = "Holvane Demo App";

// The folder of the running test program: the build's bin/, which holds va_vazu.exe and standins/.
std::filesystem::path BinFolder();
// A new empty folder for one test's files, under the temporary folder.
std::filesystem::path NewRunFolder();

// Which libraries the program finds. A variant names a folder of stand-ins under bin/standins/ ("full",
// "no_HookOn", ...), or is "overlay" for the overlay's own in bin/overlay/; an empty variant leaves that library
// out.
struct Libraries {
  std::string comms = "full";
  std::string hook = "full";
  // Put them into the program's working directory (a folder of their own) instead of beside the program.
  bool inWorkingDirectory = false;
  // Start the program in an empty folder of its own even when the libraries are beside it, so that a test can
  // plant files in its working directory.
  bool separateWorkingDirectory = false;
};

enum class Icon { None, Error, Warning, Information, Question, Unknown };
const char* ToString(Icon icon);

struct MessageBoxInfo {
  HWND window = nullptr;
  std::string caption;
  std::string text;
  Icon icon = Icon::None;
};

// The top-level windows of a process, topmost first.
std::vector<HWND> TopLevelWindowsOf(DWORD pid);

// Window operations that work on windows of another process. Sent messages time out rather than block.
std::string WindowText(HWND window);
bool SetText(HWND window, const std::string& text);
std::string ClassName(HWND window);
// BM_GETCHECK, or -1 when the control does not answer.
int CheckState(HWND button);
// BM_SETCHECK: sets the state without a click, so an automatic radio button leaves its partners alone.
bool SetCheck(HWND button, int state);
// Posted, not sent: a click whose handler opens a message box would block a sent one until it is dismissed.
void PostClick(HWND button);
void PostKey(HWND window, WORD virtualKey);
// Makes `window` the foreground window, the one that gets the keyboard, and lets the change settle; false when it
// does not stay in front.
bool BringToFront(HWND window);
// Dismisses a message box with its first button.
void Dismiss(const MessageBoxInfo& box);

class App {
 public:
  explicit App(const Libraries& libraries = Libraries());
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  const std::filesystem::path& programFolder() const { return programFolder_; }
  const std::filesystem::path& workingDirectory() const { return workingDirectory_; }
  // Where the stand-ins are, and so their trace.log and standin.ini.
  const std::filesystem::path& librariesFolder() const;

  // Writes standin.ini, which the stand-ins read on every call.
  void WriteScript(const std::string& content) const;
  Trace ReadTrace() const;
  // The trace once it holds at least `count` events named `name`; the last one read when the time is up.
  Trace WaitForEvents(const std::string& name, int count, DWORD timeoutMs = kWaitMs) const;

  // Starts the program; records a test failure and returns false when it cannot.
  bool Start();
  // Waits until the main dialog of this process is visible; null (and a test failure) when it does not come.
  HWND WaitForDialog(DWORD timeoutMs = kWaitMs);
  HWND dialog() const { return dialog_; }

  HWND Control(int id) const;
  std::string Text(int id) const { return WindowText(Control(id)); }
  bool SetText(int id, const std::string& text) const { return e2e::SetText(Control(id), text); }
  int CheckState(int id) const { return e2e::CheckState(Control(id)); }
  bool SetCheck(int id, int state) const { return e2e::SetCheck(Control(id), state); }
  void Click(int id) const { PostClick(Control(id)); }
  // Sends the click and returns once its handler has: true then, false when the handler has not returned
  // within the wait (it shows a message box, or hangs). For commands that must not show a box; it also
  // orders the click before anything posted afterwards.
  bool ClickAndWait(int id) const;
  // Delivers a key report as the hook library does: the hotkey message 0x1400, posted, with the key's code.
  void PostHotkey(WPARAM virtualKey) const;
  // Moves the focus to control `id` (0: leave it where it is) and presses the key there.
  void PressKey(int id, WORD virtualKey) const;
  // The window that has the keyboard focus in the program's user-interface thread.
  HWND FocusedWindow() const;

  // The items of the main dialog's system menu as the program holds them, in UTF-16 whatever the code pages; a
  // separator reads "----". Read inside the program by the library of menu_reader.cpp; a test failure and
  // nothing when it cannot be.
  std::vector<std::wstring> SystemMenuItems() const;

  // A message box of this process other than the main dialog, found by process rather than owner: one shown
  // during start-up belongs to the dialog before it is visible.
  std::optional<MessageBoxInfo> FindMessageBox() const;
  // The visible top-level windows of this process other than the main dialog, topmost first: message boxes,
  // the About box, a library's own box.
  std::vector<HWND> OpenBoxes() const;
  // The topmost of them that is a dialog-class window (a message box or the About box); null when none is open.
  HWND FindBox() const;
  std::optional<MessageBoxInfo> WaitForMessageBox(DWORD timeoutMs = kWaitMs) const;

  bool Running() const;
  // The exit code once the process has ended within the wait.
  std::optional<DWORD> WaitForExit(DWORD timeoutMs = kWaitMs) const;

 private:
  Libraries libraries_;
  std::filesystem::path runFolder_;
  std::filesystem::path programFolder_;
  std::filesystem::path workingDirectory_;
  PROCESS_INFORMATION process_{};
  HWND dialog_ = nullptr;
};

// A test whose program is started with the full stand-ins and whose dialog is up.
class StartedApp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(app_.Start());
    ASSERT_TRUE(app_.WaitForDialog());
  }
  App app_;
};

// A function run on a thread of its own (the compiler's library has no std::thread). Ending it waits for the
// function a bounded time, then stops the thread, so a hung test thread cannot hang the test program.
class Thread {
 public:
  explicit Thread(std::function<void()> body);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // True once the function has returned within the wait.
  bool Join(DWORD timeoutMs = INFINITE) const;
  bool Running() const { return !Join(0); }

 private:
  static DWORD WINAPI Run(void* self);
  std::function<void()> body_;
  HANDLE handle_ = nullptr;
};

// The pixels (0xRRGGBB) of a rectangle of the screen.
class Screenshot {
 public:
  explicit Screenshot(const RECT& area);

  bool valid() const { return !pixels_.empty(); }
  bool operator==(const Screenshot& other) const { return pixels_ == other.pixels_; }
  // Row by row from the top-left corner.
  const std::vector<std::uint32_t>& pixels() const { return pixels_; }
  // At a point of the screen; 0xFFFFFFFF outside the shot.
  std::uint32_t At(int screenX, int screenY) const;
  // As an uncompressed 32-bit bitmap file.
  void Save(const std::filesystem::path& file) const;

 private:
  int left_;
  int top_;
  int width_;
  int height_;
  std::vector<std::uint32_t> pixels_;
};

// The names a library loaded into this process exports, as in its export table (sorted); an entry point
// exported by ordinal only shows as "#<ordinal>".
std::vector<std::string> ExportedNames(HMODULE module);

// Polls `done` until it holds or the time is up.
template <class Predicate>
bool WaitUntil(Predicate done, DWORD timeoutMs = kWaitMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(5);
  }
}

}  // namespace e2e
