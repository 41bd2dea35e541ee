#!/usr/bin/env bash
# Builds va_vazu.exe with the stand-in libraries and runs it under Wine. Without a display it runs under
# Xvfb, saves a screenshot of the dialog to build/mingw/va_vazu.png and closes the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

cmake -S "$root" -B "$root/build/mingw" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" >/dev/null
cmake --build "$root/build/mingw" -j "$(nproc)" --target va_vazu standins

VA_BUILD="$root/build/mingw"
. "$root/scripts/wine-env.sh"
bin="$root/build/mingw/bin"

headless=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then headless=1; fi
trap va_stop_wine EXIT
va_start_xvfb
va_make_prefix

# The stand-ins sit beside the program, where the program's library search finds them first.
cp "$bin"/standins/full/*.dll "$bin/"

cd "$bin"
if [ "$headless" -eq 0 ]; then
  wine va_vazu.exe
else
  wine va_vazu.exe &
  sleep 3
  import -window root "$root/build/mingw/va_vazu.png"
  echo "Saved a screenshot to build/mingw/va_vazu.png"
fi
