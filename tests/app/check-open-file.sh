#!/bin/bash
# The real program on a real X server, started as the file manager starts it:
# with a HEX file. Its caption names the file once the chip is placed and the
# file loaded; a second start without --chip places the chip remembered
# beside varnel.dat.
#   check-open-file.sh PROGRAM
set -eu
program=$(realpath "$1")
if [ "${2:-}" != --inside ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$program" --inside
fi

work=$(mktemp -d)
pid=""
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    cat "$work/program.log" >&2 2>/dev/null || true
    exit 1
}

# A 16F84 program whose word 0 is HIGH LOW and word 1 0x2805, with its checksum.
record() { # record LOW HIGH
    local sum=$(( (4 + 0x$1 + 0x$2 + 0x05 + 0x28) & 255 ))
    printf ':04000000%s%s0528%02X\r\n' "$1" "$2" $(( (256 - sum) & 255 ))
}
write_hex() { # write_hex FILE LOW HIGH
    {
        record "$2" "$3"
        printf ':084000000100020003000400AE\r\n:02400E00F13F80\r\n:00000001FF\r\n'
    } >"$1"
}

# The window's title once it names the file, or nothing after 20 seconds.
caption_naming() {
    local name=$1 id title
    for _ in $(seq 200); do
        sleep 0.1
        id=$(xdotool search --onlyvisible --name "<$name>" 2>/dev/null | head -n 1) || continue
        [ -n "$id" ] || continue
        title=$(xdotool getwindowname "$id")
        echo "$title"
        return 0
    done
    return 1
}
start() { # start ARGS...: the program on the virtual board in $work
    (cd "$work" && QT_QPA_PLATFORM=xcb HOME="$work" \
        exec "$program" --simulate --quit-after 60000 "$@" >"$work/program.log" 2>&1) &
    pid=$!
}
stop() {
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""
}

mkdir -p "$work/project"
write_hex "$work/project/f.hex" 23 01

start --chip 16F84 project/f.hex
caption_naming f.hex >/dev/null || fail "varnelpro --chip 16F84 f.hex: no caption naming f.hex"
grep -qx '16F84' <(tr -d '\r' <"$work/varnelchip.dat") ||
    fail "the chip is not remembered beside varnel.dat"
echo "ok: --chip 16F84 f.hex loads the file"
stop

# Without --chip: the remembered chip is placed, then the file loads.
start "$work/project/f.hex"
caption_naming f.hex >/dev/null || fail "a second start without --chip does not load f.hex"
echo "ok: the remembered chip is placed and the file loaded"
stop

# An unknown chip is refused before any window.
if "$program" --chip 99X99 "$work/project/f.hex" >"$work/program.log" 2>&1; then
    fail "--chip 99X99 was accepted"
fi
grep -q 'unknown chip "99X99"' "$work/program.log" || fail "--chip 99X99: no message"
echo "ok: an unknown chip is refused"
