// The preview game screen is a Direct3D 8 game (a Direct3D 9 one with --d3d9 or --d3d9ex): it presents real
// frames under Wine, as a capture of its client area from the screen shows, and it imports d3d8.dll by name, so
// that one put beside it takes the system's place as in any game.
#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "game.h"
#include "harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// The top left corner of the screen; the preview is put on top of every other window there.
const std::string kPreview = "va_vazu_preview.exe";
constexpr char kPlacement[] = "--pos 0,0 ";

// A different colour for every pixel of a 400 x 300 picture.
std::uint32_t Pattern(int x, int y) {
  return static_cast<std::uint32_t>((x & 0xFF) << 16 | (y & 0xFF) << 8 | (x >> 8) | (y >> 8) << 4);
}

std::uint32_t Red(std::uint32_t rgb) { return rgb >> 16 & 0xFF; }
std::uint32_t Green(std::uint32_t rgb) { return rgb >> 8 & 0xFF; }
std::uint32_t Blue(std::uint32_t rgb) { return rgb & 0xFF; }

// The still scene at the size asked for, on Direct3D 8 and 9: the client area has it, and every pixel shows
// exactly its own texel of the picture (so a scene of one colour is that colour everywhere).
TEST(PreviewGame, StillSceneShowsEachTexelOnItsPixel) {
  const fs::path scene = NewRunFolder() / "scene.bmp";
  WriteBmp(scene, 400, 300, Pattern);
  std::vector<std::uint32_t> expected;
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 400; ++x) expected.push_back(Pattern(x, y));
  }
  for (const char* direct3d : {"", "--d3d9 "}) {
    SCOPED_TRACE(direct3d);
    const Game preview(kPlacement + std::string(direct3d) + "--size 400x300 --scene \"" + scene.string() + "\"",
                       kPreview, false);
    ASSERT_NE(preview.WaitForWindow(), nullptr);
    RECT client{};
    GetClientRect(preview.window(), &client);
    EXPECT_EQ(client.right, 400);
    EXPECT_EQ(client.bottom, 300);

    std::vector<std::uint32_t> shown;
    WaitUntil([&] {
      shown = preview.ClientShot().pixels();
      return shown == expected;
    });
    ASSERT_EQ(shown.size(), expected.size());
    int wrong = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) {
      if (shown[i] != expected[i] && wrong++ == 0) first = i;
    }
    EXPECT_EQ(wrong, 0) << "first at (" << first % 400 << ", " << first / 400 << "): " << std::hex << shown[first]
                        << " for " << expected[first];
  }
}

// Whether the process has loaded a module of that name.
bool HasModule(DWORD processId, const char* name) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Module32First(snapshot, &entry); more && !found; more = Module32Next(snapshot, &entry)) {
    found = lstrcmpiA(entry.szModule, name) == 0;
  }
  CloseHandle(snapshot);
  return found;
}

// The moving scene, light and heavy, on each Direct3D, is drawn and moves: sky above, the green floor below,
// and the next capture differs from the first. Only the runs on Direct3D 9 load d3d9.dll.
TEST(PreviewGame, MovingSceneMoves) {
  for (const char* arguments : {"", "--heavy", "--d3d9 --heavy", "--d3d9ex"}) {
    SCOPED_TRACE(arguments);
    const Game preview(kPlacement + std::string(arguments), kPreview, false);
    ASSERT_NE(preview.WaitForWindow(), nullptr);
    Screenshot first = preview.ClientShot();
    const auto drawn = [](const Screenshot& shot) {
      const std::vector<std::uint32_t>& p = shot.pixels();
      return !p.empty() && Blue(p.front()) > Red(p.front()) && Green(p.back()) > Red(p.back()) &&
             Green(p.back()) > Blue(p.back());
    };
    EXPECT_TRUE(WaitUntil([&] {
      first = preview.ClientShot();
      return drawn(first);
    })) << "no sky above a floor: top left " << std::hex << first.pixels().front() << ", bottom right "
        << first.pixels().back();
    EXPECT_TRUE(WaitUntil([&] { return !(preview.ClientShot() == first); })) << "the scene stands still";
    EXPECT_EQ(HasModule(preview.processId(), "d3d9.dll"), std::string(arguments).find("--d3d9") == 0);
  }
}

