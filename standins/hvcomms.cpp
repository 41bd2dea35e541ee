// Stand-in for the communication library "hvcomms.dll": records every call with its arguments and returns
// what the script file asks for. Which entry points are exported is decided by the .def file it is linked with.
//
// When the preview game screen (va_vazu_preview.exe) runs, every call also reaches it, as the real library
// reaches the game: one WM_COPYDATA message per call (preview/protocol.h), whose answer is what the call returns
// unless the script sets a result, and for HVSI_GetScreenSize the size written unless the script sets one. The
// trace line then says what the preview answered ("preview=..."). Without a preview nothing is sent and the
// calls behave and are recorded as before.
//
// The script can make any entry point slow or show a message box of its own (standin.h); that happens first,
// so the arguments are read and recorded as they are when the call goes on.
#include "contract_check.h"
#include "overlay/overlay_api.h"
#include "preview/protocol.h"
#include "standin.h"

#include <cstdint>
#include <string>
#include <vector>

using overlay::bool8;
using overlay::word;

namespace {

// How long one call waits for the preview. It answers within a frame; one that is hung or stopped costs the
// program no more than this per call.
constexpr UINT kPreviewTimeoutMs = 500;

constexpr char kLibraryName[] = "hvcomms.dll";

constexpr std::int32_t kDefaultScreenWidth = 800;
constexpr std::int32_t kDefaultScreenHeight = 600;

struct PreviewReply {
  bool running = false;  // a preview window was found
  bool answered = false;
  std::uint32_t answer = 0;
};

PreviewReply SendToPreview(const preview::Message& message) {
  PreviewReply reply;
  HWND window = FindWindowA(preview::kWindowClass, nullptr);
  if (!window) return reply;
  reply.running = true;
  std::vector<std::uint8_t> bytes = preview::Encode(message);
  COPYDATASTRUCT data{};
  data.dwData = preview::kCopyDataTag;
  data.cbData = static_cast<DWORD>(bytes.size());
  data.lpData = bytes.data();
  DWORD_PTR answer = 0;
  // SMTO_BLOCK: the program's thread handles nothing else while it waits, so no other call (a hotkey's, say)
  // can run in the middle of this one.
  if (SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_BLOCK | SMTO_ABORTIFHUNG,
                          kPreviewTimeoutMs, &answer)) {
    reply.answered = true;
    reply.answer = static_cast<std::uint32_t>(answer);
  }
  return reply;
}

// Records the preview's answer, when a preview runs, and gives the result to return when the script sets
// none: the preview's answer, or 1 without a preview or an answer.
DWORD Record(standin::Call& call, const PreviewReply& reply) {
  if (!reply.running) return 1;
  if (!reply.answered) {
    call.Raw("preview", "no-answer");
    return 1;
  }
  call.Hex("preview", reply.answer);
  return reply.answer;
}

preview::Message Show(preview::Command command, bool show) {
  preview::Message message;
  message.command = command;
  message.show = show;
  return message;
}

preview::Message Text(preview::Command command, word x, word y, const char* text, std::uint32_t argb,
                      bool8 blackBackground, std::uint8_t size, bool8 bold, bool8 monospace) {
  preview::Message message;
  message.command = command;
  message.x = x;
  message.y = y;
  message.text = text ? text : "";
  message.look.argb = argb;
  message.look.blackBackground = blackBackground != 0;
  message.look.size = size;
  message.look.bold = bold != 0;
  message.look.monospace = monospace != 0;
  return message;
}

// The path as the program means it: a relative one is taken from the program's current folder, which the
// preview does not share.
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

}  // namespace

