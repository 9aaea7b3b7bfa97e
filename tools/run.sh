#!/bin/sh
# Installs what is missing, builds and starts the program. Without a board
# (the default) it talks to the built-in virtual board; set VARNEL_HARDWARE=1
# to use the serial port named in varnel.dat instead.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_TESTS=OFF
cmake --build "$top/build" --target varnelpro varnelpro-cli varnel-board -j"$(nproc)"
cd "$top/build"
if [ "${VARNEL_HARDWARE:-0}" = 1 ]; then
    exec ./varnelpro "$@"
fi
exec ./varnelpro --simulate "$@"
