// The hotkeys from anywhere: INSERT, HOME and END pressed for real (injected into the system's input, and at
// the X level) reach the program through the hook library's stand-in, whether the program or another window
// has the keyboard, also while a message box or the About box is open; they toggle the overlay elements and
// fill the key log, and "Clear" empties it. Reports of keys that are up, or of other keys, change nothing.
// Quick taps all read down, and a busy program does not hold up the keys of other programs. The hook
// library on its own is tested in both builds, the stand-in and the overlay's own.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "overlay/hotkey_message.h"
#include "res/resource.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr char kInsLine[] = "<ins>\r\n";
constexpr char kHomeLine[] = "<home>\r\n";
constexpr char kEndLine[] = "<end>\r\n";
constexpr WORD kKeyA = 0x41;
// How long a press may take to show in the log: it takes milliseconds, so a press missing after this was
// not taken as down.
constexpr DWORD kPressMs = 2000;

std::string Repeat(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

// The argument `key` of every call of `entryPoint` in the trace, in order.
std::vector<std::string> ArgsOf(const Trace& trace, const std::string& entryPoint, const std::string& key) {
  std::vector<std::string> values;
  for (const TraceEvent& event : trace.events()) {
    if (event.name == entryPoint) values.push_back(event.Arg(key));
  }
  return values;
}

// The trace without the start-up: everything after HookOn.
std::vector<std::string> OutlineAfterStartup(const Trace& trace) {
  std::vector<std::string> outline = trace.Outline();
  std::vector<std::string> after;
  bool hooked = false;
  for (const std::string& entry : outline) {
    if (hooked) after.push_back(entry);
    if (entry == "HookOn") hooked = true;
  }
  return after;
}

LRESULT SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool* answered = nullptr) {
  DWORD_PTR result = 0;
  const bool ok = SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kPressMs, &result) != 0;
  if (answered) *answered = ok;
  return static_cast<LRESULT>(result);
}

// ---------------------------------------------------------------------------------------------------------
// Key presses

struct Stroke {
  WORD key;
  bool up;
};

std::vector<Stroke> Tap(WORD key) { return {{key, false}, {key, true}}; }

enum class Source { Injected, XServer };

// The Unix name of a file, under Wine; empty elsewhere.
std::string UnixPath(const fs::path& path) {
  using UnixFileName = char*(CDECL*)(const wchar_t*);
  static const auto unixFileName = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unixFileName ? unixFileName(path.wstring().c_str()) : nullptr;
  const std::string result = name ? name : "";
  if (name) HeapFree(GetProcessHeap(), 0, name);
  return result;
}

// Runs x_keys.py (beside this program) with the given actions. Wine starts Unix programs but cannot wait for
// them, so the script writes a file once its actions have reached the X server.
bool RunXKeys(const std::vector<std::string>& actions) {
  const fs::path script = BinFolder() / "x_keys.py";
  const fs::path done = NewRunFolder() / "done";
  const std::string scriptPath = UnixPath(script);
  if (scriptPath.empty() || !fs::exists(script)) return false;
  std::string command = "/usr/bin/env python3 \"" + scriptPath + "\" \"" + UnixPath(done) + "\"";
  for (const std::string& action : actions) command += " \"" + action + "\"";

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  const bool finished = WaitUntil([&] { return fs::exists(done); }, kWaitMs);
  std::error_code error;
  fs::remove_all(done.parent_path(), error);
  return finished;
}

// Whether X-level keys can be pressed here: Wine, python3, and an X server with XTEST.
bool XKeysAvailable() {
  static const bool available = RunXKeys({});
  return available;
}

const char* XKeysym(WORD key) {
  switch (key) {
    case VK_INSERT: return "Insert";
    case VK_HOME: return "Home";
    case VK_END: return "End";
    case kKeyA: return "a";
    default: return nullptr;
  }
}

// Presses keys as the user would: injected into the system's input stream like a keyboard driver (SendInput),
// or at the X level, where Wine reads them as from the real keyboard.
class Keyboard {
 public:
  explicit Keyboard(Source source) : source_(source) {}

  bool Available() const { return source_ == Source::Injected || XKeysAvailable(); }

  // Makes `window` the one that gets the keys; at the X level its X window also gets the X keyboard focus.
  bool BringToFront(HWND window) const {
    if (source_ == Source::XServer && !RunXKeys({"focus:" + WindowText(window)})) return false;
    return e2e::BringToFront(window);
  }

