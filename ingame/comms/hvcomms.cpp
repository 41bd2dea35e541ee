// The overlay's communication library, "hvcomms.dll": each call stores what it says in the state shared with every
// game that has the overlay (ingame/common/shared_state.h) and returns once it is stored, so what was sent before
// a game starts shows when it starts. A call is rejected (0) only when the overlay cannot take it: the shared
// state cannot be opened, the writers' lock is not had within a short wait, or a picture file cannot be read.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "ingame/comms/picture_loader.h"
#include "ingame/common/shared_section.h"
#include "ingame/common/shared_state.h"
#include "overlay/overlay_api.h"

using overlay::bool8;
using overlay::word;

namespace ingame {
namespace {

// How long a call waits for another writer (a second dialog, say) to finish its change. A writer holds the lock
// for microseconds; one that hangs holding it makes calls fail rather than hang the program.
constexpr DWORD kLockTimeoutMs = 250;

// The state section, opened by the first call and kept until the library is released.
SectionView g_state;
// The section of the last picture this library loaded, kept open so that games started later can still read it.
SectionView g_picture;

SharedState* State() {
  if (!g_state) g_state = OpenStateSection();
  return StateOf(g_state);
}

// Runs `change` on the state under the writers' lock; whether it could.
template <class Change>
bool Store(Change change) {
  SharedState* state = State();
  if (!state) return false;
  WritersLock lock(kLockTimeoutMs);
  if (!lock.held()) return false;
  change(*state);
  return true;
}

// The record as it stands; the caller holds the writers' lock, so no one changes it meanwhile.
SwitchRecord CurrentSwitches(const SharedState& state) {
  SwitchRecord record;
  std::memcpy(static_cast<void*>(&record), static_cast<const void*>(&state.switches.record), sizeof record);
  return record;
}

template <class Edit>
bool8 SetSwitches(Edit edit) {
  return Store([&](SharedState& state) {
           SwitchRecord record = CurrentSwitches(state);
           edit(record);
           Publish(state.switches, record);
         })
             ? 1
             : 0;
}

TextLook Look(std::uint32_t argb, bool8 blackBackground, std::uint8_t size, bool8 bold, bool8 monospace) {
  TextLook look;
  look.argb = argb;
  look.size = size;
  look.flags = static_cast<std::uint8_t>((blackBackground ? kBlackBackground : 0) | (bold ? kBold : 0) |
                                         (monospace ? kMonospace : 0));
  return look;
}

// Whether the process is still running; a game that died without clearing its screen entry is no game.
bool ProcessRunning(DWORD processId) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (!process) return false;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

}  // namespace
}  // namespace ingame

using namespace ingame;

extern "C" {

bool8 WINAPI HVSL_SetTextLineData(word x, word y, const char* text, std::uint32_t argb, bool8 blackBackground,
                                  std::uint8_t size, bool8 bold, bool8 monospace) {
  const LineRecord record = MakeLineRecord(x, y, text, Look(argb, blackBackground, size, bold, monospace));
  return Store([&](SharedState& state) { Publish(state.line, record); }) ? 1 : 0;
}

bool8 WINAPI HVSL_ShowText(bool8 show) {
  return SetSwitches([show](SwitchRecord& r) { r.lineShown = show ? 1 : 0; });
}

bool8 WINAPI HVML_SetTextMultilineData(word x, word y, const char* text, std::uint32_t argb, bool8 blackBackground,
                                       std::uint8_t fontSize, bool8 bold, word width, word height, bool8 monospace) {
  const BlockRecord record =
      MakeBlockRecord(x, y, width, height, text, Look(argb, blackBackground, fontSize, bold, monospace));
  return Store([&](SharedState& state) { Publish(state.block, record); }) ? 1 : 0;
}

bool8 WINAPI HVML_ShowText(bool8 show) {
  return SetSwitches([show](SwitchRecord& r) { r.blockShown = show ? 1 : 0; });
}

// Reads the file now, in the caller's process (a relative path means the caller's current folder), so that the
// games get pixels and never a path. A file that cannot be read leaves no picture: showing then draws nothing.
bool8 WINAPI HVPIC_LoadNewPicture(const char* path) {
  SharedState* state = State();
  if (!state) return 0;
  std::uint32_t generation = 0;
  if (!Store([&](SharedState& s) { generation = s.lastPictureGeneration.fetch_add(1) + 1; })) return 0;
  if (generation == 0) generation = 1;  // after 2^32 loads: 0 means "none"

  LoadedPicture loaded = LoadPicture(path, generation);
  const bool stored = Store([&](SharedState& s) { Publish(s.picture, loaded.record); });
  if (!stored) return 0;
  g_picture = static_cast<SectionView&&>(loaded.section);
  return loaded.record.generation != 0 ? 1 : 0;
}

bool8 WINAPI HVPIC_ShowPicturePos(std::uint32_t show, std::int32_t x, std::int32_t y) {
  return SetSwitches([&](SwitchRecord& r) {
    r.pictureShown = show ? 1 : 0;
    r.pictureX = x;
    r.pictureY = y;
  });
}

// The back-buffer size of the game that presented last. With no game running, nothing is written.
bool8 WINAPI HVSI_GetScreenSize(std::int32_t* width, std::int32_t* height) {
  SharedState* state = State();
  if (!state) return 0;
  const ScreenWord packed = state->screen.load(std::memory_order_acquire);
  const Screen screen = UnpackScreen(packed);
  if (screen.processId == 0) return 0;
  if (!ProcessRunning(screen.processId)) {
    ScreenWord expected = packed;
    state->screen.compare_exchange_strong(expected, 0);
    return 0;
  }
  if (width) *width = static_cast<std::int32_t>(screen.width);
  if (height) *height = static_cast<std::int32_t>(screen.height);
  return 1;
}

bool8 WINAPI HVSI_ShowFPS(std::uint32_t show) {
  return SetSwitches([show](SwitchRecord& r) { r.fpsShown = show ? 1 : 0; });
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // Released by the program: give the sections back. At the process's end the system does it.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    g_picture.Reset();
    g_state.Reset();
  }
  return TRUE;
}

}  // extern "C"

// Each entry point has exactly the type the dialog calls it through.
#define OVERLAY_MATCHES_CONTRACT(name) \
  static_assert(std::is_same_v<decltype(&name), overlay::name##_t>, #name " differs from overlay_api.h")
OVERLAY_MATCHES_CONTRACT(HVSL_SetTextLineData);
OVERLAY_MATCHES_CONTRACT(HVSL_ShowText);
OVERLAY_MATCHES_CONTRACT(HVML_SetTextMultilineData);
OVERLAY_MATCHES_CONTRACT(HVML_ShowText);
OVERLAY_MATCHES_CONTRACT(HVPIC_LoadNewPicture);
OVERLAY_MATCHES_CONTRACT(HVPIC_ShowPicturePos);
OVERLAY_MATCHES_CONTRACT(HVSI_GetScreenSize);
OVERLAY_MATCHES_CONTRACT(HVSI_ShowFPS);
