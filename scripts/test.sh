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

cmake -S "$root" -B "$root/build/mingw" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" >/dev/null
cmake --build "$root/build/mingw" -j "$jobs"
cmake --build "$root/build/mingw" --target package >/dev/null

VA_BUILD="$root/build/mingw"
. "$root/scripts/wine-env.sh"
trap va_stop_wine EXIT
va_start_xvfb
va_make_prefix
ctest --test-dir "$root/build/mingw" --output-on-failure
