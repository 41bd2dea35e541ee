// Measures what the overlay costs a game, against the same game with the system's Direct3D alone, and prints the
// results as Markdown tables, on Direct3D 8 (the preview with the overlay's d3d8.dll beside it), Direct3D 9 (the
// preview with --d3d9 and the overlay's d3d9.dll beside it) or both, each table labelled with its Direct3D:
//   - frame times of the preview game presenting as fast as it can: the 99th percentile and the longest time
//     between two frames, while nothing changes and while a change arrives every second, and the overlay's own
//     work before each present;
//   - frame rate of the preview game presenting as fast as it can, in its default and its heavy scene, at
//     800 x 600 and 1920 x 1080, with everything hidden, with no dialog running, with the three elements and the
//     frame rate shown, and with the longest text block and a 1024 x 1024 picture shown, and the overlay's own
//     work per frame;
//   - latency: presents from the return of a library call (a text set, a toggle) to the first present that used
//     it, over 100 calls;
//   - steady state: textures made and filled and allocations by the overlay over 1,000 frames in which nothing
//     changes;
//   - memory: the game's peak working set with the largest block and picture shown, and over a minute of changes;
//   - calls: how long each entry point of the communication library takes with a game presenting as fast as it
//     can;
//   - device calls: what a game's calls of the device's methods cost on a plain, a pure and a multithreaded device,
//     with the overlay present but hidden, and how often another thread of a multithreaded game gets its
//     TestCooperativeLevel answered while the overlay draws;
//   - pictures: frames of a game held to 60 frames a second from a 1024 x 1024 picture's arrival to the first
//     present that shows it whole, with a processor free and with the game's one processor shared.
// Every frame-rate and memory figure is the median of pairs of runs, the game with the overlay's library and
// without, taken alternately (A B, B A, ...) in one sitting, so that what else loads the machine falls on both.
// Where the overlay's d3d9.dll is not built yet, the Direct3D 9 tables compare the game alone with itself, are
// labelled so, and the figures read from the overlay's counters are left out.
//
// Usage: va_vazu_game_bench [--direct3d 8|9|8,9] [--pairs N] [--run-ms MS] [--quick] [--profile] [--frame-times]
//                            [--memory] [--latency] [--device-calls]
//   --direct3d    the Direct3Ds measured, one after the other, default 8
//   --pairs       pairs of runs per frame-rate, frame-time and memory figure, default 4
//   --run-ms      how long each run counts frames, after its second of warming up, default 2500 (frame times:
//                 four times that)
//   --quick       the default scene at 800 x 600 only
//   --profile     where a frame's time goes, and nothing else
//   --frame-times the frame times, and nothing else
//   --memory      the memory figures, and nothing else
//   --latency     the latency figures (the pictures' included), and nothing else
//   --device-calls the device calls' figures, and nothing else
// va_vazu_preview.exe and overlay\ (the overlay's hvcomms.dll, d3d8.dll and d3d9.dll) are expected beside this
// program.
#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/device_calls.h"
#include "bench/statistics.h"
#include "ingame/common/overlay_stats.h"
#include "ingame/common/shared_section.h"
#include "ingame/common/shared_state.h"
#include "overlay/overlay_api.h"
#include "tests/support/picture_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr DWORD kRunTimeoutMs = 120000;

struct Options {
  std::vector<int> direct3d = {8};
  int pairs = 4;
  int runMs = 2500;
  bool quick = false;
  bool profileOnly = false;
  bool frameTimesOnly = false;
  bool memoryOnly = false;
  bool latencyOnly = false;
  bool deviceCallsOnly = false;
};

double Now() {
  static const double ticksPerMs = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticksPerMs;
}

using bench::Median;

using bench::Format;

// "0.95-1.02": the lowest and the highest of a figure's pairs; figures that may be negative as "-0.5 to 2.1".
std::string Range(std::vector<double> values, const char* format = "%.2f", const char* between = "-") {
  if (values.empty()) return "-";
  std::sort(values.begin(), values.end());
  return Format(format, values.front()) + between + Format(format, values.back());
}

fs::path BinFolder() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return fs::path(path).parent_path();
}

// The Direct3D a part of the benchmark measures: the preview's switch for it, and the overlay's library that goes
// beside the preview, when it is built.
struct Direct3D {
  int version = 8;

  const char* library() const { return version == 9 ? "d3d9.dll" : "d3d8.dll"; }
  const char* previewSwitch() const { return version == 9 ? "--d3d9 " : ""; }
  bool overlayBuilt() const { return fs::exists(BinFolder() / "overlay" / library()); }
  // What every table of it is labelled with.
  std::string Label() const {
    return "Direct3D " + std::to_string(version) +
           (overlayBuilt() ? "" : std::string(", the overlay's ") + library() + " absent: the game alone both ways");
  }
};

// The overlay's communication library, called as the dialog calls it.
class Comms {
 public:
  Comms() : module_(LoadLibraryA((BinFolder() / "overlay" / "hvcomms.dll").string().c_str())) {}
  ~Comms() {
    if (module_) FreeLibrary(module_);
  }
  Comms(const Comms&) = delete;
  Comms& operator=(const Comms&) = delete;

  bool loaded() const { return module_ != nullptr; }
  template <class Function>
  Function Get(const char* name) const {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }
  void SetLine(const char* text, std::uint32_t argb, bool black) const {
    Get<overlay::HVSL_SetTextLineData_t>("HVSL_SetTextLineData")(10, 10, text, argb, black ? 1 : 0, 20, 0, 0);
  }
  void SetBlock(int width, int height, const char* text, bool black) const {
    Get<overlay::HVML_SetTextMultilineData_t>("HVML_SetTextMultilineData")(
        20, 40, text, 0xFFFF0000, black ? 1 : 0, 0, 0, static_cast<overlay::word>(width),
        static_cast<overlay::word>(height), 0);
  }
  void LoadPicture(const std::string& path) const {
    Get<overlay::HVPIC_LoadNewPicture_t>("HVPIC_LoadNewPicture")(path.c_str());
  }
  void Show(bool line, bool block, bool picture, bool fps) const {
    Get<overlay::HVSL_ShowText_t>("HVSL_ShowText")(line ? 1 : 0);
    Get<overlay::HVML_ShowText_t>("HVML_ShowText")(block ? 1 : 0);
    Get<overlay::HVPIC_ShowPicturePos_t>("HVPIC_ShowPicturePos")(picture ? 1 : 0, 10, 10);
    Get<overlay::HVSI_ShowFPS_t>("HVSI_ShowFPS")(fps ? 1 : 0);
  }

 private:
  HMODULE module_;
};

// The longest text block: 1,023 characters in lines of 60.
std::string LongestBlock() {
  std::string text;
  while (text.size() < ingame::kBlockTextCapacity) {
    if (!text.empty()) text += "\r\n";
    for (int i = 0; i < 58 && text.size() < ingame::kBlockTextCapacity; ++i) text += static_cast<char>('A' + i % 26);
  }
  return text.substr(0, ingame::kBlockTextCapacity);
}

// What one run of the preview measured, and with the overlay what its counters said of the measured frames.
struct RunStats {
  bool ok = false;
  double frames = 0;
  double milliseconds = 0;
  double processorMilliseconds = 0;
  double peakWorkingSet = 0;
  double frameP99 = 0;
  double frameLongest = 0;
  double overlayMilliseconds = 0;  // the overlay's own work before the presents
  double overlayPresents = 0;
  double overlayLongest = 0;  // the longest of it before one present
  double uploadLongest = 0;   // of that, uploading images
  double drawLongest = 0;     // and drawing
  std::vector<double> overlayWork;  // per present, in steps of the counters' histogram
  double unlockedLongest = 0;       // the longest less its locks of images in system memory
  std::vector<double> unlockedWork;  // per present less those locks

