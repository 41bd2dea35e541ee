// How the dialog's number fields read and write their text. Window-free, so it is tested natively.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// Parses the text of an unsigned number box: optional blanks (spaces and tabs) around one or more decimal
// digits whose value is at most `maximum`. A sign, an empty box, any other character or a value above the
// maximum is rejected rather than wrapped, so what is sent is always what the user typed.
std::optional<std::uint32_t> ParseUnsignedField(std::string_view text, std::uint32_t maximum);

// The text an unsigned number box shows for `value`.
std::string FormatUnsignedField(std::uint32_t value);

}  // namespace core
