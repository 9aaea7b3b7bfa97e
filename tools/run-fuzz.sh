#!/bin/sh
# Builds the HEX load fuzz target with clang and runs it for a bounded time.
# Usage: tools/run-fuzz.sh [seconds]   (default 60)
set -eu

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEL_FUZZ_BUILD:-$root/build-fuzz}
corpus=$build/fuzz-corpus

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVARNEL_FUZZ=ON >/dev/null
cmake --build "$build" --target FuzzHexLoad -j2

# Seed with the record shapes the loader knows; the fuzzer keeps what it finds.
mkdir -p "$corpus"
printf '\001:020010003412A8\r\n:084000000100020003000400AE\r\n:04420000AB00CD0042\r\n:02400E00F53F7C\r\n:00000001FF\r\n' \
    >"$corpus/seed-image"
printf '\301:0300000034125661\n:020000040000FA\n' >"$corpus/seed-odd"

exec "$build/tests/hexfile/FuzzHexLoad" "$corpus" \
    -max_total_time="$seconds" -max_len=4096 -timeout=5 -print_final_stats=1
