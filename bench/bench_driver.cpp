// Measures va_vazu against a bare dialog made from the same template (va_vazu_baseline) and prints the results
// as Markdown tables:
//   - start-up: from just before CreateProcess until the dialog of that process is visible with its fields
//     written (for va_vazu the multiline box holds its initial text; the bare dialog's boxes stay empty);
//   - peak working set after start-up, and of va_vazu again after a long key log; the size of va_vazu.exe;
//   - the cost of one INSERT hotkey (toggle, log line, writing all fields) as the key log grows, against the
//     same hotkey on an empty log.
// Every figure is the median of several runs taken alternately with its baseline in the same run, each pair in
// the other order than the last (A B, B A, A B, ...), so that whatever else loads the machine falls on both alike.
//
// Usage: va_vazu_bench [--runs N] [--rounds N] [--levels N,N,...] [--fill-by-hotkeys N]
//   --runs             start-up pairs (va_vazu, bare dialog), default 41
//   --rounds           hotkey pairs (long log, empty log) per log size, default 101
//   --levels           key log sizes in lines, strictly ascending, default 0,1000,10000,50000
//   --fill-by-hotkeys  the largest log filled one hotkey at a time, default 1000; larger ones are set in one
//                      step through the log box (see FillInOneStep)
// va_vazu.exe, va_vazu_baseline.exe and standins\full\ are expected beside this program (the build's bin\).
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "res/resource.h"

namespace fs = std::filesystem;

namespace {

constexpr char kDialogTitle[] = "Holvane Demo App";
constexpr char kInitialMultilineText[] = "Line1\r\nLine2\r\nLine3";
// The hotkey message of the keyboard-hook library, and the line each handled INSERT adds to the key log.
constexpr UINT kHookKeyMessage = WM_USER + 0x1000;
constexpr std::size_t kLogLineLength = sizeof "<ins>\r\n" - 1;

// Bounds of every wait: far above the real times, so that only a broken run hits them.
constexpr DWORD kStartTimeoutMs = 20000;
constexpr UINT kSendTimeoutMs = 60000;
// The pause after each timed hotkey, for the drawing it leaves to the X server.
constexpr DWORD kPauseMs = 5;
// How long a started program is left alone before its memory is read, so that its first paint is counted.
constexpr DWORD kSettleMs = 300;

struct Options {
  int runs = 41;
  int rounds = 101;
  std::vector<std::size_t> levels{0, 1000, 10000, 50000};
  // Larger logs are set in one step: by hotkeys, 50,000 lines take many minutes.
  std::size_t fillByHotkeysUpTo = 1000;
};

// ---- Time and statistics ----

LARGE_INTEGER Counter() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now;
}

double MillisecondsSince(LARGE_INTEGER start) {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  return static_cast<double>(Counter().QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// Samples of a measure and of its baseline, taken in pairs one after the other.
struct Paired {
  std::vector<double> measured;
  std::vector<double> baseline;

  void Add(double measuredValue, double baselineValue) {
    measured.push_back(measuredValue);
    baseline.push_back(baselineValue);
  }
  double Measured() const { return Median(measured); }
  double Baseline() const { return Median(baseline); }
  double Ratio() const { return Measured() / Baseline(); }
  // The fastest run of each: what is left when the least else got in the way.
  double Fastest() const { return *std::min_element(measured.begin(), measured.end()); }
  double FastestBaseline() const { return *std::min_element(baseline.begin(), baseline.end()); }
  // The middle half of the ratios within single pairs, "0.95-1.21": how much one pair alone could be trusted.
  std::string Spread() const {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < measured.size(); ++i) ratios.push_back(measured[i] / baseline[i]);
    std::sort(ratios.begin(), ratios.end());
    const double last = static_cast<double>(ratios.size() - 1);
    char text[32];
    std::snprintf(text, sizeof text, "%.2f-%.2f", ratios[static_cast<std::size_t>(last * 0.25 + 0.5)],
                  ratios[static_cast<std::size_t>(last * 0.75 + 0.5)]);
    return text;
  }
};

// Polls `done` every millisecond until it holds or the time is up.
template <class Predicate>
bool WaitUntil(Predicate done, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(1);
  }
}

