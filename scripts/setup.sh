#!/usr/bin/env bash
# Installs what building and testing va_vazu needs on Debian or Ubuntu, skipping what is already there:
# CMake, the host compilers for the unit tests, MinGW-w64 for the 32-bit Windows build, 32-bit Wine with the
# 32-bit Mesa drivers that its Direct3D needs (and their 64-bit counterparts), Xvfb.
set -euo pipefail

# libgl1-mesa-dri:i386 is Mesa's software renderer for Wine's Direct3D; fonts-liberation gives Wine the
# metrics of Arial and Courier New, in which the overlay draws its texts.
# The 64-bit MinGW-w64, Wine and Mesa are for machines that run no 32-bit code (scripts/test.sh).
packages=(cmake make g++ clang googletest g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386
          libgl1-mesa-dri:i386 xvfb xauth x11-utils libxtst6 imagemagick python3 fonts-liberation
          g++-mingw-w64-x86-64 wine64 libgl1-mesa-dri)

# Wanted where the distribution has it: clang's runtime for the fuzzing test (skipped without it).
optional=(libclang-rt-dev)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
missing_optional=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

for p in "${optional[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing_optional+=("$p")
done

if [ ${#missing[@]} -eq 0 ] && [ ${#missing_optional[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
for p in "${missing_optional[@]}"; do
  if apt-cache show "$p" >/dev/null 2>&1; then
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "$p" >/dev/null || true
  fi
done
