#!/bin/bash
# The window as a desktop shows it: on a real X server with a window manager
# that frames its windows, the whole frame, title bar included, is centred on
# the screen. The manager adds the frame only after the window is shown.
#   check-window-manager.sh PROGRAM
set -eu
program=$(realpath "$1")
if [ "${2:-}" != --inside ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$program" --inside
fi

work=$(mktemp -d)
pids=""
trap 'kill $pids 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

openbox >"$work/wm.log" 2>&1 &
pids="$pids $!"
for _ in $(seq 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
    cat "$work/wm.log" >&2
    fail "no window manager"
fi

(cd "$work" && QT_QPA_PLATFORM=xcb HOME="$work" \
    exec "$program" --simulate --quit-after 30000 >"$work/program.log" 2>&1) &
pids="$pids $!"

# Polls until the frame is centred: the program may take a moment to see
# its frame. Fails with the last geometry after 15 seconds.
last=""
for _ in $(seq 150); do
    sleep 0.1
    id=$(xdotool search --onlyvisible --name '^Varnel Programmer' 2>/dev/null | head -n 1) \
        || continue
    [ -n "$id" ] || continue
    extents=$(xprop -id "$id" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ' ')
    [ -n "$extents" ] || continue
    IFS=, read -r left right top bottom <<<"$extents"
    info=$(xwininfo -id "$id" 2>/dev/null) || continue
    x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
    y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
    w=$(sed -n 's/^ *Width: *//p' <<<"$info")
    h=$(sed -n 's/^ *Height: *//p' <<<"$info")
    # Twice the offset of the frame's centre from the screen's, in pixels.
    dx=$(( 2 * (x - left) + w + left + right - 1280 ))
    dy=$(( 2 * (y - top) + h + top + bottom - 1024 ))
    last="client ${w}x${h}+${x}+${y}, frame extents $extents, offset ($dx/2, $dy/2)"
    if [ "$top" -gt 0 ] && [ "${dx#-}" -le 3 ] && [ "${dy#-}" -le 3 ]; then
        echo "frame centred: $last"
        exit 0
    fi
done
cat "$work/program.log" >&2
fail "frame not centred: ${last:-no framed window appeared}"
