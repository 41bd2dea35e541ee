#include "preview/protocol.h"

#include <algorithm>

namespace preview {
namespace {

enum Flag : std::uint8_t { kShow = 1, kBlackBackground = 2, kBold = 4, kMonospace = 8 };

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  Put16(out, value & 0xFFFFu);
  Put16(out, value >> 16);
}

std::uint32_t Get16(const std::uint8_t* at) { return at[0] | (std::uint32_t{at[1]} << 8); }

std::uint32_t Get32(const std::uint8_t* at) { return Get16(at) | (Get16(at + 2) << 16); }

bool KnownCommand(std::uint32_t command) {
  return command >= static_cast<std::uint32_t>(Command::SetLine) &&
         command <= static_cast<std::uint32_t>(Command::ShowFps);
}

}  // namespace

bool TextLook::operator==(const TextLook& other) const {
  return argb == other.argb && blackBackground == other.blackBackground && size == other.size &&
         bold == other.bold && monospace == other.monospace;
}

bool Message::operator==(const Message& other) const {
  return command == other.command && show == other.show && x == other.x && y == other.y &&
         width == other.width && height == other.height && look == other.look && text == other.text;
}

std::size_t TextLimit(Command command) {
  switch (command) {
    case Command::SetLine: return kLineTextLimit;
    case Command::SetBlock: return kBlockTextLimit;
    case Command::LoadPicture: return kPathLimit;
    default: return 0;
  }
}

std::vector<std::uint8_t> Encode(const Message& message) {
  const std::size_t length = std::min(message.text.size(), TextLimit(message.command));
  std::vector<std::uint8_t> out;
  out.reserve(kHeaderSize + length);
  Put16(out, kProtocolVersion);
  Put16(out, static_cast<std::uint32_t>(message.command));
  Put32(out, static_cast<std::uint32_t>(message.x));
  Put32(out, static_cast<std::uint32_t>(message.y));
  Put16(out, message.width);
  Put16(out, message.height);
  Put32(out, message.look.argb);
  out.push_back(static_cast<std::uint8_t>((message.show ? kShow : 0) |
                                          (message.look.blackBackground ? kBlackBackground : 0) |
                                          (message.look.bold ? kBold : 0) | (message.look.monospace ? kMonospace : 0)));
  out.push_back(message.look.size);
  Put16(out, static_cast<std::uint32_t>(length));
  out.insert(out.end(), message.text.begin(), message.text.begin() + static_cast<std::ptrdiff_t>(length));
  return out;
}

std::optional<Message> Decode(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (bytes == nullptr || size < kHeaderSize || Get16(bytes) != kProtocolVersion || !KnownCommand(Get16(bytes + 2))) {
    return std::nullopt;
  }
  Message message;
  message.command = static_cast<Command>(Get16(bytes + 2));
  const std::size_t length = Get16(bytes + 22);
  if (size != kHeaderSize + length || length > TextLimit(message.command)) return std::nullopt;
  message.x = static_cast<std::int32_t>(Get32(bytes + 4));
  message.y = static_cast<std::int32_t>(Get32(bytes + 8));
  message.width = static_cast<std::uint16_t>(Get16(bytes + 12));
  message.height = static_cast<std::uint16_t>(Get16(bytes + 14));
  message.look.argb = Get32(bytes + 16);
  const std::uint8_t flags = bytes[20];
  message.show = (flags & kShow) != 0;
  message.look.blackBackground = (flags & kBlackBackground) != 0;
  message.look.bold = (flags & kBold) != 0;
  message.look.monospace = (flags & kMonospace) != 0;
  message.look.size = bytes[21];
  message.text.assign(reinterpret_cast<const char*>(bytes + kHeaderSize), length);
  return message;
}

std::uint32_t PackScreenSize(int width, int height) {
  const auto clamp = [](int value) { return static_cast<std::uint32_t>(std::min(std::max(value, 1), 0xFFFF)); };
  return clamp(width) | (clamp(height) << 16);
}

void UnpackScreenSize(std::uint32_t answer, int& width, int& height) {
  width = static_cast<int>(answer & 0xFFFFu);
  height = static_cast<int>(answer >> 16);
}

}  // namespace preview
