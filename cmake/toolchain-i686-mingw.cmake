# Cross-compiles the 32-bit Windows program from Linux with MinGW-w64 (Debian: g++-mingw-w64-i686).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_PREFIX i686-w64-mingw32)
set(VA_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