  // The key held down long enough to repeat, then released: injected as repeated presses, as the keyboard
  // sends them; at the X level held for a second, which the X server repeats.
  bool Hold(WORD key) const {
    if (source_ == Source::XServer) {
      return RunXKeys({"down:" + std::string(XKeysym(key)), "sleep:1000", "up:" + std::string(XKeysym(key))});
    }
    return Send({{key, false}, {key, false}, {key, false}, {key, true}});
  }

  // All strokes in one go, as fast as the source allows.
  bool Send(const std::vector<Stroke>& strokes) const {
    if (source_ == Source::XServer) {
      std::vector<std::string> actions;
      for (const Stroke& stroke : strokes) {
        actions.push_back((stroke.up ? "up:" : "down:") + std::string(XKeysym(stroke.key)));
      }
      return RunXKeys(actions);
    }
    std::vector<INPUT> inputs;
    for (const Stroke& stroke : strokes) {
      INPUT input{};
      input.type = INPUT_KEYBOARD;
      input.ki.wVk = stroke.key;
      input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(stroke.key, MAPVK_VK_TO_VSC));
      // INSERT, HOME and END are the extended keys of the navigation block.
      const bool extended = stroke.key == VK_INSERT || stroke.key == VK_HOME || stroke.key == VK_END;
      input.ki.dwFlags = (extended ? KEYEVENTF_EXTENDEDKEY : 0) | (stroke.up ? KEYEVENTF_KEYUP : 0);
      inputs.push_back(input);
    }
    return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
  }

 private:
  Source source_;
};

// ---------------------------------------------------------------------------------------------------------
// Another window to have the keyboard, like a game would

// A small top-level window of this test program, on a thread of its own with its own message loop, that
// counts the key presses it receives.
class OtherWindow {
 public:
  OtherWindow() {
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_.emplace([this] { Loop(); });
    WaitForSingleObject(ready_, kWaitMs);
  }
  ~OtherWindow() {
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    thread_.reset();
    CloseHandle(ready_);
  }
  OtherWindow(const OtherWindow&) = delete;
  OtherWindow& operator=(const OtherWindow&) = delete;

  HWND window() const { return window_; }
  // WM_KEYDOWN messages of that key received, repeats included.
  int KeyDowns(WORD key) const { return keyDowns_[key & 0xFF]; }
  // When the last WM_KEYDOWN arrived (GetTickCount64).
  ULONGLONG LastKeyDownAt() const { return lastKeyDownAt_; }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<OtherWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_KEYDOWN && self) {
      self->lastKeyDownAt_ = GetTickCount64();
      ++self->keyDowns_[wParam & 0xFF];
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
  }

  void Loop() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &OtherWindow::Proc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "va_vazu_e2e_other";
    RegisterClassA(&windowClass);  // fails harmlessly when an earlier test registered it
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Other window", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  900, 40, 240, 120, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window) SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    window_ = window;
    SetEvent(ready_);
    MSG msg;
    while (window && GetMessageA(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }

  HANDLE ready_ = nullptr;
  std::optional<Thread> thread_;
  std::atomic<HWND> window_{nullptr};
  std::atomic<int> keyDowns_[256] = {};
  std::atomic<ULONGLONG> lastKeyDownAt_{0};
};

// ---------------------------------------------------------------------------------------------------------
// The program with another window beside it

class HotkeyFixture {
 protected:
  bool StartProgram() { return app_.Start() && app_.WaitForDialog() && other_.window(); }

  std::string Log() const { return app_.Text(IDC_KEY_LOG); }
  // Waits until the log shows exactly `expected`.
  bool WaitForLog(const std::string& expected, DWORD timeoutMs = kPressMs) const {
    return WaitUntil([&] { return Log() == expected; }, timeoutMs);
  }
  // Presses, then waits until the log shows `expected`: reports that come late or twice show as a wrong log.
  void PressAndExpectLog(const Keyboard& keyboard, const std::vector<Stroke>& strokes, const std::string& expected,
                         const std::string& what) {
    ASSERT_TRUE(keyboard.Send(strokes)) << what << ": the keys could not be sent";
    ExpectLog(expected, what);
  }
  void ExpectLog(const std::string& expected, const std::string& what) const {
    EXPECT_TRUE(WaitForLog(expected)) << what << ": the key log shows \"" << Log() << "\"";
  }
  // Taps `key` in the other window, which has the keyboard, and returns how long its WM_KEYDOWN took to
  // arrive from the moment the tap was sent; kPressMs when it did not arrive within that.
  ULONGLONG KeyDownDelay(WORD key) const {
    const int before = other_.KeyDowns(key);
    const ULONGLONG sent = GetTickCount64();
    if (!injected_.Send(Tap(key)) || !WaitUntil([&] { return other_.KeyDowns(key) > before; }, kPressMs)) {
      return kPressMs;
    }
    return other_.LastKeyDownAt() - sent;
  }

