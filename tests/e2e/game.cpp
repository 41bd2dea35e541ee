#include "game.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "harness.h"
#include "ingame/common/shared_section.h"

namespace fs = std::filesystem;

namespace e2e {

int Frame::Count(std::uint32_t colour) const {
  return static_cast<int>(std::count(pixels.begin(), pixels.end(), colour));
}

RECT Frame::Changed(std::uint32_t background) const {
  RECT r{width, height, 0, 0};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (At(x, y) == background) continue;
      r.left = std::min<LONG>(r.left, x);
      r.top = std::min<LONG>(r.top, y);
      r.right = std::max<LONG>(r.right, x + 1);
      r.bottom = std::max<LONG>(r.bottom, y + 1);
    }
  }
  return r.right > r.left ? r : RECT{0, 0, 0, 0};
}

bool Frame::Has(std::uint32_t colour, const RECT& within, int tolerance) const {
  for (int y = std::max<LONG>(within.top, 0); y < std::min<LONG>(within.bottom, height); ++y) {
    for (int x = std::max<LONG>(within.left, 0); x < std::min<LONG>(within.right, width); ++x) {
      if (Near(At(x, y), colour, tolerance)) return true;
    }
  }
  return false;
}

std::vector<int> Frame::ColumnCounts(std::uint32_t background, const RECT& within) const {
  std::vector<int> counts;
  for (int x = within.left; x < within.right; ++x) {
    int n = 0;
    for (int y = within.top; y < within.bottom; ++y) n += At(x, y) != background ? 1 : 0;
    counts.push_back(n);
  }
  return counts;
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (int shift = 0; shift <= 16; shift += 8) {
    const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (d > tolerance || d < -tolerance) return false;
  }
  return true;
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

std::string Describe(const RECT& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
         std::to_string(r.bottom) + ")";
}

Game::Game(const std::string& arguments, const std::string& exe, bool withOverlay,
           const std::function<void(const fs::path&)>& prepare)
    : folder_(NewRunFolder()) {
  const fs::path bin = BinFolder();
  std::error_code error;
  fs::copy_file(bin / exe, folder_ / exe, error);
  if (!error && withOverlay) fs::copy_file(bin / "overlay" / "d3d8.dll", folder_ / "d3d8.dll", error);
  if (error) {
    ADD_FAILURE() << "cannot set up the game's folder: " << error.message();
    return;
  }
  if (prepare) prepare(folder_);
  const fs::path program = folder_ / exe;
  std::string commandLine = "\"" + program.string() + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessA(program.string().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder_.string().c_str(), &startup, &process_)) {
    ADD_FAILURE() << "cannot start " << exe << ": error " << GetLastError();
    process_ = PROCESS_INFORMATION{};
  }
}

Game::Game(Api api, const std::string& arguments, bool withOverlay)
    : Game((api == Api::k8 ? "" : api == Api::k9 ? "--d3d9 " : "--d3d9ex ") + arguments, "va_vazu_testgame.exe",
           withOverlay && api == Api::k8, [api, withOverlay](const fs::path& folder) {
             if (!withOverlay || api == Api::k8) return;
             std::error_code error;
             fs::copy_file(BinFolder() / "overlay" / "d3d9.dll", folder / "d3d9.dll", error);
             // Without it the game still starts, alone, and still checks what it checks of itself.
             if (error) ADD_FAILURE() << "no overlay's d3d9.dll to put beside the game: " << error.message();
           }) {}

std::string NameOf(Api api) { return api == Api::k8 ? "D3D8" : api == Api::k9 ? "D3D9" : "D3D9Ex"; }

std::vector<GameCase> OnBothApis(std::vector<GameCase> cases) {
  const std::size_t count = cases.size();
  for (std::size_t i = 0; i < count; ++i) cases.push_back(GameCase{cases[i].name + "D3D9", cases[i].arguments, Api::k9});
  return cases;
}