  double Fps() const { return frames * 1000.0 / milliseconds; }
  double ProcessorPerFrame() const { return processorMilliseconds / frames; }
  double PeakMiB() const { return peakWorkingSet / (1024.0 * 1024.0); }
  double P99() const { return frameP99; }
  double Longest() const { return frameLongest; }
  double OverlayPerFrame() const { return overlayPresents > 0 ? overlayMilliseconds / overlayPresents : 0.0; }
  // The overlay's own work as a share of the frame's time.
  double OverlayShare() const { return OverlayPerFrame() * Fps() / 1000.0; }
};

// A game folder: the preview, with or without the overlay's library of its Direct3D beside it.
class GameFolder {
 public:
  GameFolder(bool withOverlay, const Direct3D& direct3d) : direct3d_(direct3d) {
    static int count = 0;
    char temp[MAX_PATH + 1] = "";
    GetTempPathA(sizeof temp, temp);
    folder_ = fs::path(temp) / ("va_vazu_game_bench_" + std::to_string(GetCurrentProcessId()) + "_" +
                                std::to_string(++count) + (withOverlay ? "_overlay" : "_alone"));
    std::error_code error;
    fs::create_directories(folder_, error);
    fs::copy_file(BinFolder() / "va_vazu_preview.exe", folder_ / "va_vazu_preview.exe",
                  fs::copy_options::overwrite_existing, error);
    if (withOverlay) {
      fs::copy_file(BinFolder() / "overlay" / direct3d.library(), folder_ / direct3d.library(),
                    fs::copy_options::overwrite_existing, error);
    }
    // This program, as the game that times its device's calls (bench/device_calls.h).
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    fs::copy_file(self, folder_ / "device_calls.exe", fs::copy_options::overwrite_existing, error);
  }
  ~GameFolder() {
    std::error_code error;
    fs::remove_all(folder_, error);
  }
  GameFolder(const GameFolder&) = delete;
  GameFolder& operator=(const GameFolder&) = delete;

  const fs::path& path() const { return folder_; }
  const Direct3D& direct3d() const { return direct3d_; }
  bool withOverlay() const { return fs::exists(folder_ / direct3d_.library()); }

 private:
  Direct3D direct3d_;
  fs::path folder_;
};

// Starts the preview in `game`'s folder on its Direct3D with `arguments`; the process, or none.
PROCESS_INFORMATION StartPreview(const GameFolder& game, const std::string& arguments) {
  PROCESS_INFORMATION process{};
  const fs::path& folder = game.path();
  const fs::path exe = folder / "va_vazu_preview.exe";
  std::string commandLine = "\"" + exe.string() + "\" --pos 0,0 " + game.direct3d().previewSwitch() + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessA(exe.string().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.string().c_str(), &startup, &process)) {
    return PROCESS_INFORMATION{};
  }
  return process;
}

void End(PROCESS_INFORMATION& process) {
  if (!process.hProcess) return;
  if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 5000);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  process = PROCESS_INFORMATION{};
}

// The overlay's counters of a game started with them (overlay_stats.h), mapped for writing, so that the longest of
// the overlay's work can be counted again from the end of the game's warm-up.
class GameCounters {
 public:
  explicit GameCounters(DWORD processId) {
    const double end = Now() + 20000;
    while (!stats_ && Now() < end) {
      if (HANDLE section = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE,
                                            ingame::StatsSectionName(processId).c_str())) {
        stats_ = static_cast<ingame::OverlayStats*>(MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
        CloseHandle(section);
      }
      if (!stats_) Sleep(20);
    }
  }
  ~GameCounters() {
    if (stats_) UnmapViewOfFile(stats_);
  }
  GameCounters(const GameCounters&) = delete;
  GameCounters& operator=(const GameCounters&) = delete;

  ingame::OverlayStats* get() const { return stats_; }

 private:
  ingame::OverlayStats* stats_ = nullptr;
};

// One benchmark run of the preview, as fast as it can present. `change`, when given, is called once a second while
// the game runs, as a dialog sending something new; with the overlay, the game runs with its counters.
RunStats RunPreview(const GameFolder& game, const std::string& arguments, int runMs,
                    const std::function<void(int)>& change = nullptr) {
  RunStats stats;
  const fs::path file = game.path() / "stats.txt";
  std::error_code error;
  fs::remove(file, error);
  const bool withOverlay = game.withOverlay();
  if (withOverlay) SetEnvironmentVariableA(ingame::kStatsVariable, "1");
  PROCESS_INFORMATION process = StartPreview(
      game, arguments + " --fps-limit 0 --run-for " + std::to_string(runMs) + " --stats \"" + file.string() + "\"");
  SetEnvironmentVariableA(ingame::kStatsVariable, nullptr);
  if (!process.hProcess) return stats;
  const double started = Now();
  std::unique_ptr<GameCounters> counters;
  if (withOverlay) counters = std::make_unique<GameCounters>(process.dwProcessId);
  // The game's warm-up, a second from its start: the overlay's counters are read from a little after.
  constexpr double kWarmUpMs = 1200;
  std::uint64_t overlayBefore = 0;
  std::uint64_t presentsBefore = 0;
  int changes = 0;
  double nextChange = started + kWarmUpMs;
  bool measuring = false;
  while (WaitForSingleObject(process.hProcess, 10) == WAIT_TIMEOUT && Now() - started < kRunTimeoutMs) {
    if (!measuring && Now() - started >= kWarmUpMs) {
      measuring = true;
      if (counters && counters->get()) {
        ingame::OverlayStats& s = *counters->get();
        overlayBefore = s.overlayMicroseconds.load();
        presentsBefore = s.presents.load();
        s.longestOverlayMicroseconds.store(0);
        s.longestUploadMicroseconds.store(0);
        s.longestDrawMicroseconds.store(0);
        s.longestUnlockedMicroseconds.store(0);
        for (auto& step : s.workHistogram) step.store(0);
        for (auto& step : s.unlockedHistogram) step.store(0);
      }
    }
    if (change && Now() >= nextChange) {
      change(changes++);
      nextChange += 1000;
    }
  }
  End(process);
  std::map<std::string, double> values;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = std::atof(line.c_str() + eq + 1);
  }
  stats.frames = values["frames"];
  stats.milliseconds = values["milliseconds"];
  stats.processorMilliseconds = values["processor_milliseconds"];
  stats.peakWorkingSet = values["peak_working_set"];
  stats.frameP99 = values["frame_p99"];
  stats.frameLongest = values["frame_longest"];
  if (counters && counters->get()) {
    const ingame::OverlayStats& s = *counters->get();
    stats.overlayMilliseconds = static_cast<double>(s.overlayMicroseconds.load() - overlayBefore) / 1000.0;
    stats.overlayPresents = static_cast<double>(s.presents.load() - presentsBefore);
    stats.overlayLongest = static_cast<double>(s.longestOverlayMicroseconds.load()) / 1000.0;
    stats.uploadLongest = static_cast<double>(s.longestUploadMicroseconds.load()) / 1000.0;
    stats.drawLongest = static_cast<double>(s.longestDrawMicroseconds.load()) / 1000.0;
    stats.unlockedLongest = static_cast<double>(s.longestUnlockedMicroseconds.load()) / 1000.0;
    for (int step = 0; step < ingame::kWorkSteps; ++step) {
      const double milliseconds = static_cast<double>((step + 1) * ingame::kWorkStepMicroseconds) / 1000.0;
      stats.overlayWork.insert(stats.overlayWork.end(), s.workHistogram[step].load(), milliseconds);
      stats.unlockedWork.insert(stats.unlockedWork.end(), s.unlockedHistogram[step].load(), milliseconds);
    }
  }
  stats.ok = stats.frames > 0 && stats.milliseconds > 0;
  return stats;
}

