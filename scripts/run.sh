#!/usr/bin/env bash
# Builds va_vazu.exe with the overlay's own libraries and runs it under Wine, beside the preview game screen, a
# small Direct3D 8 game that gets the overlay through the overlay's d3d8.dll as any game does (with a sample
# picture at the dialog's default path, C:\test.jpg). Without a display it runs both under Xvfb, saves a
# screenshot of the dialog to build/mingw/va_vazu.png, then sends the dialog's texts, switches the frame rate on,
# presses INSERT, HOME and END in the game, saves what the game shows to build/mingw/va_vazu_preview.png, and
# closes them.
# (build/mingw64 in place of build/mingw where the machine runs no 32-bit code, under 64-bit Wine.)
#   VA_DIRECT3D  the Direct3D the game draws with: 8 (the default), 9 or 9ex (the extended Direct3D 9); on 9 and
#                9ex the overlay's d3d9.dll goes beside it in place of its d3d8.dll, when it is built
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

build="$root/build/mingw"
toolchain="$root/cmake/toolchain-i686-mingw.cmake"
VA_BUILD="$build"
. "$root/scripts/wine-env.sh"
if ! va_runs_32bit; then
  # A kernel that runs 64-bit user code only: the same program, built for 64-bit Windows, under 64-bit Wine.
  echo "run.sh: this machine runs no 32-bit code; running a 64-bit build under 64-bit Wine"
  build="$root/build/mingw64"
  toolchain="$root/cmake/toolchain-x86_64-mingw.cmake"
  VA_BUILD="$build"
  VA_WINE64=1
fi
direct3d="${VA_DIRECT3D:-8}"
case "$direct3d" in
  8) game_args=(); overlay_library=d3d8 ;;
  9) game_args=(--d3d9); overlay_library=d3d9 ;;
  9ex) game_args=(--d3d9ex); overlay_library=d3d9 ;;
  *) echo "run.sh: VA_DIRECT3D is 8, 9 or 9ex, not $direct3d" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
targets=(va_vazu overlay_hvcomms overlay_hvhook overlay_d3d8 va_vazu_preview va_vazu_demo)
if [ "$overlay_library" = d3d9 ]; then
  if cmake --build "$build" --target help | grep -qw overlay_d3d9; then
    targets+=(overlay_d3d9)
  else
    echo "run.sh: the overlay's d3d9.dll is not built here; the game draws on the system's Direct3D 9 alone" >&2
  fi
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

# Wide enough for the 800-pixel preview beside the dialog, which opens in the middle of the screen.
VA_XVFB_SCREEN=2560x1024x24
. "$root/scripts/wine-env.sh"
bin="$build/bin"

headless=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then headless=1; fi
trap va_stop_wine EXIT
va_start_xvfb
va_make_prefix

# The dialog in a folder of its own with the overlay's hvcomms.dll and HVHook.dll beside it, where its library
# search finds them; the game in another with the overlay's d3d8.dll (or d3d9.dll) beside it, where the game's
# own search finds it first (wine-env.sh tells Wine to take it: WINEDLLOVERRIDES=d3d8,d3d9=n,b).
run="$build/run"
rm -rf "$run/game"
mkdir -p "$run/dialog" "$run/game"
cp "$bin/va_vazu.exe" "$bin/overlay/hvcomms.dll" "$bin/overlay/HVHook.dll" "$run/dialog/"
cp "$bin/va_vazu_preview.exe" "$run/game/"
if [ -f "$bin/overlay/$overlay_library.dll" ]; then cp "$bin/overlay/$overlay_library.dll" "$run/game/"; fi

# The sample picture, made here rather than shipped, for the dialog's picture commands and END.
if [ ! -f "$WINEPREFIX/drive_c/test.jpg" ]; then
  convert -size 160x90 gradient:'#f0a030-#6030a0' -fill white -stroke black -pointsize 22 \
    -draw "text 14,54 'C:\\test.jpg'" "$WINEPREFIX/drive_c/test.jpg" ||
    echo "Could not make the sample picture C:\test.jpg" >&2
fi
# The game first, as a player would start it; it moves beside the dialog once that shows.
(cd "$run/game" && "$VA_WINE" va_vazu_preview.exe "${game_args[@]}" --beside "Holvane Demo App") &
for _ in $(seq 1 100); do
  xwininfo -root -tree 2>/dev/null | grep -q '"va_vazu preview' && break
  sleep 0.1
done
cd "$run/dialog"
if [ "$headless" -eq 0 ]; then
  "$VA_WINE" va_vazu.exe
else
  "$VA_WINE" va_vazu.exe &
  window=""
  for _ in $(seq 1 100); do
    window=$(xwininfo -name "Holvane Demo App" 2>/dev/null | awk '/Window id:/ {print $4}' || true)
    [ -n "$window" ] && break
    sleep 0.1
  done
  sleep 1
  import -window "${window:-root}" "$build/va_vazu.png"
  echo "Saved a screenshot of the dialog to ${build#"$root"/}/va_vazu.png"
  if "$VA_WINE" "$bin/va_vazu_demo.exe" "$run/game.bmp" && convert "$run/game.bmp" "$build/va_vazu_preview.png"; then
    if [ -f "$run/game/$overlay_library.dll" ]; then shown="with the line, the block, the picture and the frame rate"
    else shown="without the overlay, whose $overlay_library.dll is not built,"; fi
    echo "Saved a screenshot of the game $shown to ${build#"$root"/}/va_vazu_preview.png"
  else
    echo "Could not play the dialog and the game" >&2
    exit 1
  fi
fi
