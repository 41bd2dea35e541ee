# Cross-compiles the program for 64-bit Windows from Linux with MinGW-w64 (Debian: g++-mingw-w64-x86-64): the build
# the tests run under 64-bit Wine on machines whose kernel runs no 32-bit code (scripts/test.sh).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_PREFIX x86_64-w64-mingw32)
set(VA_WINE_NAMES wine64 wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
