// How the dialog's fields become the arguments of the overlay library's calls. Window-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// 0xAARRGGBB: alpha in bits 31-24, red in 23-16, green in 15-8, blue in 7-0.
constexpr std::uint32_t PackArgb(std::uint8_t alpha, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return (std::uint32_t{alpha} << 24) | (std::uint32_t{red} << 16) | (std::uint32_t{green} << 8) | blue;
}

// Positions and box sizes travel as the low 16 bits of their 32-bit fields.
constexpr std::uint16_t LowWord(std::uint32_t value) { return static_cast<std::uint16_t>(value & 0xFFFFu); }

// A truth value of the library calls: 1 for any nonzero state, else 0.
constexpr std::uint8_t AsBool8(long long state) { return state != 0 ? 1 : 0; }

// The libraries answer with an 8-bit truth value; only the low byte of the register counts.
constexpr bool Accepted(std::uint32_t result) { return (result & 0xFFu) != 0; }

// The longest texts the overlay library takes, in bytes, not counting the terminator.
inline constexpr std::size_t kLineTextLimit = 127;
inline constexpr std::size_t kMultilineTextLimit = 1023;

// Tells whether a byte is the lead byte of a two-byte character in the ANSI code page.
using LeadBytePredicate = bool (*)(unsigned char byte);

// How the ANSI code page groups bytes into characters: one byte each; a lead byte and the byte after it
// (double-byte code pages such as 932); or sequences of one to four bytes (UTF-8, code page 65001, where no
// byte is a double-byte lead byte). The Windows side picks the rule of the code page in use.
struct CharacterRule {
  enum class Kind { SingleByte, DoubleByte, Utf8 };

  Kind kind = Kind::SingleByte;
  LeadBytePredicate isLeadByte = nullptr;  // for DoubleByte

  static constexpr CharacterRule SingleByte() { return {}; }
  static constexpr CharacterRule DoubleByte(LeadBytePredicate isLeadByte) { return {Kind::DoubleByte, isLeadByte}; }
  static constexpr CharacterRule Utf8() { return {Kind::Utf8, nullptr}; }
};

// The number of bytes of the character that begins at `at`, which must lie within `text`. A lead byte at the
// end of the text, and a UTF-8 sequence that is not well-formed (cut short, overlong, a surrogate, beyond
// U+10FFFF, a stray continuation byte), count as one byte.
std::size_t CharacterLength(std::string_view text, std::size_t at, CharacterRule rule);

// The length to which `text` is cut so that it holds at most `limit` bytes. The text is walked character by
// character from its start, and the cut goes before the character that would cross the limit, so the library
// never receives the first bytes of a character without the rest.
std::size_t ShortenedLength(std::string_view text, std::size_t limit, CharacterRule rule);

// Cuts `text` in place as ShortenedLength says; returns whether it was cut.
bool ShortenText(std::string& text, std::size_t limit, CharacterRule rule);

// "%i x %i": width, a space, the letter x, a space, height; both in signed decimal.
std::string FormatScreenSize(std::int32_t width, std::int32_t height);

}  // namespace core
