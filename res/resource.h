// Resource and control ids of va_vazu. Shared by the resource script and the code, so it holds only
// preprocessor definitions that both the resource compiler and the C++ compiler understand.
#pragma once

#define IDD_ABOUT               100
#define IDS_ABOUT_MENU          101
#define IDD_MAIN                102
#define IDI_APP                 128

#define IDM_ABOUT               0x0010

#define IDC_LINE_TEXT           1000
#define IDC_LINE_X              1003
#define IDC_LINE_Y              1004
#define IDC_LINE_BLACKBG        1009
#define IDC_KEY_LOG             1014
#define IDC_CLEAR_LOG           1015
#define IDC_LINE_BOLD           1016
#define IDC_SET_LINE            1017
#define IDC_LINE_RED            1018
#define IDC_LINE_GREEN          1019
#define IDC_LINE_BLUE           1020
#define IDC_LINE_ALPHA          1021
#define IDC_MULTI_RED           1022
#define IDC_LINE_PROPORTIONAL   1023
#define IDC_LINE_MONOSPACE      1024
#define IDC_LINE_SIZE           1025
#define IDC_MULTI_GREEN         1026
#define IDC_LINE_STATE          1027
#define IDC_MULTI_X             1028
#define IDC_MULTI_Y             1029
#define IDC_MULTI_WIDTH         1030
#define IDC_MULTI_HEIGHT        1031
#define IDC_MULTI_TEXT          1032
#define IDC_MULTI_FONTSIZE      1033
#define IDC_MULTI_BLACKBG       1034
#define IDC_SET_MULTI           1035
#define IDC_MULTI_STATE         1036
#define IDC_MULTI_BLUE          1037
#define IDC_MULTI_ALPHA         1038
#define IDC_MULTI_PROPORTIONAL  1039
#define IDC_MULTI_MONOSPACE     1040
#define IDC_PICTURE_PATH        1041
#define IDC_MULTI_BOLD          1042
#define IDC_SET_PICTURE         1043
#define IDC_SCREEN_SIZE         1044
#define IDC_GET_SCREEN_SIZE     1045
#define IDC_SHOW_FPS            1046

#ifndef IDC_STATIC
#define IDC_STATIC              (-1)
#endif
