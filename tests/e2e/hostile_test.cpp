// What a hostile or careless user can feed the overlay: paths that would block whoever opened them, named objects
// someone else made first (open to others, or with pages only reserved), a picture file that claims a huge size,
// and a program that makes its first calls from many threads at once. Calls return at once, a game draws nothing of it and keeps running, and the overlay works again after.
//
// The objects' tests make the shared state themselves, so they run in a test program of their own (the ctest
// entry e2e.Hostile), started when no program holds the state.
#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

#include "game.h"
#include "harness.h"
#include "ingame/common/shared_section.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kScene = 0x204060;
constexpr char kGame[] = "--size 320x240 --clear 204060";
bool Unchanged(const Frame& f) { return f.valid() && f.Changed(kScene).right == 0; }
bool HasChange(const Frame& f) { return f.valid() && f.Changed(kScene).right != 0; }

// How long a call took, in milliseconds.
template <class Call>
double Timed(Call call) {
  LARGE_INTEGER frequency{};
  LARGE_INTEGER start{};
  LARGE_INTEGER end{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  call();
  QueryPerformanceCounter(&end);
  return static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// A named section made the way someone else might: with the access list `sddl`, and with its pages only reserved
// when `reserveOnly`.
HANDLE Squat(const char* name, const char* sddl, DWORD bytes, bool reserveOnly) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr)) return nullptr;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE | (reserveOnly ? SEC_RESERVE : 0),
                                      0, bytes, name);
  LocalFree(descriptor);
  return section;
}

std::string UserOnly() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  std::vector<BYTE> user(256);
  DWORD bytes = 0;
  GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &bytes);
  CloseHandle(token);
  char* sid = nullptr;
  ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid);
  const std::string sddl = std::string("D:P(A;;GA;;;") + sid + ")";
  LocalFree(sid);
  return sddl;
}

constexpr char kEveryone[] = "D:(A;;GA;;;WD)";

