// The overlay in real Direct3D 8 frames: a game (the test game or the preview) started with the overlay's
// d3d8.dll beside it, as a player would install it, the overlay's communication library loaded into the test as
// the dialog loads it, and the frames the game presented read back pixel by pixel.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "overlay/overlay_api.h"
#include "harness.h"
#include "tests/game/game_report.h"
#include "tests/support/picture_writer.h"

namespace e2e {

// A frame as the game presented it: 0x00RRGGBB, rows top first.
struct Frame {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  bool valid() const { return !pixels.empty(); }
  std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
  int Count(std::uint32_t colour) const;
  // The smallest rectangle holding every pixel unlike `background`; empty (all zero) when there is none.
  RECT Changed(std::uint32_t background) const;
  // Whether a pixel within `tolerance` of `colour` in every channel lies inside the rectangle.
  bool Has(std::uint32_t colour, const RECT& within, int tolerance = 0) const;
  // The number of pixels unlike `background` in each column of the rectangle.
  std::vector<int> ColumnCounts(std::uint32_t background, const RECT& within) const;
};

bool Near(std::uint32_t a, std::uint32_t b, int tolerance);
bool Inside(const RECT& inner, const RECT& outer);
std::string Describe(const RECT& r);

// Which Direct3D the test game runs on: 8, 9 (--d3d9) or 9 with an Ex device (--d3d9ex).
enum class Api { k8, k9, k9Ex };
std::string NameOf(Api api);

// A Direct3D game with the overlay: the program (bin/<exe>) and the overlay's d3d8.dll (or d3d9.dll, for a
// Direct3D 9 game) copied into a folder of their own and started there. Windows takes such a library beside the
// program by itself; Wine does when told to (WINEDLLOVERRIDES=d3d8=n,b;d3d9=n,b, which scripts/wine-env.sh sets for
// the tests and everything they start). Ended with the object.
class Game {
 public:
  // The test game on `api`, with the overlay's library for it unless `withOverlay` is false.
  Game(Api api, const std::string& arguments, bool withOverlay = true);
  // `exe` is a program of bin/ (va_vazu_testgame.exe, va_vazu_preview.exe); `withOverlay` false leaves the
  // overlay's d3d8.dll out, for the game alone. `prepare`, when given, puts further files into the game's folder
  // before the game starts.
  explicit Game(const std::string& arguments, const std::string& exe = "va_vazu_testgame.exe",
                bool withOverlay = true,
                const std::function<void(const std::filesystem::path& folder)>& prepare = nullptr);
  ~Game();
  Game(const Game&) = delete;
  Game& operator=(const Game&) = delete;

  bool Running() const;
  DWORD processId() const { return process_.dwProcessId; }
  HWND window() const;
  // Waits for the game's window and puts it on top of every other, where nothing covers it; null when it does
  // not come.
  HWND WaitForWindow(DWORD timeoutMs = kWaitMs) const;
  // The game's client area as it is on the screen: what its last presented frame put there.
  Screenshot ClientShot() const;
  void End();

  // The test game's report; null for another game, or before it has made it.
  const testgame::Report* report() const;
  // Waits until the test game has presented `count` frames more than now; false when it does not in time.
  bool WaitForFrames(std::uint32_t count, DWORD timeoutMs = 10000) const;
  // The next frame the test game presents, as the screen shows it in its window (`window` 0) or in the window of
  // its additional swap chain `window`; invalid when none comes in time.
  Frame Capture(DWORD timeoutMs = 10000, unsigned window = 0) const;
  // Captures until `done` holds or the time is up; the last capture.
  Frame WaitForFrame(const std::function<bool(const Frame&)>& done, DWORD timeoutMs = 10000,
                     unsigned window = 0) const;
  // Asks the test game to reset its device, to its --reset-size or its size.
  void RequestReset() const;
  // Asks the test game to let go of the objects it keeps bound (--release-on-request).
  void RequestRelease() const;
  // The "name value" lines the test game writes once (--probe, --defaults, --release-on-request, --restore-table);
  // empty when they do not come in time or the game stops first.
  std::map<std::string, unsigned long> ReadLines(DWORD timeoutMs = 20000) const;
  // Why the test game stopped, if it did ("" while it runs).
  std::string Failure() const;

 private:
  std::filesystem::path folder_;
  PROCESS_INFORMATION process_{};
  // Opened on first use, by const accessors too.
  mutable HANDLE reportSection_ = nullptr;
  mutable const testgame::Report* report_ = nullptr;
};

// The overlay's hvcomms.dll (bin/overlay/) loaded into the test process, called as the dialog calls it. It
// starts with every element hidden and no game's screen, so each test begins with a clean overlay.
class Overlay {
 public:
  Overlay();
  ~Overlay();
  Overlay(const Overlay&) = delete;
  Overlay& operator=(const Overlay&) = delete;

  bool loaded() const { return module_ != nullptr; }
  int SetLine(int x, int y, const char* text, std::uint32_t argb, bool black = false, int size = 20, bool bold = false,
              bool monospace = false) const;
  int ShowLine(bool show) const;
  int SetBlock(int x, int y, int width, int height, const char* text, std::uint32_t argb, bool black = false,
               int size = 20, bool bold = false, bool monospace = false) const;
  int ShowBlock(bool show) const;
  int LoadPicture(const std::string& path) const;
  int ShowPicture(bool show, int x, int y) const;
  int ShowFps(bool show) const;
  // The screen size the library reports, or nothing when it writes nothing.
  std::optional<std::pair<int, int>> ScreenSize() const;

 private:
  template <class Function>
  Function Get(const char* name) const {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }
  HMODULE module_ = nullptr;
};

// A test game's case for parameterised tests: its name, the test game's arguments, and its Direct3D.
struct GameCase {
  std::string name;
  std::string arguments;
  Api api = Api::k8;
};
inline void PrintTo(const GameCase& c, std::ostream* out) { *out << c.name; }
// The cases as they are (on Direct3D 8), and each again on Direct3D 9, its name ending in "D3D9".
std::vector<GameCase> OnBothApis(std::vector<GameCase> cases);
// The name of a parameterised test's case, for INSTANTIATE_TEST_SUITE_P.
inline std::string CaseName(const ::testing::TestParamInfo<GameCase>& test) { return test.param.name; }

// Shows everything at once: a 24 x 24 yellow (0xE0E020) picture written to `picture` at (10, 10), the red line
// "line" on black at (10, 200), and the see-through green block "block / of text" (0xC000FF00, no background, so
// that it is blended and the game's states are set and restored) in the box at (150, 100), 120 x 60, and the frame
// rate.
void ShowEverything(const Overlay& overlay, const std::filesystem::path& picture);
// Whether `frame` shows the red line ShowEverything sets, at the bottom left of a 320 x 240 game.
bool ShowsTheLine(const Frame& frame);

// Brings `window` to the front, as a click on it would, and presses and releases `key` there, as a player would
// in the game; false when the window did not come to the front.
bool PressKeyIn(HWND window, WORD key);

using testsupport::WriteBmp;
using testsupport::WritePicture;

}  // namespace e2e
