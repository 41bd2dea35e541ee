// Measures va_vazu against a bare dialog made from the same template (va_vazu_baseline) and prints the results
// as Markdown tables:
//   - start-up: the CPU time the started process spends until its dialog is up and painted, and the wall time
//     from just before CreateProcess until the dialog of that process is visible with its fields written (for
//     va_vazu the multiline box holds its initial text; the bare dialog's boxes stay empty);
//   - peak working set after start-up, and of va_vazu again after a long key log; the size of va_vazu.exe;
//   - the cost of one INSERT hotkey (toggle, log line, writing all fields, and the paint that follows) as the
//     key log grows, against the same hotkey on an empty log: the CPU time of the program's user-interface
//     thread, and the wall time of the round trip with and without the repaint.
// Every figure is the median of several runs taken alternately with its baseline in the same run, each pair in
// the other order than the last (A B, B A, A B, ...), so that whatever else loads the machine falls on both alike.
//
// Wall time on a shared machine also counts the waits for a processor, for the Wine server and for the X server,
// which other programs' work lengthens; the CPU time of the measured program's own threads leaves them out (see
// CpuClock). Both still move with the machine's load; the ratios within pairs hardly do.
//
// Usage: va_vazu_bench [--runs N] [--rounds N] [--levels N,N,...] [--fill-by-hotkeys N]
//   --runs             start-up pairs (va_vazu, bare dialog), default 61, after 3 untimed pairs
//   --rounds           hotkey pairs (long log, empty log) per log size, default 101, after 5 untimed pairs
//   --levels           key log sizes in lines, strictly ascending, default 0,1000,10000,50000
//   --fill-by-hotkeys  logs up to this size are filled one hotkey at a time, as a user would, default 10000;
//                      larger ones are set in one step through the log box (see FillInOneStep)
// va_vazu.exe, va_vazu_baseline.exe and standins\full\ are expected beside this program (the build's bin\).
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/statistics.h"
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
// How long a started program is left alone before its memory and CPU time are read, so that its first paint
// is counted.
constexpr DWORD kSettleMs = 300;
// Untimed pairs before the timed ones, so that files, libraries and both programs' first paths are warm.
constexpr int kStartupWarmUps = 3;
constexpr int kHotkeyWarmUps = 5;

struct Options {
  int runs = 61;
  int rounds = 101;
  std::vector<std::size_t> levels{0, 1000, 10000, 50000};
  // Larger logs are set in one step: by hotkeys, the 40,000 lines from 10,000 to 50,000 take over ten minutes.
  std::size_t fillByHotkeysUpTo = 10000;
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

using bench::Median;

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
  // The median of the ratios within single pairs. The ratio of the two medians can come from pairs far apart,
  // and so moves with any change of the machine's load during the run; within a pair, both saw the same load.
  double Ratio() const { return Median(Ratios()); }
  // The middle half of the ratios within single pairs, "0.95-1.21": how much one pair alone could be trusted.
  std::string Spread() const {
    std::vector<double> ratios = Ratios();
    std::sort(ratios.begin(), ratios.end());
    const double last = static_cast<double>(ratios.size() - 1);
    char text[32];
    std::snprintf(text, sizeof text, "%.2f-%.2f", ratios[static_cast<std::size_t>(last * 0.25 + 0.5)],
                  ratios[static_cast<std::size_t>(last * 0.75 + 0.5)]);
    return text;
  }

 private:
  std::vector<double> Ratios() const {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < measured.size(); ++i) ratios.push_back(measured[i] / baseline[i]);
    return ratios;
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

using bench::Format;

// 50000 as "50,000".
std::string Grouped(unsigned long long value) {
  std::string digits = std::to_string(value);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<std::size_t>(i), ",");
  return digits;
}

std::string Mebibytes(double bytes) { return Format("%.1f MiB", bytes / (1024.0 * 1024.0)); }

std::string Verdict(bool met) { return met ? "PASS" : "MISS"; }

