#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# kulimbara-post and kulimbara-highscore as programs: bad arguments, a refused connection, a
# post accepted by the service, a post that outlives a SIGKILL, a clean stop on SIGTERM, and a
# post refused by a service that requires replays.
# Usage: highscore_cli_test.sh POST SERVICE VERSION
set -u
post=$1 service=$2 version=$3
scratch=$(mktemp -d) || exit 1
service_pid=
trap '[ -n "$service_pid" ] && kill -KILL "$service_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # WHAT WANTED_STATUS COMMAND...
  local what=$1 want=$2 got
  shift 2
  "$@" >"$scratch/out" 2>&1; got=$?
  [ "$got" -eq "$want" ] || { fail "$what: status $got, wanted $want"; cat "$scratch/out"; }
}
# shellcheck source=service_test_lib.sh
. "$(dirname "$0")/service_test_lib.sh"
started() { start_service 127.0.0.1 "$@" || { fail "the service did not start"; return 1; }; }

# Both programs answer --help, -h and --version alike, and a mistake with the usage.
for program in "$post" "$service"; do
  name=$(basename "$program")
  for help in --help -h; do
    check "$name $help" 0 "$program" $help
    head -1 "$scratch/out" | grep -q "^usage: $name " && grep -q -- '^  --version  ' "$scratch/out" ||
      fail "$name $help printed: $(head -3 "$scratch/out")"
  done
  check "$name --version" 0 "$program" --version
  [ "$(<"$scratch/out")" = "$name $version" ] || fail "$name --version printed $(<"$scratch/out")"
  check "$name: unknown option" 2 "$program" -x
  [ "$(head -1 "$scratch/out")" = "$name: unknown option '-x'" ] && grep -q "^usage: $name " "$scratch/out" ||
    fail "$name -x printed: $(<"$scratch/out")"
done
check "no score" 2 "$post" ada
check "bad port" 2 "$post" ada 10 --host 127.0.0.1 --port 0
check "bad service URL" 2 env KULIMBARA_HIGHSCORE_URL=https://x "$post" ada 10
check "service URL without http://" 2 env KULIMBARA_HIGHSCORE_URL=127.0.0.1:1 "$post" ada 10
check "refused connection to IPv6 loopback" 1 env KULIMBARA_HIGHSCORE_URL="http://[::1]:1" "$post" ada 10
# The test build names no board: without the variable or --host there is nowhere to post.
check "no board" 2 env -u KULIMBARA_HIGHSCORE_URL "$post" ada 10
check "refused connection" 1 "$post" ada 10 --host 127.0.0.1 --port 1
check "service: unknown argument" 2 "$service" --frobnicate
check "service: bad listen address" 2 "$service" --listen 127.0.0.1
check "service: trusted proxy by name" 2 "$service" --trusted-proxy proxy.example.org
check "service: negative days" 2 "$service" --keep-addresses-days -1

if started; then
  # Capitals are taken as small letters, as the game takes them.
  check "accepted post" 0 "$post" "Two Words" 470 --host 127.0.0.1 --port "$service_port"
  grep -q "^posted to 127.0.0.1:$service_port: HTTP/1.1 200" "$scratch/out" ||
    fail "accepted post printed: $(cat "$scratch/out")"
  check "post through the URL variable" 0 \
    env KULIMBARA_HIGHSCORE_URL="http://127.0.0.1:$service_port" "$post" ada 12
  check "refused post" 1 "$post" ada 2000000 --host 127.0.0.1 --port "$service_port"
  grep -qx "not posted to 127.0.0.1:$service_port: HTTP/1.1 400 [A-Za-z ]*: .*score.*" "$scratch/out" ||
    fail "refused post printed: $(cat "$scratch/out")"
  kill -KILL "$service_pid"; wait "$service_pid" 2>/dev/null; service_pid=
fi
if started; then
  # GET /scores.json through bash's own TCP client.
  exec 3<>"/dev/tcp/127.0.0.1/$service_port"
  printf 'GET /scores.json HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' >&3
  grep -q '"name":"two words","score":470' <(timeout 5 cat <&3) ||
    fail "a post answered 200 is gone after SIGKILL"
  exec 3<&-
  kill -TERM "$service_pid"; wait "$service_pid"; status=$?; service_pid=
  [ "$status" -eq 0 ] || fail "SIGTERM: exit status $status, wanted 0"
fi
if started --require-replay; then
  check "post without a replay" 1 "$post" ada 13 --host 127.0.0.1 --port "$service_port"
  grep -qx "not posted to 127.0.0.1:$service_port: HTTP/1.1 403 Forbidden: replay required" "$scratch/out" ||
    fail "post without a replay printed: $(cat "$scratch/out")"
  kill -KILL "$service_pid"; wait "$service_pid" 2>/dev/null; service_pid=
fi
echo "$failures failed"
[ "$failures" -eq 0 ]
