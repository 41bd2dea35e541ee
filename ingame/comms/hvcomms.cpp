// The overlay's communication library, "hvcomms.dll": each call stores what it says in the state shared with every
// game that has the overlay (ingame/common/shared_state.h) and returns once it is stored, so what was sent before
// a game starts shows when it starts. A call is rejected (0) only when the overlay cannot take it: the shared
// state cannot be opened (or the section of its name is someone else's), the writers' lock is not had within a
// short wait, or a picture's path is not that of a file on a drive of this machine.
//
// Every call returns within a millisecond, whatever it is given: a picture's file is never touched on the caller's
// thread, but opened and read (which takes tens of milliseconds for a large one) on a thread of the library's
// own. Taking the writers' lock and storing a record cost no call into the system.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "ingame/comms/picture_loader.h"
#include "ingame/common/layout.h"
#include "ingame/common/shared_section.h"
#include "ingame/common/shared_state.h"
#include "overlay/overlay_api.h"

using overlay::bool8;
using overlay::word;

namespace ingame {
namespace {

// How long a call waits for another writer (a second dialog, say) to finish its change. A writer holds the lock
// for microseconds (a little longer when the system preempts it), and one that died is found out within
// milliseconds; one that hangs holding it makes calls fail rather than hang the program.
constexpr DWORD kLockTimeoutMs = 20;

// How recent a game's last present must be for it to count as running without asking the system, which takes a
// millisecond or more while a game keeps the system busy.
constexpr DWORD kPresentedLatelyMs = 500;

// The state section, opened by the first call that can and kept until the library is released. Any number of
// threads may make their first calls at once: each opens a view, the first to publish its view in g_stateView
// keeps it in g_state, and the others give theirs back. Every call reads g_stateView, without a lock.
SectionView g_state;
std::atomic<SharedState*> g_stateView{nullptr};
// The section of the last picture this library loaded, kept open so that games started later can still read it.
// Loading threads replace it: g_pictureLock guards it.
SectionView g_picture;
CRITICAL_SECTION g_pictureLock;

// The game that presented last, as a handle kept open: opening a process is slow, asking it is not. A call takes
// the handle out under g_presenterLock and puts it back when done, so that no two threads use or close it at once
// and the lock is never held across a call into the system.
DWORD g_presenterId = 0;
HANDLE g_presenter = nullptr;
SRWLOCK g_presenterLock = SRWLOCK_INIT;

// The shared state; null when it cannot be had now, and then tried again by the next call. No thread waits for
// another's opening.
SharedState* State() {
  if (SharedState* state = g_stateView.load(std::memory_order_acquire)) return state;
  SectionView opened = OpenStateSection();
  SharedState* state = StateOf(opened);
  if (!state) return nullptr;
  SharedState* published = nullptr;
  if (!g_stateView.compare_exchange_strong(published, state, std::memory_order_acq_rel)) return published;
  g_state = static_cast<SectionView&&>(opened);  // only the thread that published it gets here, once
  return state;
}

// Runs `change` on the state under the writers' lock; whether it could.
template <class Change>
bool Store(Change change) {
  SharedState* state = State();
  if (!state) return false;
  WritersLock lock(*state, kLockTimeoutMs);
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

// Whether the process is still running; a game that died without clearing its screen entry is no game. An id
// whose process has ended may have been given to a new one: that is asked once more.
bool ProcessRunning(DWORD processId) {
  HANDLE process = nullptr;
  AcquireSRWLockExclusive(&g_presenterLock);
  if (processId == g_presenterId) std::swap(process, g_presenter);
  ReleaseSRWLockExclusive(&g_presenterLock);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!process) process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process) return false;
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
      // Kept for the next call; whatever was kept meanwhile, by another thread, goes.
      AcquireSRWLockExclusive(&g_presenterLock);
      std::swap(process, g_presenter);
      g_presenterId = processId;
      ReleaseSRWLockExclusive(&g_presenterLock);
      if (process) CloseHandle(process);
      return true;
    }
    CloseHandle(process);
    process = nullptr;
  }
  return false;
}

