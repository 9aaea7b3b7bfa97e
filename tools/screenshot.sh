#!/bin/sh
# Builds the screenshot helper and grabs the main window, running on the
# built-in virtual board under a virtual X server.
#   tools/screenshot.sh <out.png> [chip [read|program]]
# The build directory is $VARNEL_BUILD_DIR (default build-screenshot).
set -e
if [ $# -lt 1 ] || [ $# -gt 3 ]; then
    echo "usage: $0 <out.png> [chip [read|program]]" >&2
    exit 2
fi
top=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEL_BUILD_DIR:-$top/build-screenshot}
out=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
if [ -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" >/dev/null # an existing build keeps its settings
else
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target varnel-screenshot -j"$(nproc)" >/dev/null
# The program reads and writes varnel.dat in the current directory.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/varnel-screenshot" "$out" ${2:+"$2"} ${3:+"$3"}
echo "$out"
