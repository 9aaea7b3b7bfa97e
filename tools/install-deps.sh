#!/bin/sh
# Installs what building, running and testing the program needs on Debian 12.
# Runs apt-get only when something is missing, so repeated runs are quick.
set -e
PACKAGES="build-essential cmake pkg-config qt6-base-dev qt6-multimedia-dev libgl-dev
 libqt6multimedia6 gstreamer1.0-plugins-base gstreamer1.0-plugins-good
 qt6-qpa-plugins fonts-liberation fontconfig libgtest-dev googletest
 clang libclang-rt-14-dev gputils srecord xvfb xauth
 desktop-file-utils appstream dpkg-dev file man-db openbox x11-utils xdotool"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
        || missing="$missing $p"
done
if [ -n "$missing" ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q $missing
fi
