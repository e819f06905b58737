#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# `cmake --install` into a scratch prefix, whole and per component: every file in its place, the
# desktop entry and AppStream metainfo valid, the icons at their sizes, the installed programs
# running, the game with its sound library, and the service component free of OpenGL, X11
# and OpenAL.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR VERSION GAME(ON|OFF)
set -u
build=$1 source=$2 version=$3 game=$4
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
failures=0 passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() { if "${@:2}"; then passes=$((passes + 1)); else fail "$1"; fi; }  # WHAT COMMAND...
quiet() { "$@" >"$scratch/out" 2>&1 || { cat "$scratch/out"; return 1; }; }
install_into() {  # PREFIX [COMPONENT]
    quiet cmake --install "$build" --prefix "$1" ${2:+--component "$2"}
}
png_size() {  # FILE: "WIDTH HEIGHT" from the PNG header
    [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || return 1
    od -An -tu1 -j16 -N8 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}'
}
gl_linked() {  # PREFIX: the installed programs that load OpenGL, GLUT, X11 or OpenAL
    find "$1" -type f -perm -u+x | while read -r program; do
        ldd "$program" 2>/dev/null | grep -Eq 'lib(GL|GLU|glut|X11|openal)\.' && echo "$program"
    done
}

service=$scratch/service
expect "the service component installs" install_into "$service" service
expect "the service component holds the service, its unit, nginx site and manual" test -x \
    "$service/sbin/kulimbara-highscore" -a -f "$service/lib/systemd/system/kulimbara-highscore.service" \
    -a -f "$service/etc/nginx/sites-available/kulimbara-highscore" \
    -a -f "$service/share/man/man8/kulimbara-highscore.8.gz"
expect "the service component loads no OpenGL, X11 or OpenAL: $(gl_linked "$service")" \
    test -z "$(gl_linked "$service")"
expect "the service component holds nothing of the game" \
    test -z "$(find "$service" -name '*kulimbara.*' -o -name 'kulimbara' -o -name 'kulimbara-post*')"
"$service/sbin/kulimbara-highscore" --no-such-option >/dev/null 2>&1
expect "the installed service runs (bad option: status 2)" test $? -eq 2

# systemd's own rating of the units' sandbox, read from the files (no running systemd needed):
# 0.9 at most of its 10. systemd ignores a misspelt or malformed setting with only a warning,
# so any warning fails too.
if command -v systemd-analyze >/dev/null; then
    for unit in "$service/lib/systemd/system/kulimbara-highscore.service" \
        "$source/deploy/kulimbara-highscore.service"; do
        systemd-analyze security --offline=yes --threshold=9 "$unit" >"$scratch/rating" 2>"$scratch/warnings"
        status=$?
        rating=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' "$scratch/rating")
        expect "${unit#"$scratch/"} is rated 0.9 or less (got '$rating', status $status)" test "$status" -eq 0
        expect "systemd reads ${unit#"$scratch/"} without a warning: $(cat "$scratch/warnings")" \
            test ! -s "$scratch/warnings"
    done
else
    echo "SKIP: systemd-analyze is missing: the units' sandbox is not rated"
fi

if [ "$game" = ON ]; then
    prefix=$scratch/all
    expect "everything installs" install_into "$prefix"
    expect "the game component installs" install_into "$scratch/game" game
    expect "the game component holds nothing of the service" \
        test -z "$(find "$scratch/game" -name 'kulimbara-highscore*' -not -path '*/doc/*' -o -path '*/systemd*')"
    expect "the installed game loads OpenAL" grep -q libopenal <<<"$(ldd "$prefix/games/kulimbara")"
    got=$("$prefix/games/kulimbara" --version)
    expect "the installed game says 'kulimbara $version' (got '$got')" test "$got" = "kulimbara $version"
    "$prefix/games/kulimbara-post" >/dev/null 2>&1
    expect "the installed post client runs (no arguments: status 2)" test $? -eq 2
    expect "the game's manuals are installed" \
        test -f "$prefix/share/man/man6/kulimbara.6.gz" -a -f "$prefix/share/man/man1/kulimbara-post.1.gz"

    id=org.kulimbara.Kulimbara
    expect "the desktop entry validates" quiet desktop-file-validate "$prefix/share/applications/$id.desktop"
    expect "the desktop entry starts a program that is installed" test -x \
        "$prefix/games/$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$prefix/share/applications/$id.desktop")"
    metainfo=$prefix/share/metainfo/$id.metainfo.xml
    expect "the metainfo validates" quiet appstreamcli validate --no-net --explain "$metainfo"
    shots=$(sed -n 's|.*<image>.*/\([^/<]*\)</image>.*|\1|p' "$metainfo")
    # The README's screenshots are the ones published: a renamed one would break the metainfo.
    expect "the metainfo shows three screenshots" test "$(wc -w <<<"$shots")" -eq 3
    for shot in $shots; do
        expect "screenshot $shot is in docs/screenshots" test -f "$source/docs/screenshots/$shot"
    done

    icons=$prefix/share/icons/hicolor
    expect "the scalable icon is installed" test -f "$icons/scalable/apps/$id.svg"
    for size in 16 22 24 32 48 64 128 256 512; do
        got=$(png_size "$icons/${size}x$size/apps/$id.png")
        expect "the ${size} px icon is a PNG of $size x $size (got '$got')" test "$got" = "$size $size"
    done
    # The game's icon must not be a blank square: the 48 px one has both opaque and clear pixels.
    if command -v convert >/dev/null; then
        alpha=$(convert "$icons/48x48/apps/$id.png" -alpha extract -format '%[fx:minima] %[fx:maxima]' info:)
        expect "the 48 px icon has clear and opaque pixels (alpha range $alpha)" test "$alpha" = "0 1"
    fi
fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
