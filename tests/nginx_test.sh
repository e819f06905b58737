#!/usr/bin/env bash
# The shipped nginx site in front of the high-score service, both real, attacked the way a
# stranger on the internet would: only the site's listen ports, upstream address and log paths
# are substituted (the lines its header names). Each case prints its figures and counts as
# passed or failed; the last line is "N passed, M failed".
# Usage: nginx_test.sh SERVICE CLIENT SITE [NGINX]
#   CLIENT is nginx-test-client (valid queries, the gzip body, the dripping connections).
# KULIMBARA_NGINX_SKIP_IPV6_REAL_IP=1 skips the case where the service behind nginx listens on
# [::1] and must trust nginx's X-Real-IP from there.
set -u
service=$1 client=$2 site=$3 nginx=${4:-nginx}
scratch=$(mktemp -d) || exit 1
# nginx's workers drop root for "nobody", which must reach the temp folders in here.
chmod 755 "$scratch"
service_pid='' nginx_pid='' drip_pid=''
stop() {  # PID...: kills and reaps the given processes
  local pid
  for pid in "$@"; do
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  return 0
}
# nginx's workers outlive a killed master: the master is asked to stop them first, and
# whatever is left after a few seconds is killed.
stop_nginx() {
  [ -n "$nginx_pid" ] || return 0
  local workers
  workers=$(pgrep -P "$nginx_pid")
  kill -TERM "$nginx_pid" 2>/dev/null
  for _ in $(seq 50); do
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.1
  done
  # shellcheck disable=SC2086
  stop "$nginx_pid" $workers
  nginx_pid=
}
trap 'stop "$drip_pid"; stop_nginx; stop "$service_pid"; rm -rf "$scratch"' EXIT
passed=0 failed=0 skipped=0
verdict() {  # OK WHAT FIGURES...: counts one case, printing its figures either way
  if [ "$1" = 1 ]; then
    echo "PASS: $2: ${*:3}"; passed=$((passed + 1))
  else
    echo "FAIL: $2: ${*:3}"; failed=$((failed + 1))
  fi
}
curl_limited() { timeout 10 curl -s --max-time 8 "$@"; }
# shellcheck source=service_test_lib.sh
. "$(dirname "$0")/service_test_lib.sh"

# The shipped site with its listen lines moved to loopback on PORT, its upstream to UPSTREAM
# and its logs into the scratch folder; fails when a substituted line is not found once.
write_site() {  # UPSTREAM PORT
  local dir=$scratch/nginx
  sed -e "s|^\( *server \)127\.0\.0\.1:8080;|\1$1;|" \
      -e "s|^\( *listen \)80;|\1127.0.0.1:$2;|" \
      -e "s|^\( *listen \)\[::\]:80;|\1[::1]:$2;|" \
      -e "s|/var/log/nginx/|$dir/|" "$site" >"$dir/site.conf"
  local line
  for line in "server $1;" "listen 127.0.0.1:$2;" "listen [::1]:$2;" "access_log $dir/" \
    "error_log $dir/"; do
    [ "$(grep -c -F "$line" "$dir/site.conf")" -eq 1 ] || {
      echo "the site has no single line '$line' after substitution"; return 1; }
  done
}

# nginx as Debian's nginx.conf sets it up, with only this site, its pid, logs and temp
# folders in the scratch folder; sets nginx_pid and port (a free one, tried a few times).
start_nginx() {  # UPSTREAM
  local dir=$scratch/nginx
  mkdir -p "$dir"
  cat >"$dir/nginx.conf" <<EOF
worker_processes auto;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 768; }
http {
    sendfile on;
    tcp_nopush on;
    default_type application/octet-stream;
    access_log $dir/access.log;
    gzip on;
    client_body_temp_path $dir/body;
    proxy_temp_path $dir/proxy;
    fastcgi_temp_path $dir/fastcgi;
    uwsgi_temp_path $dir/uwsgi;
    scgi_temp_path $dir/scgi;
    include $dir/site.conf;
}
EOF
  for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    write_site "$1" "$port" || return 1
    "$nginx" -p "$dir/" -c "$dir/nginx.conf" -g 'daemon off;' 2>"$dir/stderr" &
    nginx_pid=$!
    for _ in $(seq 50); do
      curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$port/scores.json" && return 0
      kill -0 "$nginx_pid" 2>/dev/null || break
      sleep 0.1
    done
    stop_nginx
    grep -q "Address already in use" "$dir/stderr" || break
  done
  echo "nginx did not start: $(cat "$dir/stderr" "$dir/error.log" 2>/dev/null)"; return 1
}

