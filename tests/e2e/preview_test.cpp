// The preview game screen is a Direct3D 8 game: it presents real frames under Wine, as a capture of its client
// area from the screen shows, and it imports d3d8.dll by name, so that one put beside it takes the system's
// place as in any game.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "harness.h"
#include "preview/window_class.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// The top left corner of the screen; the preview is put on top of every other window there.
constexpr char kPlacement[] = "--pos 0,0";

using Colour = std::function<std::uint32_t(int x, int y)>;

// A 24-bit bottom-up BMP whose pixel (x, y) is colour(x, y), 0x00RRGGBB.
void WriteBmp(const fs::path& file, int width, int height, const Colour& colour) {
  const int stride = (width * 3 + 3) & ~3;
  BITMAPFILEHEADER header{};
  BITMAPINFOHEADER info{};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info;
  header.bfSize = header.bfOffBits + static_cast<DWORD>(stride * height);
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  std::vector<char> rows(static_cast<std::size_t>(stride) * height, 0);
  for (int y = 0; y < height; ++y) {
    char* row = &rows[static_cast<std::size_t>(height - 1 - y) * stride];
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = colour(x, y);
      row[x * 3] = static_cast<char>(c & 0xFF);
      row[x * 3 + 1] = static_cast<char>((c >> 8) & 0xFF);
      row[x * 3 + 2] = static_cast<char>((c >> 16) & 0xFF);
    }
  }
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  out.write(rows.data(), static_cast<std::streamsize>(rows.size()));
}

// A test's own folder, removed with what is in it when the test passed. Declared before the preview that runs
// in it, so that the preview has ended when it goes.
struct RunFolder {
  fs::path path = NewRunFolder();
  ~RunFolder() {
    std::error_code error;
    if (!::testing::Test::HasFailure()) fs::remove_all(path, error);
  }
};

// va_vazu_preview.exe started from bin/ in `folder`, on top of every other window, ended with the test.
class Preview {
 public:
  Preview(const std::string& arguments, const fs::path& folder) {
    const fs::path exe = BinFolder() / "va_vazu_preview.exe";
    std::string commandLine = "\"" + exe.string() + "\" " + kPlacement + " " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(exe.string().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.string().c_str(), &startup, &process_)) {
      ADD_FAILURE() << "cannot start " << exe.string() << ": error " << GetLastError();
      process_ = PROCESS_INFORMATION{};
      return;
    }
    WaitUntil([&] {
      HWND found = FindWindowA(preview::kWindowClass, nullptr);
      DWORD pid = 0;
      if (found) GetWindowThreadProcessId(found, &pid);
      if (pid == process_.dwProcessId && IsWindowVisible(found)) window_ = found;
      return window_ != nullptr;
    });
    if (!window_) {
      ADD_FAILURE() << "the preview's window did not appear";
      return;
    }
    SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  ~Preview() {
    if (!process_.hProcess) return;
    TerminateProcess(process_.hProcess, 0);
    WaitForSingleObject(process_.hProcess, kWaitMs);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  Preview(const Preview&) = delete;
  Preview& operator=(const Preview&) = delete;

  HWND window() const { return window_; }

  // The client area as it is on the screen: what the last presented frame put there.
  Screenshot Capture() const {
    RECT client{};
    POINT origin{0, 0};
    GetClientRect(window_, &client);
    ClientToScreen(window_, &origin);
    return Screenshot({origin.x, origin.y, origin.x + client.right, origin.y + client.bottom});
  }

 private:
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

// A different colour for every pixel of a 400 x 300 picture.
std::uint32_t Pattern(int x, int y) {
  return static_cast<std::uint32_t>((x & 0xFF) << 16 | (y & 0xFF) << 8 | (x >> 8) | (y >> 8) << 4);
}

std::uint32_t Red(std::uint32_t rgb) { return rgb >> 16 & 0xFF; }
std::uint32_t Green(std::uint32_t rgb) { return rgb >> 8 & 0xFF; }
std::uint32_t Blue(std::uint32_t rgb) { return rgb & 0xFF; }

// The still scene at the size asked for: the client area has it, and every pixel shows exactly its own texel
// of the picture (so a scene of one colour is that colour everywhere).
TEST(PreviewGame, StillSceneShowsEachTexelOnItsPixel) {
  const RunFolder folder;
  WriteBmp(folder.path / "scene.bmp", 400, 300, Pattern);
  Preview preview("--size 400x300 --scene \"" + (folder.path / "scene.bmp").string() + "\"", folder.path);
  ASSERT_NE(preview.window(), nullptr);
  RECT client{};
  GetClientRect(preview.window(), &client);
  EXPECT_EQ(client.right, 400);
  EXPECT_EQ(client.bottom, 300);

  std::vector<std::uint32_t> expected;
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 400; ++x) expected.push_back(Pattern(x, y));
  }
  std::vector<std::uint32_t> shown;
  WaitUntil([&] {
    shown = preview.Capture().pixels();
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

// The moving scene, light and heavy, is drawn and moves: sky above, the green floor below, and the next
// capture differs from the first.
TEST(PreviewGame, MovingSceneMoves) {
  for (const char* arguments : {"", "--heavy"}) {
    SCOPED_TRACE(arguments);
    const RunFolder folder;
    Preview preview(arguments, folder.path);
    ASSERT_NE(preview.window(), nullptr);
    Screenshot first = preview.Capture();
    const auto drawn = [](const Screenshot& shot) {
      const std::vector<std::uint32_t>& p = shot.pixels();
      return !p.empty() && Blue(p.front()) > Red(p.front()) && Green(p.back()) > Red(p.back()) &&
             Green(p.back()) > Blue(p.back());
    };
    EXPECT_TRUE(WaitUntil([&] {
      first = preview.Capture();
      return drawn(first);
    })) << "no sky above a floor: top left " << std::hex << first.pixels().front() << ", bottom right "
        << first.pixels().back();
    EXPECT_TRUE(WaitUntil([&] { return !(preview.Capture() == first); })) << "the scene stands still";
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
  IMAGE_NT_HEADERS32 nt{};
  std::vector<std::string> names;
  if (!read(0, dos) || !read(static_cast<std::size_t>(dos.e_lfanew), nt)) return names;
  const std::size_t sections = static_cast<std::size_t>(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
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
