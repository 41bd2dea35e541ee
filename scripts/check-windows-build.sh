#!/usr/bin/env bash
# Configures, builds and installs the program as the Windows presets do on a machine without GoogleTest or
# Python: with the cross toolchain, in a build folder of its own, the tests off because GoogleTest is not
# found. A configure step that still reaches for GoogleTest, Python or a Linux path fails here. The toolchain
# is also offered a default manifest, as some MinGW-w64 distributions link one into every program: none may
# end up in va_vazu.exe.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/windows-check"
jobs=$(nproc)
fail() {
  echo "check-windows-build: $*" >&2
  exit 1
}

# The distribution's default-manifest.o, in a folder that GCC searches after the build's own, as it searches
# the distribution's library folder last: named at the end of every link command.
distribution="$build/distribution"
mkdir -p "$distribution"
printf '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"/>\n' \
  >"$distribution/manifest.xml"
printf '1 24 "manifest.xml"\n' >"$distribution/manifest.rc"
(cd "$distribution" && i686-w64-mingw32-windres manifest.rc -O coff -o default-manifest.o)
printf '#!/bin/sh\nexec "$@" "-B%s/"\n' "$distribution" >"$distribution/link"
chmod +x "$distribution/link"

# No GoogleTest sources (the default on Windows), and Python not to be had.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" \
  -DVA_VAZU_GOOGLETEST_DIR= -DCMAKE_DISABLE_FIND_PACKAGE_Python3=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_CXX_LINKER_LAUNCHER="$distribution/link" >/dev/null
cache="$build/CMakeCache.txt"
grep -qx 'VA_VAZU_TESTS:BOOL=OFF' "$cache" || fail "the tests are not off without GoogleTest"
reached=$(grep -iE '^[^#/].*(gtest|python|/usr/src)' "$cache" | grep -v '^CMAKE_DISABLE_FIND_PACKAGE_' || true)
[ -z "$reached" ] || fail "the configure step reached for what only the tests need: $reached"

cmake --build "$build" -j "$jobs" >/dev/null
rm -rf "$build/install"
cmake --install "$build" --prefix "$build/install" >/dev/null
resources=$(i686-w64-mingw32-windres -i "$build/install/va_vazu.exe" -O rc)
grep -q VERSIONINFO <<<"$resources" || fail "cannot read the resources of the installed va_vazu.exe"
! grep -q RT_MANIFEST <<<"$resources" || fail "va_vazu.exe carries a manifest"
echo "windows build: configured without GoogleTest or Python, built and installed; va_vazu.exe has no manifest"
