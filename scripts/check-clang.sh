#!/usr/bin/env bash
# Compiles the program's and the overlay's sources with a second compiler, clang for the same 32-bit Windows target, with
# warnings as errors: code that one compiler accepts quietly and another would warn about shows up here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
gxx=$(command -v i686-w64-mingw32-g++-posix || command -v i686-w64-mingw32-g++)
gcc_lib=$(dirname "$("$gxx" -print-libgcc-file-name)")
cxx_include="$gcc_lib/include/c++"
if ! command -v clang++ >/dev/null || [ ! -d "$cxx_include" ]; then
  echo "clang++ or the MinGW C++ headers are missing: skipping the clang check"
  exit 0
fi
cd "$root"
count=0
for source in app/*.cpp commands/*.cpp framework/*.cpp core/*.cpp ingame/*/*.cpp tests/game/*.cpp; do
  clang++ --target=i686-w64-mingw32 -std=c++17 -fsyntax-only -Wall -Wextra -Wpedantic -Wshadow -Werror \
    -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601 -DSTRICT -I. \
    -isystem "$cxx_include" -isystem "$cxx_include/i686-w64-mingw32" -isystem /usr/i686-w64-mingw32/include \
    "$source"
  count=$((count + 1))
done
echo "clang: $count sources of va_vazu.exe, the overlay and the test game compile without warnings"
