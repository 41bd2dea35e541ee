#include "core/overlay_values.h"

#include "core/field_rules.h"

namespace core {

std::size_t ShortenedLength(std::string_view text, std::size_t limit, LeadBytePredicate isLeadByte) {
  if (text.size() <= limit) return text.size();
  if (isLeadByte == nullptr) return limit;

  // Walk character by character from the start: a trail byte can look like a lead byte, so only a walk
  // from a known boundary tells where characters begin.
  std::size_t boundary = 0;
  while (boundary < limit) {
    const bool twoBytes = isLeadByte(static_cast<unsigned char>(text[boundary])) && boundary + 1 < text.size();
    const std::size_t next = boundary + (twoBytes ? 2 : 1);
    if (next > limit) break;
    boundary = next;
  }
  return boundary;
}

bool ShortenText(std::string& text, std::size_t limit, LeadBytePredicate isLeadByte) {
  const std::size_t length = ShortenedLength(text, limit, isLeadByte);
  if (length == text.size()) return false;
  text.resize(length);
  return true;
}

namespace {

// "%i": a minus sign for negative values, then the decimal digits of the magnitude.
std::string FormatSigned(std::int32_t value) {
  const std::uint32_t magnitude =
      value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  return (value < 0 ? "-" : "") + FormatUnsignedField(magnitude);
}

}  // namespace

std::string FormatScreenSize(std::int32_t width, std::int32_t height) {
  return FormatSigned(width) + " x " + FormatSigned(height);
}

}  // namespace core