// Wine's version, "8.0", or empty when not run under Wine.
std::string WineVersion() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  FARPROC wineVersion = ntdll ? GetProcAddress(ntdll, "wine_get_version") : nullptr;
  if (!wineVersion) return std::string();
  // Through the generic function type, the one cast from an entry address the compilers accept silently.
  using WineGetVersion = const char*(__cdecl*)();
  auto get = reinterpret_cast<WineGetVersion>(reinterpret_cast<void (*)()>(wineVersion));
  return get();
}

// ---- CPU time of another process ----

// A small file read whole, such as one of Linux's /proc files seen through Wine's drive Z:.
std::string ReadSmallFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string content;
  char buffer[512];
  DWORD got = 0;
  while (ReadFile(file, buffer, static_cast<DWORD>(sizeof buffer), &got, nullptr) && got > 0 && content.size() < 4096) {
    content.append(buffer, got);
  }
  CloseHandle(file);
  return content;
}

// Names of the entries of a folder that are decimal numbers: process or thread ids in /proc.
std::vector<std::string> NumberedEntries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = entry.cFileName;
    const bool numbered = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
      return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    if (numbered) names.push_back(name);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return names;
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The CPU time a started process has spent, in milliseconds: of its main thread, which runs the dialog, and of
// all its threads.
//
// Under Wine, GetThreadTimes counts in steps of 10 ms (it reads Linux's per-thread tick counts), too coarse for a
// hotkey of a few milliseconds; GetProcessTimes gives another process a fraction of its time or none, and
// QueryThreadCycleTime is not implemented.
// Linux's scheduler statistics count each thread's time on a processor in nanoseconds, and the driver reads them
// through Wine's drive Z:, which is the Unix root: /proc/<pid>/task/<tid>/schedstat. A Wine process is a Unix
// process whose command line is the Windows path it was started from, and its main thread is the Unix process's
// main thread. On Windows, the threads' cycle counts are turned into milliseconds at the rate measured here.
class CpuClock {
 public:
  // Finds the process started from `exe`; false when its CPU time cannot be read.
  bool Attach(HANDLE process, HANDLE mainThread, const fs::path& exe) {
    process_ = process;
    mainThread_ = mainThread;
    if (WineVersion().empty()) return CyclesPerMs() > 0;
    const std::string wanted = exe.string();
    for (const std::string& pid : NumberedEntries("Z:\\proc")) {
      std::string commandLine = ReadSmallFile("Z:\\proc\\" + pid + "\\cmdline");
      commandLine = commandLine.substr(0, commandLine.find('\0'));
      commandLine.erase(commandLine.find_last_not_of(' ') + 1);
      if (SameTextIgnoringCase(commandLine, wanted)) {
        tasks_ = "Z:\\proc\\" + pid + "\\task";
        mainTask_ = tasks_ + "\\" + pid;
        return MainThreadMs() > 0;
      }
    }
    return false;
  }

  double MainThreadMs() const {
    if (mainTask_.empty()) {
      ULONG64 cycles = 0;
      return QueryThreadCycleTime(mainThread_, &cycles) ? static_cast<double>(cycles) / CyclesPerMs() : 0.0;
    }
    return TaskMs(mainTask_);
  }

  double ProcessMs() const {
    if (tasks_.empty()) {
      ULONG64 cycles = 0;
      return QueryProcessCycleTime(process_, &cycles) ? static_cast<double>(cycles) / CyclesPerMs() : 0.0;
    }
    double sum = 0;
    for (const std::string& tid : NumberedEntries(tasks_)) sum += TaskMs(tasks_ + "\\" + tid);
    return sum;
  }

 private:
  // The first number of schedstat: nanoseconds on a processor.
  static double TaskMs(const std::string& task) {
    return std::strtod(ReadSmallFile(task + "\\schedstat").c_str(), nullptr) / 1e6;
  }

  // Cycles of this thread per millisecond of a busy loop, measured once.
  static double CyclesPerMs() {
    static const double rate = [] {
      ULONG64 before = 0;
      ULONG64 after = 0;
      if (!QueryThreadCycleTime(GetCurrentThread(), &before)) return 0.0;
      const LARGE_INTEGER start = Counter();
      while (MillisecondsSince(start) < 100) {
      }
      const double elapsed = MillisecondsSince(start);
      QueryThreadCycleTime(GetCurrentThread(), &after);
      return static_cast<double>(after - before) / elapsed;
    }();
    return rate;
  }

