#!/bin/bash
# Installs a built tree into a temporary DESTDIR, starts the installed programs
# from another folder, validates the desktop files, renders the manual pages,
# tries the bash completion and builds the Debian package and checks its files.
#   tests/install/check-install.sh <build dir> [source dir]
set -u
build=$(cd "${1:?usage: check-install.sh <build dir> [source dir]}" && pwd)
src=$(cd "${2:-$(dirname "$0")/../..}" && pwd)
tmp=$(mktemp -d /tmp/varnel-install-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
ok() { echo "ok: $*"; }
not() { ! "$@"; }
check() { # check "what" command...
    local what=$1
    shift
    if "$@"; then ok "$what"; else fail "$what"; fi
}

for tool in desktop-file-validate update-mime-database appstreamcli dpkg-deb dpkg-shlibdeps man cpack; do
    command -v "$tool" >/dev/null || fail "$tool is missing (tools/install-deps.sh installs it)"
done
[ "$failures" -eq 0 ] || exit 1

cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cached CMAKE_PROJECT_VERSION)
appstream_id=$(cached VARNEL_APPSTREAM_ID)
[ -n "$version" ] && [ -n "$appstream_id" ] ||
    { echo "FAIL: no project version or AppStream id in $build" >&2; exit 1; }

# --- Install into a temporary prefix ---------------------------------------------
stage=$tmp/stage
if ! DESTDIR=$stage cmake --install "$build" --prefix /usr >"$tmp/install.log" 2>&1; then
    cat "$tmp/install.log" >&2
    fail "cmake --install"
    exit 1
fi
bin=$stage/usr/bin
data=$stage/usr/share/varnelpro
for f in bin/varnelpro bin/varnelpro-cli bin/varnel-board \
    share/varnelpro/VarnPro.html share/varnelpro/chin.wav share/varnelpro/pictures/socket.bmp \
    share/applications/varnelpro.desktop share/mime/packages/varnelpro.xml \
    share/icons/hicolor/48x48/apps/varnelpro.png \
    share/icons/hicolor/scalable/apps/varnelpro.svg \
    share/bash-completion/completions/varnelpro-cli \
    lib/udev/rules.d/60-varnelpro-latency.rules; do
    [ -e "$stage/usr/$f" ] || fail "not installed: $f"
done
# The rule sets the FTDI driver's timer to 1 ms when an adapter is plugged in.
rule=$stage/usr/lib/udev/rules.d/60-varnelpro-latency.rules
check "udev rule sets latency_timer to 1 for FTDI adapters" grep -qE \
    '^ACTION=="add", SUBSYSTEM=="usb-serial", DRIVER=="ftdi_sio", ATTR\{latency_timer\}="1"$' \
    "$rule"

# --- Desktop entry and metainfo, as installed ------------------------------------
check "desktop entry validates" \
    desktop-file-validate "$stage/usr/share/applications/varnelpro.desktop"
desktop=$stage/usr/share/applications/varnelpro.desktop
check "desktop entry opens a file (%f)" grep -qx 'Exec=varnelpro --desktop %f' "$desktop"
check "desktop entry declares the Intel HEX type" grep -qx 'MimeType=text/x-ihex;' "$desktop"
# The staged MIME package, compiled as the package's trigger compiles the
# system's: *.hex and a file that starts with a record map to the type the
# desktop entry declares.
mime=$stage/usr/share/mime
if update-mime-database -V "$mime" >"$tmp/mime.log" 2>&1; then
    ok "update-mime-database takes the MIME package"
else
    fail "update-mime-database"
    cat "$tmp/mime.log" >&2
fi
check "update-mime-database maps *.hex to text/x-ihex" grep -qx 'text/x-ihex:\*\.hex' \
    <(cut -d: -f2- "$mime/globs2")
check "update-mime-database knows a leading record of text/x-ihex" \
    grep -qF 'text/x-ihex' "$mime/magic"
check "the type is described" test -f "$mime/text/x-ihex.xml"
metainfo=$stage/usr/share/metainfo/$appstream_id.metainfo.xml
check "metainfo validates" appstreamcli validate --no-net "$metainfo"
check "metainfo names release $version" grep -q "<release version=\"$version\"" "$metainfo"

# --- The installed programs, started from another folder -------------------------
work=$tmp/work
mkdir -p "$work"
cd "$work" || exit 1
chips=$("$bin/varnelpro-cli" chips 2>&1)
check "varnelpro-cli chips lists 38 chips" \
    test "$(printf '%s\n' "$chips" | grep -c '^1[26]')" -eq 38