// Runs of the game with the overlay and alone, in alternating order.
struct Pairs {
  std::vector<RunStats> overlay;
  std::vector<RunStats> alone;

  std::vector<double> Ratios(double (RunStats::*measure)() const) const {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < overlay.size() && i < alone.size(); ++i) {
      ratios.push_back((overlay[i].*measure)() / (alone[i].*measure)());
    }
    return ratios;
  }
  double Median(const std::vector<RunStats>& runs, double (RunStats::*measure)() const) const {
    std::vector<double> values;
    for (const RunStats& run : runs) values.push_back((run.*measure)());
    return bench::Median(values);
  }
};

Pairs MeasurePairs(const GameFolder& withOverlay, const GameFolder& alone, const std::string& arguments,
                   const Options& options, const std::function<void(int)>& change = nullptr) {
  Pairs pairs;
  for (int i = 0; i < options.pairs; ++i) {
    RunStats a;
    RunStats b;
    if (i % 2 == 0) {
      a = RunPreview(withOverlay, arguments, options.runMs, change);
      b = RunPreview(alone, arguments, options.runMs, change);
    } else {
      b = RunPreview(alone, arguments, options.runMs, change);
      a = RunPreview(withOverlay, arguments, options.runMs, change);
    }
    if (!a.ok || !b.ok) {
      std::fprintf(stderr, "a run of the preview failed (%s)\n", arguments.c_str());
      continue;
    }
    pairs.overlay.push_back(a);
    pairs.alone.push_back(b);
  }
  return pairs;
}

// What the overlay is told before a frame-rate figure's runs.
enum class Load { Hidden, NoDialog, ElementsShown, LargestShown, LineOnly, InvisibleLine, PictureOnly, BlockOnly };

const char* Describe(Load load) {
  switch (load) {
    case Load::Hidden: return "everything hidden";
    case Load::NoDialog: return "no dialog running";
    case Load::ElementsShown: return "line, block, picture and FPS shown";
    case Load::LargestShown: return "1,023-character block (1000 x 700, black) and 1024 x 1024 picture shown";
    case Load::LineOnly: return "the line alone";
    case Load::InvisibleLine: return "the line at alpha 0 (states saved and restored, nothing drawn)";
    case Load::PictureOnly: return "the 1024 x 1024 picture alone";
    case Load::BlockOnly: return "the 1,023-character block alone";
  }
  return "";
}

double Goal(Load load) {
  switch (load) {
    case Load::ElementsShown: return 0.95;
    case Load::LargestShown: return 0.90;
    default: return 0.99;
  }
}

struct Pictures {
  std::string small;
  std::string large;
};

// Sets the overlay as the load says; for "no dialog running" the library is not loaded at all.
std::unique_ptr<Comms> Prepare(Load load, const Pictures& pictures) {
  if (load == Load::NoDialog) return nullptr;
  auto comms = std::make_unique<Comms>();
  comms->Show(false, false, false, false);
  if (load == Load::ElementsShown) {
    comms->SetLine("this is a test", 0xFFFF0000, false);
    comms->SetBlock(100, 100, "Line1\r\nLine2\r\nLine3", false);
    comms->LoadPicture(pictures.small);
    comms->Show(true, true, true, true);
  } else if (load == Load::LineOnly || load == Load::InvisibleLine) {
    comms->SetLine("this is a test", load == Load::LineOnly ? 0xFFFF0000 : 0x00FF0000, false);
    comms->Show(true, false, false, false);
  } else if (load == Load::PictureOnly) {
    comms->LoadPicture(pictures.large);
    comms->Show(false, false, true, false);
  } else if (load == Load::BlockOnly) {
    const std::string block = LongestBlock();
    comms->SetBlock(1000, 700, block.c_str(), true);
    comms->Show(false, true, false, false);
  } else if (load == Load::LargestShown) {
    const std::string block = LongestBlock();
    comms->SetBlock(1000, 700, block.c_str(), true);
    comms->LoadPicture(pictures.large);
    comms->Show(false, true, true, false);
  }
  return comms;
}

void FrameRates(const Direct3D& direct3d, const Options& options, const Pictures& pictures) {
  const GameFolder withOverlay(true, direct3d);
  const GameFolder alone(false, direct3d);
  std::printf("## Frame rate of the game, presenting as fast as it can (%s)\n\n", direct3d.Label().c_str());
  std::printf("Median of %d pairs of runs (%.1f seconds each; twice that in the heavy scene or at 1920 x 1080, "
              "three times in both), with the overlay's %s and with the system's alone, alternating; the "
              "ratio is the median of the ratios within pairs. Processor time per frame of the game's process "
              "beside the frame rate, and the overlay's own work before each present (its counters) as a share of "
              "the frame, by which a frame rate too noisy to tell is judged (goal: at most 0.5%%).\n\n",
              options.pairs, options.runMs / 1000.0, direct3d.library());
  std::printf("| Scene | Size | Overlay | FPS with | FPS alone | Ratio | Range | CPU ms/frame with | alone | "
              "Goal | Result | Overlay's work per frame | Share of the frame | Result |\n");
  std::printf("|---|---|---|---:|---:|---:|---:|---:|---:|---|---|---:|---:|---|\n");
  std::vector<std::string> scenes = {"default", "heavy"};
  std::vector<std::string> sizes = {"800x600", "1920x1080"};
  if (options.quick) {
    scenes = {"default"};
    sizes = {"800x600"};
  }
  {
    // The instrument itself: the game alone against itself, the same way. How far its ratio strays from 1 is how
    // much smaller an effect it cannot tell.
    const GameFolder again(false, direct3d);
    const Pairs pairs = MeasurePairs(again, alone, "--size 800x600", options);
    const std::vector<double> ratios = pairs.Ratios(&RunStats::Fps);
    std::printf("| default | 800x600 | the game alone against itself | %.1f | %.1f | %.3f | %s | %.2f | %.2f | 1 | - "
                "| - | - | - |\n",
                pairs.Median(pairs.overlay, &RunStats::Fps), pairs.Median(pairs.alone, &RunStats::Fps),
                Median(ratios), Range(ratios).c_str(), pairs.Median(pairs.overlay, &RunStats::ProcessorPerFrame),
                pairs.Median(pairs.alone, &RunStats::ProcessorPerFrame));
  }
  for (const std::string& scene : scenes) {
    for (const std::string& size : sizes) {
      for (Load load : {Load::Hidden, Load::NoDialog, Load::ElementsShown, Load::LargestShown}) {
        const std::unique_ptr<Comms> comms = Prepare(load, pictures);
        const std::string arguments = "--size " + size + (scene == "heavy" ? " --heavy" : "");
        // Slower games run longer, so that every run counts some dozens of frames.
        Options caseOptions = options;
        caseOptions.runMs = options.runMs * std::min(3, (scene == "heavy" ? 2 : 1) * (size == "800x600" ? 1 : 2));
        const Pairs pairs = MeasurePairs(withOverlay, alone, arguments, caseOptions);
        const std::vector<double> ratios = pairs.Ratios(&RunStats::Fps);
        const double ratio = Median(ratios);
        const double share = pairs.Median(pairs.overlay, &RunStats::OverlayShare);
        const bool judgedByShare = load == Load::Hidden || load == Load::NoDialog;
        std::printf("| %s | %s | %s | %.1f | %.1f | %.3f | %s | %.2f | %.2f | >= %.2f | %s | %.3f ms | %.3f%% | %s |\n",
                    scene.c_str(), size.c_str(), Describe(load), pairs.Median(pairs.overlay, &RunStats::Fps),
                    pairs.Median(pairs.alone, &RunStats::Fps), ratio, Range(ratios).c_str(),
                    pairs.Median(pairs.overlay, &RunStats::ProcessorPerFrame),
                    pairs.Median(pairs.alone, &RunStats::ProcessorPerFrame), Goal(load),
                    ratios.empty() ? "-" : ratio >= Goal(load) ? "PASS" : "MISS",
                    pairs.Median(pairs.overlay, &RunStats::OverlayPerFrame), share * 100.0,
                    !judgedByShare || ratios.empty() ? "-" : share <= 0.005 ? "PASS" : "MISS");
        std::fflush(stdout);
      }
    }
  }
  std::printf("\n");
}

