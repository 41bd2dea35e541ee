// The library below one of the overlay's stand-ins for a Direct3D's own library (d3d8.dll): a game loads the
// stand-in, which lies beside the game's .exe, in place of the system's, and every entry point goes on to the
// system's own library, loaded by its full path in the system folder, so that the stand-in never loads itself or
// another copy from the game's folder; or, when the player asks for it, to another library (a wrapper's, renamed)
// named in a text file beside the stand-in (d3d8_chain.txt).
//
// That file is the player's, and read as untrusted: at most its first 4 KiB, in UTF-8 or the ANSI code page, blank
// lines and lines starting with '#' or ';' skipped, spaces and quotes around a line trimmed. Its first remaining
// line names the library: a full path, or a path taken from the stand-in's folder. A setting that cannot be followed
// (the file unreadable, no library named, one that cannot be loaded, lacks the Direct3D's creating entry point, or
// is the overlay's stand-in again, by any name or as a copy) leaves the system's, with one line of debugger output.
//
// A wrapper that loads the stand-in's name gets the stand-in back: its calls go straight to the system's, whether
// they come from inside a call the stand-in made into it (on that thread) or from its code at any other time and on
// any other thread, told by their return address. That needs the stand-in's entry points built with frame
// pointers, which the system's stack walk follows.
#pragma once

#include <windows.h>

#include <atomic>

namespace ingame {

// What tells one Direct3D's stand-in and its setting apart.
struct ChainNames {
  const wchar_t* library;  // the system's library, and the stand-in's name: L"d3d8.dll"
  const wchar_t* setting;  // the player's file beside the stand-in: L"d3d8_chain.txt"
  const char* creator;     // the entry point every such library has: "Direct3DCreate8"
  const char* marker;      // the export only the overlay's stand-in has: "VaVazuOverlayDirect3D8"
  const wchar_t* api;      // for debugger output: L"Direct3D 8"
};

class CChainedLibrary {
 public:
  explicit CChainedLibrary(const ChainNames& names) : names_(names) {}
  CChainedLibrary(const CChainedLibrary&) = delete;
  CChainedLibrary& operator=(const CChainedLibrary&) = delete;

  // Whether the stand-in's entry point running on this thread was called from the chosen library: then it goes to
  // the system's.
  bool FromChosen() const;
  // The entry point `name` of the chosen library (`*chosen` true), or of the system's where the chosen one lacks it,
  // where there is none, and for calls from inside the chosen one; null where neither has it.
  FARPROC Find(const char* name, bool fromChosen, bool* chosen);

  // Marks the calling thread as inside the chosen library for a scope.
  class Inside {
   public:
    Inside();
    ~Inside();
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;
  };

 private:
  // The system's library and the chosen one (null: the system's), each loaded on first use (never from DllMain)
  // and kept for the process's life.
  HMODULE System();
  HMODULE Chosen();
  static BOOL CALLBACK LoadSystemOnce(PINIT_ONCE, PVOID self, PVOID*);
  static BOOL CALLBACK LoadChosenOnce(PINIT_ONCE, PVOID self, PVOID*);
  HMODULE LoadChosen() const;
  void Complain(const wchar_t* why) const;
  bool CalledFromChosen() const;

  const ChainNames names_;
  INIT_ONCE systemOnce_ = INIT_ONCE_STATIC_INIT;
  INIT_ONCE chosenOnce_ = INIT_ONCE_STATIC_INIT;
  HMODULE system_ = nullptr;
  // Written once, when the chosen library has been loaded; read by calls on any thread.
  std::atomic<HMODULE> chosen_{nullptr};
};

// Calls the entry point `name` of `library` with `arguments`, as the type `Function`; `otherwise` when neither
// library has it.
template <class Function, class Result, class... Arguments>
Result Forward(CChainedLibrary& library, const char* name, bool fromChosen, Result otherwise, Arguments... arguments) {
  bool chosen = false;
  const FARPROC address = library.Find(name, fromChosen, &chosen);
  if (!address) return otherwise;
  const auto function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
  if (!chosen) return function(arguments...);
  const CChainedLibrary::Inside inside;
  return function(arguments...);
}

}  // namespace ingame
