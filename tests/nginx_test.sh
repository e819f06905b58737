#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The shipped nginx site in front of the high-score service, both real, attacked the way a
# stranger on the internet would: only the site's listen ports, upstream address and log paths
# are substituted (the lines its header names). Each case prints its figures and counts as
# passed or failed; the last line is "N passed, M failed, K skipped".
# Usage: nginx_test.sh SERVICE SITE [NGINX]
# KULIMBARA_NGINX_SKIP_IPV6_REAL_IP=1 skips the case where the service behind nginx listens on
# [::1] and must trust nginx's X-Real-IP from there.
set -u
service=$1 site=$2 nginx=${3:-nginx}
scratch=$(mktemp -d) || exit 1
# nginx's workers drop root for "nobody", which must reach the temp folders in here.
chmod 755 "$scratch"
service_pid='' nginx_pid=''
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
trap 'stop_nginx; stop "$service_pid"; rm -rf "$scratch"' EXIT
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

if ! start_service 127.0.0.1 || ! start_nginx "127.0.0.1:$service_port"; then
  echo "0 passed, 1 failed"; exit 1
fi
base=http://127.0.0.1:$port
log_lines() { wc -l <"$scratch/service.log"; }

# A whole game's replay through nginx is ranked and served back; nginx replaces a client's own
# X-Real-IP with the address it sees (127.0.0.2, another loopback address).
replay=$(dirname "$0")/golden/game.replay
status=$(curl_limited --interface 127.0.0.2 -H "X-Real-IP: 10.9.8.7" \
  -H "Content-Type: application/octet-stream" --data-binary "@$replay" -o "$scratch/ranked" \
  -w '%{http_code}' "$base/replays")
id=$(jq -r .id "$scratch/ranked" 2>/dev/null)
curl_limited -o "$scratch/served.replay" "$base/replays/$id"
cmp -s "$replay" "$scratch/served.replay"; served=$((1 - $?))
json=$(curl_limited "$base/scores.json")
grep -q '"name":"golden","score":2820' <<<"$json"; in_json=$((1 - $?))
logged=$(grep -c ' 127\.0\.0\.2 201 POST /replays' "$scratch/service.log")
verdict "$([ "$status" = 201 ] && [ $served = 1 ] && [ $in_json = 1 ] && [ "$logged" = 1 ] &&
  echo 1)" "replay post" "status $status $(cat "$scratch/ranked"), served back $served," \
  "in /scores.json $in_json, logged from 127.0.0.2 $logged"

# Requests that nginx refuses itself: the service never sees them.
refused() {  # STATUS CURL_ARGUMENT... URL
  local want=$1 got before seen
  shift
  before=$(log_lines)
  got=$(curl_limited -o /dev/null -w "%{http_code}" "$@")
  seen=$(($(log_lines) - before))
  verdict "$([ "$got" = "$want" ] && [ "$seen" = 0 ] && echo 1)" "$want for $*" \
    "status $got, requests the service saw $seen"
}
head -c 300000 /dev/zero >"$scratch/big"
head -c 2048 /dev/zero >"$scratch/body"
# About 10 KB that inflate to 10 MB.
head -c 10000000 /dev/zero | gzip >"$scratch/bomb.gz"
refused 413 --data-binary "@$scratch/big" "$base/replays"
refused 415 -H "Content-Encoding: gzip" --data-binary "@$scratch/bomb.gz" "$base/highscore.php"
refused 411 -X GET -H "Transfer-Encoding: chunked" --data-binary "@$scratch/body" "$base/"
refused 413 -X GET --data-binary "@$scratch/body" "$base/scores.json"
refused 405 -I "$base/highscore.php?name=ada&score=1&check=0"
# /healthz answers loopback's 127.0.0.1 and ::1 only: 127.0.0.2 stands for any other address.
refused 403 --interface 127.0.0.2 "$base/healthz"
refused 403 --interface 127.0.0.2 "$base/%68ealthz"
own=$(curl_limited -o /dev/null -w '%{http_code}' "$base/healthz")
own6=$(curl_limited -o /dev/null -w '%{http_code}' "http://[::1]:$port/healthz")
verdict "$([ "$own" = 200 ] && [ "$own6" = 200 ] && echo 1)" "/healthz for loopback" \
  "127.0.0.1 $own, ::1 $own6"

# With a certificate, the site's second server (shipped commented out) offers the page over
# HTTPS, and nothing more; the posts stay on plain HTTP, answered there and not redirected.
stop_nginx
https_port=$((20000 + RANDOM % 40000))
if openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost \
     -keyout "$scratch/tls.key" -out "$scratch/tls.pem" 2>/dev/null; then
  shipped_site=$site
  site=$scratch/site-with-https.conf
  awk -v port="$https_port" -v dir="$scratch" '
    /^#server \{$/ { inside = 1 }
    inside { sub(/^#/, "") }
    inside && /listen 443 ssl;/ { sub(/443/, "127.0.0.1:" port) }
    inside && /listen \[::\]:443 ssl;/ { next }
    inside && /ssl_certificate / { $0 = "    ssl_certificate " dir "/tls.pem;" }
    inside && /ssl_certificate_key / { $0 = "    ssl_certificate_key " dir "/tls.key;" }
    /^\}$/ { inside = 0 }
    { print }' "$shipped_site" >"$site"
  if [ "$(grep -c '^server {' "$site")" = 2 ] && start_nginx "127.0.0.1:$service_port"; then
    page=$(curl_limited -k -o /dev/null -w '%{http_code}' "https://127.0.0.1:$https_port/scores.json")
    post=$(curl_limited -k -o /dev/null -w '%{http_code}' \
      "https://127.0.0.1:$https_port/highscore.php?name=ada")
    plain=$(curl_limited -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/highscore.php?name=ada")
    verdict "$([ "$page" = 200 ] && [ "$post" = 404 ] && [ "$plain" = 400 ] && echo 1)" \
      "the page over HTTPS, posts on HTTP" \
      "HTTPS page $page, HTTPS post $post, HTTP post $plain (400: the service judged it)"
  else
    verdict 0 "the page over HTTPS, posts on HTTP" "could not start: $(grep -c '^server {' "$site") servers"
  fi
  stop_nginx
  site=$shipped_site
else
  verdict 0 "the page over HTTPS, posts on HTTP" "openssl could not make a certificate"
fi

# The service on IPv6 loopback behind nginx still learns the client's address.
if [ "${KULIMBARA_NGINX_SKIP_IPV6_REAL_IP:-0}" = 1 ]; then
  echo "SKIP: X-Real-IP to a service on [::1] (KULIMBARA_NGINX_SKIP_IPV6_REAL_IP=1)"
  skipped=$((skipped + 1))
else
  stop_nginx; stop "$service_pid"; service_pid=
  if start_service ::1 && start_nginx "[::1]:$service_port"; then
    status=$(curl_limited --interface 127.0.0.2 -o /dev/null -w '%{http_code}' \
      "http://127.0.0.1:$port/highscore.php?name=ada")
    seen=$(awk '$5 == "/highscore.php" {print $2}' "$scratch/service.log")
    verdict "$([ "$status" = 400 ] && [ "$seen" = 127.0.0.2 ] && echo 1)" \
      "X-Real-IP to a service on [::1]" "status $status, the service saw ${seen:-nothing}"
  else
    verdict 0 "X-Real-IP to a service on [::1]" "could not start"
  fi
fi

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