// A change every second: the longest text block and the 1024 x 1024 picture, in turn with a short block and a small
// picture.
std::function<void(int)> ChangeEverySecond(const Comms& comms, const Pictures& pictures) {
  return [&comms, &pictures, longBlock = LongestBlock()](int i) {
    if (i % 2 == 0) {
      comms.SetBlock(1000, 700, i % 4 == 0 ? longBlock.c_str() : "Line1\r\nLine2", true);
    } else {
      comms.LoadPicture(i % 4 == 1 ? pictures.large : pictures.small);
    }
  };
}

// Frame times, the game with the overlay against the game alone: the 99th percentile and the longest time between
// two frames while everything is shown and nothing changes, and while a change arrives every second: the longest
// text block and the 1024 x 1024 picture, in turn with a short block and a small picture.
void FrameTimes(const Direct3D& direct3d, const Options& options, const Pictures& pictures) {
  const GameFolder withOverlay(true, direct3d);
  const GameFolder alone(false, direct3d);
  Options caseOptions = options;
  caseOptions.runMs = options.runMs * 4;
  std::printf("## Frame times (%s)\n\n", direct3d.Label().c_str());
  std::printf("The preview's default scene at 800 x 600 presenting as fast as it can, %d pairs of runs of %.1f "
              "seconds, with the overlay's %s and alone, alternating. Per run: the 99th percentile and the "
              "longest of the times between one frame and the next; the ratios are the medians of the ratios within "
              "pairs, the range that of single pairs. The overlay's own work before each present comes from its "
              "counters, over all its runs: wall time on the game's render thread, so it includes whatever waits "
              "there (another thread on the processor, the device's queue of commands when it is full). Less its locks: the "
              "same without the time spent locking and unlocking the staging textures it fills, which with "
              "D3DLOCK_DISCARD never wait for the device but the first of a device's, taken at its first present.\n\n",
              caseOptions.pairs, caseOptions.runMs / 1000.0, direct3d.library());
  std::printf("| Overlay | p99 with | p99 alone | Ratio | Range | Longest with | Longest alone | Ratio | Range | "
              "Overlay's work per present, p99 and p99.9 (steps of 0.1 ms) | Its longest | Presents over 2 ms | "
              "Less its locks: p99.9, longest, presents over 2 ms | Goals | Result |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|---|\n");
  {
    // The instrument: the game alone against itself, the same way.
    const GameFolder again(false, direct3d);
    const Pairs pairs = MeasurePairs(again, alone, "--size 800x600", caseOptions);
    const std::vector<double> p99 = pairs.Ratios(&RunStats::P99);
    const std::vector<double> longest = pairs.Ratios(&RunStats::Longest);
    std::printf("| the game alone against itself | %.1f ms | %.1f ms | %.3f | %s | %.1f ms | %.1f ms | %.3f | %s | - | "
                "- | - | - | 1 | - |\n",
                pairs.Median(pairs.overlay, &RunStats::P99), pairs.Median(pairs.alone, &RunStats::P99), Median(p99),
                Range(p99).c_str(), pairs.Median(pairs.overlay, &RunStats::Longest),
                pairs.Median(pairs.alone, &RunStats::Longest), Median(longest), Range(longest).c_str());
  }
  for (bool changing : {false, true}) {
    const std::unique_ptr<Comms> comms = Prepare(Load::ElementsShown, pictures);
    std::function<void(int)> change;
    if (changing) change = ChangeEverySecond(*comms, pictures);
    const Pairs pairs = MeasurePairs(withOverlay, alone, "--size 800x600", caseOptions, change);
    const std::vector<double> p99 = pairs.Ratios(&RunStats::P99);
    const std::vector<double> longest = pairs.Ratios(&RunStats::Longest);
    // The overlay's own work before each present, over all its runs: how it spreads, and its longest; the same
    // less its locks of images in system memory.
    std::vector<double> work;
    std::vector<double> unlocked;
    double overlayLongest = 0;
    double uploadLongest = 0;
    double drawLongest = 0;
    double unlockedLongest = 0;
    for (const RunStats& run : pairs.overlay) {
      work.insert(work.end(), run.overlayWork.begin(), run.overlayWork.end());
      unlocked.insert(unlocked.end(), run.unlockedWork.begin(), run.unlockedWork.end());
      overlayLongest = std::max(overlayLongest, run.overlayLongest);
      uploadLongest = std::max(uploadLongest, run.uploadLongest);
      drawLongest = std::max(drawLongest, run.drawLongest);
      unlockedLongest = std::max(unlockedLongest, run.unlockedLongest);
    }
    std::sort(work.begin(), work.end());
    std::sort(unlocked.begin(), unlocked.end());
    const auto percentile = [](const std::vector<double>& sorted, std::size_t perMille) {
      return sorted.empty() ? std::string("-") : Format("%.1f ms", sorted[sorted.size() * perMille / 1000]);
    };
    const auto over = [](const std::vector<double>& sorted, double limit) {
      return static_cast<double>(sorted.end() - std::upper_bound(sorted.begin(), sorted.end(), limit));
    };
    const bool met = !p99.empty() && Median(p99) <= 1.05 && overlayLongest <= 2.0 &&
                     (!changing || Median(longest) <= 1.25);
    std::printf("| %s | %.1f ms | %.1f ms | %.3f | %s | %.1f ms | %.1f ms | %.3f | %s | %s, %s | %.2f ms (uploads "
                "%.2f, drawing %.2f) | %.0f of %zu | %s, %.2f ms, %.0f | p99 <= 1.05 x%s, overlay's work <= 2 ms | "
                "%s |\n",
                changing ? "a change every second: the 1,023-character block and the 1024 x 1024 picture in turn "
                           "with short ones"
                         : "line, block, picture and FPS shown, nothing changes",
                pairs.Median(pairs.overlay, &RunStats::P99), pairs.Median(pairs.alone, &RunStats::P99), Median(p99),
                Range(p99).c_str(), pairs.Median(pairs.overlay, &RunStats::Longest),
                pairs.Median(pairs.alone, &RunStats::Longest), Median(longest), Range(longest).c_str(),
                percentile(work, 990).c_str(), percentile(work, 999).c_str(), overlayLongest, uploadLongest,
                drawLongest, over(work, 2.0), work.size(), percentile(unlocked, 999).c_str(), unlockedLongest,
                over(unlocked, 2.0), changing ? ", longest <= 1.25 x" : "",
                met ? "PASS" : "MISS");
    std::fflush(stdout);
  }
  std::printf("\n");
}

