#include "core/field_rules.h"

#include <iterator>

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

std::string FormatUnsignedField(std::uint32_t value) {
  // By hand rather than through the C library's formatter, which would more than double the program's size.
  char digits[10];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  return std::string(std::make_reverse_iterator(digits + count), std::make_reverse_iterator(digits));
}

}  // namespace core