  App app_;
  OtherWindow other_;
  Keyboard injected_{Source::Injected};
};

// ---------------------------------------------------------------------------------------------------------
// Real presses, with each source of keys and each window in front

enum class Front { Program, OtherWindow };

struct PressCase {
  Source source;
  Front front;
};

void PrintTo(const PressCase& c, std::ostream* out) {
  *out << (c.source == Source::Injected ? "Injected" : "XServer")
       << (c.front == Front::Program ? "ProgramInFront" : "OtherWindowInFront");
}

class HotkeyPresses : public HotkeyFixture, public ::testing::TestWithParam<PressCase> {};

// Quick taps (press and release sent together) are the hard case: the release follows at once, and the
// program must still read the key down. A key held down and repeating is one press.
TEST_P(HotkeyPresses, ToggleTheElementsAndFillTheLog) {
  const PressCase& c = GetParam();
  const Keyboard keyboard(c.source);
  if (!keyboard.Available()) {
    GTEST_SKIP() << "X-level key events need Wine, python3 and the X libraries libX11 and libXtst";
  }
  ASSERT_TRUE(StartProgram());
  HWND front = c.front == Front::Program ? app_.dialog() : other_.window();
  ASSERT_TRUE(keyboard.BringToFront(front)) << "the window did not come to the front";

  std::string log;
  for (int press = 1; press <= 3; ++press) {
    log += kInsLine;
    PressAndExpectLog(keyboard, Tap(VK_INSERT), log, "INSERT press " + std::to_string(press) + " of 3");
  }
  EXPECT_EQ(app_.Text(IDC_LINE_STATE), "INGAME SINGLE LINE ON");

  // HOME held down and repeating, then a tap: two reports, however many times the key repeated.
  log += kHomeLine;
  ASSERT_TRUE(keyboard.Hold(VK_HOME));
  ExpectLog(log, "HOME held");
  log += kHomeLine;
  PressAndExpectLog(keyboard, Tap(VK_HOME), log, "HOME tap");
  EXPECT_EQ(app_.Text(IDC_MULTI_STATE), "INGAME MULTILINE OFF");

  const Trace trace = app_.ReadTrace();
  // Start-up hides both texts; then the presses toggle them.
  EXPECT_EQ(ArgsOf(trace, "HVSL_ShowText", "show"), (std::vector<std::string>{"0", "1", "0", "1"})) << trace.Text();
  EXPECT_EQ(ArgsOf(trace, "HVML_ShowText", "show"), (std::vector<std::string>{"0", "1", "0"})) << trace.Text();

  // The keys went where the test meant them to go.
  EXPECT_EQ(GetForegroundWindow(), front);
  if (c.front == Front::OtherWindow) {
    EXPECT_EQ(other_.KeyDowns(VK_INSERT), 3);
    EXPECT_GE(other_.KeyDowns(VK_HOME), 3) << "HOME did not repeat";
  } else {
    EXPECT_EQ(other_.KeyDowns(VK_INSERT) + other_.KeyDowns(VK_HOME), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Hotkey, HotkeyPresses,
                         ::testing::Values(PressCase{Source::Injected, Front::Program},
                                           PressCase{Source::Injected, Front::OtherWindow},
                                           PressCase{Source::XServer, Front::Program},
                                           PressCase{Source::XServer, Front::OtherWindow}),
                         [](const ::testing::TestParamInfo<PressCase>& test) {
                           std::ostringstream name;
                           PrintTo(test.param, &name);
                           return name.str();
                         });

class HotkeyTaps : public HotkeyFixture, public ::testing::TestWithParam<Front> {};

// A hundred quick taps, each press sent together with its release: every one reads down in the program.
TEST_P(HotkeyTaps, AllReadDown) {
  constexpr int kTaps = 100;
  ASSERT_TRUE(StartProgram());
  ASSERT_TRUE(BringToFront(GetParam() == Front::Program ? app_.dialog() : other_.window()));
  for (int tap = 1; tap <= kTaps; ++tap) {
    ASSERT_TRUE(injected_.Send(Tap(VK_INSERT)));
    ASSERT_TRUE(WaitForLog(Repeat(kInsLine, tap))) << "tap " << tap << " of " << kTaps << " was not read down";
  }
  EXPECT_EQ(other_.KeyDowns(VK_INSERT), GetParam() == Front::Program ? 0 : kTaps);
}

INSTANTIATE_TEST_SUITE_P(Hotkey, HotkeyTaps, ::testing::Values(Front::Program, Front::OtherWindow),
                         [](const ::testing::TestParamInfo<Front>& test) {
                           return test.param == Front::Program ? "ProgramInFront" : "OtherWindowInFront";
                         });

// ---------------------------------------------------------------------------------------------------------
// What the hotkeys do with the dialog

class Hotkey : public HotkeyFixture, public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartProgram());
    // The user is in the game: another window has the keyboard.
    ASSERT_TRUE(BringToFront(other_.window()));
  }
};