// The names of the DLLs whose functions an executable imports, from its import directory.
std::vector<std::string> ImportedLibraries(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const auto read = [&bytes](std::size_t offset, auto& out) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof out) return false;
    std::memcpy(&out, &bytes[offset], sizeof out);
    return true;
  };
  IMAGE_DOS_HEADER dos{};
  IMAGE_NT_HEADERS nt{};  // of the build's own kind, 32- or 64-bit
  std::vector<std::string> names;
  if (!read(0, dos) || !read(static_cast<std::size_t>(dos.e_lfanew), nt)) return names;
  const std::size_t sections = static_cast<std::size_t>(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                               nt.FileHeader.SizeOfOptionalHeader;
  // Where an address of the loaded image lies in the file; 0 when no section holds it.
  const auto offsetOf = [&](DWORD address) -> std::size_t {
    IMAGE_SECTION_HEADER section{};
    for (WORD i = 0; i < nt.FileHeader.NumberOfSections && read(sections + i * sizeof section, section); ++i) {
      if (address >= section.VirtualAddress && address - section.VirtualAddress < section.SizeOfRawData) {
        return address - section.VirtualAddress + section.PointerToRawData;
      }
    }
    return 0;
  };
  IMAGE_IMPORT_DESCRIPTOR entry{};
  for (std::size_t at = offsetOf(nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
       at != 0 && read(at, entry) && entry.Name != 0; at += sizeof entry) {
    const std::size_t name = offsetOf(entry.Name);
    if (name == 0) break;
    std::string text;
    for (std::size_t i = name; i < bytes.size() && bytes[i] != '\0'; ++i) text += bytes[i];
    names.push_back(text);
  }
  return names;
}

// With the overlay's d3d8.dll beside it, the preview gets the overlay as any game does.
// On Direct3D 8 through the d3d8.dll beside it, and on Direct3D 9 through the d3d9.dll put beside it.
TEST(PreviewGame, ShowsTheOverlayThroughTheLibraryBesideIt) {
  const fs::path scene = NewRunFolder() / "scene.bmp";
  WriteBmp(scene, 400, 300, [](int, int) { return 0x204060u; });
  Overlay overlay;
  overlay.SetLine(40, 30, "HHHH", 0xFFFF0000, true);
  overlay.ShowLine(true);
  for (const std::string direct3d : {"", "--d3d9 "}) {
    SCOPED_TRACE(direct3d);
    const auto withD3d9 = [&direct3d](const fs::path& folder) {
      if (!direct3d.empty()) fs::copy_file(BinFolder() / "overlay" / "d3d9.dll", folder / "d3d9.dll");
    };
    const Game preview(kPlacement + direct3d + "--size 400x300 --scene \"" + scene.string() + "\"", kPreview, true,
                       withD3d9);
    ASSERT_NE(preview.WaitForWindow(), nullptr);
    const auto redPixels = [&] {
      const std::vector<std::uint32_t> pixels = preview.ClientShot().pixels();
      return std::count(pixels.begin(), pixels.end(), 0xFF0000u);
    };
    EXPECT_TRUE(WaitUntil([&] { return redPixels() > 20; })) << "no red line in the preview";
  }
}

TEST(PreviewGame, ImportsDirect3D8ByName) {
  std::string found;
  for (const std::string& name : ImportedLibraries(BinFolder() / "va_vazu_preview.exe")) {
    found += name + " ";
    if (lstrcmpiA(name.c_str(), "d3d8.dll") == 0) return;
  }
  ADD_FAILURE() << "va_vazu_preview.exe imports only " << found;
}

}  // namespace
}  // namespace e2e