// The game's peak working set with the overlay against alone: with the largest block and the 1024 x 1024 picture
// shown, and over a minute in which a change arrives every second.
void Memory(const Direct3D& direct3d, const Options& options, const Pictures& pictures) {
  const GameFolder withOverlay(true, direct3d);
  const GameFolder alone(false, direct3d);
  std::printf("## Memory (%s)\n\n", direct3d.Label().c_str());
  std::printf("| Game | Peak working set with the overlay | Alone | Above the game alone | Range | Goal | Result |\n");
  std::printf("|---|---:|---:|---:|---:|---|---|\n");
  for (bool changing : {false, true}) {
    const std::unique_ptr<Comms> comms = Prepare(changing ? Load::ElementsShown : Load::LargestShown, pictures);
    Options caseOptions = options;
    // A minute of changes is long: half the pairs.
    if (changing) {
      caseOptions.runMs = 60000;
      caseOptions.pairs = std::max(1, options.pairs / 2);
    }
    const Pairs pairs = MeasurePairs(withOverlay, alone, "--size 800x600", caseOptions,
                                     changing ? ChangeEverySecond(*comms, pictures) : nullptr);
    const double with = pairs.Median(pairs.overlay, &RunStats::PeakMiB);
    const double without = pairs.Median(pairs.alone, &RunStats::PeakMiB);
    std::vector<double> above;
    for (std::size_t i = 0; i < pairs.overlay.size(); ++i) {
      above.push_back(pairs.overlay[i].PeakMiB() - pairs.alone[i].PeakMiB());
    }
    const double median = above.empty() ? 0 : Median(above);
    std::printf("| preview, 800 x 600, %s | %.1f MiB | %.1f MiB | %.1f MiB | %s | <= 16 MiB | %s |\n",
                changing ? "a change every second for a minute, as in the frame times"
                         : "largest block and 1024 x 1024 picture shown",
                with, without, median, Range(above, "%.1f", " to ").c_str(), median <= 16.0 ? "PASS" : "MISS");
    std::fflush(stdout);
  }
  std::printf("\n");
}

// A preview running as fast as it can with the overlay and its counters (overlay_stats.h), for the figures that
// look inside the overlay.
class CountedGame {
 public:
  // `everyProcessor`: the game may run on any processor of the machine, not only on the benchmark's one.
  explicit CountedGame(const Direct3D& direct3d, const std::string& arguments = "--size 800x600 --fps-limit 0",
                       bool everyProcessor = false)
      : folder_(true, direct3d) {
    SetEnvironmentVariableA(ingame::kStatsVariable, "1");
    process_ = StartPreview(folder_, arguments);
    SetEnvironmentVariableA(ingame::kStatsVariable, nullptr);
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    if (everyProcessor && process_.hProcess && GetProcessAffinityMask(process_.hProcess, &processMask, &systemMask)) {
      SetProcessAffinityMask(process_.hProcess, systemMask);
    }
    const double end = Now() + 20000;
    while (process_.hProcess && !stats_ && Now() < end) {
      if (HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE,
                                            ingame::StatsSectionName(process_.dwProcessId).c_str())) {
        stats_ = static_cast<const ingame::OverlayStats*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0));
        CloseHandle(section);
      }
      Sleep(20);
    }
  }
  ~CountedGame() {
    End(process_);
    if (stats_) UnmapViewOfFile(stats_);
  }
  CountedGame(const CountedGame&) = delete;
  CountedGame& operator=(const CountedGame&) = delete;

  const ingame::OverlayStats* stats() const { return stats_; }
  // Waits for `count` more presents; false when they do not come within a minute.
  bool WaitForPresents(std::uint64_t count) const {
    const std::uint64_t target = stats_->presents.load() + count;
    const double end = Now() + 60000;
    while (stats_->presents.load() < target) {
      if (Now() > end) return false;
      Sleep(1);
    }
    return true;
  }

 private:
  GameFolder folder_;
  PROCESS_INFORMATION process_{};
  const ingame::OverlayStats* stats_ = nullptr;
};

// Presents from the return of each call to the first present that used what it stored: 1 when the very next
// present did. Calls are spread over the frame by a pause of a few milliseconds between them.
void Latency(const Direct3D& direct3d, const Pictures& pictures) {
  Comms comms;
  comms.SetLine("latency", 0xFFFF0000, false);
  comms.LoadPicture(pictures.small);
  comms.Show(true, false, false, false);
  const CountedGame game(direct3d);
  ingame::SectionView section = ingame::OpenStateSection();
  const ingame::SharedState* state = ingame::StateOf(section);
  std::printf("## Latency (%s)\n\n", direct3d.Label().c_str());
  if (!game.stats() || !state || !game.WaitForPresents(60)) {
    std::printf("The game with the overlay's counters did not run.\n\n");
    return;
  }
  std::printf("The line, set and shown before the game started, was first drawn by its present %llu.\n\n",
              static_cast<unsigned long long>(game.stats()->drawnAtPresent[ingame::kLineSlot].load()));
  struct Kind {
    const char* name;
    ingame::StatsSlot slot;
    std::vector<double> begun;
    std::vector<double> finished;
    std::vector<double> milliseconds;
  };
  Kind kinds[] = {{"text set (HVSL_SetTextLineData)", ingame::kLineSlot, {}, {}, {}},
                  {"toggle (HVML_ShowText)", ingame::kSwitchesSlot, {}, {}, {}}};
  const double firstPresent = Now();
  const std::uint64_t firstCount = game.stats()->presents.load();
  std::srand(12345);
  for (int i = 0; i < 200; ++i) {
    Kind& kind = kinds[i % 2];
    if (i % 2 == 0) {
      comms.SetLine("latency", 0xFF000000u | static_cast<std::uint32_t>(i * 997), false);
    } else {
      comms.Get<overlay::HVML_ShowText_t>("HVML_ShowText")((i / 2) % 2 == 0 ? 1 : 0);
    }
    const double returned = Now();
    const std::uint64_t finished = game.stats()->presents.load();
    const std::uint64_t begun = game.stats()->presentsBegun.load();
    const std::uint32_t sequence = kind.slot == ingame::kLineSlot ? ingame::Sequence(state->line)
                                                                  : ingame::Sequence(state->switches);
    while (game.stats()->drawnSequence[kind.slot].load() != sequence && Now() < returned + 10000) Sleep(0);
    kind.milliseconds.push_back(Now() - returned);
    kind.begun.push_back(static_cast<double>(game.stats()->drawnAtBegun[kind.slot].load() - begun));
    kind.finished.push_back(static_cast<double>(game.stats()->drawnAtPresent[kind.slot].load() - finished));
    Sleep(1 + std::rand() % 15);
  }
  const double framePeriod =
      (Now() - firstPresent) / static_cast<double>(game.stats()->presents.load() - firstCount);
  const auto worst = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
  std::printf("100 calls of each, a few milliseconds apart, with the preview presenting a frame every %.1f ms. "
              "Frames begun: presents the game began after the call returned, up to the first that drew what it "
              "stored (1: the very next frame). Frames finished: presents that finished after the return, up to "
              "that one; the present under way when the call returned counts, though it had read the state "
              "before. Time: from the return until that present had finished.\n\n",
              framePeriod);
  std::printf("| Call | Frames begun, median | worst | Frames finished, median | worst | Time, median | worst | "
              "Goal (frames) | Result |\n|---|---:|---:|---:|---:|---:|---:|---|---|\n");
  for (const Kind& kind : kinds) {
    const double median = Median(kind.begun);
    std::printf("| %s | %.0f | %.0f | %.0f | %.0f | %.1f ms | %.1f ms | median <= 1, worst <= 2 | %s |\n", kind.name,
                median, worst(kind.begun), Median(kind.finished), worst(kind.finished), Median(kind.milliseconds),
                worst(kind.milliseconds), median <= 1 && worst(kind.begun) <= 2 ? "PASS" : "MISS");
  }
  std::printf("\n");
}