// The path as the caller means it: a relative one is taken from the caller's current folder, which a loading
// thread must not depend on.
std::string FullPath(const char* path) {
  if (!path || !*path) return std::string();
  std::string full(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetFullPathNameA(path, static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (n == 0) return path;
    if (n < full.size()) {
      full.resize(n);
      return full;
    }
    full.resize(n);
  }
}

// Whether a newer picture than `generation` has been asked for since, by this program or another: the last one
// asked for is the one shown, whichever load ends first.
bool Superseded(std::uint32_t generation) {
  const SharedState* state = g_stateView.load(std::memory_order_acquire);
  return !state || state->lastPictureGeneration.load(std::memory_order_acquire) != generation;
}

// Shows the loaded picture (or none), unless a newer one was asked for meanwhile.
void Finish(LoadedPicture loaded, std::uint32_t generation) {
  bool shown = false;
  Store([&](SharedState& s) {
    if (Superseded(generation)) return;
    Publish(s.picture, loaded.record);
    shown = loaded.record.generation != 0;
  });
  if (!shown) return;
  EnterCriticalSection(&g_pictureLock);
  g_picture = static_cast<SectionView&&>(loaded.section);
  LeaveCriticalSection(&g_pictureLock);
}

// The loading thread and what it is asked to read next, guarded by g_pictureLock. Requests coming faster than
// pictures are read are folded into the latest: an older one would be dropped when it finished anyway.
struct LoadRequest {
  std::string path;
  std::uint32_t generation = 0;
};
LoadRequest g_pending;
bool g_loaderRunning = false;
HANDLE g_loaderWake = nullptr;

// How long the loading thread waits for another picture before it ends.
constexpr DWORD kLoaderIdleMs = 10000;

// Reads the pictures asked for, one after another, until none has been asked for a while. It holds a reference
// to this library, so that a program that releases the library meanwhile does not pull the code from under it;
// it lets go of it as it ends.
DWORD WINAPI LoaderThread(void* library) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  for (;;) {
    EnterCriticalSection(&g_pictureLock);
    LoadRequest request = static_cast<LoadRequest&&>(g_pending);
    g_pending = LoadRequest{};
    if (request.generation == 0) {
      LeaveCriticalSection(&g_pictureLock);
      if (WaitForSingleObject(g_loaderWake, kLoaderIdleMs) == WAIT_OBJECT_0) continue;
      EnterCriticalSection(&g_pictureLock);
      const bool idle = g_pending.generation == 0;
      if (idle) g_loaderRunning = false;
      LeaveCriticalSection(&g_pictureLock);
      if (idle) break;
      continue;
    }
    LeaveCriticalSection(&g_pictureLock);
    const std::uint32_t generation = request.generation;
    Finish(LoadPicture(request.path.c_str(), generation, [generation] { return Superseded(generation); }),
           generation);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  FreeLibraryAndExitThread(static_cast<HMODULE>(library), 0);
}

// Hands the picture to the loading thread, starting one when none runs; false when none could be started.
bool LoadInBackground(const std::string& path, std::uint32_t generation) {
  EnterCriticalSection(&g_pictureLock);
  g_pending = LoadRequest{path, generation};
  const bool running = g_loaderRunning;
  g_loaderRunning = true;
  LeaveCriticalSection(&g_pictureLock);
  if (running) return SetEvent(g_loaderWake) != FALSE;

  HMODULE library = nullptr;
  HANDLE thread = nullptr;
  if (g_loaderWake &&
      GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&LoaderThread), &library)) {
    thread = CreateThread(nullptr, 0, LoaderThread, library, 0, nullptr);
  }
  if (thread) {
    CloseHandle(thread);
    return true;
  }
  if (library) FreeLibrary(library);
  EnterCriticalSection(&g_pictureLock);
  g_loaderRunning = false;
  g_pending = LoadRequest{};
  LeaveCriticalSection(&g_pictureLock);
  return false;
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

// The picture is read in the caller's process (a relative path means the caller's current folder), so that the
// games get pixels and never a path. The old picture goes at once, and the new one shows once it is read, on the
// library's own thread: the call returns 1 once the file is handed to it. A path that is not a file on a drive of
// this machine (a network path, a pipe, a device) is rejected with 0 and never opened; a file that is missing or
// that the imaging component cannot read leaves no picture.
bool8 WINAPI HVPIC_LoadNewPicture(const char* path) {
  if (!State()) return 0;
  const std::string full = FullPath(path);
  std::uint32_t generation = 0;
  if (!Store([&](SharedState& s) {
        generation = s.lastPictureGeneration.fetch_add(1) + 1;
        if (generation == 0) generation = s.lastPictureGeneration.fetch_add(1) + 1;  // 0 means "none"
        Publish(s.picture, PictureRecord{});
      })) {
    return 0;
  }
  if (!IsDriveFilePath(full)) return 0;
  return LoadInBackground(full, generation) ? 1 : 0;
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
  // A game that presented within the last half second runs; only of one that has not is the system asked (a
  // game that ended in that half second is still reported).
  const bool presentedLately = GetTickCount() - state->screenTick.load(std::memory_order_relaxed) < kPresentedLatelyMs;
  if (!presentedLately && !ProcessRunning(screen.processId)) {
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
  if (reason == DLL_PROCESS_ATTACH) {
    InitializeCriticalSection(&g_pictureLock);
    g_loaderWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  }
  // Released by the program, and no loading thread left: give the sections back. At the process's end the system
  // does it.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    g_picture.Reset();
    g_stateView.store(nullptr);
    g_state.Reset();
    if (g_presenter) CloseHandle(g_presenter);
    g_presenter = nullptr;
    if (g_loaderWake) CloseHandle(g_loaderWake);
    DeleteCriticalSection(&g_pictureLock);
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
