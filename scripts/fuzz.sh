#!/usr/bin/env bash
# A longer libFuzzer run of the number parsing and text shortening than the test command makes.
#   scripts/fuzz.sh [seconds]   (default 600)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
seconds=${1:-600}
cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DVA_VAZU_SANITIZE=ON >/dev/null
cmake --build "$root/build/native" --target core_fuzzer -j "$(nproc)"
corpus="$root/build/native/tests/fuzz/corpus"
mkdir -p "$corpus"
"$root/build/native/tests/fuzz/core_fuzzer" "$corpus" "$root/tests/fuzz/corpus" -max_total_time="$seconds" \
  -max_len=4096 -print_final_stats=1