printf '%s\n' "$chips" | grep -q '^16F877 ' || fail "varnelpro-cli chips: no 16F877"

run_program() { # run_program <program> <log> [options]: on the virtual board, closes itself
    local program=$1 log=$2
    shift 2
    QT_LOGGING_RULES="varnelpro.files.info=true" timeout 60 \
        "$program" --simulate --quit-after 1500 "$@" >"$log" 2>&1
}
run_window() { run_program "$bin/varnelpro" "$@"; }
if run_window "$tmp/shell.log"; then ok "varnelpro --simulate starts and closes"; else
    fail "varnelpro --simulate (exit $?)"
    cat "$tmp/shell.log" >&2
fi
for f in click.wav chin.wav tick.wav chek.wav VarnPro.html; do
    grep -qF "$f -> file://$data/$f" "$tmp/shell.log" || fail "$f not taken from $data"
done
check "a shell start keeps varnel.dat in the current folder" test -f "$work/varnel.dat"
check "from a shell both folders start at the current folder" \
    grep -qF "ProgramDir $work/ HexDir $work/" "$tmp/shell.log"

# A sound in the current folder comes before the installed one.
cp "$src/res/sounds/tick.wav" "$work/tick.wav"
run_window "$tmp/local.log"
check "the current folder's tick.wav comes first" \
    grep -qF "tick.wav -> file://$work/tick.wav" "$tmp/local.log"

# From the desktop entry: varnel.dat in $XDG_CONFIG_HOME/varnelpro, nothing where started.
desk=$tmp/desk
mkdir -p "$desk" "$tmp/home"
cd "$desk" || exit 1
HOME=$tmp/home XDG_CONFIG_HOME=$tmp/config run_window "$tmp/desktop.log" --desktop ||
    fail "varnelpro --desktop (exit $?)"
check "from the menu HEX files start at home, the program in its settings folder" \
    grep -qF "ProgramDir $tmp/config/varnelpro/ HexDir $tmp/home/" "$tmp/desktop.log"
check "--desktop writes varnelpro/varnel.dat under XDG_CONFIG_HOME" \
    test "$(tr -d '\r' <"$tmp/config/varnelpro/varnel.dat" 2>/dev/null)" = 1
check "--desktop leaves the start folder empty" test -z "$(ls -A "$desk")"
# A settings folder that cannot be made: the program says so and goes on.
touch "$tmp/blocked"
XDG_CONFIG_HOME=$tmp/blocked run_window "$tmp/blocked.log" --desktop ||
    fail "varnelpro --desktop with a blocked settings folder (exit $?)"
check "a blocked settings folder is reported" \
    grep -q "cannot use the settings folder $tmp/blocked/varnelpro" "$tmp/blocked.log"

# Files missing from the installed data folder: the built-in copies stand in.
bare=$tmp/bare
cp -a "$stage" "$bare"
rm "$bare/usr/share/varnelpro/chin.wav" "$bare/usr/share/varnelpro/VarnPro.html"
mkdir -p "$tmp/elsewhere"
cd "$tmp/elsewhere" || exit 1
run_program "$bare/usr/bin/varnelpro" "$tmp/bare.log" ||
    fail "varnelpro with files missing from its data folder (exit $?)"
check "a missing chin.wav falls back to the built-in copy" \
    grep -qF "chin.wav -> qrc:/sounds/chin.wav" "$tmp/bare.log"
check "a missing help page falls back to the built-in copy" \
    grep -qF "VarnPro.html -> qrc:/help/VarnPro.html" "$tmp/bare.log"
check "the built-in copies are there" not grep -q "no built-in copy" "$tmp/bare.log"
check "the sounds still there come from the data folder" \
    grep -qF "click.wav -> file://$bare/usr/share/varnelpro/click.wav" "$tmp/bare.log"
cd "$work" || exit 1

