#!/bin/bash
# Checks the library graph the build wrote ($1) against the list in the
# README ($2/README.md): the same lines, every library linking only libraries
# listed above it (so the graph has no cycle), none linking the window's, and
# no source reaching another folder by a relative path.
set -u
graph=$1
top=$2
fail=0

readme=$(sed -n '/^<!-- layers -->$/,/^<!-- \/layers -->$/p' "$top/README.md" \
    | sed -n '/^```$/,/^```$/p' | grep -v '^```$')
if [ "$readme" != "$(cat "$graph")" ]; then
    echo "README's library list differs from the build:"
    diff <(echo "$readme") "$graph"
    fail=1
fi

seen=" "
while IFS= read -r line; do
    lib=${line%%:*}
    for dep in ${line#*:}; do
        case "$seen" in
        *" $dep "*) ;;
        *) echo "$lib links $dep, which is not below it"; fail=1 ;;
        esac
        [ "$dep" = varnel_app ] && { echo "$lib links the window's library"; fail=1; }
    done
    seen="$seen$lib "
done <"$graph"

if grep -rn '#include "\.\./' "$top/src"; then
    echo "a source reaches another folder by a relative path"
    fail=1
fi
if grep -rn '#include "app/' "$top/src" | grep -v "^$top/src/app/"; then
    echo "a folder below the window includes the window's headers"
    fail=1
fi
exit $fail