// ---- Formatting ----

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// 50000 as "50,000".
std::string Grouped(unsigned long long value) {
  std::string digits = std::to_string(value);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<std::size_t>(i), ",");
  return digits;
}

std::string Mebibytes(double bytes) { return Format("%.1f MiB", bytes / (1024.0 * 1024.0)); }

std::string Verdict(bool met) { return met ? "PASS" : "MISS"; }

// "Wine 8.0" when run under Wine, else "Windows".
std::string SystemName() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  FARPROC wineVersion = ntdll ? GetProcAddress(ntdll, "wine_get_version") : nullptr;
  if (wineVersion) {
    // Through the generic function type, the one cast from an entry address the compilers accept silently.
    using WineGetVersion = const char*(__cdecl*)();
    auto get = reinterpret_cast<WineGetVersion>(reinterpret_cast<void (*)()>(wineVersion));
    return std::string("Wine ") + get();
  }
  return "Windows";
}

// ---- Windows of another process ----

bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result = nullptr) {
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &answer)) return false;
  if (result) *result = static_cast<LRESULT>(answer);
  return true;
}

std::string WindowText(HWND window) {
  LRESULT length = 0;
  if (!window || !Send(window, WM_GETTEXTLENGTH, 0, 0, &length) || length < 0) return std::string();
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  LRESULT copied = 0;
  if (!Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), &copied)) return std::string();
  text.resize(static_cast<std::size_t>(copied));
  return text;
}

