#!/usr/bin/env bash
# Benchmarks va_vazu under Wine. The dialog against a bare dialog made from the same template: start-up, peak
# working set, size of the program, and the cost of the INSERT hotkey as the key log grows. The overlay in a
# game against the same game with the system's Direct3D alone, on Direct3D 8 and on Direct3D 9: frame rate,
# latency, steady state, memory and the communication library's calls. Prints Markdown tables, also saved to
# bench.md in the build folder. Not part of the tests: it takes twenty minutes or so for the dialog and for each
# Direct3D, and its figures depend on the machine and on what else runs on it.
#   VA_BENCH_BUILD      build folder (default build/bench; a Wine prefix of its own is made there)
#   VA_BENCH_CPU        the one processor the benchmark runs on (default: the last one)
#   VA_BENCH_PARTS      which parts run (default "dialog game")
#   VA_BENCH_DIRECT3D   the Direct3Ds of the in-game part: 8, 9 or 8,9 (the default); where the overlay's d3d9.dll is
#                       not built, the Direct3D 9 tables compare the game alone with itself and say so
#   VA_BENCH_GAME_ARGS  further arguments of the in-game driver: --pairs N, --run-ms MS, --quick, --profile,
#                       --frame-times, --memory, --latency, --device-calls (bench/game_bench.cpp says what each does)
#   further arguments go to the dialog's driver: --runs N, --rounds N, --levels N,N,..., --fill-by-hotkeys N
#   (bench/bench_driver.cpp says what each does)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

build="${VA_BENCH_BUILD:-$root/build/bench}"
began=$(date +%s)

# Where the kernel runs no 32-bit code, the same program built for 64-bit Windows, under 64-bit Wine.
toolchain="$root/cmake/toolchain-i686-mingw.cmake"
VA_BUILD="$build"
. "$root/scripts/wine-env.sh"
if ! va_runs_32bit; then
  echo "bench.sh: this machine runs no 32-bit code; measuring a 64-bit build under 64-bit Wine" >&2
  toolchain="$root/cmake/toolchain-x86_64-mingw.cmake"
  build="${VA_BENCH_BUILD:-$root/build/bench64}"
  VA_WINE64=1
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVA_VAZU_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target va_vazu_bench va_vazu_game_bench >/dev/null

# Everything measured runs on one processor: the programs, the driver, the Wine server and the X server. Left
# to the scheduler on this two-core machine, the two programs of a pair ran on different processors, and the
# same hotkey cost one of them up to a fifth more CPU time than the other, one or the other from run to run;
# on one processor their messages also pass without waking the other one. Other work on the machine still
# shares that processor: it lengthens wall times, CPU times far less.
cpu="${VA_BENCH_CPU:-$(( $(nproc) - 1 ))}"
taskset -cp "$cpu" $$ >/dev/null

VA_BUILD="$build"
. "$root/scripts/wine-env.sh"
trap va_stop_wine EXIT
# Always an Xvfb of its own, even from a desktop session: the benchmark holds INSERT down and moves the focus,
# and nothing else on the display should take either.
unset DISPLAY
# Room for a 1920 x 1080 game window.
VA_XVFB_SCREEN=2560x1440x24
va_start_xvfb
va_make_prefix
# A running wineserver, so that its start-up is not counted in the first measurement.
"$VA_WINE" wineboot >/dev/null 2>&1

load() { cut -d' ' -f1-3 /proc/loadavg; }

# The dialog against the bare dialog: one driver, which starts, drives and closes every program it measures.
bench_dialog() {
  local before
  before=$(load)
  echo "## The dialog"
  echo
  "$VA_WINE" "$build/bin/va_vazu_bench.exe" "$@"
  echo
  echo "On processor $cpu; the machine's load average (1, 5, 15 min) was $before before, $(load) after."
}

# The overlay in the preview game against the preview alone: one driver, which sets the overlay through its
# communication library and starts the game with and without the overlay's d3d8.dll, and on Direct3D 9 with and
# without its d3d9.dll.
bench_game() {
  local before
  before=$(load)
  echo "## The overlay in a game"
  echo
  # shellcheck disable=SC2086
  "$VA_WINE" "$build/bin/va_vazu_game_bench.exe" --direct3d "${VA_BENCH_DIRECT3D:-8,9}" ${VA_BENCH_GAME_ARGS:-}
  echo
  echo "On processor $cpu; the machine's load average (1, 5, 15 min) was $before before, $(load) after."
}

parts="${VA_BENCH_PARTS:-dialog game}"
{
  if [[ " $parts " == *" dialog "* ]]; then bench_dialog "$@"; echo; fi
  if [[ " $parts " == *" game "* ]]; then bench_game; fi
} | tee "$build/bench.md"
echo
echo "The benchmark took $(( $(date +%s) - began )) s, building included."