  HANDLE process_ = nullptr;
  HANDLE mainThread_ = nullptr;
  std::string tasks_;
  std::string mainTask_;
};

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
    exe_ = exe;
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

  // Makes the CPU time of the process readable; once the dialog is up, so that finding it costs no start-up.
  bool AttachCpuClock() {
    if (cpu_.Attach(info_.hProcess, info_.hThread, exe_)) return true;
    std::fprintf(stderr, "the CPU time of %s cannot be read\n", exe_.string().c_str());
    return false;
  }

  // The CPU time of the dialog's thread once it has nothing left to do. Linux adds up a thread's time when the
  // thread stops running, so a thread still finishing a paint would be read short: the time is read until two
  // readings a millisecond apart agree.
  double IdleThreadCpuMs() const {
    double last = cpu_.MainThreadMs();
    for (int attempt = 0; attempt < 50; ++attempt) {
      Sleep(1);
      const double now = cpu_.MainThreadMs();
      if (now == last) break;
      last = now;
    }
    return last;
  }

  double ProcessCpuMs() const { return cpu_.ProcessMs(); }

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
  fs::path exe_;
  HWND dialog_ = nullptr;
  CpuClock cpu_;
};

// ---- Start-up and memory ----

struct Target {
  fs::path exe;
  // The initial text of box 1032 that marks the fields as written; null when the dialog has none.
  const char* multilineText;
};

struct StartupSample {
  double milliseconds;
  double cpuMilliseconds;
  double peakWorkingSet;
};

// Wall time until the dialog is up with its fields written; then, once it has painted and settled, the CPU
// time of all its threads and its peak working set.
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
  if (!process.AttachCpuClock()) return false;
  sample.cpuMilliseconds = process.ProcessCpuMs();
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
double SendHotkey(const Process& app) {
  const LARGE_INTEGER start = Counter();
  Send(app.dialog(), kHookKeyMessage, VK_INSERT, 0);
  return MillisecondsSince(start);
}

