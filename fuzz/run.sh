#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs each fuzz target for a bounded time on a scratch copy of its committed corpus, and prints
# its executions in total and per second. Fails when a target finds a crash, a broken
# invariant, a leak or a slow input; the input that did it is kept in BUILD/fuzz-artifacts.
#   fuzz/run.sh BUILD [SECONDS]   (SECONDS per target, default 60)
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-60}
source_dir=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

passed=0
failed=0
for target in game-flow score-query replay-reader; do
  corpus=$scratch/$target
  mkdir -p "$corpus"
  cp "$source_dir/corpus/$target/"* "$corpus/"
  options=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1
           -artifact_prefix="$scratch/$target-")
  if [ -f "$source_dir/$target.dict" ]; then
    options+=(-dict="$source_dir/$target.dict")
  fi
  log=$scratch/$target.log
  if (cd "$scratch" && "$build/fuzz-$target" "${options[@]}" "$corpus") >"$log" 2>&1; then
    result=ok
    passed=$((passed + 1))
  else
    result=FAILED
    failed=$((failed + 1))
    mkdir -p "$build/fuzz-artifacts"
    find "$scratch" -maxdepth 1 -name "$target-*" -exec cp {} "$build/fuzz-artifacts/" \;
    tail -n 60 "$log"
    echo "fuzz-$target: the input is in $build/fuzz-artifacts/"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
  entries=$(find "$corpus" -type f | wc -l)
  printf 'fuzz-%s: %s, %s executions in %s s, %s per second, %s, corpus %s inputs\n' \
    "$target" "$result" "${runs:-?}" "$seconds" "${rate:-?}" "${coverage:-cov: ?}" "$entries"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
