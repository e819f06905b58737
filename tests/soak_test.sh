#!/usr/bin/env bash
# Plays the whole game headless many times, with frame times from 1/240 to 0.3 s and key
# patterns from held to toggled every frame, and checks every run: exit status 0, nothing on
# standard error (in the sanitizer tree any report ends the program and says why there), and
# a JSON report that holds together. Prints the runs and the seconds simulated.
# Usage: soak_test.sh SIM
set -u
sim=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-soak-XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1"

# Fractions and decimals spread over the range, with the 0.05 s at which the physics starts
# clamping its step and a frame time on either side of it.
frame_times=(1/240 0.0045 1/200 1/165 0.0067 1/144 1/120 0.0095 1/100 1/90 0.0125 1/75 0.015
             1/60 0.0175 1/50 1/48 0.022 1/40 0.029 1/30 1/25 0.037 1/24 1/20 0.049 0.05 0.051
             1/15 0.063 1/12 0.08 1/10 0.099 0.11 1/8 0.137 1/6 0.16 0.19 1/5 0.22 1/4 0.26
             3/10)
key_patterns=(up down toggle:1 toggle:2 toggle:3 toggle:4 toggle:5 toggle:7 toggle:8 toggle:11
              toggle:16 toggle:25 toggle:30 toggle:45 toggle:60 toggle:97 toggle:120 toggle:240
              toggle:1000)
# 45 and 19 share no factor, so run r pairs frame time r mod 45 with pattern r mod 19: four
# patterns per frame time, each pattern over nine or ten frame times.
runs=$((4 * ${#frame_times[@]}))

passes=0 failures=0 simulated=0 completed=0
start=$(date +%s.%N)
for ((r = 0; r < runs; r++)); do
    dt=${frame_times[r % ${#frame_times[@]}]}
    keys=${key_patterns[r % ${#key_patterns[@]}]}
    # 200 s of physics per level: past a 0.05 s frame the physics steps 0.05 s a frame, so
    # the level clock runs further for the same play.
    max_time=$(awk -v dt="$dt" 'BEGIN { split(dt, f, "/"); d = f[1] / (2 in f ? f[2] : 1);
                                        print 200 * (d > 0.05 ? d / 0.05 : 1) }')
    run="--all --dt $dt --keys $keys --max-time $max_time"
    # shellcheck disable=SC2086
    "$sim" $run --json >"$scratch/out" 2>"$scratch/err"
    status=$?
    if [ "$status" -ne 0 ] || [ -s "$scratch/err" ]; then
        echo "FAIL: $run: exit status $status$([ -s "$scratch/err" ] && echo ", standard error:")"
        head -c 20000 "$scratch/err"
        failures=$((failures + 1))
        continue
    fi
    # Six levels in order; a level ends completed exactly when every ball is lost, otherwise
    # on the first frame past the time limit; the clock is the frames times the frame time;
    # the game's score is the last level's.
    if ! summary=$(jq -er --arg dt "$dt" --argjson max "$max_time" '
        ($dt | split("/") | map(tonumber) | if length == 2 then .[0] / .[1] else .[0] end) as $d |
        select([.levels[].level] == [0, 1, 2, 3, 4, 5] and .total_score == .levels[-1].score and
            all(.levels[];
                .frames >= 1 and ((.time - .frames * $d) | fabs) < 1e-6 and
                (.completed == all(.balls[]; .fate | IN("hole", "edge"))) and
                (if .completed then .time <= $max + 1e-6 else .time > $max and
                    .time - $d <= $max + 1e-6 end) and
                ([.balls[].index] == [range(.balls | length)]) and
                all(.balls[]; (.fate | IN("hole", "edge", "in_play", "waiting")) and
                              .gate_scores >= 0))) |
        "\([.levels[].time] | add) \([.levels[] | select(.completed)] | length)"' \
        "$scratch/out"); then
        echo "FAIL: $run: the report does not hold together:"
        cat "$scratch/out"
        failures=$((failures + 1))
        continue
    fi
    read -r seconds levels_completed <<<"$summary"
    simulated=$(awk -v a="$simulated" -v b="$seconds" 'BEGIN { printf "%.3f", a + b }')
    completed=$((completed + levels_completed))
    passes=$((passes + 1))
done
awk -v n="$runs" -v s="$simulated" -v c="$completed" -v t0="$start" -v t1="$(date +%s.%N)" \
    'BEGIN { printf "%d runs of six levels, %d levels completed, %.0f simulated seconds in %.1f s\n",
             n, c, s, t1 - t0 }'
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ] && [ "$passes" -eq "$runs" ]