// The first END loads the picture from the path in the box at that moment, typed but never confirmed with
// "Set", and shows it at (10, 10); its read takes over the other pending edits too. The second hides it
// and loads nothing.
TEST_F(Hotkey, EndShowsThePictureFromTheTypedPathThenHidesIt) {
  const std::string typedPath = "D:\\typed\\not set.bmp";
  ASSERT_TRUE(app_.SetText(IDC_PICTURE_PATH, typedPath));
  ASSERT_TRUE(app_.SetText(IDC_LINE_TEXT, "typed, not sent"));

  PressAndExpectLog(injected_, Tap(VK_END), kEndLine, "first END");
  EXPECT_EQ(OutlineAfterStartup(app_.ReadTrace()),
            (std::vector<std::string>{"HVPIC_LoadNewPicture", "HVPIC_ShowPicturePos"}));
  const Trace shown = app_.ReadTrace();
  ASSERT_NE(shown.Find("HVPIC_LoadNewPicture"), nullptr);
  EXPECT_EQ(shown.Find("HVPIC_LoadNewPicture")->Arg("path"), typedPath);
  EXPECT_EQ(shown.Find("HVPIC_ShowPicturePos")->line, "HVPIC_ShowPicturePos show=1 x=10 y=10 ret=0x00000001");
  EXPECT_EQ(app_.Text(IDC_PICTURE_PATH), typedPath);
  EXPECT_EQ(app_.Text(IDC_LINE_TEXT), "typed, not sent");

  ASSERT_TRUE(app_.SetText(IDC_PICTURE_PATH, "E:\\other.png"));
  PressAndExpectLog(injected_, Tap(VK_END), Repeat(kEndLine, 2), "second END");
  const Trace hidden = app_.ReadTrace();
  EXPECT_EQ(OutlineAfterStartup(hidden),
            (std::vector<std::string>{"HVPIC_LoadNewPicture", "HVPIC_ShowPicturePos", "HVPIC_ShowPicturePos"}));
  EXPECT_EQ(hidden.events().back().line, "HVPIC_ShowPicturePos show=0 x=0 y=0 ret=0x00000001");
}

// END's read of all fields meets a colour out of range: the framework's message comes up from inside the
// hotkey handler; while it is open the keyboard of other windows is not held up; the picture is loaded and
// shown all the same once it is dismissed, and the keys keep working.
TEST_F(Hotkey, EndWithAFieldOutOfRangeStillShowsThePicture) {
  ASSERT_TRUE(app_.SetText(IDC_LINE_RED, "300"));
  ASSERT_TRUE(injected_.Send(Tap(VK_END)));
  const std::optional<MessageBoxInfo> box = app_.WaitForMessageBox();
  ASSERT_TRUE(box.has_value()) << "no message about the field";
  EXPECT_EQ(box->text, "Please enter a whole number from 0 to 255.");
  ASSERT_TRUE(BringToFront(other_.window()));
  const ULONGLONG delay = KeyDownDelay(kKeyA);
  std::printf("a key in another window arrived %llu ms after it was sent, with the box open\n", delay);
  EXPECT_LE(delay, 100u) << "a key in another window waited for the program's box";
  Dismiss(*box);

  ExpectLog(kEndLine, "END");
  EXPECT_EQ(OutlineAfterStartup(app_.ReadTrace()),
            (std::vector<std::string>{"HVPIC_LoadNewPicture", "HVPIC_ShowPicturePos"}));
  ASSERT_TRUE(BringToFront(other_.window()));
  PressAndExpectLog(injected_, Tap(VK_INSERT), std::string(kEndLine) + kInsLine, "INSERT afterwards");
}

