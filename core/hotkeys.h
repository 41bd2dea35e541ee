// Which hotkeys the dialog acts on, and what each leaves in the key log. Window-free.
#pragma once

#include <cstdint>

namespace core {

enum class Hotkey { LineText, MultilineText, Picture };

struct HotkeyRule {
  std::uint32_t virtualKey;
  Hotkey hotkey;
  const char* logLine;
};

// In the order the handler tests them: INSERT, HOME, END.
inline constexpr HotkeyRule kHotkeyRules[] = {
    {0x2D, Hotkey::LineText, "<ins>\r\n"},
    {0x24, Hotkey::MultilineText, "<home>\r\n"},
    {0x23, Hotkey::Picture, "<end>\r\n"},
};

}  // namespace core
