# What both MinGW-w64 toolchain files share: they set MINGW_PREFIX (the compilers' prefix) and the Wine that runs
# the build's tests (VA_WINE_NAMES), then include this.
set(CMAKE_SYSTEM_NAME Windows)

# The win32 thread model: its runtimes lock with the system's own critical sections, where the posix model's
# link winpthread into every program that can throw (about 25 KB of va_vazu.exe). Nothing here uses C++
# threads; GoogleTest gets the one class it needs from cmake/googletest.cmake.
find_program(CMAKE_C_COMPILER NAMES ${MINGW_PREFIX}-gcc-win32 ${MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${MINGW_PREFIX}-g++-win32 ${MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests built for Windows run under Wine; scripts/wine-env.sh prepares its prefix and display.
find_program(WINE_PROGRAM NAMES ${VA_WINE_NAMES} PATHS /usr/lib/wine)
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
endif()