// What the overlay does in frames in which nothing changes: nothing made, filled or allocated, with the frame rate
// shown too (its figure is put together from glyphs uploaded once).
void SteadyState(const Direct3D& direct3d, const Pictures& pictures) {
  Comms comms;
  comms.SetLine("this is a test", 0xFFFF0000, true);
  comms.SetBlock(200, 100, "Line1\r\nLine2\r\nLine3", true);
  comms.LoadPicture(pictures.small);
  comms.Show(true, true, true, false);
  const CountedGame game(direct3d);
  std::printf("## Steady state (%s)\n\n", direct3d.Label().c_str());
  if (!game.stats() || !game.WaitForPresents(60)) {
    std::printf("The game with the overlay's counters did not run.\n\n");
    return;
  }
  std::printf("| Shown | Frames | Textures made | Textures filled | Allocations | Goal | Result |\n");
  std::printf("|---|---:|---:|---:|---:|---|---|\n");
  for (bool fps : {false, true}) {
    comms.Show(true, true, true, fps);
    game.WaitForPresents(60);
    const ingame::OverlayStats& s = *game.stats();
    const std::uint64_t made = s.texturesCreated.load();
    const std::uint64_t filled = s.texturesFilled.load();
    const std::uint64_t allocations = s.allocations.load();
    const double start = Now();
    game.WaitForPresents(1000);
    const double seconds = (Now() - start) / 1000.0;
    const std::uint64_t madeNow = s.texturesCreated.load() - made;
    const std::uint64_t filledNow = s.texturesFilled.load() - filled;
    const std::uint64_t allocationsNow = s.allocations.load() - allocations;
    if (!fps) {
      std::printf("| line, block, picture | 1,000 | %llu | %llu | %llu | none | %s |\n",
                  static_cast<unsigned long long>(madeNow), static_cast<unsigned long long>(filledNow),
                  static_cast<unsigned long long>(allocationsNow),
                  madeNow + filledNow + allocationsNow == 0 ? "PASS" : "MISS");
    } else {
      std::printf("| line, block, picture, FPS | 1,000 (%.1f s) | %llu | %llu | %llu | none | %s |\n", seconds,
                  static_cast<unsigned long long>(madeNow), static_cast<unsigned long long>(filledNow),
                  static_cast<unsigned long long>(allocationsNow),
                  madeNow + filledNow + allocationsNow == 0 ? "PASS" : "MISS");
    }
  }
  std::printf("\n");
}

// Where a frame's time goes with the overlay, in one running game (the preview's default scene at 800 x 600), so
// that starting a process adds nothing to tell apart: every load in turn with everything hidden, 30 frames of
// each after 15 to settle, ten times; each figure the median of the ten turns. The overlay's own work before
// each present and the device's present, where the software renderer draws the whole frame, come from the
// overlay's counters.
void Profile(const Direct3D& direct3d, const Pictures& pictures) {
  const CountedGame game(direct3d);
  std::printf("## Where the time goes (%s)\n\n", direct3d.Label().c_str());
  if (!game.stats() || !game.WaitForPresents(60)) {
    std::printf("The game with the overlay's counters did not run.\n\n");
    return;
  }
  const ingame::OverlayStats& s = *game.stats();
  struct Sample {
    double frame = 0;
    double overlay = 0;
    double present = 0;
  };
  // Sets `load`, lets it settle, and measures frames.
  const auto measure = [&](Load load) {
    const std::unique_ptr<Comms> comms = Prepare(load, pictures);
    game.WaitForPresents(15);
    const std::uint64_t presents = s.presents.load();
    const std::uint64_t overlay = s.overlayMicroseconds.load();
    const std::uint64_t present = s.presentMicroseconds.load();
    const double start = Now();
    game.WaitForPresents(30);
    const double frames = static_cast<double>(s.presents.load() - presents);
    return Sample{(Now() - start) / frames, static_cast<double>(s.overlayMicroseconds.load() - overlay) / frames / 1000.0,
                  static_cast<double>(s.presentMicroseconds.load() - present) / frames / 1000.0};
  };
  std::printf("| Overlay | Frame | Against everything hidden | Overlay's work before the present | The device's present "
              "| Against everything hidden |\n|---|---:|---:|---:|---:|---:|\n");
  for (Load load : {Load::InvisibleLine, Load::LineOnly, Load::ElementsShown, Load::PictureOnly, Load::BlockOnly,
                    Load::LargestShown}) {
    std::vector<double> frame, overlay, present, frameRatio, presentRatio;
    for (int turn = 0; turn < 10; ++turn) {
      const Sample hidden = measure(Load::Hidden);
      const Sample shown = measure(load);
      frame.push_back(shown.frame);
      overlay.push_back(shown.overlay);
      present.push_back(shown.present);
      frameRatio.push_back(shown.frame / hidden.frame);
      presentRatio.push_back(shown.present / hidden.present);
    }
    std::printf("| %s | %.2f ms | %.3f | %.3f ms | %.2f ms | %.3f |\n", Describe(load), Median(frame),
                Median(frameRatio), Median(overlay), Median(present), Median(presentRatio));
    std::fflush(stdout);
  }
  std::printf("\n");
}

