// The ten entry points the dialog resolves, in the order it resolves them.
#pragma once

#include "overlay/overlay_api.h"

struct LibraryEntryTable {
  overlay::HVSL_SetTextLineData_t HVSL_SetTextLineData = nullptr;
  overlay::HVSL_ShowText_t HVSL_ShowText = nullptr;
  overlay::HVML_SetTextMultilineData_t HVML_SetTextMultilineData = nullptr;
  overlay::HVML_ShowText_t HVML_ShowText = nullptr;
  overlay::HVPIC_LoadNewPicture_t HVPIC_LoadNewPicture = nullptr;
  overlay::HVPIC_ShowPicturePos_t HVPIC_ShowPicturePos = nullptr;
  overlay::HVSI_GetScreenSize_t HVSI_GetScreenSize = nullptr;
  overlay::HVSI_ShowFPS_t HVSI_ShowFPS = nullptr;
  overlay::HookOn_t HookOn = nullptr;
  overlay::HookOff_t HookOff = nullptr;
};
