#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The two Debian packages as a user gets them: what they hold and declare, what lintian says,
# and, as root with debootstrap, how they install on a clean Debian 12. The service goes in
# first and must bring no OpenGL or X11 with it; it starts, and its removal and purge keep the
# scores. The game goes in next, prints its version, and stays up on a virtual display.
# Usage: package_test.sh GAME.deb SERVICE.deb
# KULIMBARA_DEBIAN_MIRROR picks the mirror; KULIMBARA_SKIP_CHROOT=1 stops before the chroot.
set -u
game_deb=$(realpath "$1") service_deb=$(realpath "$2")
mirror=${KULIMBARA_DEBIAN_MIRROR:-http://deb.debian.org/debian}
scratch=$(mktemp -d) || exit 1
root=$scratch/root
cleanup() {
    # Whatever still runs inside the chroot goes before its /proc does.
    if mountpoint -q "$root/proc" 2>/dev/null; then
        for pid in $(ls /proc | grep -E '^[0-9]+$'); do
            [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] && kill -KILL "$pid" 2>/dev/null
        done
        umount "$root/proc"
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
failures=0 passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { passes=$((passes + 1)); }
expect() { if "${@:2}"; then ok; else fail "$1"; fi; }  # WHAT COMMAND...
finish() {
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
    exit
}
field() { dpkg-deb -f "$1" "$2"; }                # DEB FIELD
member() { dpkg-deb --fsys-tarfile "$1" | tar -xOf - "./$2"; }  # DEB PATH: the file's text
listing() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./|/|'; }

echo "== sizes"
du -h "$game_deb" "$service_deb"
for deb in "$game_deb" "$service_deb"; do
    echo "$(field "$deb" Package): $(field "$deb" Installed-Size) KiB installed;" \
         "Depends: $(field "$deb" Depends)"
done

echo "== contents"
# install_test.sh checks each file of the two components; here what the packages add to them.
game_files=$(listing "$game_deb") service_files=$(listing "$service_deb")
expect "the game package holds /usr/games/kulimbara" grep -qx /usr/games/kulimbara <<<"$game_files"
expect "the game package declares freeglut" grep -q libglut <<<"$(field "$game_deb" Depends)"
expect "the game package declares the OpenAL runtime" grep -q libopenal1 <<<"$(field "$game_deb" Depends)"
expect "nothing is packaged under /usr/local" \
    test -z "$(printf '%s\n' "$game_files" "$service_files" | grep '^/usr/local')"
site=/etc/nginx/sites-available/kulimbara-highscore
expect "the nginx site is a configuration file" \
    grep -qx "$site" <<<"$(dpkg-deb --ctrl-tarfile "$service_deb" | tar -xOf - ./conffiles)"
unit_text=$(member "$service_deb" usr/lib/systemd/system/kulimbara-highscore.service)
expect "the unit starts the packaged service" grep -q '^ExecStart=/usr/sbin/kulimbara-highscore ' <<<"$unit_text"
expect "the unit runs as the system user" grep -qx 'User=kulimbara-highscore' <<<"$unit_text"

echo "== lintian"
if command -v lintian >/dev/null; then
    lintian --display-info "$game_deb" "$service_deb" >"$scratch/lintian" 2>&1
    grep -v '^N:\|^running with root' "$scratch/lintian"
    expect "lintian finds no error" test -z "$(grep '^E:' "$scratch/lintian")"
else
    echo "lintian is not installed: skipped"
fi

if [ "${KULIMBARA_SKIP_CHROOT:-0}" = 1 ] || [ "$(id -u)" -ne 0 ] || ! command -v debootstrap >/dev/null; then
    echo "== install on Debian 12: skipped (it needs root and debootstrap)"
    finish
fi

echo "== install on Debian 12 ($mirror)"
started=$SECONDS
if ! debootstrap --variant=minbase bookworm "$root" "$mirror" >"$scratch/debootstrap.log" 2>&1; then
    tail -20 "$scratch/debootstrap.log"
    fail "debootstrap could not build a Debian 12 chroot"
    finish
fi
echo "debootstrap: $((SECONDS - started)) s"
mount -t proc proc "$root/proc"
cp "$game_deb" "$service_deb" "$root/tmp/"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
            DEBIAN_FRONTEND=noninteractive "$@"; }
apt_install() {  # LOG PACKAGE...: installs, prints the log on failure
    local log=$scratch/$1
    shift
    in_root apt-get install -y -q --no-install-recommends "$@" >"$log" 2>&1 || { tail -20 "$log"; return 1; }
}
gl_libs='libgl1|libglu1|libglut|freeglut|libglx|libegl|libx11|mesa|libopenal'
installed_gl() { in_root dpkg-query -W -f='${Package} ${Status}\n' | grep ' installed$' | grep -E "^($gl_libs)"; }

expect "apt-get installs the service package" apt_install service.log "/tmp/$(basename "$service_deb")"
expect "the service package brings no OpenGL, X11 or OpenAL" test -z "$(installed_gl)"
expect "postinst creates the system user" in_root getent passwd kulimbara-highscore >/dev/null
expect "the state folder belongs to the system user" \
    test "$(in_root stat -c %U /var/lib/kulimbara-highscore)" = kulimbara-highscore
# As systemd would run it: the packaged binary, as its user, with its database in the state folder.
# (exec: the shell's own child would take the signal in the service's place.)
(exec chroot "$root" env -i PATH=/usr/bin:/bin LANG=C.UTF-8 \
    setpriv --reuid=kulimbara-highscore --regid=kulimbara-highscore --init-groups \
    /usr/sbin/kulimbara-highscore --listen 127.0.0.1:0 \
    --db /var/lib/kulimbara-highscore/highscores.sqlite) 2>"$scratch/service.err" &
service_pid=$!
for _ in $(seq 50); do grep -q 'listening on' "$scratch/service.err" && break; sleep 0.1; done
expect "the service starts as its user: $(head -1 "$scratch/service.err")" grep -q 'listening on' "$scratch/service.err"
kill -TERM "$service_pid" 2>/dev/null
wait "$service_pid"
status=$?
expect "the service stops cleanly on SIGTERM (status $status: $(tail -1 "$scratch/service.err"))" \
    test "$status" -eq 0
expect "apt-get purges the service package" in_root apt-get purge -y -q kulimbara-highscore >"$scratch/purge.log" 2>&1
expect "the scores outlive the purge" test -f "$root/var/lib/kulimbara-highscore/highscores.sqlite"

expect "apt-get installs the game package" apt_install game.log "/tmp/$(basename "$game_deb")"
version=$(in_root /usr/games/kulimbara --version)
expect "kulimbara --version prints $(field "$game_deb" Version) (got '$version')" \
    test "$version" = "kulimbara $(field "$game_deb" Version)"

# A second on a virtual display, with only the libraries the package brought: xvfb is the
# test's, not the game's.
if apt_install xvfb.log xvfb xauth; then
    cat >"$root/tmp/run-game.sh" <<'EOF'
#!/bin/sh
# Prints "up" when the game is still running a second after it started on its own display.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>/tmp/display 2>/tmp/xvfb.err &
xvfb=$!
for _ in $(seq 50); do [ -s /tmp/display ] && break; sleep 0.1; done
DISPLAY=:$(cat /tmp/display) /usr/games/kulimbara --windowed >/tmp/game.out 2>&1 &
game=$!
sleep 1
if kill -0 "$game" 2>/dev/null; then echo up; else cat /tmp/game.out /tmp/xvfb.err; fi
kill "$game" "$xvfb" 2>/dev/null
wait
EOF
    chmod +x "$root/tmp/run-game.sh"
    result=$(in_root /tmp/run-game.sh)
    expect "the game stays up a second on a virtual display: $result" test "$result" = up
else
    fail "xvfb could not be installed in the chroot"
fi
echo "install on Debian 12: $((SECONDS - started)) s"
finish
