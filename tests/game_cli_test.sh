#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The game's command line with no display: help and version on standard output with status 0,
# a mistake as one problem line and the usage line on standard error with status 2, a missing
# display as one line with status 1.
# Usage: game_cli_test.sh GAME VERSION
set -u
game=$1 version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
usage='usage: kulimbara [--debug] [--windowed] [--mute] [--max-fps N] [--replay FILE]
       kulimbara --help | --version'
failures=0
check() {  # STATUS STDOUT STDERR ARGS...: the exact outputs, '*' for any
    local want=$1 out=$2 err=$3
    shift 3
    "$game" "$@" >"$scratch/out" 2>"$scratch/err" </dev/null
    local got=$?
    if [ "$got" -ne "$want" ] || { [ "$out" != '*' ] && [ "$(<"$scratch/out")" != "$out" ]; } ||
        { [ "$err" != '*' ] && [ "$(<"$scratch/err")" != "$err" ]; }; then
        echo "FAIL: '$*' gave status $got, wanted $want, and printed:"
        cat "$scratch/out" "$scratch/err"
        failures=$((failures + 1))
    fi
}

unset DISPLAY
check 0 "kulimbara $version" "" --version
for help in --help -h "--debug --help --bogus"; do
    # shellcheck disable=SC2086
    check 0 '*' "" $help
    [ "$(head -2 "$scratch/out")" = "$usage" ] && grep -q -- '^  --max-fps N ' "$scratch/out" ||
        { echo "FAIL: '$help' text"; failures=$((failures + 1)); }
done
check 2 "" "kulimbara: unknown option '--DEBUG'"$'\n'"$usage" --DEBUG
check 2 "" "kulimbara: unknown option '-H'"$'\n'"$usage" -H
check 2 "" "kulimbara: unexpected argument 'extra'"$'\n'"$usage" --debug extra
check 2 "" "kulimbara: unexpected argument ''"$'\n'"$usage" ""
check 2 "" "kulimbara: --max-fps needs a value"$'\n'"$usage" --windowed --max-fps
check 2 "" "kulimbara: --max-fps takes a whole number of frames a second from 0 to 1000, not 'x'"$'\n'"$usage" \
    --max-fps x
# The options are read before the display is looked for, so a good command line gets this far.
no_display='kulimbara: no display: the game needs a graphical desktop to run in'
check 1 "" "$no_display"
check 1 "" "$no_display" --windowed --debug --max-fps 0
export DISPLAY=:9999
check 0 "kulimbara $version" "" --version
check 1 "" '*' --windowed
grep -qx 'kulimbara: no display at :9999: .*' "$scratch/err" ||
    { echo "FAIL: unreachable display: $(<"$scratch/err")"; failures=$((failures + 1)); }
echo "$failures failed"
[ "$failures" -eq 0 ]
