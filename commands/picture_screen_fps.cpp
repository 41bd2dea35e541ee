// The lower part of the dialog: the picture path, the screen-size question and the FPS display switch.
#include "app/demo_dlg.h"
#include "core/overlay_values.h"
#include "framework/message_box.h"

// Takes over the path (and every other pending edit); the picture uses it the next time it is shown.
void CDemoDlg::OnSetPicturePath() { UpdateData(TRUE); }

void CDemoDlg::OnGetScreenSize() {
  if (!m_librariesBound) return;
  // Zero unless the library writes them, so an answer that never came shows as "0 x 0".
  std::int32_t width = 0;
  std::int32_t height = 0;
  m_entryPoints.HVSI_GetScreenSize(&width, &height);
  m_strScreenSize = core::FormatScreenSize(width, height);
  UpdateData(FALSE);
}

void CDemoDlg::OnShowFps() {
  if (!m_librariesBound) return;
  UpdateData(TRUE);
  // The check box has already changed its state when its click arrives.
  const std::uint8_t result = m_entryPoints.HVSI_ShowFPS(m_ctlShowFps.GetCheck() == BST_CHECKED ? 1 : 0);
  if (!core::Accepted(result)) AfxMessageBox("HVSI_ShowFPS ERROR.", MB_OK, 0);
}