# --- Manual pages: render cleanly and cover every option of --help --------------
for page in varnelpro varnelpro-cli varnel-board; do
    man=$stage/usr/share/man/man1/$page.1.gz
    if [ ! -f "$man" ]; then
        fail "no manual page $page.1.gz"
        continue
    fi
    out=$(MANWIDTH=80 man --warnings -l "$man" 2>"$tmp/man.err")
    if [ -s "$tmp/man.err" ] || ! grep -q '^NAME' <<<"$out"; then
        fail "man -l $page.1.gz"
        cat "$tmp/man.err" >&2
    else
        ok "man -l $page.1.gz renders"
    fi
    roff=$(zcat "$man" | sed 's/\\-/-/g')
    for option in $("$bin/$page" --help 2>&1 | grep -oE -- '--[a-z][a-z-]+' | sort -u); do
        grep -qF -- "$option" <<<"$roff" || fail "$page.1 does not describe $option"
    done
done

# --- Bash completion against the installed program ------------------------------
touch "$work/firmware.hex" "$work/notes.txt"
completion_case() { # completion_case "<expected word>" words... ("!word": must not appear)
    local expect=$1
    shift
    local got
    got=$(bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1));
                   _varnelpro_cli; printf "%s\n" "${COMPREPLY[@]}"' _ \
        "$stage/usr/share/bash-completion/completions/varnelpro-cli" "$bin/varnelpro-cli" "$@")
    if [[ $expect == !* ]]; then
        grep -qxF -- "${expect#!}" <<<"$got" && fail "completion of '$*' offers ${expect#!}"
    else
        grep -qxF -- "$expect" <<<"$got" || fail "completion of '$*' lacks $expect: $got"
    fi
    return 0
}
commands=$("$bin/varnelpro-cli" --help | awk '/^Commands:/{f=1;next} /^$/{f=0} f{print $1}')
for command in $commands; do
    completion_case "$command" ""
done
for option in $("$bin/varnelpro-cli" --help | grep -oE -- '--[a-z][a-z-]+' | sort -u); do
    completion_case "$option" read -
done
completion_case 16F877 read --chip 16F8
completion_case '!12C671' read --chip 16F8
completion_case 9 read --port ""
completion_case firmware.hex --chip 16F84 program ""
completion_case '!notes.txt' --chip 16F84 program ""
completion_case notes.txt read -o ""
completion_case '!read' hexinfo --chip 16F84 ""
ok "bash completion"

# --- Debian package --------------------------------------------------------------
deb=varnelpro_${version}_$(dpkg --print-architecture).deb
if ! cpack --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1; then
    cat "$tmp/cpack.log" >&2
    fail "cpack"
elif [ ! -f "$tmp/pkg/$deb" ]; then
    fail "no $deb: $(ls "$tmp/pkg")"
else
    ok "cpack built $deb"
    listing=$(dpkg-deb -c "$tmp/pkg/$deb" | awk '{ print $6 }')
    for f in ./usr/bin/varnelpro ./usr/bin/varnelpro-cli ./usr/bin/varnel-board \
        ./usr/share/varnelpro/VarnPro.html ./usr/share/varnelpro/click.wav \
        ./usr/share/varnelpro/chin.wav ./usr/share/varnelpro/tick.wav \
        ./usr/share/varnelpro/chek.wav ./usr/share/varnelpro/pictures/socket.bmp \
        ./usr/share/applications/varnelpro.desktop ./usr/share/mime/packages/varnelpro.xml \
        ./usr/share/icons/hicolor/16x16/apps/varnelpro.png \
        ./usr/share/icons/hicolor/256x256/apps/varnelpro.png \
        ./usr/share/icons/hicolor/scalable/apps/varnelpro.svg \
        "./usr/share/metainfo/$appstream_id.metainfo.xml" \
        ./usr/share/man/man1/varnelpro.1.gz ./usr/share/man/man1/varnelpro-cli.1.gz \
        ./usr/share/man/man1/varnel-board.1.gz \
        ./usr/share/bash-completion/completions/varnelpro-cli \
        ./usr/lib/udev/rules.d/60-varnelpro-latency.rules; do
        grep -qxF -- "$f" <<<"$listing" || fail "$deb lacks $f"
    done
    depends=$(dpkg-deb -f "$tmp/pkg/$deb" Depends)
    for lib in libqt6widgets6 libqt6multimedia6 libc6; do
        grep -q "$lib" <<<"$depends" || fail "$deb does not depend on $lib: $depends"
    done
    recommends=$(dpkg-deb -f "$tmp/pkg/$deb" Recommends)
    grep -qw "gstreamer1.0-plugins-good" <<<"$recommends" ||
        fail "$deb does not recommend the GStreamer sound plugins: $recommends"
    ok "package file list and dependencies"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures install check(s) failed" >&2
    exit 1
fi
echo "All install checks passed."
