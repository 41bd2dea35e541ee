// What the communication library's stand-in sends to the preview game screen, one message per entry-point
// call, and what the preview answers. Window-free, so both ends and the unit tests share it.
//
// Transport: WM_COPYDATA to the preview's window (found by its class name), with dwData = kCopyDataTag and the
// encoded message as the data; the preview's answer is the message's result. Every message has the same
// little-endian layout, whatever the command:
//
//   offset  size  field
//        0     2  version (kProtocolVersion)
//        2     2  command (Command)
//        4     4  x, signed (the texts' word positions arrive zero-extended)
//        8     4  y, signed
//       12     2  width of the text block's box
//       14     2  height of the text block's box
//       16     4  colour, 0xAARRGGBB
//       20     1  flags: bit 0 show, bit 1 black background, bit 2 bold, bit 3 monospace
//       21     1  text size
//       22     2  byte length n of the text
//       24     n  the text (a text element's text or a picture's path), 8-bit, no terminator
//
// A message of another version, of an unknown command, or whose length does not add up is rejected (answer 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace preview {

inline constexpr char kWindowClass[] = "VaVazuPreviewGameScreen";
// "VAVP" in memory order: tells the preview's WM_COPYDATA messages apart from anyone else's.
inline constexpr std::uint32_t kCopyDataTag = 0x50564156u;
inline constexpr std::uint16_t kProtocolVersion = 1;
inline constexpr std::size_t kHeaderSize = 24;

// The longest texts a message carries: the overlay's limits for the two texts, and a path for the picture.
inline constexpr std::size_t kLineTextLimit = 127;
inline constexpr std::size_t kBlockTextLimit = 1023;
inline constexpr std::size_t kPathLimit = 1023;

enum class Command : std::uint16_t {
  SetLine = 1,      // HVSL_SetTextLineData: x, y, look, text
  ShowLine = 2,     // HVSL_ShowText: show
  SetBlock = 3,     // HVML_SetTextMultilineData: x, y, width, height, look, text
  ShowBlock = 4,    // HVML_ShowText: show
  LoadPicture = 5,  // HVPIC_LoadNewPicture: text = the path, absolute
  ShowPicture = 6,  // HVPIC_ShowPicturePos: show, x, y
  ScreenSize = 7,   // HVSI_GetScreenSize: answered with PackScreenSize
  ShowFps = 8,      // HVSI_ShowFPS: show
};

// How a text is drawn.
struct TextLook {
  std::uint32_t argb = 0;
  bool blackBackground = false;
  std::uint8_t size = 0;
  bool bold = false;
  bool monospace = false;

  bool operator==(const TextLook& other) const;
};

struct Message {
  Command command = Command::ShowLine;
  bool show = false;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  TextLook look;
  std::string text;

  bool operator==(const Message& other) const;
};

// The longest text the command takes.
std::size_t TextLimit(Command command);

// The bytes to send. A text longer than the command's limit is cut to it.
std::vector<std::uint8_t> Encode(const Message& message);
// The message in `size` bytes at `data`, or nothing when they are not a valid message of this version.
std::optional<Message> Decode(const void* data, std::size_t size);

// The answer to ScreenSize: width in the low 16 bits, height in the high 16 (both 1-65535, so never 0, which
// means "no answer").
std::uint32_t PackScreenSize(int width, int height);
void UnpackScreenSize(std::uint32_t answer, int& width, int& height);

}  // namespace preview
