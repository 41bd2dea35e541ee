// Coverage-guided fuzzing of the window-free logic that takes what users type: the number parser and its
// range rules, and the text shortening under single- and double-byte code pages. The first input byte picks
// the case; the rest is the text. Each case checks the properties the program relies on, not just that
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

void CheckShorten(std::string_view text, std::size_t limit, core::LeadBytePredicate isLead) {
  const std::size_t length = core::ShortenedLength(text, limit, isLead);
  Require(length <= text.size());
  Require(length <= limit || text.size() <= limit);
  if (text.size() <= limit) {
    Require(length == text.size());
    return;
  }
  if (isLead == nullptr) {
    Require(length == limit);
    return;
  }
  // The cut falls on a character boundary, at most one byte short of the limit.
  std::size_t at = 0;
  while (at < length) at += (isLead(static_cast<unsigned char>(text[at])) && at + 1 < text.size()) ? 2 : 1;
  Require(at == length);
  Require(length + 1 >= limit);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 6) {
    case 0: CheckParse(text, 255); break;
    case 1: CheckParse(text, 0xFFFFFFFFu); break;
    case 2: CheckShorten(text, core::kLineTextLimit, nullptr); break;
    case 3: CheckShorten(text, core::kLineTextLimit, &IsShiftJisLeadByte); break;
    case 4: CheckShorten(text, core::kMultilineTextLimit, &IsGbkLeadByte); break;
    default: CheckShorten(text, data[0] / 6u, &IsShiftJisLeadByte); break;
  }
  return 0;
}