// A command kept busy in a slow library call does not hold up a key pressed in another program, and the hook
// outlives it. The hotkey pressed meanwhile is handled once the call is over, when the key is up: it counts
// for nothing.
TEST_F(Hotkey, BusyProgramDoesNotHoldUpOtherWindowsKeys) {
  app_.WriteScript("HVSL_SetTextLineData_delay_ms=1500\n");
  app_.Click(IDC_SET_LINE);
  ASSERT_TRUE(WaitUntil([&] {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(app_.dialog(), WM_NULL, 0, 0, SMTO_BLOCK, 50, &result) == 0;
  })) << "the program did not get busy";
  const ULONGLONG delay = KeyDownDelay(VK_INSERT);
  std::printf("a key in another window arrived %llu ms after it was sent, with the program busy\n", delay);
  EXPECT_LE(delay, 100u) << "a key in another window waited for the busy program";
  EXPECT_EQ(app_.ReadTrace().Count("HVSL_SetTextLineData"), 0) << "the call was over before the key";

  ASSERT_EQ(app_.WaitForEvents("HVSL_SetTextLineData", 1).Count("HVSL_SetTextLineData"), 1);
  // The X focus moves to the other window only once the program, after the call, has handled losing the
  // foreground; Wine then brings the key state in line with the X server's: let that settle first.
  ASSERT_TRUE(BringToFront(other_.window()));
  PressAndExpectLog(injected_, Tap(VK_INSERT), kInsLine, "INSERT after the call");
}

// INSERT and HOME write every field back without reading first: a box edited but not yet taken over by a
// command shows its stored value again. END switching the picture on reads every box first, so its edits stay.
TEST_F(Hotkey, InsertAndHomeShowStoredValuesWhileEndTakesEditsOver) {
  ASSERT_TRUE(app_.SetText(IDC_LINE_TEXT, "being typed"));
  PressAndExpectLog(injected_, Tap(VK_INSERT), kInsLine, "INSERT");
  EXPECT_EQ(app_.Text(IDC_LINE_TEXT), "this is a test");

  ASSERT_TRUE(app_.SetText(IDC_MULTI_TEXT, "first\r\nsecond"));
  PressAndExpectLog(injected_, Tap(VK_HOME), std::string(kInsLine) + kHomeLine, "HOME");
  EXPECT_EQ(app_.Text(IDC_MULTI_TEXT), "Line1\r\nLine2\r\nLine3");

  ASSERT_TRUE(app_.SetText(IDC_LINE_TEXT, "taken over"));
  PressAndExpectLog(injected_, Tap(VK_END), std::string(kInsLine) + kHomeLine + kEndLine, "END");
  EXPECT_EQ(app_.Text(IDC_LINE_TEXT), "taken over");
}

// Reports the program must ignore: a hotkey whose key is up, and a key that is not a hotkey. Each is answered
// with 0.
TEST_F(Hotkey, ReportsOfKeysUpAndOfOtherKeysChangeNothing) {
  for (WPARAM key : {VK_INSERT, VK_HOME, VK_END}) {
    bool answered = false;
    EXPECT_EQ(SendWithin(app_.dialog(), WM_HOOKKEY, key, 0, &answered), 0) << "key 0x" << std::hex << key;
    EXPECT_TRUE(answered);
  }
  // A held down: reported, by the test and by the hook itself, but not a hotkey; INSERT reported while A is
  // the key that is down.
  ASSERT_TRUE(injected_.Send({{kKeyA, false}}));
  EXPECT_TRUE(WaitUntil([&] { return other_.KeyDowns(kKeyA) == 1; }, kPressMs));
  EXPECT_EQ(SendWithin(app_.dialog(), WM_HOOKKEY, kKeyA, 0), 0);
  EXPECT_EQ(SendWithin(app_.dialog(), WM_HOOKKEY, VK_INSERT, 0), 0);
  ASSERT_TRUE(injected_.Send({{kKeyA, true}}));

  EXPECT_EQ(Log(), "");
  EXPECT_EQ(app_.Text(IDC_LINE_STATE), "INGAME SINGLE LINE OFF");
  EXPECT_EQ(app_.Text(IDC_MULTI_STATE), "INGAME MULTILINE OFF");
  // Reports are handled in order, so once a real INSERT is in the log, every report before it has been.
  PressAndExpectLog(injected_, Tap(VK_INSERT), kInsLine, "INSERT after the ignored reports");
  EXPECT_EQ(OutlineAfterStartup(app_.ReadTrace()), (std::vector<std::string>{"HVSL_ShowText"}));
}

