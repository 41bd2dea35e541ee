// va_vazu_comms_race.exe LIBRARY ROUNDS OTHER_PID: loads the overlay's hvcomms.dll (LIBRARY) ROUNDS times, and each
// time releases eight threads together into their first calls of it, then frees it. The screen entry of the shared
// state names this process or OTHER_PID (both running) in turn and is never recent, so that HVSI_GetScreenSize asks
// the system about a process each time, from several threads at once.
//
// Exit code: 0 when every call answered as it should; 1 when one did not; 2 when the rounds could not be set up; the
// exception's code when the process crashed (the test program that starts it is not taken down with it).
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "ingame/common/shared_section.h"
#include "overlay/overlay_api.h"

namespace {

constexpr int kThreads = 8;

struct Round {
  HMODULE library = nullptr;
  HANDLE go = nullptr;
  DWORD pids[2] = {};
  ingame::SharedState* state = nullptr;
  std::atomic<int> wrong{0};
};

template <class Function>
Function Entry(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

DWORD WINAPI Caller(void* argument) {
  Round& round = *static_cast<Round*>(argument);
  const DWORD self = GetCurrentThreadId();
  WaitForSingleObject(round.go, INFINITE);
  // Set before the library is called, in turn by the threads: each GetScreenSize may find another process's entry.
  round.state->screen.store(ingame::PackScreen(round.pids[self % 2], 640, 480));
  round.state->screenTick.store(GetTickCount() - 60000);
  const auto ok = [&round](bool answered) {
    if (!answered) round.wrong.fetch_add(1);
  };
  ok(Entry<overlay::HVSL_SetTextLineData_t>(round.library, "HVSL_SetTextLineData")(1, 2, "race", 0xFF00FF00, 0, 16,
                                                                                     0, 0) == 1);
  std::int32_t width = 0;
  std::int32_t height = 0;
  Entry<overlay::HVSI_GetScreenSize_t>(round.library, "HVSI_GetScreenSize")(&width, &height);
  ok(Entry<overlay::HVSL_ShowText_t>(round.library, "HVSL_ShowText")(0) == 1);
  ok(Entry<overlay::HVSI_ShowFPS_t>(round.library, "HVSI_ShowFPS")(0) == 1);
  // A device path is rejected before any loading thread starts, which would keep the library loaded.
  ok(Entry<overlay::HVPIC_LoadNewPicture_t>(round.library, "HVPIC_LoadNewPicture")("\\\\.\\NUL") == 0);
  Entry<overlay::HVSI_GetScreenSize_t>(round.library, "HVSI_GetScreenSize")(&width, &height);
  return 0;
}

LONG WINAPI ExitOnCrash(EXCEPTION_POINTERS* exception) {
  std::fprintf(stderr, "crashed: 0x%08lX\n", static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode));
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(ExitOnCrash);
  const int rounds = std::atoi(argv[2]);
  // The test's own view of the state, held across the rounds: each round's library still opens its own.
  ingame::SectionView view = ingame::OpenStateSection();
  if (!view) return 2;
  int wrong = 0;
  for (int r = 0; r < rounds; ++r) {
    Round round;
    round.pids[0] = GetCurrentProcessId();
    round.pids[1] = static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10));
    round.state = ingame::StateOf(view);
    round.go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    round.library = LoadLibraryA(argv[1]);
    if (!round.go || !round.library) return 2;
    HANDLE threads[kThreads];
    for (HANDLE& thread : threads) {
      thread = CreateThread(nullptr, 0, Caller, &round, 0, nullptr);
      if (!thread) return 2;
    }
    Sleep(20);  // every thread waiting at the event
    SetEvent(round.go);
    if (WaitForMultipleObjects(kThreads, threads, TRUE, 10000) >= WAIT_OBJECT_0 + kThreads) return 2;
    for (HANDLE thread : threads) CloseHandle(thread);
    CloseHandle(round.go);
    FreeLibrary(round.library);
    wrong += round.wrong.load();
  }
  if (wrong) std::fprintf(stderr, "%d calls answered wrongly\n", wrong);
  return wrong ? 1 : 0;
}
