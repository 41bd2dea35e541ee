// The overlay's d3d8.dll with another Direct3D 8 below it, named in d3d8_chain.txt beside it, as a player combines it
// with a wrapper: the tests' own forwarder (tests/chain/) stands for the wrapper. The game runs on it with the
// overlay drawn once; a setting that cannot be followed leaves the system's Direct3D 8, and never the overlay a
// second time.
#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "game.h"
#include "harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr char kGame[] = "--size 320x240 --clear 204060";
// A half see-through red line over the scene (0x204060): drawn once it blends to about 0x902030; drawn twice its red
// would pass 0xB0, which no pixel of a single drawing reaches.
constexpr std::uint32_t kOnce = 0x902030;

bool DrawnOnce(const Frame& f) {
  if (!f.valid() || !f.Has(kOnce, RECT{0, 0, f.width, f.height}, 12)) return false;
  for (const std::uint32_t pixel : f.pixels) {
    if ((pixel >> 16) > 0xB0) return false;
  }
  return true;
}

// The file names of the libraries loaded in a process, lower-case.
std::vector<std::string> ModulesOf(DWORD processId) {
  std::vector<std::string> names;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
  if (snapshot == INVALID_HANDLE_VALUE) return names;
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry)) {
    std::string name = entry.szModule;
    CharLowerBuffA(&name[0], static_cast<DWORD>(name.size()));
    names.push_back(name);
  }
  CloseHandle(snapshot);
  return names;
}

bool ForwarderUsed(DWORD processId) {
  HANDLE used = OpenEventA(SYNCHRONIZE, FALSE, ("va_vazu.chain." + std::to_string(processId)).c_str());
  if (!used) return false;
  CloseHandle(used);
  return true;
}

// Starts the test game with the overlay, `files` copied from bin/ into its folder (name there, name in bin/) and
// d3d8_chain.txt holding `setting`; shows the half see-through line and waits until it is drawn once.
struct ChainedGame {
  ChainedGame(const std::vector<std::pair<std::string, fs::path>>& files, const std::string& setting)
      : game(kGame, "va_vazu_testgame.exe", true, [&](const fs::path& folder) {
          for (const auto& [name, from] : files) fs::copy_file(BinFolder() / from, folder / name);
          std::ofstream(folder / "d3d8_chain.txt", std::ios::binary) << setting;
        }) {
    overlay.SetLine(40, 30, "HHHH", 0x80FF0000);
    overlay.ShowLine(true);
    frame = game.WaitForFrame(DrawnOnce);
  }
  Overlay overlay;
  Game game;
  Frame frame;
};

// The forwarder named beside the overlay is used, and the overlay draws once over its objects: named by a relative
// path among a byte-order mark, comments, a blank line, spaces and quotes; and by a full path, in the form that loads
// "d3d8.dll" by name below it and so gets the overlay's back, whose calls from inside it go to the system's.
TEST(ChainedDirect3D, TheLibraryNamedBesideTheOverlayIsUsedAndTheOverlayDrawsOnce) {
  {
    ChainedGame chained({{"wrapper_d3d8.dll", "va_vazu_chain_d3d8.dll"}},
                        "\xEF\xBB\xBF# the Direct3D 8 below the overlay\r\n\r\n; a wrapper's, renamed\r\n"
                        "  \"wrapper_d3d8.dll\"  \r\nignored.dll\r\n");
    EXPECT_TRUE(DrawnOnce(chained.frame)) << chained.game.Failure();
    EXPECT_TRUE(ForwarderUsed(chained.game.processId()));
    EXPECT_EQ(chained.game.Failure(), "");
  }
  const fs::path absolute = NewRunFolder() / "byname_d3d8.dll";
  fs::copy_file(BinFolder() / "va_vazu_chain_d3d8.dll", absolute);
  ChainedGame chained({}, absolute.string() + "\n");
  EXPECT_TRUE(DrawnOnce(chained.frame)) << chained.game.Failure();
  EXPECT_TRUE(ForwarderUsed(chained.game.processId()));
  EXPECT_TRUE(chained.game.Running());
  EXPECT_EQ(chained.game.Failure(), "");
}

// A wrapper that calls "d3d8.dll", the overlay's, only later and from a thread of its own gets the system's below it,
// never itself again, and the overlay draws once.
TEST(ChainedDirect3D, AWrapperCallingTheOverlayLaterFromAnotherThreadGetsTheSystems) {
  ChainedGame chained({{"lazy_d3d8.dll", "va_vazu_chain_d3d8.dll"}}, "lazy_d3d8.dll");
  EXPECT_TRUE(DrawnOnce(chained.frame)) << chained.game.Failure();
  EXPECT_TRUE(ForwarderUsed(chained.game.processId()));
  EXPECT_TRUE(chained.game.Running());
  EXPECT_EQ(chained.game.Failure(), "");
}

// Settings that cannot be followed: a library that is not there, the overlay's d3d8.dll itself, a copy of it under
// another name, and a library without Direct3DCreate8. The game runs on the system's Direct3D 8 with the overlay
// drawn once, and no library so named is left loaded in it.
TEST(ChainedDirect3D, AWrongSettingLeavesTheSystemsDirect3D8) {
  const std::vector<std::pair<std::string, fs::path>> files = {
      {"overlay_copy.dll", fs::path("overlay") / "d3d8.dll"},
      {"not_direct3d.dll", fs::path("overlay") / "hvcomms.dll"},
      {"wrapper_d3d8.dll", "va_vazu_chain_d3d8.dll"}};
  for (const std::string setting : {"missing.dll", "d3d8.dll", ".\\D3D8.DLL", "overlay_copy.dll", "not_direct3d.dll"}) {
    ChainedGame chained(files, setting);
    EXPECT_TRUE(DrawnOnce(chained.frame)) << setting << ": " << chained.game.Failure();
    EXPECT_TRUE(chained.game.Running()) << setting;
    EXPECT_FALSE(ForwarderUsed(chained.game.processId())) << setting;
    const std::vector<std::string> modules = ModulesOf(chained.game.processId());
    EXPECT_FALSE(modules.empty());
    for (const char* left : {"overlay_copy.dll", "not_direct3d.dll", "wrapper_d3d8.dll"}) {
      EXPECT_EQ(std::count(modules.begin(), modules.end(), left), 0) << setting << " left " << left << " loaded";
    }
    EXPECT_EQ(std::count(modules.begin(), modules.end(), "d3d8.dll"), 2) << setting << ": the overlay's and the system's";
  }
}

}  // namespace
}  // namespace e2e
