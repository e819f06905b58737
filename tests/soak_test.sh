#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Plays the whole game headless many times, frame times from 1/240 to 0.3 s against key
# patterns from held to toggled every frame: every run must exit with 0, print nothing on
# standard error (where the sanitizers report) and give a JSON report that holds together.
# Usage: soak_test.sh SIM
set -u
sim=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-soak-XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1"

# Around 0.05 s, where the physics starts clamping its step, the times are denser.
frame_times=(1/240 0.0045 1/165 1/144 0.0095 1/90 0.0125 1/60 1/48 0.022 1/30 0.037 1/24 0.049
             0.05 0.051 1/15 1/12 0.099 1/8 0.16 1/5 0.26 3/10)
key_patterns=(up down toggle:1 toggle:2 toggle:3 toggle:5 toggle:8 toggle:16 toggle:30 toggle:97
              toggle:240)
# 24 and 11 share no factor: run r pairs frame time r mod 24 with pattern r mod 11.
runs=$((3 * ${#frame_times[@]})) failures=0
for ((r = 0; r < runs; r++)); do
    dt=${frame_times[r % ${#frame_times[@]}]}
    # 200 s of play per level; past 0.05 s a frame the level clock runs further than the physics.
    max_time=$(awk -v dt="$dt" 'BEGIN { split(dt, f, "/"); d = f[1] / (2 in f ? f[2] : 1);
                                        print 200 * (d > 0.05 ? d / 0.05 : 1) }')
    run="--all --dt $dt --keys ${key_patterns[r % ${#key_patterns[@]}]} --max-time $max_time"
    # shellcheck disable=SC2086
    "$sim" $run --json >"$scratch/out" 2>"$scratch/err"
    status=$?
    if [ "$status" -ne 0 ] || [ -s "$scratch/err" ]; then
        echo "FAIL: $run: exit status $status"
        head -c 20000 "$scratch/err"
        failures=$((failures + 1))
        continue
    fi
    # Six levels in order; a level is completed exactly when every ball is lost, otherwise it
    # ends on the first frame past the limit; its clock is its frames times the frame time.
    jq -e --arg dt "$dt" --argjson max "$max_time" '
        ($dt | split("/") | map(tonumber) | if length == 2 then .[0] / .[1] else .[0] end) as $d |
        [.levels[].level] == [0, 1, 2, 3, 4, 5] and .total_score == .levels[-1].score and
        all(.levels[];
            .frames >= 1 and ((.time - .frames * $d) | fabs) < 1e-6 and
            (.completed == all(.balls[]; .fate | IN("hole", "edge"))) and
            (if .completed then .time <= $max + 1e-6
             else .time > $max and .time - $d <= $max + 1e-6 end) and
            [.balls[].index] == [range(.balls | length)] and
            all(.balls[]; (.fate | IN("hole", "edge", "in_play", "waiting")) and .gate_scores >= 0))
        ' "$scratch/out" >/dev/null || {
        echo "FAIL: $run: the report does not hold together:"
        cat "$scratch/out"
        failures=$((failures + 1))
    }
done
echo "$((runs - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