// "Clear" reads every box before it empties the log, so edits not yet taken over by a command stay.
TEST_F(Hotkey, ClearEmptiesTheLogAndKeepsPendingEdits) {
  PressAndExpectLog(injected_, Tap(VK_INSERT), kInsLine, "INSERT");
  PressAndExpectLog(injected_, Tap(VK_HOME), std::string(kInsLine) + kHomeLine, "HOME");

  const struct {
    int id;
    const char* text;
  } edits[] = {{IDC_LINE_TEXT, "pending line"}, {IDC_MULTI_X, "77"}, {IDC_PICTURE_PATH, "C:\\pending.png"}};
  for (const auto& edit : edits) ASSERT_TRUE(app_.SetText(edit.id, edit.text));

  app_.Click(IDC_CLEAR_LOG);
  EXPECT_TRUE(WaitForLog("")) << "the log was not cleared: \"" << Log() << "\"";
  for (const auto& edit : edits) EXPECT_EQ(app_.Text(edit.id), edit.text) << "control " << edit.id;

  // The edits are now the dialog's own: the write after the next hotkey keeps them.
  PressAndExpectLog(injected_, Tap(VK_INSERT), kInsLine, "INSERT after Clear");
  for (const auto& edit : edits) EXPECT_EQ(app_.Text(edit.id), edit.text) << "control " << edit.id;
  EXPECT_EQ(OutlineAfterStartup(app_.ReadTrace()),
            (std::vector<std::string>{"HVSL_ShowText", "HVML_ShowText", "HVSL_ShowText"}));
}

// Several thousand reports while INSERT is held: each toggles and logs, none is lost, and the dialog answers
// afterwards.
TEST_F(Hotkey, BurstOfThousandsOfReportsLeavesEveryLine) {
  constexpr int kReports = 3000;
  // The press itself is reported too: one line more.
  ASSERT_TRUE(injected_.Send({{VK_INSERT, false}}));
  EXPECT_TRUE(WaitForLog(kInsLine)) << "the press itself was not reported";
  const ULONGLONG start = GetTickCount64();
  int posted = 0;
  for (int i = 0; i < kReports; ++i) posted += PostMessageA(app_.dialog(), WM_HOOKKEY, VK_INSERT, 0) ? 1 : 0;

  // The length alone is read while waiting: the whole log is some 20 KB.
  const LRESULT expectedLength = static_cast<LRESULT>((kReports + 1) * (sizeof kInsLine - 1));
  const bool all = WaitUntil(
      [&] { return SendWithin(app_.Control(IDC_KEY_LOG), WM_GETTEXTLENGTH, 0, 0) == expectedLength; }, 90000);
  const ULONGLONG elapsed = GetTickCount64() - start;
  ASSERT_TRUE(injected_.Send({{VK_INSERT, true}}));
  ASSERT_EQ(posted, kReports);
  ASSERT_TRUE(all) << "the log did not reach " << kReports + 1 << " lines";
  std::printf("%d reports handled in %llu ms\n", kReports, elapsed);

  EXPECT_EQ(Log(), Repeat(kInsLine, kReports + 1));
  EXPECT_EQ(app_.Text(IDC_LINE_STATE), "INGAME SINGLE LINE ON");  // an odd number of toggles from OFF
  EXPECT_EQ(app_.ReadTrace().Count("HVSL_ShowText"), 1 + kReports + 1);

  // Still answering, and still taking hotkeys.
  PressAndExpectLog(injected_, Tap(VK_HOME), Repeat(kInsLine, kReports + 1) + kHomeLine, "HOME after the burst");
}

// ---------------------------------------------------------------------------------------------------------
// Hotkeys while a box of the program is open

struct BoxCase {
  std::string name;
  std::function<void(const App&)> open;
  std::string caption;
  std::string text;  // of a message box; empty for the About box
};

void PrintTo(const BoxCase& c, std::ostream* out) { *out << c.name; }

class HotkeyDuringBox : public HotkeyFixture, public ::testing::TestWithParam<BoxCase> {};

