// The hotkeys INSERT, HOME and END reported by the hook library, and the key log they fill.
#include "app/demo_dlg.h"
#include "core/hotkeys.h"

// Runs the toggle of a hotkey that is down, logs it and shows the log. Always answers 0.
LRESULT CDemoDlg::OnHookKey(WPARAM key, LPARAM) {
  if (!m_librariesBound) return 0;
  for (const core::HotkeyRule& rule : core::kHotkeyRules) {
    // The hook library reports presses from anywhere; only a key this thread also sees down counts.
    if (key != rule.virtualKey || (::GetKeyState(static_cast<int>(rule.virtualKey)) & 0x80) == 0) continue;
    switch (rule.hotkey) {
      case core::Hotkey::LineText:
        ToggleLineText();
        break;
      case core::Hotkey::MultilineText:
        ToggleMultilineText();
        break;
      case core::Hotkey::Picture:
        TogglePicture();
        break;
    }
    // After the toggle, so that the read made when the picture is switched on cannot drop this line.
    m_strKeyLog += rule.logLine;
    UpdateData(FALSE);
    break;
  }
  return 0;
}

// Empties the key log; the other boxes keep their pending edits.
void CDemoDlg::OnClearLog() {
  UpdateData(TRUE);
  m_strKeyLog.clear();
  UpdateData(FALSE);
}