// How long each entry point takes, with a game presenting as fast as it can.
void Calls(const Direct3D& direct3d, const Pictures& pictures) {
  Comms comms;
  const CountedGame game(direct3d);
  std::printf("## Calls (%s)\n\n", direct3d.Label().c_str());
  if (!game.stats() || !game.WaitForPresents(60)) {
    std::printf("The game with the overlay's counters did not run.\n\n");
    return;
  }
  const std::string block = LongestBlock();
  std::int32_t width = 0;
  std::int32_t height = 0;
  struct Call {
    const char* name;
    int times;
    std::function<void(int)> run;
  };
  const Call calls[] = {
      {"HVSL_SetTextLineData", 200, [&](int i) { comms.SetLine("this is a test", 0xFF000000u | i, false); }},
      {"HVSL_ShowText", 200, [&](int i) { comms.Get<overlay::HVSL_ShowText_t>("HVSL_ShowText")(i % 2); }},
      {"HVML_SetTextMultilineData (1,023 characters)", 200, [&](int) { comms.SetBlock(1000, 700, block.c_str(), true); }},
      {"HVML_ShowText", 200, [&](int i) { comms.Get<overlay::HVML_ShowText_t>("HVML_ShowText")(i % 2); }},
      {"HVPIC_LoadNewPicture (1024 x 1024 JPEG)", 20, [&](int) { comms.LoadPicture(pictures.large); }},
      {"HVPIC_ShowPicturePos", 200,
       [&](int i) { comms.Get<overlay::HVPIC_ShowPicturePos_t>("HVPIC_ShowPicturePos")(i % 2, 10, 10); }},
      {"HVSI_GetScreenSize", 200,
       [&](int) { comms.Get<overlay::HVSI_GetScreenSize_t>("HVSI_GetScreenSize")(&width, &height); }},
      {"HVSI_ShowFPS", 200, [&](int i) { comms.Get<overlay::HVSI_ShowFPS_t>("HVSI_ShowFPS")(i % 2); }},
  };
  std::printf("| Entry point | Calls | First | Median | Slowest | Goal | Result |\n|---|---:|---:|---:|---:|---|---|\n");
  for (const Call& call : calls) {
    std::vector<double> times;
    for (int i = 0; i < call.times; ++i) {
      const double start = Now();
      call.run(i);
      times.push_back(Now() - start);
      Sleep(1);
    }
    const double slowest = *std::max_element(times.begin(), times.end());
    std::printf("| %s | %d | %.3f ms | %.3f ms | %.3f ms | < 1 ms | %s |\n", call.name, call.times, times.front(),
                Median(times), slowest, slowest < 1.0 ? "PASS" : "MISS");
  }
  std::printf("\n");
}

// Runs this program in `game`'s folder as the game that times its device's calls; the "name value" lines it wrote,
// none when it failed.
std::map<std::string, double> RunDeviceChild(const GameFolder& game, const std::string& arguments) {
  std::map<std::string, double> values;
  const fs::path exe = game.path() / "device_calls.exe";
  const fs::path file = game.path() / "device_calls.txt";
  std::error_code error;
  fs::remove(file, error);
  std::string commandLine = "\"" + exe.string() + "\" " + arguments + " \"" + file.string() + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(exe.string().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      game.path().string().c_str(), &startup, &process)) {
    return values;
  }
  WaitForSingleObject(process.hProcess, kRunTimeoutMs);
  End(process);
  std::ifstream in(file);
  std::string name;
  double value = 0;
  while (in >> name >> value) values[name] = value;
  return values;
}

// What a game's calls of its device's methods cost with the overlay present but hidden, against the system's
// alone, on each kind of device; and how often another thread of a multithreaded game that only asks
// TestCooperativeLevel is answered while the overlay draws everything.
void DeviceCalls(const Direct3D& direct3d, const Options& options, const Pictures& pictures) {
  const GameFolder withOverlay(true, direct3d);
  const GameFolder alone(false, direct3d);
  const GameFolder again(false, direct3d);
  std::printf("## Device calls (%s)\n\n", direct3d.Label().c_str());
  std::printf("A game's calls of its device's methods, with the overlay's %s (everything hidden) and with the "
              "system's alone, in %d pairs of runs alternating, each run a process of its own; a run's figure is the "
              "fastest of 15 rounds of 20,000 calls (2,000 draws of a triangle of no area), per call. Ratios are the "
              "medians of the ratios within pairs; the instrument is a third run alone against the first, and its "
              "spread is the noise a plain device's ratio is held to.\n\n",
              direct3d.library(), options.pairs);
  std::printf("| Device | Call | With the overlay | Alone | Ratio | Range | Instrument | Its range | Goal | Result |\n");
  std::printf("|---|---|---:|---:|---:|---:|---:|---:|---|---|\n");
  {
    Comms comms;
    comms.Show(false, false, false, false);
    for (const char* kind : {"plain", "pure", "multithreaded"}) {
      std::map<std::string, std::vector<double>> with, without, ratios, instrument;
      for (int i = 0; i < options.pairs; ++i) {
        const std::string arguments =
            "--device-calls-child " + std::to_string(direct3d.version) + " " + std::string(kind);
        std::map<std::string, double> a, b, c;
        if (i % 2 == 0) {
          a = RunDeviceChild(withOverlay, arguments);
          b = RunDeviceChild(alone, arguments);
          c = RunDeviceChild(again, arguments);
        } else {
          c = RunDeviceChild(again, arguments);
          b = RunDeviceChild(alone, arguments);
          a = RunDeviceChild(withOverlay, arguments);
        }
        for (const std::string& name : bench::DeviceCallNames()) {
          if (a[name] <= 0 || b[name] <= 0 || c[name] <= 0) continue;
          with[name].push_back(a[name]);
          without[name].push_back(b[name]);
          ratios[name].push_back(a[name] / b[name]);
          instrument[name].push_back(c[name] / b[name]);
        }
      }
      const bool plain = std::string(kind) == "plain";
      for (const std::string& name : bench::DeviceCallNames()) {
        if (ratios[name].empty()) {
          std::printf("| %s | %s | - | - | - | - | - | - | - | no runs |\n", kind, name.c_str());
          continue;
        }
        const double ratio = Median(ratios[name]);
        const std::vector<double>& noise = instrument[name];
        // Within noise: no further from 1 than the instrument's farthest pair, and never held closer than 5%.
        double spread = 0.05;
        for (double r : noise) spread = std::max(spread, std::abs(r - 1.0));
        const double limit = plain ? 1.0 + spread : 1.25;
        std::printf("| %s | %s | %.1f ns | %.1f ns | %.3f | %s | %.3f | %s | %s | %s |\n", kind, name.c_str(),
                    Median(with[name]), Median(without[name]), ratio, Range(ratios[name]).c_str(), Median(noise),
                    Range(noise).c_str(), plain ? Format("<= %.2f x (noise)", limit).c_str() : "<= 1.25 x",
                    ratio <= limit ? "PASS" : "MISS");
        std::fflush(stdout);
      }
    }
  }
  std::printf("\nAnother thread of a multithreaded game calls TestCooperativeLevel in a loop for 3 seconds while "
              "the game's render thread presents as fast as it can, everything shown: calls made and the longest "
              "one, median of %d pairs of runs. Goal: the overlay's drawing never holds it (at least 0.8 x the "
              "calls).\n\n",
              options.pairs);
  std::printf("| Calls with the overlay | Alone | Ratio | Range | Longest with | Longest alone | Goal | Result |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---|---|\n");
  const std::unique_ptr<Comms> comms = Prepare(Load::ElementsShown, pictures);
  const std::string cooperative = "--cooperative-calls-child " + std::to_string(direct3d.version) + " 3000";
  std::vector<double> with, without, ratios, longestWith, longestAlone;
  for (int i = 0; i < options.pairs; ++i) {
    std::map<std::string, double> a, b;
    if (i % 2 == 0) {
      a = RunDeviceChild(withOverlay, cooperative);
      b = RunDeviceChild(alone, cooperative);
    } else {
      b = RunDeviceChild(alone, cooperative);
      a = RunDeviceChild(withOverlay, cooperative);
    }
    if (a["calls"] <= 0 || b["calls"] <= 0) continue;
    with.push_back(a["calls"]);
    without.push_back(b["calls"]);
    ratios.push_back(a["calls"] / b["calls"]);
    longestWith.push_back(a["longest"]);
    longestAlone.push_back(b["longest"]);
  }
  if (ratios.empty()) {
    std::printf("| - | - | - | - | - | - | >= 0.8 x | no runs |\n\n");
    return;
  }
  std::printf("| %.0f | %.0f | %.3f | %s | %.0f us | %.0f us | >= 0.8 x | %s |\n\n", Median(with), Median(without),
              Median(ratios), Range(ratios).c_str(), Median(longestWith), Median(longestAlone),
              Median(ratios) >= 0.8 ? "PASS" : "MISS");
}

