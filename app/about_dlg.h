// The About box: the program's icon, name and notice, and OK.
#pragma once

#include "framework/dialog.h"
#include "res/resource.h"

class CAboutDlg : public CDialog {
 public:
  CAboutDlg() : CDialog(IDD_ABOUT) {}
};
