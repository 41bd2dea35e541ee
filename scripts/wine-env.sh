# Sourced by the other scripts: gives Wine a prefix of the project's own under the build folder and a
# display (an Xvfb of its own when none is set), with the settings that make it quick to drive from tests.
#   VA_BUILD        the build folder (required)
#   VA_XVFB_SCREEN  the size of the Xvfb screen, when one is started (default 1600x1024x24)

# Wine takes only an absolute prefix path.
export WINEPREFIX="$(realpath -m "$VA_BUILD")/wineprefix"
export WINEDEBUG=-all
# d3d8,d3d9=n,b: a d3d8.dll or d3d9.dll beside a game (the overlay's) is taken before Wine's own, as Windows
# does by itself; Wine reads this when a process starts, so it is set here for everything the tests start.
export WINEDLLOVERRIDES="mscoree=;mshtml=;d3d8,d3d9=n,b"
# Some machines' kernels run 64-bit user code only (certain virtual machines): 32-bit Wine cannot start there, and
# the tests run a 64-bit build under 64-bit Wine instead (VA_WINE64=1, set by scripts/test.sh).
if [ "${VA_WINE64:-0}" = 1 ]; then
  export WINEARCH=win64
  export WINELOADER=/usr/lib/wine/wine64
  export VA_WINE=/usr/lib/wine/wine64
else
  export WINEARCH=win32
  export VA_WINE=wine
fi

# Whether this machine runs 32-bit programs: the 32-bit Wine loader starts and says its version.
va_runs_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

va_start_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return
  fi
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 "${VA_XVFB_SCREEN:-1600x1024x24}" -nolisten tcp >/dev/null 2>&1 &
    VA_XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do
      xdpyinfo >/dev/null 2>&1 && return
      sleep 0.1
    done
    kill "$VA_XVFB_PID" 2>/dev/null || true
  done
  echo "Could not start Xvfb" >&2
  return 1
}

va_make_prefix() {
  if [ ! -f "$WINEPREFIX/.va_ready" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$VA_WINE" wineboot -i >/dev/null 2>&1
    # Without a window manager, Wine's managed windows freeze for two seconds whenever one is hidden or
    # destroyed; unmanaged windows also take the X keyboard focus when they come to the foreground.
    "$VA_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.va_ready"
  fi
}

va_stop_wine() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${VA_XVFB_PID:-}" ]; then
    kill "$VA_XVFB_PID" 2>/dev/null || true
  fi
}
