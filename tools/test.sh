#!/bin/sh
# Installs what is missing, then builds and runs the whole test suite twice
# (plain, and with AddressSanitizer + UndefinedBehaviorSanitizer), and runs
# the HEX fuzz target for a bounded time (VARNEL_FUZZ_SECONDS, default 60).
# The plain suite also installs into a temporary folder, runs the installed
# programs and builds the Debian package (tests/install/check-install.sh).
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S "$top" -B "$top/build-test" -DCMAKE_BUILD_TYPE=Debug
cmake --build "$top/build-test" -j"$jobs"
(cd "$top/build-test" && ctest --output-on-failure -j"$jobs" --timeout 300)

# Qt keeps some allocations for the life of the process; leaks are not ours.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S "$top" -B "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVARNEL_SANITIZE=ON
cmake --build "$top/build-asan" -j"$jobs"
(cd "$top/build-asan" && ctest --output-on-failure -j"$jobs" --timeout 600)

if [ -x "$top/tools/run-fuzz.sh" ]; then
    "$top/tools/run-fuzz.sh" "${VARNEL_FUZZ_SECONDS:-60}"
fi
echo "All tests passed."