// The box runs a loop of its own while its handler waits; hotkeys are handled in it, whether the box or
// another window has the keyboard, and the box stays open.
TEST_P(HotkeyDuringBox, IsHandledAndTheBoxStaysOpen) {
  const BoxCase& c = GetParam();
  ASSERT_TRUE(StartProgram());
  app_.WriteScript("HVSI_ShowFPS=0\n");
  c.open(app_);
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (box = app_.FindBox()) != nullptr; })) << "the box did not open";
  EXPECT_EQ(WindowText(box), c.caption);
  if (!c.text.empty()) {
    EXPECT_EQ(WindowText(GetDlgItem(box, 0xFFFF)), c.text);
  }

  ASSERT_TRUE(BringToFront(box));
  PressAndExpectLog(injected_, Tap(VK_INSERT), kInsLine, "INSERT with the box in front");
  ASSERT_TRUE(BringToFront(other_.window()));
  PressAndExpectLog(injected_, Tap(VK_HOME), std::string(kInsLine) + kHomeLine, "HOME with another window in front");
  EXPECT_EQ(app_.Text(IDC_LINE_STATE), "INGAME SINGLE LINE ON");
  EXPECT_EQ(app_.Text(IDC_MULTI_STATE), "INGAME MULTILINE ON");
  EXPECT_TRUE(IsWindowVisible(box)) << "the box closed";

  Dismiss(MessageBoxInfo{box, "", "", Icon::None});
  EXPECT_TRUE(WaitUntil([&] { return app_.FindBox() == nullptr; })) << "the box did not close";
  EXPECT_TRUE(app_.Running());
  EXPECT_EQ(Log(), std::string(kInsLine) + kHomeLine);
}

INSTANTIATE_TEST_SUITE_P(
    Hotkey, HotkeyDuringBox,
    ::testing::Values(BoxCase{"ErrorMessageBox", [](const App& app) { app.Click(IDC_SHOW_FPS); }, "va_vazu",
                              "HVSI_ShowFPS ERROR."},
                      BoxCase{"AboutBox",
                              [](const App& app) { PostMessageA(app.dialog(), WM_SYSCOMMAND, IDM_ABOUT, 0); },
                              "Info \xFC" "ber va_vazu", ""}),
    [](const ::testing::TestParamInfo<BoxCase>& test) { return test.param.name; });

// ---------------------------------------------------------------------------------------------------------
// The hook library on its own

// A window of this test program hooked through a copy of a hook library, loaded, hooked and released on the
// window's own thread as the program does it. Records each report with whether that thread read the key down.
class HookHost {
 public:
  enum Command : UINT { kHookOn = WM_APP + 1, kHookOff, kUnload, kSync };
  struct Report {
    WPARAM key;
    bool down;
    bool operator==(const Report& other) const { return key == other.key && down == other.down; }
  };

  explicit HookHost(const fs::path& library) : library_(library) {
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    synced_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    thread_.emplace([this] { Loop(); });
    WaitForSingleObject(ready_, kWaitMs);
  }
  ~HookHost() {
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    thread_.reset();
    CloseHandle(ready_);
    CloseHandle(synced_);
  }
  HookHost(const HookHost&) = delete;
  HookHost& operator=(const HookHost&) = delete;

  bool Alive() const { return thread_->Running(); }
  HMODULE module() const { return module_; }
  // Runs a command on the window's thread; true once it has run.
  bool Do(Command command) const {
    bool answered = false;
    SendWithin(window_, command, 0, 0, &answered);
    return answered;
  }
  // The reports received so far. Messages posted to one window are handled in order, so a message posted
  // after a report is handled after it.
  std::vector<Report> Reports() {
    if (!PostMessageA(window_, kSync, 0, 0) || WaitForSingleObject(synced_, kWaitMs) != WAIT_OBJECT_0) return {};
    return reports_;  // the window's thread has stopped writing: it waits for the next message
  }

