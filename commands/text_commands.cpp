// "Set Text Data" of the single-line and the multiline group: send the text and its look to the overlay.
#include <string>

#include "app/demo_dlg.h"
#include "core/overlay_values.h"
#include "framework/message_box.h"

namespace {

bool IsAnsiLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

// How the ANSI code page in use groups bytes into characters. With Windows' system-wide UTF-8 setting it is
// 65001, where IsDBCSLeadByte holds for no byte and only the UTF-8 walk keeps characters whole.
core::CharacterRule AnsiCharacterRule() {
  if (::GetACP() == CP_UTF8) return core::CharacterRule::Utf8();
  CPINFO info{};
  if (::GetCPInfo(CP_ACP, &info) && info.MaxCharSize > 1) return core::CharacterRule::DoubleByte(&IsAnsiLeadByte);
  return core::CharacterRule::SingleByte();
}

// 1 when the "Proportional Font" button is not checked: its partner is never read.
std::uint8_t Monospace(const CButton& proportional) { return proportional.GetCheck() != BST_CHECKED ? 1 : 0; }

}  // namespace

void CDemoDlg::OnSetLineText() {
  if (!m_librariesBound) return;
  UpdateData(TRUE);
  core::ShortenText(m_strLineText, core::kLineTextLimit, AnsiCharacterRule());
  const std::uint32_t colour = core::PackArgb(m_nLineAlpha, m_nLineRed, m_nLineGreen, m_nLineBlue);
  // The library gets a text of its own: a message box it shows runs a modal loop in which this command can run
  // again and replace the field while the library may still read what it was given.
  const std::string text = m_strLineText;
  const std::uint8_t result = m_entryPoints.HVSL_SetTextLineData(
      core::LowWord(m_nLineX), core::LowWord(m_nLineY), text.c_str(), colour,
      core::AsBool8(m_bLineBlackBg), m_nLineSize, core::AsBool8(m_ctlLineBold.GetCheck()),
      Monospace(m_ctlLineProportional));
  if (!core::Accepted(result)) AfxMessageBox("HVSL_SetTextLineData ERROR.", MB_OK, 0);
}

void CDemoDlg::OnSetMultilineText() {
  if (!m_librariesBound) return;
  UpdateData(TRUE);
  core::ShortenText(m_strMultiText, core::kMultilineTextLimit, AnsiCharacterRule());
  const std::uint32_t colour = core::PackArgb(m_nMultiAlpha, m_nMultiRed, m_nMultiGreen, m_nMultiBlue);
  const std::string text = m_strMultiText;  // the library's own, as in OnSetLineText
  const std::uint8_t result = m_entryPoints.HVML_SetTextMultilineData(
      core::LowWord(m_nMultiX), core::LowWord(m_nMultiY), text.c_str(), colour,
      core::AsBool8(m_bMultiBlackBg), m_nMultiFontSize, core::AsBool8(m_ctlMultiBold.GetCheck()),
      core::LowWord(m_nMultiWidth), core::LowWord(m_nMultiHeight), Monospace(m_ctlMultiProportional));
  if (!core::Accepted(result)) AfxMessageBox("HVML_SetTextMultilineData ERROR.", MB_OK, 0);
}
