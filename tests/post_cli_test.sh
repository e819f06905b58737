#!/usr/bin/env bash
# kulimbara-post's command line: bad arguments, a refused connection, and a post accepted by
# the real service on loopback.
# Usage: post_cli_test.sh POST SERVICE
set -u
post=$1 service=$2
scratch=$(mktemp -d) || exit 1
service_pid=
trap '[ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
passes=0 failures=0
check() {  # WHAT WANTED_STATUS COMMAND...
  local what=$1 want=$2
  shift 2
  "$@" >"$scratch/out" 2>"$scratch/err"
  local got=$?
  if [ "$got" -eq "$want" ]; then
    passes=$((passes + 1))
  else
    echo "FAIL: $what: status $got, wanted $want"; cat "$scratch/out" "$scratch/err"
    failures=$((failures + 1))
  fi
}

check "no arguments" 2 "$post"
check "no score" 2 "$post" ada
check "upper-case name" 2 "$post" Ada 10
check "17-character name" 2 "$post" aaaaaaaaaaaaaaaaa 10
check "negative score" 2 "$post" ada -10
check "bad port" 2 "$post" ada 10 --host 127.0.0.1 --port 0
check "unknown option" 2 "$post" ada 10 --frobnicate
check "bad service URL" 2 env KULIMBARA_HIGHSCORE_URL=https://x "$post" ada 10
check "refused connection" 1 "$post" ada 10 --host 127.0.0.1 --port 1

"$service" --listen 127.0.0.1:0 --db "$scratch/scores.sqlite" 2>"$scratch/service.log" &
service_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$scratch/service.log")
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "FAIL: the service did not start"; cat "$scratch/service.log"; failures=$((failures + 1))
else
  check "accepted post" 0 "$post" "two words" 470 --host 127.0.0.1 --port "$port"
  grep -q "^posted to 127.0.0.1:$port: HTTP/1.1 200" "$scratch/out" ||
    { echo "FAIL: accepted post printed: $(cat "$scratch/out")"; failures=$((failures + 1)); }
  check "post through the URL variable" 0 env KULIMBARA_HIGHSCORE_URL="http://127.0.0.1:$port" \
    "$post" ada 12
fi
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
