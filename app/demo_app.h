// The application object: it runs the main dialog once and ends when the dialog closes.
#pragma once

#include "framework/win_app.h"

class CDemoApp : public CWinApp {
 public:
  BOOL InitInstance() override;
};