// The shared state and a picture section, made first by someone else (first in this program, before any call of
// the library has made the state): open to everyone, or with their pages only
// reserved (which on Windows read as an access violation). A game draws nothing of them and keeps running, the
// library's calls fail with 0 at once, and once they are gone the overlay works as ever.
TEST(HostileInputs, ObjectsMadeFirstBySomeoneElseAreNeverUsed) {
  HANDLE held = OpenFileMappingA(FILE_MAP_READ, FALSE, ingame::kStateName);
  if (held) CloseHandle(held);
  ASSERT_EQ(held, nullptr) << "a program of an earlier test still holds the shared state";
  const std::string userOnly = UserOnly();

  for (const auto& [sddl, reserveOnly] : {std::make_pair(std::string(kEveryone), false), std::make_pair(userOnly, true)}) {
    HANDLE squatted = Squat(ingame::kStateName, sddl.c_str(), sizeof(ingame::SharedState), reserveOnly);
    ASSERT_NE(squatted, nullptr);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "the state was made before the squatter";
    if (!reserveOnly) {
      // A state that would show a red line, were it believed.
      auto* state = static_cast<ingame::SharedState*>(MapViewOfFile(squatted, FILE_MAP_WRITE, 0, 0, 0));
      ASSERT_NE(state, nullptr);
      ingame::Publish(state->line, ingame::MakeLineRecord(40, 30, "HHHH", ingame::TextLook{0xFFFF0000, 20, 0}));
      ingame::Publish(state->switches, ingame::SwitchRecord{1, 0, 0, 0, 0, 0});
      UnmapViewOfFile(state);
    }
    {
      Game game(kGame);
      Overlay overlay;
      int result = -1;
      EXPECT_LT(Timed([&] { result = overlay.SetLine(40, 30, "HHHH", 0xFFFF0000); }), 50.0);
      EXPECT_EQ(result, 0) << sddl;
      EXPECT_EQ(overlay.ShowLine(true), 0);
      ASSERT_TRUE(game.WaitForFrames(30)) << game.Failure();
      EXPECT_TRUE(Unchanged(game.Capture())) << "drew from a state someone else made: " << sddl;
      EXPECT_EQ(game.Failure(), "");
    }
    CloseHandle(squatted);
  }

  // A picture section someone else made, named for a picture the state then shows.
  Game game(kGame);
  Overlay overlay;
  ASSERT_EQ(overlay.ShowLine(false), 1) << "the library does not work once the squatters are gone";
  ingame::SectionView section = ingame::OpenStateSection();
  ASSERT_TRUE(section);
  ingame::SharedState& state = *ingame::StateOf(section);
  const std::uint32_t generation = state.lastPictureGeneration.load() + 1000;
  const ingame::PictureHeader header{generation, 256, 256, 0};
  const DWORD bytes = sizeof header + 256 * 256 * 4;
  const std::string name = ingame::kPictureNamePrefix + std::to_string(generation);
  for (const auto& [sddl, reserveOnly] : {std::make_pair(userOnly, true), std::make_pair(std::string(kEveryone), false)}) {
    HANDLE squatted = Squat(name.c_str(), sddl.c_str(), bytes, reserveOnly);
    ASSERT_NE(squatted, nullptr);
    void* view = MapViewOfFile(squatted, FILE_MAP_WRITE, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    // A valid header, and pixels or none.
    ASSERT_NE(VirtualAlloc(view, reserveOnly ? 4096 : bytes, MEM_COMMIT, PAGE_READWRITE), nullptr);
    std::memcpy(view, &header, sizeof header);
    if (!reserveOnly) std::fill_n(reinterpret_cast<std::uint32_t*>(static_cast<char*>(view) + sizeof header), 256 * 256, 0xFFE0E020u);
    {
      ingame::WritersLock lock(state, 1000);
      ASSERT_TRUE(lock.held());
      ingame::Publish(state.picture, ingame::PictureRecord{generation, 256, 256});
      ingame::Publish(state.switches, ingame::SwitchRecord{0, 0, 1, 0, 10, 10});
    }
    ASSERT_TRUE(game.WaitForFrames(30)) << game.Failure();
    EXPECT_TRUE(Unchanged(game.Capture())) << "drew a picture someone else made: " << sddl;
    UnmapViewOfFile(view);
    CloseHandle(squatted);
  }
  overlay.ShowPicture(false, 0, 0);
  overlay.SetLine(40, 30, "HHHH", 0xFFFF0000);
  overlay.ShowLine(true);
  EXPECT_GT(game.WaitForFrame([](const Frame& f) { return f.Count(0xFF0000) > 0; }).Count(0xFF0000), 0);
  EXPECT_EQ(game.Failure(), "");
}

// Paths to a pipe nobody writes, to devices and to a network that is not there: each call returns at once and the
// picture is gone, and the library still reads a picture after them.
TEST(HostileInputs, PathsThatCouldBlockReturnAtOnceAndLeaveNoPicture) {
  HANDLE pipe = CreateNamedPipeA("\\\\.\\pipe\\va_vazu_hostile", PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                 0, 0, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  const fs::path picture = NewRunFolder() / "picture.bmp";
  WriteBmp(picture, 16, 16, [](int, int) { return 0xE0E020u; });
  Overlay overlay;
  Game game(kGame);
  std::vector<double> times;
  for (const char* path : {"\\\\.\\pipe\\va_vazu_hostile", "\\\\.\\COM1", "C:\\windows\\NUL", "CONIN$",
                           "\\\\no-such-host\\share\\picture.png", "\\\\?\\UNC\\no-such-host\\share\\p.png"}) {
    ASSERT_EQ(overlay.LoadPicture(picture.string()), 1);
    overlay.ShowPicture(true, 10, 10);
    ASSERT_TRUE(HasChange(game.WaitForFrame(HasChange))) << game.Failure();
    int result = -1;
    times.push_back(Timed([&] { result = overlay.LoadPicture(path); }));
    EXPECT_EQ(result, 0) << path;
    EXPECT_LT(times.back(), 50.0) << path;
    EXPECT_TRUE(Unchanged(game.WaitForFrame(Unchanged))) << path << " left a picture";
  }
  std::sort(times.begin(), times.end());
  EXPECT_LT(times[times.size() / 2], 1.0) << "median call time in ms";
  ASSERT_EQ(overlay.LoadPicture(picture.string()), 1);
  EXPECT_TRUE(HasChange(game.WaitForFrame(HasChange))) << "no picture read after the hostile paths";
  EXPECT_EQ(game.Failure(), "");
  CloseHandle(pipe);
}

// A file that claims to be a picture of 60,000 x 60,000 pixels, in a few bytes: it is never decoded, nothing shows,
// and the next picture loads.
TEST(HostileInputs, APictureClaimingAHugeSizeIsNotDecoded) {
  const fs::path folder = NewRunFolder();
  const fs::path bomb = folder / "bomb.png";
  {
    // The signature and a header chunk; what follows cannot matter.
    const unsigned char png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                 0, 0, 0xEA, 0x60, 0, 0, 0xEA, 0x60, 8, 6, 0, 0, 0};
    std::ofstream out(bomb, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png), sizeof png);
    // The header chunk's CRC, then a data chunk of zeros.
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 12; i < sizeof png; ++i) {
      crc ^= png[i];
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc = ~crc;
    const char tail[] = {static_cast<char>(crc >> 24), static_cast<char>(crc >> 16), static_cast<char>(crc >> 8),
                         static_cast<char>(crc)};
    out.write(tail, sizeof tail);
    out << std::string(4096, '\0');
  }
  const fs::path picture = folder / "picture.bmp";
  WriteBmp(picture, 16, 16, [](int, int) { return 0xE0E020u; });
  Overlay overlay;
  Game game(kGame);
  overlay.ShowPicture(true, 10, 10);
  EXPECT_LT(Timed([&] { overlay.LoadPicture(bomb.string()); }), 50.0);
  ASSERT_TRUE(game.WaitForFrames(20)) << game.Failure();
  EXPECT_TRUE(Unchanged(game.Capture()));
  ASSERT_EQ(overlay.LoadPicture(picture.string()), 1);
  EXPECT_TRUE(HasChange(game.WaitForFrame(HasChange))) << "no picture read after the claimed one";
  EXPECT_EQ(game.Failure(), "");
}

// Eight threads making their first calls of hvcomms.dll at the same moment, in 20 rounds of loading and freeing it:
// the library sets itself up once, whichever thread comes first, and every call answers as it should. The rounds
// run in a process of their own (comms_race.cpp), whose crash is its exit code.
TEST(HostileInputs, FirstCallsFromEightThreadsAtOnceSetTheLibraryUpOnce) {
  const fs::path helper = BinFolder() / "va_vazu_comms_race.exe";
  std::string commandLine = "\"" + helper.string() + "\" \"" + (BinFolder() / "overlay" / "hvcomms.dll").string() +
                            "\" 20 " + std::to_string(GetCurrentProcessId());
  for (int run = 0; run < 3; ++run) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(helper.string().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process))
        << GetLastError();
    const bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(process.hProcess, 0xDEAD);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_TRUE(ended) << "the rounds did not end within a minute";
    ASSERT_EQ(code, 0u) << "run " << run << " ended with 0x" << std::hex << code
                        << " (1: a call answered wrongly; 0xC0000005: an access violation)";
  }
}

}  // namespace
}  // namespace e2e