// Frames from a 1024 x 1024 picture's arrival in the shared state to the first present that shows it whole, in the
// preview held to 60 frames a second: with every processor of the machine open to the game (one free for the
// worker), and on the benchmark's one processor, shared with the game.
void PictureLatency(const Direct3D& direct3d, const Pictures& pictures) {
  std::printf("## Pictures (%s)\n\n", direct3d.Label().c_str());
  std::printf("The preview at 1280 x 1080 held to 60 frames a second; a 1024 x 1024 picture loaded again and again, "
              "8 times: presents from its arrival (the library has read it) to the first present that drew all of "
              "it, and the time.\n\n");
  std::printf("| Processors | Frames, median | worst | Time, median | worst | Goal (frames) | Result |\n");
  std::printf("|---|---:|---:|---:|---:|---|---|\n");
  for (bool everyProcessor : {true, false}) {
    Comms comms;
    comms.Show(false, false, true, false);
    const CountedGame game(direct3d, "--size 1280x1080 --fps-limit 60", everyProcessor);
    ingame::SectionView section = ingame::OpenStateSection();
    const ingame::SharedState* state = ingame::StateOf(section);
    const char* name = everyProcessor ? "every processor: one free for the worker" : "one, shared with the game";
    if (!game.stats() || !state || !game.WaitForPresents(60)) {
      std::printf("| %s | - | - | - | - | - | the game did not run |\n", name);
      continue;
    }
    std::vector<double> frames, milliseconds;
    for (int trial = 0; trial < 8; ++trial) {
      const std::uint32_t generation = state->picture.record.generation;
      comms.LoadPicture(pictures.large);
      const double asked = Now();
      while ((state->picture.record.generation == generation || state->picture.record.width != 1024 ||
              (ingame::Sequence(state->picture) & 1u) != 0) &&
             Now() < asked + 10000) {
        Sleep(0);
      }
      const std::uint32_t sequence = ingame::Sequence(state->picture);
      const std::uint64_t presents = game.stats()->presents.load();
      const double arrived = Now();
      while (game.stats()->drawnSequence[ingame::kPictureSlot].load() != sequence && Now() < arrived + 10000) Sleep(0);
      frames.push_back(static_cast<double>(game.stats()->drawnAtPresent[ingame::kPictureSlot].load() - presents));
      milliseconds.push_back(Now() - arrived);
      Sleep(200);
    }
    const double worst = *std::max_element(frames.begin(), frames.end());
    const double goal = everyProcessor ? 10 : 30;
    std::printf("| %s | %.0f | %.0f | %.0f ms | %.0f ms | <= %.0f | %s |\n", name, Median(frames), worst,
                Median(milliseconds), *std::max_element(milliseconds.begin(), milliseconds.end()), goal,
                worst <= goal ? "PASS" : "MISS");
    std::fflush(stdout);
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  // A child of DeviceCalls, in a game folder: the Direct3D, then what to run.
  if (argc == 5 && std::string(argv[1]) == "--device-calls-child") {
    return bench::RunDeviceCalls(std::atoi(argv[2]), argv[3], argv[4]);
  }
  if (argc == 5 && std::string(argv[1]) == "--cooperative-calls-child") {
    return bench::RunCooperativeCalls(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
  }
  Options options;
  bool understood = true;
  for (int i = 1; i < argc && understood; ++i) {
    const std::string a = argv[i];
    if (a == "--direct3d" && i + 1 < argc) {
      // "8", "9" or both, in the order given.
      options.direct3d.clear();
      const std::string list = argv[++i];
      for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const std::string version = list.substr(at, comma - at);
        understood = understood && (version == "8" || version == "9");
        if (understood) options.direct3d.push_back(std::atoi(version.c_str()));
        at = comma + 1;
      }
    } else if (a == "--pairs" && i + 1 < argc) {
      options.pairs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--run-ms" && i + 1 < argc) {
      options.runMs = std::max(500, std::atoi(argv[++i]));
    } else if (a == "--quick") {
      options.quick = true;
    } else if (a == "--profile") {
      options.profileOnly = true;
    } else if (a == "--frame-times") {
      options.frameTimesOnly = true;
    } else if (a == "--memory") {
      options.memoryOnly = true;
    } else if (a == "--latency") {
      options.latencyOnly = true;
    } else if (a == "--device-calls") {
      options.deviceCallsOnly = true;
    } else {
      understood = false;
    }
  }
  if (!understood) {
    std::fprintf(stderr, "usage: va_vazu_game_bench [--direct3d 8|9|8,9] [--pairs N] [--run-ms MS] [--quick] "
                         "[--profile] [--frame-times] [--memory] [--latency] [--device-calls]\n");
    return 2;
  }
  char temp[MAX_PATH + 1] = "";
  GetTempPathA(sizeof temp, temp);
  const fs::path pictures = fs::path(temp) / ("va_vazu_game_bench_pictures_" + std::to_string(GetCurrentProcessId()));
  std::error_code error;
  fs::create_directories(pictures, error);
  Pictures files{(pictures / "small.bmp").string(), (pictures / "large.jpg").string()};
  testsupport::WriteBmp(files.small, 64, 32, [](int x, int y) { return (x * 4u) << 16 | (y * 8u) << 8 | 0x80u; });
  testsupport::WritePicture(files.large, GUID_ContainerFormatJpeg, 1024, 1024,
                            [](int x, int y) { return static_cast<std::uint32_t>((x & 0xFF) << 16 | (y & 0xFF) << 8 | ((x ^ y) & 0xFF)); });
  const bool some = options.frameTimesOnly || options.memoryOnly || options.latencyOnly || options.deviceCallsOnly;
  for (int version : options.direct3d) {
    const Direct3D direct3d{version};
    // The parts that read the overlay's counters, only where the overlay is.
    const auto counted = [&direct3d](const char* heading, const std::function<void()>& part) {
      if (direct3d.overlayBuilt()) {
        part();
      } else {
        std::printf("## %s (%s)\n\nLeft out: its figures come from the overlay's counters.\n\n", heading,
                    direct3d.Label().c_str());
      }
    };
    if (some) {
      if (options.frameTimesOnly) FrameTimes(direct3d, options, files);
      if (options.deviceCallsOnly) DeviceCalls(direct3d, options, files);
      if (options.latencyOnly) {
        counted("Latency", [&] { Latency(direct3d, files); });
        counted("Pictures", [&] { PictureLatency(direct3d, files); });
      }
      if (options.memoryOnly) Memory(direct3d, options, files);
      continue;
    }
    counted("Where the time goes", [&] { Profile(direct3d, files); });
    if (options.profileOnly) continue;
    FrameTimes(direct3d, options, files);
    counted("Calls", [&] { Calls(direct3d, files); });
    DeviceCalls(direct3d, options, files);
    counted("Latency", [&] { Latency(direct3d, files); });
    counted("Pictures", [&] { PictureLatency(direct3d, files); });
    counted("Steady state", [&] { SteadyState(direct3d, files); });
    FrameRates(direct3d, options, files);
    Memory(direct3d, options, files);
  }
  fs::remove_all(pictures, error);
  return 0;
}
