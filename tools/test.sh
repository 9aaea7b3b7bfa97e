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

# Runs the suite in build folder $1 with time-out $2, leaving out the cases
# that match $3 (a ctest regex). Once the packages are
# installed, only a lack of root can make a test skip itself (the cases that
# act as another user); as root a skipped test is a fault of the test set-up.
run_suite() {
    log="$1/ctest-output.txt"
    status=0
    (cd "$1" && ctest --output-on-failure -j"$jobs" --timeout "$2" ${3:+-E "$3"}) \
        >"$log" 2>&1 || status=$?
    cat "$log"
    [ "$status" -eq 0 ] || exit "$status"
    skipped=$(grep -c '\*\*\*Skipped' "$log" || true)
    if [ "$skipped" -gt 0 ]; then
        if [ "$(id -u)" -eq 0 ]; then
            echo "Tests were skipped although everything they need is here." >&2
            exit 1
        fi
    fi
    # Both builds run the same cases: the first count is the one to report.
    root_only=${root_only:-$skipped}
}
root_only=""

cmake -S "$top" -B "$top/build-test" -DCMAKE_BUILD_TYPE=Debug
cmake --build "$top/build-test" -j"$jobs"
run_suite "$top/build-test" 300

# Qt keeps some allocations for the life of the process; leaks are not ours.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S "$top" -B "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVARNEL_SANITIZE=ON
cmake --build "$top/build-asan" -j"$jobs"
# Cases that wait out the wire's own time and repeat a path another sanitized
# case takes (the same signal stop under two more signals; a lost "Q" after a
# late one; a cut-short reply, also run through the command line) run only in
# the plain suite: they cost half a minute and find nothing new here.
run_suite "$top/build-asan" 600 \
    'CliProgramSignal.*/(TERM|HUP)$|ALostClosingQIsOnlyAWarning|LinkWireSpeed\.CutShort'


if [ -x "$top/tools/run-fuzz.sh" ]; then
    "$top/tools/run-fuzz.sh" "${VARNEL_FUZZ_SECONDS:-60}"
fi
echo "All tests passed."
if [ "$(id -u)" -ne 0 ]; then
    echo "$root_only cases needed root and were skipped with their reasons above;"
    echo "run as root to run every case."
fi