 private:
  using HookOnFn = DWORD(WINAPI*)(HWND, std::uint32_t);
  using HookOffFn = DWORD(WINAPI*)();

  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<HookHost*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self) return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
      case WM_HOOKKEY:
        self->reports_.push_back({wParam, (GetKeyState(static_cast<int>(wParam)) & 0x80) != 0});
        return 0;
      case kHookOn:
        if (auto hookOn = self->EntryPoint<HookOnFn>("HookOn")) hookOn(window, 0);
        return 0;
      case kHookOff:
        if (auto hookOff = self->EntryPoint<HookOffFn>("HookOff")) hookOff();
        return 0;
      case kUnload:
        FreeLibrary(self->module_);
        self->module_ = nullptr;
        return 0;
      case kSync:
        SetEvent(self->synced_);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
  }

  template <class Function>
  Function EntryPoint(const char* name) const {
    return module_ ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name))) : nullptr;
  }

  void Loop() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &HookHost::Proc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "va_vazu_e2e_hook_host";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Hook host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    module_ = LoadLibraryA(library_.string().c_str());
    if (window) SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    window_ = window;
    SetEvent(ready_);
    MSG msg;
    while (window && GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    if (module_) FreeLibrary(module_);
  }

  fs::path library_;
  HMODULE module_ = nullptr;
  HANDLE ready_ = nullptr;
  HANDLE synced_ = nullptr;
  std::optional<Thread> thread_;
  std::atomic<HWND> window_{nullptr};
  std::vector<Report> reports_;
};

void PrintTo(const HookHost::Report& report, std::ostream* out) {
  *out << "0x" << std::hex << report.key << (report.down ? " down" : " up");
}

// The two builds of the hook library: the stand-in, which records its calls, and the overlay's own.
struct HookLibrary {
  const char* name;
  const char* path;  // under bin/
  bool records;
};

void PrintTo(const HookLibrary& library, std::ostream* out) { *out << library.name; }

class HotkeyLibrary : public ::testing::TestWithParam<HookLibrary> {};

// Between HookOn and HookOff each first press of any key, in another window, is reported once and read down;
// after HookOff, and after the library is released without HookOff, nothing is reported and nothing breaks
// (a hook left behind would call code that is gone). The library exports HookOn and HookOff and nothing else.
TEST_P(HotkeyLibrary, ReportsPressesUntilHookOffOrRelease) {
  const fs::path folder = NewRunFolder();
  fs::copy_file(BinFolder() / GetParam().path, folder / "HVHook.dll");
  OtherWindow other;
  ASSERT_TRUE(other.window());
  ASSERT_TRUE(BringToFront(other.window()));
  HookHost host(folder / "HVHook.dll");
  EXPECT_EQ(ExportedNames(host.module()), (std::vector<std::string>{"HookOff", "HookOn"}));
  const Keyboard keyboard(Source::Injected);
  int insertPresses = 0;
  auto pressInsert = [&] {
    ASSERT_TRUE(keyboard.Send(Tap(VK_INSERT)));
    ++insertPresses;
    // Once the other window has the key, the hook has seen it.
    ASSERT_TRUE(WaitUntil([&] { return other.KeyDowns(VK_INSERT) == insertPresses; }, kPressMs));
  };
  using Reports = std::vector<HookHost::Report>;

  ASSERT_TRUE(host.Do(HookHost::kHookOn));
  pressInsert();
  ASSERT_TRUE(keyboard.Hold(kKeyA));
  ASSERT_TRUE(WaitUntil([&] { return other.KeyDowns(kKeyA) == 3; }, kPressMs));
  EXPECT_EQ(host.Reports(), (Reports{{VK_INSERT, true}, {kKeyA, true}}));

  ASSERT_TRUE(host.Do(HookHost::kHookOff));
  pressInsert();
  EXPECT_EQ(host.Reports().size(), 2u) << "reported after HookOff";

  ASSERT_TRUE(host.Do(HookHost::kHookOn));
  pressInsert();
  EXPECT_EQ(host.Reports().size(), 3u) << "not reported after HookOn again";

  ASSERT_TRUE(host.Do(HookHost::kUnload));
  pressInsert();
  EXPECT_EQ(host.Reports().size(), 3u) << "reported after the library was released";
  EXPECT_TRUE(host.Alive());

  if (GetParam().records) {
    EXPECT_EQ(Trace::Load(folder / "trace.log").Outline(),
              (std::vector<std::string>{"HVHook.dll:attach", "HookOn", "HookOff", "HookOn",
                                        "HVHook.dll:detach by=FreeLibrary"}));
  } else {
    EXPECT_FALSE(fs::exists(folder / "trace.log"));
  }
  std::error_code error;
  fs::remove_all(folder, error);
}

INSTANTIATE_TEST_SUITE_P(Hotkey, HotkeyLibrary,
                         ::testing::Values(HookLibrary{"Standin", "standins/full/HVHook.dll", true},
                                           HookLibrary{"Overlay", "overlay/HVHook.dll", false}),
                         [](const ::testing::TestParamInfo<HookLibrary>& test) { return test.param.name; });

}  // namespace
}  // namespace e2e
