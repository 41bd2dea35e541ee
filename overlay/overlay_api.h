// The entry points of the product's two libraries, as the program calls them. Each type is declared once,
// next to the exported name it is resolved by; the stand-in libraries implement the same declarations.
#pragma once

#include <windows.h>

#include <cstdint>

namespace overlay {

// An 8-bit truth value of the library calls: 1 or 0 when passed, any byte when returned.
using bool8 = std::uint8_t;
using word = std::uint16_t;

// Communication library "hvcomms.dll".
using HVSL_SetTextLineData_t = bool8(WINAPI*)(word x, word y, const char* text, std::uint32_t argb,
                                              bool8 blackBackground, std::uint8_t size, bool8 bold,
                                              bool8 monospace);
using HVSL_ShowText_t = bool8(WINAPI*)(bool8 show);
using HVML_SetTextMultilineData_t = bool8(WINAPI*)(word x, word y, const char* text, std::uint32_t argb,
                                                   bool8 blackBackground, std::uint8_t fontSize, bool8 bold,
                                                   word width, word height, bool8 monospace);
using HVML_ShowText_t = bool8(WINAPI*)(bool8 show);
using HVPIC_LoadNewPicture_t = bool8(WINAPI*)(const char* path);
using HVPIC_ShowPicturePos_t = bool8(WINAPI*)(std::uint32_t show, std::int32_t x, std::int32_t y);
using HVSI_GetScreenSize_t = bool8(WINAPI*)(std::int32_t* width, std::int32_t* height);
using HVSI_ShowFPS_t = bool8(WINAPI*)(std::uint32_t show);

// Hook library "HVHook.dll".
using HookOn_t = BOOL(WINAPI*)(HWND window, std::uint32_t reserved);
using HookOff_t = BOOL(WINAPI*)();

inline constexpr char kCommsLibraryName[] = "hvcomms.dll";
inline constexpr char kHookLibraryName[] = "HVHook.dll";

}  // namespace overlay
