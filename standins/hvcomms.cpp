// Stand-in for the communication library "hvcomms.dll": records every call with its arguments and returns
// what the script file asks for. Which entry points are exported is decided by the .def file it is linked with.
#include "contract_check.h"
#include "overlay/overlay_api.h"
#include "standin.h"

#include <cstdint>

using overlay::bool8;
using overlay::word;

extern "C" {

DWORD WINAPI HVSL_SetTextLineData(word x, word y, const char* text, std::uint32_t argb, bool8 blackBackground,
                                  std::uint8_t size, bool8 bold, bool8 monospace) {
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

DWORD WINAPI HVSL_ShowText(bool8 show) { return standin::Call("HVSL_ShowText").Unsigned("show", show).Finish(); }

DWORD WINAPI HVML_SetTextMultilineData(word x, word y, const char* text, std::uint32_t argb, bool8 blackBackground,
                                       std::uint8_t fontSize, bool8 bold, word width, word height, bool8 monospace) {
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

DWORD WINAPI HVML_ShowText(bool8 show) { return standin::Call("HVML_ShowText").Unsigned("show", show).Finish(); }

DWORD WINAPI HVPIC_LoadNewPicture(const char* path) {
  return standin::Call("HVPIC_LoadNewPicture").Text("path", path).Finish();
}

DWORD WINAPI HVPIC_ShowPicturePos(std::uint32_t show, std::int32_t x, std::int32_t y) {
  return standin::Call("HVPIC_ShowPicturePos").Unsigned("show", show).Signed("x", x).Signed("y", y).Finish();
}

// Writes the scripted size (unless the script says to write nothing); the line tells what was written.
DWORD WINAPI HVSI_GetScreenSize(std::int32_t* width, std::int32_t* height) {
  standin::Call call("HVSI_GetScreenSize");
  call.Hex("width", static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(width)))
      .Hex("height", static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(height)));
  if (standin::ScriptValue("screen_size_written", 1) != 0 && width && height) {
    std::int32_t w = static_cast<std::int32_t>(standin::ScriptValue("screen_width", 800));
    std::int32_t h = static_cast<std::int32_t>(standin::ScriptValue("screen_height", 600));
    *width = w;
    *height = h;
    call.Raw("wrote", std::to_string(w) + "x" + std::to_string(h));
  } else {
    call.Raw("wrote", "none");
  }
  return call.Finish();
}

DWORD WINAPI HVSI_ShowFPS(std::uint32_t show) { return standin::Call("HVSI_ShowFPS").Unsigned("show", show).Finish(); }

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  standin::OnDllMain(module, "hvcomms.dll", reason, reserved);
  return TRUE;
}

}  // extern "C"

STANDIN_MATCHES_CONTRACT(HVSL_SetTextLineData);
STANDIN_MATCHES_CONTRACT(HVSL_ShowText);
STANDIN_MATCHES_CONTRACT(HVML_SetTextMultilineData);
STANDIN_MATCHES_CONTRACT(HVML_ShowText);
STANDIN_MATCHES_CONTRACT(HVPIC_LoadNewPicture);
STANDIN_MATCHES_CONTRACT(HVPIC_ShowPicturePos);
STANDIN_MATCHES_CONTRACT(HVSI_GetScreenSize);
STANDIN_MATCHES_CONTRACT(HVSI_ShowFPS);
