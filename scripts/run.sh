#!/usr/bin/env bash
# Builds va_vazu.exe with the stand-in libraries and runs it under Wine, beside the preview game screen, a small
# Direct3D 8 game (with a sample picture at the dialog's default path, C:\test.jpg). Without a display it runs
# under Xvfb, saves a screenshot of the dialog to build/mingw/va_vazu.png and one of both windows to
# build/mingw/va_vazu_preview.png, and closes them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

cmake -S "$root" -B "$root/build/mingw" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" >/dev/null
cmake --build "$root/build/mingw" -j "$(nproc)" --target va_vazu standins va_vazu_preview

VA_BUILD="$root/build/mingw"
# Wide enough for the 800-pixel preview beside the dialog, which opens in the middle of the screen.
VA_XVFB_SCREEN=2560x1024x24
. "$root/scripts/wine-env.sh"
bin="$root/build/mingw/bin"

headless=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then headless=1; fi
trap va_stop_wine EXIT
va_start_xvfb
va_make_prefix

# A folder of its own with the program and the stand-ins beside it, where its library search finds them.
run="$root/build/mingw/run"
mkdir -p "$run"
cp "$bin/va_vazu.exe" "$bin/va_vazu_preview.exe" "$bin"/standins/full/*.dll "$run/"
cd "$run"

# The sample picture, made here rather than shipped, for the dialog's picture commands and END.
if [ ! -f "$WINEPREFIX/drive_c/test.jpg" ]; then
  convert -size 160x90 gradient:'#f0a030-#6030a0' -fill white -stroke black -pointsize 22 \
    -draw "text 14,54 'C:\\test.jpg'" "$WINEPREFIX/drive_c/test.jpg" ||
    echo "Could not make the sample picture C:\test.jpg" >&2
fi
# The game first, as a player would start it; it moves beside the dialog once that shows.
wine va_vazu_preview.exe --beside "Holvane Demo App" &
for _ in $(seq 1 100); do
  xwininfo -root -tree 2>/dev/null | grep -q '"va_vazu preview' && break
  sleep 0.1
done
if [ "$headless" -eq 0 ]; then
  wine va_vazu.exe
else
  wine va_vazu.exe &
  window=""
  for _ in $(seq 1 100); do
    window=$(xwininfo -name "Holvane Demo App" 2>/dev/null | awk '/Window id:/ {print $4}' || true)
    [ -n "$window" ] && break
    sleep 0.1
  done
  sleep 1
  import -window "${window:-root}" "$root/build/mingw/va_vazu.png"
  echo "Saved a screenshot of the dialog to build/mingw/va_vazu.png"
  import -window root -trim +repage "$root/build/mingw/va_vazu_preview.png"
  echo "Saved a screenshot of the dialog and the preview to build/mingw/va_vazu_preview.png"
fi
