#include "core/overlay_values.h"

#include "core/field_rules.h"

namespace core {

namespace {

// The length of the well-formed UTF-8 sequence that begins at `at`, or 1 when there is none there. The
// allowed range of the second byte rules out overlong forms (after 0xE0 and 0xF0), surrogates (after 0xED)
// and code points above U+10FFFF (after 0xF4).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  unsigned char secondLow = 0x80;
  unsigned char secondHigh = 0xBF;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) secondLow = 0xA0;
    if (lead == 0xED) secondHigh = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) secondLow = 0x90;
    if (lead == 0xF4) secondHigh = 0x8F;
  } else {
    return 1;
  }
  if (text.size() - at < length) return 1;
  if (byte(at + 1) < secondLow || byte(at + 1) > secondHigh) return 1;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 1;
  }
  return length;
}

// "%i": a minus sign for negative values, then the decimal digits of the magnitude.
std::string FormatSigned(std::int32_t value) {
  const std::uint32_t magnitude =
      value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  return (value < 0 ? "-" : "") + FormatUnsignedField(magnitude);
}

}  // namespace

std::size_t CharacterLength(std::string_view text, std::size_t at, CharacterRule rule) {
  switch (rule.kind) {
    case CharacterRule::Kind::DoubleByte: {
      const bool lead = rule.isLeadByte != nullptr && rule.isLeadByte(static_cast<unsigned char>(text[at]));
      return lead && at + 1 < text.size() ? 2 : 1;
    }
    case CharacterRule::Kind::Utf8:
      return Utf8SequenceLength(text, at);
    case CharacterRule::Kind::SingleByte:
      break;
  }
  return 1;
}

std::size_t ShortenedLength(std::string_view text, std::size_t limit, CharacterRule rule) {
  if (text.size() <= limit) return text.size();
  if (rule.kind == CharacterRule::Kind::SingleByte) return limit;

  // Walk character by character from the start: a trail byte can look like a lead byte, so only a walk
  // from a known boundary tells where characters begin.
  std::size_t boundary = 0;
  while (boundary < limit) {
    const std::size_t next = boundary + CharacterLength(text, boundary, rule);
    if (next > limit) break;
    boundary = next;
  }
  return boundary;
}

bool ShortenText(std::string& text, std::size_t limit, CharacterRule rule) {
  const std::size_t length = ShortenedLength(text, limit, rule);
  if (length == text.size()) return false;
  text.resize(length);
  return true;
}

std::string FormatScreenSize(std::int32_t width, std::int32_t height) {
  return FormatSigned(width) + " x " + FormatSigned(height);
}

}  // namespace core
