#include "core/field_rules.h"

namespace core {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<std::uint32_t> ParseUnsignedField(std::string_view text, std::uint32_t maximum) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  if (begin == end) return std::nullopt;

  std::uint64_t value = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    // Checked at every digit, so a long string of digits can never overflow the accumulator.
    if (value > maximum) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::string FormatUnsignedField(std::uint32_t value) { return std::to_string(value); }

}  // namespace core
