#!/usr/bin/env bash
# The game's command line, with no display: help and version on standard output with status 0,
# a mistake as one problem line and the usage line on standard error with status 2, and the
# one line about the missing display with status 1.
# Usage: game_cli_test.sh GAME VERSION
set -u
game=$1 version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
out=$scratch/out err=$scratch/err
usage='usage: kulimbara [--debug] [--windowed] [--replay FILE] | --help | --version'
failures=0 passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
run() {  # WHAT STATUS STDOUT_LINES STDERR_LINES DISPLAY ARGS...: a line count of - is not checked
    local what=$1 want=$2 out_lines=$3 err_lines=$4 display=$5
    shift 5
    if [ "$display" = unset ]; then
        env -u DISPLAY "$game" "$@" >"$out" 2>"$err" </dev/null
    else
        DISPLAY=$display "$game" "$@" >"$out" 2>"$err" </dev/null
    fi
    local got=$? got_out got_err
    got_out=$(wc -l <"$out") got_err=$(wc -l <"$err")
    [ "$out_lines" = - ] && out_lines=$got_out
    if [ "$got" -ne "$want" ] || [ "$got_out" -ne "$out_lines" ] || [ "$got_err" -ne "$err_lines" ]
    then
        fail "$what: status $got, $got_out + $got_err lines; wanted $want, $out_lines + $err_lines"
        cat "$out" "$err"
        return 1
    fi
    passes=$((passes + 1))
}

run "--version" 0 1 0 unset --version && { [ "$(cat "$out")" = "kulimbara $version" ] ||
    fail "--version printed '$(cat "$out")'"; }
run "--version on a display that does not answer" 0 1 0 :9999 --version
run "--help" 0 - 0 unset --help && {
    [ "$(head -1 "$out")" = "$usage" ] && grep -q -- '--windowed' "$out" || fail "--help text"; }

# command_line_test.cpp reads every kind of mistake; here each reaches the user as it should.
for args in "--DEBUG" "--debug extra"; do
    # shellcheck disable=SC2086
    run "bad '$args'" 2 0 2 unset $args &&
        { grep -qx "kulimbara: \(unknown option\|unexpected argument\) '.*'" <(head -1 "$err") &&
          [ "$(tail -1 "$err")" = "$usage" ] || { fail "bad '$args': message"; cat "$err"; }; }
done
run "empty argument" 2 0 2 unset ""

# The options are read before the display is looked for, so a good command line gets this far.
for args in "" "--windowed --debug"; do
    # shellcheck disable=SC2086
    run "no DISPLAY, '$args'" 1 0 1 unset $args &&
        { grep -qx 'kulimbara: no display: the game needs a graphical desktop to run in' "$err" ||
          { fail "no DISPLAY: message"; cat "$err"; }; }
done
run "unreachable display" 1 0 1 :9999 --windowed &&
    { grep -qx 'kulimbara: no display at :9999: .*' "$err" || { fail "unreachable: message"; cat "$err"; }; }

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
