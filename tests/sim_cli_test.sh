#!/usr/bin/env bash
# The simulator's command line: bad input, the summary, the JSON report and the trace file.
set -u
sim=$1
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

# One case of each kind of mistake: each gets one problem line and the usage line.
# (simulator_test.cpp reads the key patterns and frame times.)
for args in "" "--level 6" "--all --level 1" "--all --dt 1/0" "--all --max-time" "--all --frobnicate"; do
    # shellcheck disable=SC2086
    check "bad input '$args'" 2 "$sim" $args &&
        { grep -q '^usage: kulimbara-sim' "$err" && [ "$(wc -l <"$err")" -eq 2 ]; } ||
        { fail "bad input '$args': wanted one problem line and the usage line"; cat "$err"; }
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

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