struct DialogSearch {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->pid || !IsWindowVisible(window)) return TRUE;
  char title[64] = "";
  GetWindowTextA(window, title, sizeof title);
  if (std::strcmp(title, kDialogTitle) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

HWND VisibleDialogOf(DWORD pid) {
  DialogSearch search{pid, nullptr};
  EnumWindows(FindVisibleDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// ---- A started program ----

class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() {
    if (!info_.hProcess) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(info_.hProcess, 255);
      WaitForSingleObject(info_.hProcess, kStartTimeoutMs);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
  }

  // Started in the program's own folder, where its library search finds the stand-ins.
  bool Start(const fs::path& exe) {
    std::string commandLine = "\"" + exe.string() + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    const std::string folder = exe.parent_path().string();
    if (!CreateProcessA(exe.string().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &info_)) {
      std::fprintf(stderr, "cannot start %s: error %lu\n", exe.string().c_str(), GetLastError());
      info_ = PROCESS_INFORMATION{};
      return false;
    }
    return true;
  }

  // Until the dialog is visible and, when `multilineText` is given, its box 1032 holds that text. The box is
  // read in either case, so that both programs are polled with the same work.
  bool WaitForDialog(const char* multilineText) {
    const bool up = WaitUntil(
        [&] {
          if (!Running()) return true;
          HWND dialog = VisibleDialogOf(info_.dwProcessId);
          if (!dialog) return false;
          const std::string text = WindowText(GetDlgItem(dialog, IDC_MULTI_TEXT));
          if (multilineText && text != multilineText) return false;
          dialog_ = dialog;
          return true;
        },
        kStartTimeoutMs);
    return up && dialog_ != nullptr;
  }

  HWND dialog() const { return dialog_; }
  HWND control(int id) const { return GetDlgItem(dialog_, id); }

  bool Running() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

  SIZE_T PeakWorkingSet() const {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(info_.hProcess, &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
  }

  // Closes the dialog as its close box would and waits for the process to end.
  bool Close() {
    if (dialog_) PostMessageA(dialog_, WM_CLOSE, 0, 0);
    return WaitForSingleObject(info_.hProcess, kStartTimeoutMs) == WAIT_OBJECT_0;
  }

 private:
  PROCESS_INFORMATION info_{};
  HWND dialog_ = nullptr;
};

// ---- Start-up and memory ----

struct Target {
  fs::path exe;
  // The initial text of box 1032 that marks the fields as written; null when the dialog has none.
  const char* multilineText;
};

struct StartupSample {
  double milliseconds;
  double peakWorkingSet;
};

bool MeasureStartup(const Target& target, StartupSample& sample) {
  Process process;
  const LARGE_INTEGER start = Counter();
  if (!process.Start(target.exe)) return false;
  if (!process.WaitForDialog(target.multilineText)) {
    std::fprintf(stderr, "the dialog of %s did not come up\n", target.exe.filename().string().c_str());
    return false;
  }
  sample.milliseconds = MillisecondsSince(start);
  Sleep(kSettleMs);
  sample.peakWorkingSet = static_cast<double>(process.PeakWorkingSet());
  if (!process.Close()) {
    std::fprintf(stderr, "%s did not end after WM_CLOSE\n", target.exe.filename().string().c_str());
    return false;
  }
  return true;
}

// ---- Hotkeys ----

void SendInsert(bool down) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = VK_INSERT;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(VK_INSERT, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = KEYEVENTF_EXTENDEDKEY | (down ? 0 : KEYEVENTF_KEYUP);
  SendInput(1, &input, sizeof input);
}

// The key log's length in lines; every line the INSERT hotkey adds has the same length.
std::size_t LogLines(const Process& app) {
  LRESULT length = 0;
  Send(app.control(IDC_KEY_LOG), WM_GETTEXTLENGTH, 0, 0, &length);
  return static_cast<std::size_t>(length) / kLogLineLength;
}

// One INSERT hotkey as the hook library delivers it, sent so that the call returns once it has been handled.
double TimeHotkey(const Process& app) {
  const LARGE_INTEGER start = Counter();
  Send(app.dialog(), kHookKeyMessage, VK_INSERT, 0);
  return MillisecondsSince(start);
}

// Paints now whatever the last command left to be painted, so that it is not painted during the next
// measurement.
void Repaint(const Process& app) { RedrawWindow(app.dialog(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN); }

struct HotkeyTime {
  double handled;  // the round trip of the hotkey message
  double painted;  // and the repaint of what it changed
};

// One INSERT hotkey, and then the repaint it caused, done at once: the program would otherwise paint after
// the round trip, in the time of whatever is measured next.
HotkeyTime TimeHotkeyAndRepaint(const Process& app) {
  const LARGE_INTEGER start = Counter();
  Send(app.dialog(), kHookKeyMessage, VK_INSERT, 0);
  HotkeyTime time{MillisecondsSince(start), 0.0};
  Repaint(app);
  time.painted = MillisecondsSince(start);
  return time;
}

// "Clear", as its button reports a click, handled before the call returns.
void ClearLog(const Process& app) {
  Send(app.dialog(), WM_COMMAND, MAKEWPARAM(IDC_CLEAR_LOG, BN_CLICKED),
       reinterpret_cast<LPARAM>(app.control(IDC_CLEAR_LOG)));
}

// Whether the program takes INSERT as held down: a hotkey then adds a line.
bool SeesInsertDown(const Process& app, DWORD timeoutMs = 1000) {
  return WaitUntil(
      [&] {
        const std::size_t before = LogLines(app);
        TimeHotkey(app);
        return LogLines(app) > before;
      },
      timeoutMs);
}

// Brings `app` to the foreground and presses INSERT there, leaving it down. Under Wine a change of focus
// makes it reset its key state to that of the X keyboard, where INSERT is up; so the key goes down only once
// the focus has settled, and again should a late focus event have released it.
bool HoldInsertDown(const Process& app) {
  SetForegroundWindow(app.dialog());
  WaitUntil([&] { return GetForegroundWindow() == app.dialog(); }, 2000);
  for (int attempt = 0; attempt < 3; ++attempt) {
    Sleep(300);
    SendInsert(true);
    if (SeesInsertDown(app)) return true;
  }
  return false;
}

struct HotkeyRow {
  std::size_t lines = 0;
  Paired handled;  // ms, long log against empty log
  Paired painted;
  std::size_t filledByHotkeys = 0;
  bool filledInOneStep = false;
  double fillSeconds = 0;
};

// Fills `app`'s log to `lines` with hotkeys, as a user pressing INSERT that often would.
void FillByHotkeys(const Process& app, std::size_t lines, HotkeyRow& row) {
  const std::size_t have = LogLines(app);
  const LARGE_INTEGER start = Counter();
  LARGE_INTEGER lastReport = start;
  for (std::size_t i = have; i < lines; ++i) {
    TimeHotkey(app);
    if (MillisecondsSince(lastReport) > 15000) {
      std::fprintf(stderr, "  filling the key log: %s of %s lines\n", Grouped(i + 1).c_str(), Grouped(lines).c_str());
      lastReport = Counter();
    }
  }
  row.filledByHotkeys = lines > have ? lines - have : 0;
  row.fillSeconds = MillisecondsSince(start) / 1000.0;
}

// Sets `app`'s log to `lines` lines in one step: the log box is given all lines but one, "Set Text Data"
// (which reads every field) takes that text over as the program's key log, and a last hotkey adds a line and
// writes the log back from the program's own copy, so the count proves that the program holds all of them.
void FillInOneStep(const Process& app, std::size_t lines, HotkeyRow& row) {
  const LARGE_INTEGER start = Counter();
  std::string text;
  text.reserve((lines - 1) * kLogLineLength);
  for (std::size_t i = 1; i < lines; ++i) text += "<ins>\r\n";
  Send(app.control(IDC_KEY_LOG), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  Send(app.dialog(), WM_COMMAND, MAKEWPARAM(IDC_SET_LINE, BN_CLICKED),
       reinterpret_cast<LPARAM>(app.control(IDC_SET_LINE)));
  TimeHotkey(app);
  row.filledInOneStep = true;
  row.fillSeconds = MillisecondsSince(start) / 1000.0;
}

// For scale: the round trip of a hotkey message for a key the program ignores, and of "Clear" (a read and a
// write of all fields, no library call), each with its repaint.
struct Scale {
  double ignoredKey = 0;
  double clear = 0;
};

Scale MeasureScale(const Process& app, int rounds) {
  std::vector<double> ignored;
  std::vector<double> clear;
  for (int round = 0; round < rounds; ++round) {
    LARGE_INTEGER start = Counter();
    Send(app.dialog(), kHookKeyMessage, 'A', 0);
    Repaint(app);
    ignored.push_back(MillisecondsSince(start));
    start = Counter();
    ClearLog(app);
    Repaint(app);
    clear.push_back(MillisecondsSince(start));
  }
  return Scale{Median(ignored), Median(clear)};
}

// The long-log program and the empty-log program take turns, one hotkey each. The empty log is cleared before
// each of its hotkeys; the long one grows by one line per round (and is cleared too at size 0).
bool MeasureHotkeys(const Process& longLog, const Process& emptyLog, const Options& options,
                    std::vector<HotkeyRow>& rows) {
  for (std::size_t lines : options.levels) {
    HotkeyRow row;
    row.lines = lines;
    if (lines == 0) ClearLog(longLog);
    if (lines > LogLines(longLog)) {
      if (lines <= options.fillByHotkeysUpTo) {
        FillByHotkeys(longLog, lines, row);
      } else {
        FillInOneStep(longLog, lines, row);
        if (LogLines(longLog) != lines) {
          std::fprintf(stderr, "  the key log could not be set in one step; filling it by hotkeys\n");
          row.filledInOneStep = false;
          FillByHotkeys(longLog, lines, row);
        }
      }
    }
    Repaint(longLog);
    if (LogLines(longLog) != lines) {
      std::fprintf(stderr, "the key log holds %s lines instead of %s\n", Grouped(LogLines(longLog)).c_str(),
                   Grouped(lines).c_str());
      return false;
    }
    for (int round = 0; round < options.rounds; ++round) {
      if (lines == 0) {
        ClearLog(longLog);
        Repaint(longLog);
      }
      const std::size_t before = LogLines(longLog);
      ClearLog(emptyLog);
      Repaint(emptyLog);
      // Each pair in the other order than the last, and a pause after each hotkey for the work it leaves to
      // the X server: neither side then always runs in the wake of the other.
      HotkeyTime longTime{};
      HotkeyTime emptyTime{};
      for (int turn = 0; turn < 2; ++turn) {
        if ((turn == 0) == (round % 2 == 0)) {
          longTime = TimeHotkeyAndRepaint(longLog);
        } else {
          emptyTime = TimeHotkeyAndRepaint(emptyLog);
        }
        Sleep(kPauseMs);
      }
      row.handled.Add(longTime.handled, emptyTime.handled);
      row.painted.Add(longTime.painted, emptyTime.painted);
      if (LogLines(longLog) != before + 1 || LogLines(emptyLog) != 1) {
        std::fprintf(stderr, "a hotkey was not handled: INSERT no longer reads down\n");
        return false;
      }
    }
    std::fprintf(stderr, "  %s lines: %.2f ms against %.2f ms; with the repaint %.2f ms against %.2f ms\n",
                 Grouped(lines).c_str(), row.handled.Measured(), row.handled.Baseline(), row.painted.Measured(),
                 row.painted.Baseline());
    rows.push_back(row);
  }
  return true;
}

// ---- Set-up ----

fs::path OwnFolder() {
  std::string path(MAX_PATH, '\0');
  const DWORD n = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
  path.resize(n);
  return fs::path(path).parent_path();
}

// A folder of its own holding a copy of `exe`, and the full stand-ins when `withLibraries`.
bool Prepare(const fs::path& bin, const fs::path& folder, const char* exe, bool withLibraries, fs::path& copied) {
  std::error_code error;
  fs::create_directories(folder, error);
  std::vector<fs::path> files{bin / exe};
  if (withLibraries) {
    files.push_back(bin / "standins" / "full" / "hvcomms.dll");
    files.push_back(bin / "standins" / "full" / "HVHook.dll");
  }
  for (const fs::path& file : files) {
    fs::copy_file(file, folder / file.filename(), fs::copy_options::overwrite_existing, error);
    if (error) {
      std::fprintf(stderr, "cannot copy %s: %s\n", file.string().c_str(), error.message().c_str());
      return false;
    }
  }
  copied = folder / exe;
  return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (name == "--runs") {
      options.runs = std::atoi(value);
    } else if (name == "--rounds") {
      options.rounds = std::atoi(value);
    } else if (name == "--fill-by-hotkeys") {
      options.fillByHotkeysUpTo = std::strtoul(value, nullptr, 10);
    } else if (name == "--levels") {
      options.levels.clear();
      for (const char* p = value; *p;) {
        char* end = nullptr;
        options.levels.push_back(std::strtoul(p, &end, 10));
        if (end == p) return false;
        p = *end == ',' ? end + 1 : end;
      }
    } else {
      return false;
    }
  }
  // Strictly ascending: the long log only grows.
  return options.runs > 0 && options.rounds > 0 && !options.levels.empty() &&
         std::adjacent_find(options.levels.begin(), options.levels.end(),
                            [](std::size_t a, std::size_t b) { return a >= b; }) == options.levels.end();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: va_vazu_bench [--runs N] [--rounds N] [--levels N,N,...] [--fill-by-hotkeys N]\n");
    return 2;
  }

  const fs::path bin = OwnFolder();
  char temp[MAX_PATH + 1] = "";
  GetTempPathA(sizeof temp, temp);
  const fs::path work = fs::path(temp) / "va_vazu_bench" / std::to_string(GetCurrentProcessId());
  fs::path program;
  fs::path baseline;
  fs::path longLogProgram;
  fs::path emptyLogProgram;
  if (!Prepare(bin, work / "program", "va_vazu.exe", true, program) ||
      !Prepare(bin, work / "baseline", "va_vazu_baseline.exe", false, baseline) ||
      !Prepare(bin, work / "long_log", "va_vazu.exe", true, longLogProgram) ||
      !Prepare(bin, work / "empty_log", "va_vazu.exe", true, emptyLogProgram)) {
    return 1;
  }
  std::error_code error;
  const auto programSize = fs::file_size(bin / "va_vazu.exe", error);
  const auto baselineSize = fs::file_size(bin / "va_vazu_baseline.exe", error);

  // Start-up and memory: one untimed pair first, so that both run from a warm file cache, then the pairs.
  const Target targets[2] = {{program, kInitialMultilineText}, {baseline, nullptr}};
  Paired startup;
  Paired memory;
  std::fprintf(stderr, "start-up: %d pairs\n", options.runs);
  for (int run = -1; run < options.runs; ++run) {
    // Each pair in the other order than the last, so that a change of load during the run falls on both.
    StartupSample samples[2]{};
    for (int turn = 0; turn < 2; ++turn) {
      const int t = run % 2 == 0 ? turn : 1 - turn;
      if (!MeasureStartup(targets[t], samples[t])) return 1;
    }
    if (run < 0) continue;
    startup.Add(samples[0].milliseconds, samples[1].milliseconds);
    memory.Add(samples[0].peakWorkingSet, samples[1].peakWorkingSet);
    std::fprintf(stderr, "  %6.1f ms %s  against %6.1f ms %s\n", samples[0].milliseconds,
                 Mebibytes(samples[0].peakWorkingSet).c_str(), samples[1].milliseconds,
                 Mebibytes(samples[1].peakWorkingSet).c_str());
  }

  // Hotkeys: two programs, one whose log grows and one kept empty. INSERT is held down from here to the end:
  // the program acts on a hotkey only while its thread reads the key down.
  std::fprintf(stderr, "hotkeys: %d pairs per log size\n", options.rounds);
  std::vector<HotkeyRow> rows;
  double longLogMemory = 0;
  Scale scale;
  bool hotkeysOk = false;
  {
    Process longLog;
    Process emptyLog;
    if (!longLog.Start(longLogProgram) || !emptyLog.Start(emptyLogProgram) ||
        !longLog.WaitForDialog(kInitialMultilineText) || !emptyLog.WaitForDialog(kInitialMultilineText)) {
      std::fprintf(stderr, "the programs for the hotkey test did not come up\n");
      return 1;
    }
    if (!HoldInsertDown(longLog) || !SeesInsertDown(emptyLog)) {
      std::fprintf(stderr, "the programs do not read INSERT down; hotkeys not measured\n");
    } else {
      ClearLog(longLog);
      ClearLog(emptyLog);
      hotkeysOk = MeasureHotkeys(longLog, emptyLog, options, rows);
      scale = MeasureScale(emptyLog, options.rounds);
      longLogMemory = static_cast<double>(longLog.PeakWorkingSet());
    }
    SendInsert(false);
    longLog.Close();
    emptyLog.Close();
  }
  fs::remove_all(work, error);

  constexpr unsigned long long kSizeLimit = 200 * 1024;
  std::printf("Measured under %s. Each figure is the median of %d runs, each ratio is against its\n",
              SystemName().c_str(), options.runs);
  std::printf("baseline measured in the same run, the two alternating (A B B A ...); the spread is the middle\n");
  std::printf("half of the ratios within single pairs. Where other work loads the machine the fastest runs\n");
  std::printf("are the steadier comparison. The bare dialog is the same template shown with DialogBoxParam\n");
  std::printf("and nothing else.\n\n");
  std::printf("| Measure | va_vazu | Bare dialog | Ratio | Spread | Goal | Result |\n");
  std::printf("|---|---:|---:|---:|---:|---|---|\n");
  std::printf("| Start-up: process start to dialog up with all fields written | %s | %s | %s | %s | <= 1.10 x | %s |\n",
              Format("%.1f ms", startup.Measured()).c_str(), Format("%.1f ms", startup.Baseline()).c_str(),
              Format("%.2f", startup.Ratio()).c_str(), startup.Spread().c_str(),
              Verdict(startup.Ratio() <= 1.10).c_str());
  std::printf("| Start-up, fastest run of each | %s | %s | %s | - | - | - |\n",
              Format("%.1f ms", startup.Fastest()).c_str(), Format("%.1f ms", startup.FastestBaseline()).c_str(),
              Format("%.2f", startup.Fastest() / startup.FastestBaseline()).c_str());
  std::printf("| Peak working set after start-up | %s | %s | %s | %s | <= 1.20 x | %s |\n",
              Mebibytes(memory.Measured()).c_str(), Mebibytes(memory.Baseline()).c_str(),
              Format("%.2f", memory.Ratio()).c_str(), memory.Spread().c_str(), Verdict(memory.Ratio() <= 1.20).c_str());
  if (hotkeysOk && longLogMemory > 0) {
    std::printf("| Peak working set with a %s-line key log | %s | %s (after start-up) | %s | - | - | - |\n",
                Grouped(rows.back().lines).c_str(), Mebibytes(longLogMemory).c_str(),
                Mebibytes(memory.Baseline()).c_str(), Format("%.2f", longLogMemory / memory.Baseline()).c_str());
  }
  std::printf("| Size of the .exe | %s bytes | %s bytes | %s | - | va_vazu.exe < 200 KB (%s bytes) | %s |\n\n",
              Grouped(programSize).c_str(), Grouped(baselineSize).c_str(),
              Format("%.2f", static_cast<double>(programSize) / static_cast<double>(baselineSize)).c_str(),
              Grouped(kSizeLimit).c_str(), Verdict(programSize < kSizeLimit).c_str());

  if (!hotkeysOk) {
    std::printf("Hotkeys: not measured (see the messages above).\n");
    return 1;
  }
  std::printf("One INSERT hotkey (toggle, log line, all fields written): the SendMessage round trip, medians of\n");
  std::printf("%d, alternating with the same hotkey in a second va_vazu whose key log is cleared before each\n",
              options.rounds);
  std::printf("press; the ratio of the fastest of each; and the ratio of the medians with the repaint the hotkey\n");
  std::printf("causes. The goal is on the medians of the round trip.\n\n");
  std::printf("| Key log before the press | Hotkey | Same, empty log | Ratio | Spread | Ratio of the fastest "
              "| Ratio with repaint | How the log was filled | Goal | Result |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---|---|---|\n");
  for (const HotkeyRow& row : rows) {
    std::string fill = "-";
    if (row.filledInOneStep) {
      fill = "set in one step, " + Format("%.2f s", row.fillSeconds);
    } else if (row.filledByHotkeys > 0) {
      fill = "+" + Grouped(row.filledByHotkeys) + " by hotkeys in " + Format("%.1f s", row.fillSeconds) + " (" +
             Format("%.2f ms", row.fillSeconds * 1000.0 / static_cast<double>(row.filledByHotkeys)) + " each)";
    }
    const bool goalRow = row.lines == 50000;
    std::printf("| %s lines | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", Grouped(row.lines).c_str(),
                Format("%.2f ms", row.handled.Measured()).c_str(), Format("%.2f ms", row.handled.Baseline()).c_str(),
                Format("%.2f", row.handled.Ratio()).c_str(), row.handled.Spread().c_str(),
                Format("%.2f", row.handled.Fastest() / row.handled.FastestBaseline()).c_str(),
                Format("%.2f", row.painted.Ratio()).c_str(), fill.c_str(), goalRow ? "<= 2 x" : "-",
                goalRow ? Verdict(row.handled.Ratio() <= 2.0).c_str() : "-");
  }
  std::printf("\nFor scale, with the repaint: a hotkey message for a key the program ignores (0x41) %s; \"Clear\",\n",
              Format("%.2f ms", scale.ignoredKey).c_str());
  std::printf("a read and a write of all fields without a library call, %s.\n", Format("%.2f ms", scale.clear).c_str());
  return 0;
}
