#!/usr/bin/env bash
# Builds everything and runs every test: the unit tests of the window-free logic natively under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the 32-bit program's tests under Wine in Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

jobs=$(nproc)

cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DVA_VAZU_SANITIZE=ON >/dev/null
cmake --build "$root/build/native" -j "$jobs"
ctest --test-dir "$root/build/native" --output-on-failure

"$root/scripts/check-clang.sh"
"$root/scripts/check-windows-build.sh"

VA_BUILD="$root/build/mingw"
. "$root/scripts/wine-env.sh"
# Some machines' kernels run 64-bit user code only (certain virtual machines), and 32-bit Wine cannot start there:
# the 32-bit program is then built and packaged without its tests, and the same sources, built for 64-bit Windows,
# are tested under 64-bit Wine, whose Direct3D 8 is the same implementation.
windows_tests=ON
if ! va_runs_32bit; then windows_tests=OFF; fi
cmake -S "$root" -B "$root/build/mingw" -DCMAKE_BUILD_TYPE=Release -DVA_VAZU_TESTS=$windows_tests \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" >/dev/null
cmake --build "$root/build/mingw" -j "$jobs"
cmake --build "$root/build/mingw" --target package >/dev/null

if [ "$windows_tests" = OFF ]; then
  echo "test.sh: this machine runs no 32-bit code; the Windows tests run a 64-bit build under 64-bit Wine"
  VA_BUILD="$root/build/mingw64"
  cmake -S "$root" -B "$VA_BUILD" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-mingw.cmake" >/dev/null
  cmake --build "$VA_BUILD" -j "$jobs"
  cmake --build "$VA_BUILD" --target package >/dev/null
  VA_WINE64=1
  . "$root/scripts/wine-env.sh"
fi
trap va_stop_wine EXIT
va_start_xvfb
va_make_prefix
ctest --test-dir "$VA_BUILD" --output-on-failure
