#!/usr/bin/env bash
# The simulator's command line: bad input, output formats and the trace file.
set -u
sim=$1
failures=0
passes=0
check() {  # description, expected status, command...
  local what=$1 want=$2
  shift 2
  "$@" >/tmp/sim-cli.out 2>/tmp/sim-cli.err
  local got=$?
  if [ "$got" -ne "$want" ]; then
    echo "FAIL: $what: status $got, wanted $want"; cat /tmp/sim-cli.err
    failures=$((failures + 1))
  else
    passes=$((passes + 1))
  fi
}
usage_shown() {
  if ! grep -q '^usage: kulimbara-sim' /tmp/sim-cli.err || [ "$(wc -l </tmp/sim-cli.err)" -ne 2 ]; then
    echo "FAIL: $1: wanted one problem line and the usage line"; cat /tmp/sim-cli.err
    failures=$((failures + 1))
  fi
}

for args in "" "--level" "--level 6" "--level -1" "--level x" "--all --level 1" "--all --dt 0" \
            "--all --dt -1/60" "--all --dt 1/0" "--all --keys sideways" "--all --keys toggle:0" \
            "--all --max-time" "--all --trace" "--all --frobnicate" "--level 1 --dt"; do
  # shellcheck disable=SC2086
  check "bad input '$args'" 2 "$sim" $args
  usage_shown "bad input '$args'"
done

check "unwritable trace" 1 "$sim" --level 0 --max-time 1 --trace /nonexistent/dir/trace.csv

tmp=$(mktemp -d)
check "json" 0 "$sim" --all --keys toggle:30 --max-time 30 --json
grep -q '^{"levels":\[{"level":0,"completed":false,"frames":1801,"time":30.01666' /tmp/sim-cli.out ||
  { echo "FAIL: json shape"; cat /tmp/sim-cli.out; failures=$((failures + 1)); }
grep -q '"fate":"\(hole\|edge\|in_play\|waiting\)","gate_scores":[0-9]*}' /tmp/sim-cli.out ||
  { echo "FAIL: json balls"; failures=$((failures + 1)); }

check "trace" 0 "$sim" --level 2 --dt 1/60 --max-time 5 --trace "$tmp/a.csv"
check "default dt" 0 "$sim" --level 2 --dt 0.016666666666666666 --max-time 5 --trace "$tmp/b.csv"
cmp -s "$tmp/a.csv" "$tmp/b.csv" || { echo "FAIL: 1/60 and its decimal differ"; failures=$((failures + 1)); }
[ "$(head -1 "$tmp/a.csv")" = "frame,t,rotation_y,ball,active,x,y,z,vx,vy,vz,score" ] ||
  { echo "FAIL: trace header"; failures=$((failures + 1)); }
rm -rf "$tmp"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
