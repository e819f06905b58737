#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The simulator's command line: help and version, bad input, the summary, the JSON report and
# the trace file.
# Usage: sim_cli_test.sh SIM VERSION
set -u
sim=$1 version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
out=$scratch/out err=$scratch/err
failures=0 passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # WHAT EXPECTED_STATUS COMMAND...
    local what=$1 want=$2
    shift 2
    "$@" >"$out" 2>"$err"
    local got=$?
    if [ "$got" -ne "$want" ]; then fail "$what: status $got, wanted $want"; cat "$err"; return 1; fi
    passes=$((passes + 1))
}

# --help and -h: the usage, then every option, on standard output; --version: the version.
for help in --help -h "--json -h --level 9"; do
    # shellcheck disable=SC2086
    check "'$help'" 0 "$sim" $help && head -1 "$out" | grep -q '^usage: kulimbara-sim ' &&
        grep -q -- '^  --replay FILE ' "$out" && [ ! -s "$err" ] || fail "'$help' text"
done
check "--version" 0 "$sim" --version && [ "$(<"$out")" = "kulimbara-sim $version" ] ||
    fail "--version printed '$(<"$out")'"

# One case of each kind of mistake: each gets one problem line and the usage.
# (simulator_test.cpp reads the key patterns and frame times.)
for args in "" "--level 6" "--all --level 1" "--all --dt 1/0" "--all --max-time" "--all --frobnicate" \
    "--all -x" "--all extra"; do
    # shellcheck disable=SC2086
    check "bad input '$args'" 2 "$sim" $args &&
        { grep -q '^usage: kulimbara-sim' "$err" && [ "$(wc -l <"$err")" -eq 5 ]; } ||
        { fail "bad input '$args': wanted one problem line and the usage"; cat "$err"; }
done

check "unwritable trace" 1 "$sim" --level 0 --max-time 1 --trace "$scratch/missing/trace.csv"

check "summary" 0 "$sim" --level 2 --keys toggle:10
grep -qx 'level 2: completed after 3524 frames (58.73 s), score 50' "$out" &&
    grep -qx '  ball 0: edge, 1 gate score' "$out" || { fail "summary"; cat "$out"; }

# The JSON report's shape; the game's score is the last level's.
check "json" 0 "$sim" --all --keys toggle:30 --max-time 30 --json
jq -e '[.levels[].level] == [0, 1, 2, 3, 4, 5] and .total_score == .levels[-1].score and
    .levels[0].frames == 1801 and .levels[0].time > 30 and .levels[0].time < 30.02 and
    all(.levels[]; (.completed | type) == "boolean" and (.score | type) == "number" and
        all(.balls[]; (.fate | IN("hole", "edge", "in_play", "waiting")) and
                      (.gate_scores | type) == "number" and (.index | type) == "number"))' \
    "$out" >/dev/null || { fail "json report"; cat "$out"; }

# Level 3 releases a ball on every step: frame 0 traces ball 0, frame 7 all eight.
check "trace" 0 "$sim" --level 3 --keys toggle:20 --max-time 1 --trace "$scratch/t.csv"
[ "$(head -1 "$scratch/t.csv")" = "frame,t,rotation_y,ball,active,x,y,z,vx,vy,vz,score" ] &&
    grep -q '^0,0.016666666666666666,-0.25,0,1,' "$scratch/t.csv" &&
    [ "$(grep -c '^7,0.13333333333333333,-2,' "$scratch/t.csv")" -eq 8 ] || fail "trace rows"

# A replay: recorded, verified (0), its play changed (1), cut or no replay (2).
check "record" 0 "$sim" --record "$scratch/g.replay" --keys toggle:90 --max-time 20 --name ada &&
    frames=$(sed -n 's/^an unfinished game of \([0-9]*\) frames, score 0: [0-9]* bytes in .*/\1/p' "$out") &&
    [ -n "$frames" ] || { fail "record"; cat "$out"; }
check "verify" 0 "$sim" --replay "$scratch/g.replay" --json &&
    jq -e --argjson frames "${frames:-0}" '.verified and (.finished | not) and .name == "ada" and
        .levels[0].claimed == .levels[0].score and ([.levels[].frames] | add) == $frames' \
        "$out" >/dev/null || { fail "verify json"; cat "$out"; }
# One frame a microsecond longer from the middle of the game on: the delta coding carries it.
size=$(stat -c %s "$scratch/g.replay")
offset=$(od -An -v -tu1 -j $((size / 2)) "$scratch/g.replay" | tr -s ' ' '\n' | grep -n -m1 '^0$' | cut -d: -f1)
cp "$scratch/g.replay" "$scratch/changed.replay"
printf '\002' | dd of="$scratch/changed.replay" bs=1 seek=$((size / 2 + offset - 2)) conv=notrunc status=none
check "a changed frame time" 1 "$sim" --replay "$scratch/changed.replay" &&
    grep -q "the replay differs: level 0" "$err" || { fail "changed frame time"; cat "$err"; }
head -c $((size - 3)) "$scratch/g.replay" >"$scratch/cut.replay"
check "a cut replay" 2 "$sim" --replay "$scratch/cut.replay" &&
    grep -qx "kulimbara-sim: $scratch/cut.replay: truncated" "$err" || { fail "cut"; cat "$err"; }
check "no replay" 2 "$sim" --replay "$0"
check "record with an inexact frame time" 2 "$sim" --record "$scratch/x.replay" --dt 1/60

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
