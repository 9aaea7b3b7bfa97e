#!/bin/sh
# Installs what is missing, builds a release tree and makes the Debian package
# varnelpro_<version>_<arch>.deb in the top folder, ready for
#   sudo apt install ./varnelpro_*.deb
# The build directory is $VARNEL_BUILD_DIR (default build-package).
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEL_BUILD_DIR:-$top/build-package}
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARNEL_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/package/*.deb
cpack --config "$build/CPackConfig.cmake" -B "$build/package"
for deb in "$build"/package/*.deb; do
    mv "$deb" "$top/"
    echo "$top/$(basename "$deb")"
done
