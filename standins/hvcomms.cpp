// Stand-in for the communication library "hvcomms.dll": records every call with its arguments and returns
// what the script file asks for. Which entry points are exported is decided by the .def file it is linked with.
//
// The script can make any entry point slow or show a message box of its own (standin.h); that happens first,
// so the arguments are read and recorded as they are when the call goes on.
#include "overlay/contract_check.h"
#include "overlay/overlay_api.h"
#include "standin.h"

#include <cstdint>
#include <string>

using overlay::bool8;
using overlay::word;

namespace {

constexpr char kLibraryName[] = "hvcomms.dll";

constexpr std::int32_t kDefaultScreenWidth = 800;
constexpr std::int32_t kDefaultScreenHeight = 600;

}  // namespace

extern "C" {

DWORD WINAPI HVSL_SetTextLineData(word x, word y, const char* text, std::uint32_t argb, bool8 blackBackground,
                                  std::uint8_t size, bool8 bold, bool8 monospace) {
  standin::Misbehave(kLibraryName, "HVSL_SetTextLineData");
  return standin::Call("HVSL_SetTextLineData")
      .Unsigned("x", x)
      .Unsigned("y", y)
      .Text("text", text)
      .Hex("argb", argb)
      .Unsigned("blackBackground", blackBackground)
      .Unsigned("size", size)
      .Unsigned("bold", bold)
      .Unsigned("monospace", monospace)
      .Finish();
}

DWORD WINAPI HVSL_ShowText(bool8 show) {
  standin::Misbehave(kLibraryName, "HVSL_ShowText");
  return standin::Call("HVSL_ShowText").Unsigned("show", show).Finish();
}

DWORD WINAPI HVML_SetTextMultilineData(word x, word y, const char* text, std::uint32_t argb, bool8 blackBackground,
                                       std::uint8_t fontSize, bool8 bold, word width, word height, bool8 monospace) {
  standin::Misbehave(kLibraryName, "HVML_SetTextMultilineData");
  return standin::Call("HVML_SetTextMultilineData")
      .Unsigned("x", x)
      .Unsigned("y", y)
      .Text("text", text)
      .Hex("argb", argb)
      .Unsigned("blackBackground", blackBackground)
      .Unsigned("fontSize", fontSize)
      .Unsigned("bold", bold)
      .Unsigned("width", width)
      .Unsigned("height", height)
      .Unsigned("monospace", monospace)
      .Finish();
}

DWORD WINAPI HVML_ShowText(bool8 show) {
  standin::Misbehave(kLibraryName, "HVML_ShowText");
  return standin::Call("HVML_ShowText").Unsigned("show", show).Finish();
}

DWORD WINAPI HVPIC_LoadNewPicture(const char* path) {
  standin::Misbehave(kLibraryName, "HVPIC_LoadNewPicture");
  return standin::Call("HVPIC_LoadNewPicture").Text("path", path).Finish();
}

DWORD WINAPI HVPIC_ShowPicturePos(std::uint32_t show, std::int32_t x, std::int32_t y) {
  standin::Misbehave(kLibraryName, "HVPIC_ShowPicturePos");
  return standin::Call("HVPIC_ShowPicturePos").Unsigned("show", show).Signed("x", x).Signed("y", y).Finish();
}

// Writes 800 x 600, or the scripted width and height; the script can also say to write nothing. The line
// tells what was written.
DWORD WINAPI HVSI_GetScreenSize(std::int32_t* width, std::int32_t* height) {
  standin::Misbehave(kLibraryName, "HVSI_GetScreenSize");
  standin::Call call("HVSI_GetScreenSize");
  call.Hex("width", static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(width)))
      .Hex("height", static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(height)));
  if (standin::ScriptValue("screen_size_written", 1) != 0 && width && height) {
    const auto w = static_cast<std::int32_t>(standin::ScriptValue("screen_width", kDefaultScreenWidth));
    const auto h = static_cast<std::int32_t>(standin::ScriptValue("screen_height", kDefaultScreenHeight));
    *width = w;
    *height = h;
    call.Raw("wrote", std::to_string(w) + "x" + std::to_string(h));
  } else {
    call.Raw("wrote", "none");
  }
  return call.Finish();
}

DWORD WINAPI HVSI_ShowFPS(std::uint32_t show) {
  standin::Misbehave(kLibraryName, "HVSI_ShowFPS");
  return standin::Call("HVSI_ShowFPS").Unsigned("show", show).Finish();
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  standin::OnDllMain(module, kLibraryName, reason, reserved);
  return TRUE;
}

}  // extern "C"

ENTRY_POINT_MATCHES_CONTRACT(HVSL_SetTextLineData);
ENTRY_POINT_MATCHES_CONTRACT(HVSL_ShowText);
ENTRY_POINT_MATCHES_CONTRACT(HVML_SetTextMultilineData);
ENTRY_POINT_MATCHES_CONTRACT(HVML_ShowText);
ENTRY_POINT_MATCHES_CONTRACT(HVPIC_LoadNewPicture);
ENTRY_POINT_MATCHES_CONTRACT(HVPIC_ShowPicturePos);
ENTRY_POINT_MATCHES_CONTRACT(HVSI_GetScreenSize);
ENTRY_POINT_MATCHES_CONTRACT(HVSI_ShowFPS);