extern "C" {

DWORD WINAPI HVSL_SetTextLineData(word x, word y, const char* text, std::uint32_t argb, bool8 blackBackground,
                                  std::uint8_t size, bool8 bold, bool8 monospace) {
  standin::Misbehave(kLibraryName, "HVSL_SetTextLineData");
  const PreviewReply reply = SendToPreview(
      Text(preview::Command::SetLine, x, y, text, argb, blackBackground, size, bold, monospace));
  standin::Call call("HVSL_SetTextLineData");
  call.Unsigned("x", x)
      .Unsigned("y", y)
      .Text("text", text)
      .Hex("argb", argb)
      .Unsigned("blackBackground", blackBackground)
      .Unsigned("size", size)
      .Unsigned("bold", bold)
      .Unsigned("monospace", monospace);
  return call.Finish(Record(call, reply));
}

DWORD WINAPI HVSL_ShowText(bool8 show) {
  standin::Misbehave(kLibraryName, "HVSL_ShowText");
  const PreviewReply reply = SendToPreview(Show(preview::Command::ShowLine, show != 0));
  standin::Call call("HVSL_ShowText");
  call.Unsigned("show", show);
  return call.Finish(Record(call, reply));
}

DWORD WINAPI HVML_SetTextMultilineData(word x, word y, const char* text, std::uint32_t argb, bool8 blackBackground,
                                       std::uint8_t fontSize, bool8 bold, word width, word height, bool8 monospace) {
  standin::Misbehave(kLibraryName, "HVML_SetTextMultilineData");
  preview::Message message =
      Text(preview::Command::SetBlock, x, y, text, argb, blackBackground, fontSize, bold, monospace);
  message.width = width;
  message.height = height;
  const PreviewReply reply = SendToPreview(message);
  standin::Call call("HVML_SetTextMultilineData");
  call.Unsigned("x", x)
      .Unsigned("y", y)
      .Text("text", text)
      .Hex("argb", argb)
      .Unsigned("blackBackground", blackBackground)
      .Unsigned("fontSize", fontSize)
      .Unsigned("bold", bold)
      .Unsigned("width", width)
      .Unsigned("height", height)
      .Unsigned("monospace", monospace);
  return call.Finish(Record(call, reply));
}

DWORD WINAPI HVML_ShowText(bool8 show) {
  standin::Misbehave(kLibraryName, "HVML_ShowText");
  const PreviewReply reply = SendToPreview(Show(preview::Command::ShowBlock, show != 0));
  standin::Call call("HVML_ShowText");
  call.Unsigned("show", show);
  return call.Finish(Record(call, reply));
}

DWORD WINAPI HVPIC_LoadNewPicture(const char* path) {
  standin::Misbehave(kLibraryName, "HVPIC_LoadNewPicture");
  preview::Message message;
  message.command = preview::Command::LoadPicture;
  message.text = FullPath(path);
  const PreviewReply reply = SendToPreview(message);
  standin::Call call("HVPIC_LoadNewPicture");
  call.Text("path", path);
  return call.Finish(Record(call, reply));
}

DWORD WINAPI HVPIC_ShowPicturePos(std::uint32_t show, std::int32_t x, std::int32_t y) {
  standin::Misbehave(kLibraryName, "HVPIC_ShowPicturePos");
  preview::Message message = Show(preview::Command::ShowPicture, show != 0);
  message.x = x;
  message.y = y;
  const PreviewReply reply = SendToPreview(message);
  standin::Call call("HVPIC_ShowPicturePos");
  call.Unsigned("show", show).Signed("x", x).Signed("y", y);
  return call.Finish(Record(call, reply));
}

// Writes the preview's screen size, or 800 x 600 without a preview; a scripted width or height takes the place
// of either, and the script can say to write nothing. The line tells what was written and what the preview said.
DWORD WINAPI HVSI_GetScreenSize(std::int32_t* width, std::int32_t* height) {
  standin::Misbehave(kLibraryName, "HVSI_GetScreenSize");
  preview::Message question;
  question.command = preview::Command::ScreenSize;
  const PreviewReply reply = SendToPreview(question);
  const bool previewSized = reply.answered && reply.answer != 0;
  int previewWidth = kDefaultScreenWidth;
  int previewHeight = kDefaultScreenHeight;
  if (previewSized) preview::UnpackScreenSize(reply.answer, previewWidth, previewHeight);

  standin::Call call("HVSI_GetScreenSize");
  call.Hex("width", static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(width)))
      .Hex("height", static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(height)));
  if (standin::ScriptValue("screen_size_written", 1) != 0 && width && height) {
    std::int32_t w = static_cast<std::int32_t>(standin::ScriptValue("screen_width", previewWidth));
    std::int32_t h = static_cast<std::int32_t>(standin::ScriptValue("screen_height", previewHeight));
    *width = w;
    *height = h;
    call.Raw("wrote", std::to_string(w) + "x" + std::to_string(h));
  } else {
    call.Raw("wrote", "none");
  }
  if (reply.running) {
    call.Raw("preview", previewSized ? std::to_string(previewWidth) + "x" + std::to_string(previewHeight)
                                     : std::string("no-answer"));
  }
  return call.Finish();
}

DWORD WINAPI HVSI_ShowFPS(std::uint32_t show) {
  standin::Misbehave(kLibraryName, "HVSI_ShowFPS");
  const PreviewReply reply = SendToPreview(Show(preview::Command::ShowFps, show != 0));
  standin::Call call("HVSI_ShowFPS");
  call.Unsigned("show", show);
  return call.Finish(Record(call, reply));
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  standin::OnDllMain(module, kLibraryName, reason, reserved);
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