Game::~Game() {
  End();
  if (report_) UnmapViewOfFile(report_);
  if (reportSection_) CloseHandle(reportSection_);
  if (process_.hProcess) {
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  std::error_code error;
  if (!::testing::Test::HasFailure()) fs::remove_all(folder_, error);
}

bool Game::Running() const {
  return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

void Game::End() {
  if (!Running()) return;
  TerminateProcess(process_.hProcess, 0);
  WaitForSingleObject(process_.hProcess, kWaitMs);
}

HWND Game::window() const {
  for (HWND window : TopLevelWindowsOf(process_.dwProcessId)) {
    if (IsWindowVisible(window)) return window;
  }
  return nullptr;
}

HWND Game::WaitForWindow(DWORD timeoutMs) const {
  HWND found = nullptr;
  WaitUntil([&] { return (found = window()) != nullptr || !Running(); }, timeoutMs);
  if (found) SetWindowPos(found, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return found;
}

Screenshot Game::ClientShot() const {
  HWND game = window();
  RECT client{};
  POINT origin{0, 0};
  if (!game || !GetClientRect(game, &client) || !ClientToScreen(game, &origin)) return Screenshot(RECT{});
  return Screenshot({origin.x, origin.y, origin.x + client.right, origin.y + client.bottom});
}

const testgame::Report* Game::report() const {
  if (report_ || !process_.hProcess) return report_;
  HANDLE section = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE,
                                    testgame::ReportName(process_.dwProcessId).c_str());
  if (!section) return nullptr;
  report_ = static_cast<const testgame::Report*>(MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
  reportSection_ = section;
  return report_;
}

bool Game::WaitForFrames(std::uint32_t count, DWORD timeoutMs) const {
  if (!WaitUntil([&] { return report() != nullptr || !Running(); }, timeoutMs) || !report()) return false;
  const std::uint32_t target = report()->frames.load() + count;
  return WaitUntil([&] { return report()->frames.load() >= target || !Running(); }, timeoutMs) &&
         report()->frames.load() >= target;
}

Frame Game::Capture(DWORD timeoutMs, unsigned window) const {
  Frame frame;
  // The frames are read off the screen: nothing may cover the game's windows, a window shown since included.
  for (HWND w : TopLevelWindowsOf(process_.dwProcessId)) {
    if (IsWindowVisible(w)) SetWindowPos(w, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  // The second present from now began after this call did: whatever the test changed before is in it.
  if (!WaitForFrames(2, timeoutMs)) return frame;
  auto* report = const_cast<testgame::Report*>(report_);
  const std::uint32_t request = report->captureDone.load() + 1;
  report->captureWindow.store(window);
  report->captureRequest.store(request);
  if (!WaitUntil([&] { return report->captureDone.load() == request || !Running(); }, timeoutMs) ||
      report->captureDone.load() != request) {
    return frame;
  }
  frame.width = static_cast<int>(report->captureWidth);
  frame.height = static_cast<int>(report->captureHeight);
  frame.pixels.assign(report->pixels, report->pixels + static_cast<std::size_t>(frame.width) * frame.height);
  return frame;
}

Frame Game::WaitForFrame(const std::function<bool(const Frame&)>& done, DWORD timeoutMs, unsigned window) const {
  Frame frame;
  WaitUntil(
      [&] {
        frame = Capture(timeoutMs, window);
        return !frame.valid() || done(frame);
      },
      timeoutMs);
  return frame;
}

void Game::RequestReset() const {
  if (report()) const_cast<testgame::Report*>(report_)->resetRequests.fetch_add(1);
}

void Game::RequestRelease() const {
  if (report()) const_cast<testgame::Report*>(report_)->releaseRequests.fetch_add(1);
}

std::map<std::string, unsigned long> Game::ReadLines(DWORD timeoutMs) const {
  std::map<std::string, unsigned long> values;
  if (!WaitUntil([&] { return report() && (report()->probed.load() != 0 || !Failure().empty() || !Running()); },
                 timeoutMs) ||
      report()->probed.load() == 0) {
    return values;
  }
  std::istringstream lines(report()->probe);
  std::string name;
  unsigned long value = 0;
  while (lines >> name >> value) values[name] = value;
  return values;
}

std::string Game::Failure() const {
  if (!report() || report()->failure.load() == 0) return "";
  char text[160];
  std::snprintf(text, sizeof text, "%s failed with 0x%08lX", report()->failureWhat,
                static_cast<unsigned long>(report()->failure.load()));
  return text;
}

Overlay::Overlay() {
  module_ = LoadLibraryA((BinFolder() / "overlay" / "hvcomms.dll").string().c_str());
  if (!module_) {
    ADD_FAILURE() << "cannot load the overlay's hvcomms.dll: error " << GetLastError();
    return;
  }
  ShowLine(false);
  ShowBlock(false);
  ShowPicture(false, 0, 0);
  ShowFps(false);
  // Nor any game's screen from an earlier test: a game ended by force a moment ago has had no chance to take its
  // screen back, and counts as running for half a second after its last present.
  ingame::SectionView section = ingame::OpenStateSection();
  if (section) ingame::StateOf(section)->screen.store(0);
}

Overlay::~Overlay() {
  if (module_) FreeLibrary(module_);
}

int Overlay::SetLine(int x, int y, const char* text, std::uint32_t argb, bool black, int size, bool bold,
                     bool monospace) const {
  return Get<overlay::HVSL_SetTextLineData_t>("HVSL_SetTextLineData")(
      static_cast<overlay::word>(x), static_cast<overlay::word>(y), text, argb, black ? 1 : 0,
      static_cast<std::uint8_t>(size), bold ? 1 : 0, monospace ? 1 : 0);
}

int Overlay::ShowLine(bool show) const { return Get<overlay::HVSL_ShowText_t>("HVSL_ShowText")(show ? 1 : 0); }

int Overlay::SetBlock(int x, int y, int width, int height, const char* text, std::uint32_t argb, bool black,
                      int size, bool bold, bool monospace) const {
  return Get<overlay::HVML_SetTextMultilineData_t>("HVML_SetTextMultilineData")(
      static_cast<overlay::word>(x), static_cast<overlay::word>(y), text, argb, black ? 1 : 0,
      static_cast<std::uint8_t>(size), bold ? 1 : 0, static_cast<overlay::word>(width),
      static_cast<overlay::word>(height), monospace ? 1 : 0);
}

int Overlay::ShowBlock(bool show) const { return Get<overlay::HVML_ShowText_t>("HVML_ShowText")(show ? 1 : 0); }

int Overlay::LoadPicture(const std::string& path) const {
  return Get<overlay::HVPIC_LoadNewPicture_t>("HVPIC_LoadNewPicture")(path.c_str());
}

int Overlay::ShowPicture(bool show, int x, int y) const {
  return Get<overlay::HVPIC_ShowPicturePos_t>("HVPIC_ShowPicturePos")(show ? 1 : 0, x, y);
}

int Overlay::ShowFps(bool show) const { return Get<overlay::HVSI_ShowFPS_t>("HVSI_ShowFPS")(show ? 1 : 0); }

std::optional<std::pair<int, int>> Overlay::ScreenSize() const {
  std::int32_t width = -1;
  std::int32_t height = -1;
  Get<overlay::HVSI_GetScreenSize_t>("HVSI_GetScreenSize")(&width, &height);
  if (width == -1 && height == -1) return std::nullopt;
  return std::make_pair(static_cast<int>(width), static_cast<int>(height));
}

void ShowEverything(const Overlay& overlay, const fs::path& picture) {
  WriteBmp(picture, 24, 24, [](int, int) { return 0xE0E020u; });
  overlay.SetLine(10, 200, "line", 0xFFFF0000, true);
  overlay.SetBlock(150, 100, 120, 60, "block\r\nof text", 0xC000FF00, false);
  overlay.LoadPicture(picture.string());
  overlay.ShowPicture(true, 10, 10);
  overlay.ShowLine(true);
  overlay.ShowBlock(true);
  overlay.ShowFps(true);
}

bool ShowsTheLine(const Frame& frame) { return frame.Has(0xFF0000, RECT{10, 200, 100, 240}); }

bool PressKeyIn(HWND window, WORD key) {
  if (!BringToFront(window)) return false;
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = KEYEVENTF_EXTENDEDKEY;  // INSERT, HOME and END of the navigation block
  SendInput(1, &input, sizeof input);
  Sleep(50);
  input.ki.dwFlags |= KEYEVENTF_KEYUP;
  SendInput(1, &input, sizeof input);
  return true;
}

}  // namespace e2e