// Paints now whatever the last command left to be painted, so that it is not painted during the next
// measurement.
void Repaint(const Process& app) { RedrawWindow(app.dialog(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN); }

struct HotkeySample {
  double handled;  // wall time: the round trip of the hotkey message
  double painted;  // wall time: and the repaint of what it changed
  double cpu;      // CPU time of the dialog's thread for both, until it is idle again
};

// One INSERT hotkey, then the repaint it caused, done at once: the program would otherwise paint after the
// round trip, in the time of whatever is measured next. The CPU time covers the handler and the paint, which
// the program may run before or after the driver asks for it.
HotkeySample TimeHotkey(const Process& app) {
  const double cpuBefore = app.IdleThreadCpuMs();
  const LARGE_INTEGER start = Counter();
  HotkeySample sample{};
  Send(app.dialog(), kHookKeyMessage, VK_INSERT, 0);
  sample.handled = MillisecondsSince(start);
  Repaint(app);
  sample.painted = MillisecondsSince(start);
  Sleep(kPauseMs);
  sample.cpu = app.IdleThreadCpuMs() - cpuBefore;
  return sample;
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
        SendHotkey(app);
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
  Paired cpu;      // ms, long log against empty log
  Paired handled;
  Paired painted;
  std::size_t filledByHotkeys = 0;
  bool filledInOneStep = false;
  double fillSeconds = 0;
};

// Fills `app`'s log to `lines` with hotkeys, as a user pressing INSERT that often would: each one is the
// message the hook library posts for a press, sent so that the next goes only once it has been handled.
void FillByHotkeys(const Process& app, std::size_t lines, HotkeyRow& row) {
  const std::size_t have = LogLines(app);
  const LARGE_INTEGER start = Counter();
  LARGE_INTEGER lastReport = start;
  for (std::size_t i = have; i < lines; ++i) {
    SendHotkey(app);
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
  SendHotkey(app);
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
// each of its hotkeys; the long one grows by one line per round (and is cleared too at size 0). Both get the
// same steps in the same order: a "Clear" and a repaint, or for the long log a hotkey message for a key it
// ignores and a repaint, then the timed hotkey and its repaint, then a pause.
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
    for (int round = -kHotkeyWarmUps; round < options.rounds; ++round) {
      const std::size_t before = lines == 0 ? 0 : LogLines(longLog);
      // Each pair in the other order than the last: neither side then always runs in the wake of the other.
      HotkeySample samples[2]{};
      for (int turn = 0; turn < 2; ++turn) {
        const int side = (turn == 0) == (round % 2 == 0) ? 0 : 1;
        const Process& app = side == 0 ? longLog : emptyLog;
        if (side == 1 || lines == 0) {
          ClearLog(app);
        } else {
          Send(app.dialog(), kHookKeyMessage, 'A', 0);
        }
        Repaint(app);
        samples[side] = TimeHotkey(app);
      }
      if (LogLines(longLog) != before + 1 || LogLines(emptyLog) != 1) {
        std::fprintf(stderr, "a hotkey was not handled: INSERT no longer reads down\n");
        return false;
      }
      if (round < 0) continue;
      row.cpu.Add(samples[0].cpu, samples[1].cpu);
      row.handled.Add(samples[0].handled, samples[1].handled);
      row.painted.Add(samples[0].painted, samples[1].painted);
    }
    std::fprintf(stderr, "  %s lines: CPU %.2f ms against %.2f ms; round trip %.2f ms against %.2f ms\n",
                 Grouped(lines).c_str(), row.cpu.Measured(), row.cpu.Baseline(), row.handled.Measured(),
                 row.handled.Baseline());
    rows.push_back(row);
  }
  return true;
}

// Puts the two dialogs side by side, so that neither covers the other and both paint all they show.
void SideBySide(const Process& left, const Process& right) {
  RECT rect{};
  GetWindowRect(left.dialog(), &rect);
  SetWindowPos(left.dialog(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(right.dialog(), nullptr, rect.right - rect.left, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
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

  // Start-up and memory: untimed pairs first, so that both run from a warm file cache, then the pairs.
  const Target targets[2] = {{program, kInitialMultilineText}, {baseline, nullptr}};
  Paired startupCpu;
  Paired startup;
  Paired memory;
  std::fprintf(stderr, "start-up: %d pairs\n", options.runs);
  for (int run = -kStartupWarmUps; run < options.runs; ++run) {
    // Each pair in the other order than the last, so that a change of load during the run falls on both.
    StartupSample samples[2]{};
    for (int turn = 0; turn < 2; ++turn) {
      const int t = run % 2 == 0 ? turn : 1 - turn;
      if (!MeasureStartup(targets[t], samples[t])) return 1;
    }
    if (run < 0) continue;
    startupCpu.Add(samples[0].cpuMilliseconds, samples[1].cpuMilliseconds);
    startup.Add(samples[0].milliseconds, samples[1].milliseconds);
    memory.Add(samples[0].peakWorkingSet, samples[1].peakWorkingSet);
    std::fprintf(stderr, "  CPU %6.1f ms, %6.1f ms, %s  against CPU %6.1f ms, %6.1f ms, %s\n",
                 samples[0].cpuMilliseconds, samples[0].milliseconds, Mebibytes(samples[0].peakWorkingSet).c_str(),
                 samples[1].cpuMilliseconds, samples[1].milliseconds, Mebibytes(samples[1].peakWorkingSet).c_str());
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
        !longLog.WaitForDialog(kInitialMultilineText) || !emptyLog.WaitForDialog(kInitialMultilineText) ||
        !longLog.AttachCpuClock() || !emptyLog.AttachCpuClock()) {
      std::fprintf(stderr, "the programs for the hotkey test did not come up\n");
      return 1;
    }
    SideBySide(longLog, emptyLog);
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
  const std::string wine = WineVersion();
  std::printf("Measured under %s. Each figure is the median of %d runs, each ratio the median of the ratios\n",
              wine.empty() ? "Windows" : ("Wine " + wine).c_str(), options.runs);
  std::printf("within pairs of a run and its baseline, the two alternating (A B B A ...); the spread is the\n");
  std::printf("middle half of those ratios. CPU time is what the program's own threads spent on a processor\n");
  std::printf("(%s); wall time also counts waiting for a processor, the Wine server\n",
              wine.empty() ? "their cycle counts" : "Linux's scheduler statistics");
  std::printf("and the X server, which other work on the machine lengthens. Each goal is judged on both.\n");
  std::printf("The bare dialog is the same template shown with DialogBoxParam and nothing else.\n\n");
  std::printf("| Measure | va_vazu | Bare dialog | Ratio | Spread | Goal | Result |\n");
  std::printf("|---|---:|---:|---:|---:|---|---|\n");
  std::printf("| Start-up, CPU time: process start to dialog up and painted | %s | %s | %s | %s | <= 1.10 x | %s |\n",
              Format("%.1f ms", startupCpu.Measured()).c_str(), Format("%.1f ms", startupCpu.Baseline()).c_str(),
              Format("%.2f", startupCpu.Ratio()).c_str(), startupCpu.Spread().c_str(),
              Verdict(startupCpu.Ratio() <= 1.10).c_str());
  std::printf("| Start-up, wall time: process start to dialog up with all fields written | %s | %s | %s | %s "
              "| <= 1.10 x | %s |\n",
              Format("%.1f ms", startup.Measured()).c_str(), Format("%.1f ms", startup.Baseline()).c_str(),
              Format("%.2f", startup.Ratio()).c_str(), startup.Spread().c_str(),
              Verdict(startup.Ratio() <= 1.10).c_str());
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
  std::printf("One INSERT hotkey (toggle, log line, all fields written, and the paint that follows), medians of\n");
  std::printf("%d, alternating with the same hotkey in a second va_vazu whose key log is cleared before each\n",
              options.rounds);
  std::printf("press: the CPU time of the dialog's thread until it is idle again, and the wall time of the\n");
  std::printf("SendMessage round trip and of the round trip with the repaint.\n\n");
  std::printf("| Key log before the press | CPU time | Same, empty log | Ratio | Spread | Round trip | Same, empty log "
              "| Ratio | Spread | Ratio with repaint | How the log was filled | Goal | Result, CPU "
              "| Result, round trip |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|---|---|---|\n");
  for (const HotkeyRow& row : rows) {
    std::string fill = "-";
    if (row.filledInOneStep) {
      fill = "set in one step, " + Format("%.2f s", row.fillSeconds);
    } else if (row.filledByHotkeys > 0) {
      fill = "+" + Grouped(row.filledByHotkeys) + " by hotkeys in " + Format("%.1f s", row.fillSeconds) + " (" +
             Format("%.2f ms", row.fillSeconds * 1000.0 / static_cast<double>(row.filledByHotkeys)) + " each)";
    }
    const bool goalRow = row.lines == 50000;
    std::printf("| %s lines | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n",
                Grouped(row.lines).c_str(), Format("%.2f ms", row.cpu.Measured()).c_str(),
                Format("%.2f ms", row.cpu.Baseline()).c_str(), Format("%.2f", row.cpu.Ratio()).c_str(),
                row.cpu.Spread().c_str(), Format("%.2f ms", row.handled.Measured()).c_str(),
                Format("%.2f ms", row.handled.Baseline()).c_str(), Format("%.2f", row.handled.Ratio()).c_str(),
                row.handled.Spread().c_str(), Format("%.2f", row.painted.Ratio()).c_str(), fill.c_str(),
                goalRow ? "<= 2 x" : "-", goalRow ? Verdict(row.cpu.Ratio() <= 2.0).c_str() : "-",
                goalRow ? Verdict(row.handled.Ratio() <= 2.0).c_str() : "-");
  }
  std::printf("\nFor scale, wall time with the repaint: a hotkey message for a key the program ignores (0x41) %s;\n",
              Format("%.2f ms", scale.ignoredKey).c_str());
  std::printf("\"Clear\", a read and a write of all fields without a library call, %s.\n",
              Format("%.2f ms", scale.clear).c_str());
  return 0;
}
