// The three overlay visibility toggles, run by the hotkeys and, for the two texts, once at start-up.
#include <string>

#include "app/demo_dlg.h"
#include "res/resource.h"

namespace {

// Whether each element is shown in the game. They belong to the process, not to the dialog, and are never
// reset; start-up switches both texts off through their toggles, so they start as shown.
bool g_lineTextShown = true;
bool g_multilineTextShown = true;
bool g_pictureShown = false;

}  // namespace

void CDemoDlg::ToggleLineText() {
  g_lineTextShown = !g_lineTextShown;
  m_entryPoints.HVSL_ShowText(g_lineTextShown ? 1 : 0);
  SetDlgItemText(IDC_LINE_STATE, g_lineTextShown ? "INGAME SINGLE LINE ON" : "INGAME SINGLE LINE OFF");
}

void CDemoDlg::ToggleMultilineText() {
  g_multilineTextShown = !g_multilineTextShown;
  m_entryPoints.HVML_ShowText(g_multilineTextShown ? 1 : 0);
  SetDlgItemText(IDC_MULTI_STATE, g_multilineTextShown ? "INGAME MULTILINE ON" : "INGAME MULTILINE OFF");
}

void CDemoDlg::TogglePicture() {
  g_pictureShown = !g_pictureShown;
  if (g_pictureShown) {
    // Takes over every pending edit, so the picture comes from the path in the box at this moment.
    UpdateData(TRUE);
    // The library gets a path of its own: a message box it shows runs a modal loop in which "Set" or another
    // END can replace the field while the library may still read what it was given.
    const std::string path = m_strPicturePath;
    m_entryPoints.HVPIC_LoadNewPicture(path.c_str());
    m_entryPoints.HVPIC_ShowPicturePos(1, 10, 10);
  } else {
    m_entryPoints.HVPIC_ShowPicturePos(0, 0, 0);
  }
}