rows() {  # the scores stored, asked of the service itself
  curl_limited "http://127.0.0.1:$service_port/scores.json" | jq length
}
kib() { awk "/^$2:/ {print \$2}" "/proc/$1/status"; }  # PID FIELD: VmRSS or VmHWM in KiB

if ! start_service 127.0.0.1 || ! start_nginx "127.0.0.1:$service_port"; then
  echo "0 passed, 1 failed"; exit 1
fi
base=http://127.0.0.1:$port

# A valid post through nginx is stored and shows on both leaderboards; nginx replaces a
# client's own X-Real-IP with the address it sees (127.0.0.2, another loopback address).
query=$("$client" query "two words" 470)
status=$(curl_limited --interface 127.0.0.2 -H "X-Real-IP: 10.9.8.7" -o /dev/null \
  -w '%{http_code}' "$base/highscore.php?$query")
page=$(curl_limited "$base/") json=$(curl_limited "$base/scores.json")
grep -q "two words" <<<"$page"; on_page=$((1 - $?))
grep -q '"name":"two words","score":470' <<<"$json"; in_json=$((1 - $?))
logged=$(grep -c ' 127\.0\.0\.2 200 GET /highscore.php' "$scratch/service.log")
verdict "$([ "$status" = 200 ] && [ $on_page = 1 ] && [ $in_json = 1 ] && [ "$logged" = 1 ] &&
  echo 1)" "valid post" "status $status, on / $on_page, in /scores.json $in_json," \
  "logged from 127.0.0.2 $logged"

# A whole game's replay through nginx is verified and ranked, and served back; the same replay
# again is a duplicate; a body over 256 KiB never reaches the service.
post_replay() {  # FILE: prints the status, the answer in $scratch/replay.out
  curl_limited -H "Content-Type: application/octet-stream" --data-binary "@$1" \
    -o "$scratch/replay.out" -w '%{http_code}' "$base/replays"
}
replay=$(dirname "$0")/golden/game.replay
first=$(post_replay "$replay") ranked=$(cat "$scratch/replay.out")
id=$(jq -r .id <<<"$ranked" 2>/dev/null)
curl_limited -o "$scratch/served.replay" "$base/replays/$id"
cmp -s "$replay" "$scratch/served.replay"; served=$((1 - $?))
again=$(post_replay "$replay")
head -c 300000 /dev/zero >"$scratch/big.replay"
lines_before=$(wc -l <"$scratch/service.log")
big=$(post_replay "$scratch/big.replay")
reached=$(($(wc -l <"$scratch/service.log") - lines_before))
verdict "$([ "$first" = 201 ] && [ "$served" = 1 ] && [ "$again" = 409 ] && [ "$big" = 413 ] &&
  [ "$reached" = 0 ] && echo 1)" "replay posts" "first $first $ranked, served back $served," \
  "again $again, 300,000 bytes $big (requests the service saw $reached)"

# A POST whose gzip body of about a megabyte inflates to a gigabyte: refused before the
# service inflates it; the service's peak resident size (VmHWM) may not grow by 20 MiB.
"$client" gzip-zeros 1050000000 >"$scratch/bomb.gz"
bomb_kib=$(($(stat -c %s "$scratch/bomb.gz") / 1024))
rss_before=$(kib "$service_pid" VmRSS) peak_before=$(kib "$service_pid" VmHWM)
answer=$(curl_limited -X POST -H "Content-Encoding: gzip" \
  -H "Content-Type: application/x-www-form-urlencoded" --data-binary "@$scratch/bomb.gz" \
  -o /dev/null -w '%{http_code} %{time_total}' "$base/highscore.php?$query")
sleep 0.5  # the service may still be inflating what nginx gave up waiting for
rss_growth=$(($(kib "$service_pid" VmRSS) - rss_before))
peak_growth=$(($(kib "$service_pid" VmHWM) - peak_before))
status=${answer% *}
verdict "$([ "${status:0:1}" = 4 ] && [ "$peak_growth" -lt 20480 ] && echo 1)" \
  "gzip bomb POST ($bomb_kib KiB)" "status and seconds $answer, service RSS growth" \
  "$rss_growth KiB, peak growth $peak_growth KiB"

# Bodies on a GET: chunked, or plain and over 1 KiB; neither reaches the service.
head -c 2048 /dev/zero | tr '\0' a >"$scratch/body"
lines_before=$(wc -l <"$scratch/service.log")
chunked=$(curl_limited -X GET -H "Transfer-Encoding: chunked" --data-binary "@$scratch/body" \
  -o /dev/null -w '%{http_code}' "$base/")
plain=$(curl_limited -X GET --data-binary "@$scratch/body" -o /dev/null -w '%{http_code}' \
  "$base/scores.json")
