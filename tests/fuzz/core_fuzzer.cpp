// Coverage-guided fuzzing of the window-free logic that takes what users type: the number parser and its
// range rules, and the text shortening under single-byte, double-byte and UTF-8 code pages. The first input
// byte picks the case; the rest is the text. Each case checks the properties the program relies on, not just that
// nothing crashes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/field_rules.h"
#include "core/overlay_values.h"

namespace {

bool IsShiftJisLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsGbkLeadByte(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

void Require(bool condition) {
  if (!condition) std::abort();
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// What the parser must accept: blanks, then 1+ digits, then blanks, and a value within the maximum.
void CheckParse(std::string_view text, std::uint32_t maximum) {
  const auto parsed = core::ParseUnsignedField(text, maximum);
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  bool digitsOnly = begin < end;
  for (std::size_t i = begin; i < end && digitsOnly; ++i) digitsOnly = text[i] >= '0' && text[i] <= '9';
  if (!digitsOnly) {
    Require(!parsed);
    return;
  }
  // Value by long division of the digit string compared to the maximum, without overflow.
  std::size_t first = begin;
  while (first + 1 < end && text[first] == '0') ++first;
  const std::string digits(text.substr(first, end - first));
  const std::string limit = core::FormatUnsignedField(maximum);
  const bool fits = digits.size() < limit.size() || (digits.size() == limit.size() && digits <= limit);
  Require(parsed.has_value() == fits);
  if (parsed) Require(core::FormatUnsignedField(*parsed) == digits);
}

// The length of the UTF-8 character at `at`, found apart from the program's byte ranges: decoded by its bit
// pattern and checked against the shortest form, the surrogates and U+10FFFF. Anything else is one byte.
std::size_t DecodedUtf8Length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(at);
  std::size_t length = 1;
  if ((lead >> 5) == 0x6) length = 2;   // 110xxxxx
  if ((lead >> 4) == 0xE) length = 3;   // 1110xxxx
  if ((lead >> 3) == 0x1E) length = 4;  // 11110xxx
  if (length == 1 || at + length > text.size()) return 1;
  std::uint32_t codePoint = lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 1;
    codePoint = (codePoint << 6) | (byte(at + i) & 0x3Fu);
  }
  const std::uint32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  return codePoint < shortest[length] || codePoint > 0x10FFFF || surrogate ? 1 : length;
}

// The cut must be the last character boundary within the limit, walking with `step` from the start: no
// character is split, and none is dropped that would have fit.
template <class Step>
void CheckShorten(std::string_view text, std::size_t limit, core::CharacterRule rule, Step step) {
  const std::size_t length = core::ShortenedLength(text, limit, rule);
  if (text.size() <= limit) {
    Require(length == text.size());
    return;
  }
  std::size_t boundary = 0;
  for (std::size_t next = 0; next <= limit; next += step(next)) boundary = next;
  Require(length == boundary);
  Require(length <= limit && length + 4 > limit);
}

void CheckShorten(std::string_view text, std::size_t limit, core::LeadBytePredicate isLead) {
  CheckShorten(text, limit, core::CharacterRule::DoubleByte(isLead), [&](std::size_t at) {
    return isLead(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
  });
}

void CheckShortenUtf8(std::string_view text, std::size_t limit) {
  CheckShorten(text, limit, core::CharacterRule::Utf8(), [&](std::size_t at) { return DecodedUtf8Length(text, at); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 9) {
    case 0: CheckParse(text, 255); break;
    case 1: CheckParse(text, 0xFFFFFFFFu); break;
    case 2:
      CheckShorten(text, core::kLineTextLimit, core::CharacterRule::SingleByte(), [](std::size_t) { return 1; });
      break;
    case 3: CheckShorten(text, core::kLineTextLimit, &IsShiftJisLeadByte); break;
    case 4: CheckShorten(text, core::kMultilineTextLimit, &IsGbkLeadByte); break;
    case 5: CheckShorten(text, data[0] / 9u, &IsShiftJisLeadByte); break;
    case 6: CheckShortenUtf8(text, core::kLineTextLimit); break;
    case 7: CheckShortenUtf8(text, core::kMultilineTextLimit); break;
    default: CheckShortenUtf8(text, data[0] / 9u); break;
  }
  return 0;
}
