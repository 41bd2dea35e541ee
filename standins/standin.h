// What both stand-in libraries share: the trace file and the script file, both beside the DLL itself.
//
// Trace: one line per event, appended to trace.log with a single WriteFile, so the two libraries (which share
// the file) never interleave parts of lines. A line is an event name followed by key=value pairs:
//   hvcomms.dll:attach
//   HVSL_ShowText show=0 ret=0x00000001
//   HVSL_SetTextLineData x=0 y=0 text[14]="this is a test" argb=0xFFFF0000 ... ret=0x00000001
//   HVHook.dll:detach by=FreeLibrary
// Texts are quoted with their byte length in brackets; backslash, quote, CR, LF and tab are escaped as \\ \" \r
// \n \t, every other byte outside 0x20-0x7E as \xHH.
//
// Script: standin.ini, read again on every call, so a test can change it while the program runs. Lines of
// key=value; '#' or ';' start a comment line, [section] lines are ignored. Numbers are decimal or 0x hex.
//   <EntryPoint>=<result>      what that entry point returns (full 32 bits; default 1)
//   screen_width=<n>           what HVSI_GetScreenSize writes as the width (default 800)
//   screen_height=<n>          ... and as the height (default 600)
//   screen_size_written=0      HVSI_GetScreenSize writes nothing (default 1)
// A communication-library entry point can also be made to misbehave, as a faulty library would, before it
// reads any of its arguments (see Misbehave):
//   <EntryPoint>_delay_ms=<n>  the call takes n milliseconds more, handling no messages meanwhile
//   <EntryPoint>_message_box=1 the call shows a message box of its own and returns once it is dismissed
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace standin {

// Called from each library's DllMain: remembers the module, so that the trace and the script are found in
// its folder, and records the attach or detach. A detach records whether FreeLibrary or the process's exit
// caused it, so a test can tell whether the program released the library.
void OnDllMain(HINSTANCE module, const char* libraryName, DWORD reason, LPVOID reserved);

// A numeric value of the script, or the fallback when the file or the key is absent or unreadable.
std::int64_t ScriptValue(const char* key, std::int64_t fallback);

// Runs the misbehaviour the script asks of this entry point, if any: first the delay (Sleep, so the caller's
// thread handles nothing meanwhile), then a message box without an owner, captioned with the library's name and
// saying "<entryPoint> is being called.", whose modal loop keeps dispatching the caller's messages. Called at the
// start of an entry point, so the arguments are read only after it, as a library would that uses them late.
void Misbehave(const char* libraryName, const char* entryPoint);

// The text as it appears in the trace, without the quotes.
std::string Escape(const char* text, std::size_t length);

// One entry-point call being recorded: the arguments are added in the contract's order, then Finish()
// appends the result, writes the line and returns that result. The result is the script's entry for the entry
// point, or `unscripted` when it has none.
class Call {
 public:
  explicit Call(const char* entryPoint);

  Call& Unsigned(const char* key, std::uint32_t value);
  Call& Signed(const char* key, std::int32_t value);
  Call& Hex(const char* key, std::uint32_t value);
  Call& Text(const char* key, const char* text);
  Call& Raw(const char* key, const std::string& value);

  DWORD Finish(DWORD unscripted = 1);

 private:
  const char* entryPoint_;
  std::string line_;
};

}  // namespace standin