reached=$(($(wc -l <"$scratch/service.log") - lines_before))
verdict "$([ "${chunked:0:1}" = 4 ] && [ "${plain:0:1}" = 4 ] && [ "$reached" = 0 ] && echo 1)" \
  "GET with a 2 KiB body" "chunked $chunked, plain $plain, requests the service saw $reached"

# HEAD of the page and of a valid post store nothing.
rows_before=$(rows)
query=$("$client" query "head only" 320)
head_page=$(curl_limited -I -o /dev/null -w '%{http_code}' "$base/")
head_post=$(curl_limited -I -o /dev/null -w '%{http_code}' "$base/highscore.php?$query")
rows_after=$(rows)
verdict "$([ -n "$rows_before" ] && [ "$rows_before" = "$rows_after" ] && echo 1)" "HEAD" \
  "HEAD / $head_page, HEAD of a post $head_post, rows $rows_before -> $rows_after"

# Many ranges of the whole page in one request: no multipart answer, nothing large.
for count in 2700 500; do
  ranges=$(printf '0-,%.0s' $(seq "$count"))
  answer=$(curl_limited -H "Range: bytes=${ranges%,}" -o /dev/null \
    -w '%{http_code} %{size_download} %{content_type}' "$base/")
  read -r status size type <<<"$answer"
  verdict "$([ "$status" != 206 ] && [[ "$type" != multipart* ]] && [ "${size:-0}" -lt 100000 ] &&
    echo 1)" "GET / with $count ranges" "status $status, $size bytes, type ${type:-none}"
done

# 200 connections from one stranger (127.0.0.3) that hold nginx, dripping a header or a body a
# byte a second or sending nothing; the local health check and a post from a player elsewhere
# (127.0.0.2) still answer within a second.
"$client" drip 127.0.0.3 127.0.0.1 "$port" 200 6 >"$scratch/drip.out" &
drip_pid=$!
sleep 2
query=$("$client" query "steady hand" 610)
health=$(curl_limited -o /dev/null -w '%{http_code} %{time_total}' "$base/healthz")
post=$(curl_limited --interface 127.0.0.2 \
  -o /dev/null -w '%{http_code} %{time_total}' "$base/highscore.php?$query")
wait "$drip_pid"; drip_pid=
verdict "$(awk -v h="$health" -v p="$post" 'BEGIN { split(h, a, " "); split(p, b, " ");
  print (a[1] == 200 && a[2] < 1 && b[1] == 200 && b[2] < 1) }')" "200 slow connections" \
  "healthz $health s, post $post s, drip: $(tr '\n' ' ' <"$scratch/drip.out")"

# /healthz answers loopback's 127.0.0.1 and ::1 only: 127.0.0.2 stands for any other address.
own=$(curl_limited -o /dev/null -w '%{http_code}' "$base/healthz")
own6=$(curl_limited -o /dev/null -w '%{http_code}' "http://[::1]:$port/healthz")
other=$(curl_limited --interface 127.0.0.2 -o /dev/null -w '%{http_code}' "$base/healthz")
escaped=$(curl_limited --interface 127.0.0.2 -o /dev/null -w '%{http_code}' "$base/%68ealthz")
verdict "$([ "$own" = 200 ] && [ "$own6" = 200 ] && [ "$other" = 403 ] && [ "$escaped" = 403 ] &&
  echo 1)" "/healthz for loopback only" \
  "127.0.0.1 $own, ::1 $own6, 127.0.0.2 $other, 127.0.0.2 escaped $escaped"

# The service on IPv6 loopback behind nginx still learns the client's address.
if [ "${KULIMBARA_NGINX_SKIP_IPV6_REAL_IP:-0}" = 1 ]; then
  echo "SKIP: X-Real-IP to a service on [::1] (KULIMBARA_NGINX_SKIP_IPV6_REAL_IP=1)"
  skipped=$((skipped + 1))
else
  stop_nginx; stop "$service_pid"; service_pid=
  if start_service ::1 && start_nginx "[::1]:$service_port"; then
    query=$("$client" query "far away" 150)
    status=$(curl_limited --interface 127.0.0.2 -o /dev/null -w '%{http_code}' \
      "http://127.0.0.1:$port/highscore.php?$query")
    seen=$(awk '$3 ~ /^[0-9]+$/ && $5 == "/highscore.php" {print $2}' "$scratch/service.log")
    verdict "$([ "$status" = 200 ] && [ "$seen" = 127.0.0.2 ] && echo 1)" \
      "X-Real-IP to a service on [::1]" "status $status, the service saw ${seen:-nothing}"
  else
    verdict 0 "X-Real-IP to a service on [::1]" "could not start"
  fi
fi

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
