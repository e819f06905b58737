#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that a task needs; packages already installed are left alone.
# Each make target asks for its own profile:
#   run      build and play the game (compiler, OpenGL, GLUT, X11, OpenAL)
#   server   build the high-score service (cpp-httplib, SQLite)
#   package  build the Debian packages (both of the above, dpkg-dev, rsvg-convert for icons)
#   bench    run the benchmarks (Google Benchmark, a virtual display)
#   fuzz     build and run the fuzz targets (clang and its libFuzzer runtime)
#   test     everything `make test` runs: all of the above and the test tools
# Usage: scripts/install-deps.sh PROFILE...   (no profile: test)
set -euo pipefail

declare -A profile
profile[base]="cmake make g++ pkg-config"
profile[run]="${profile[base]} libgl-dev libglu1-mesa-dev freeglut3-dev libx11-dev libgl1-mesa-dri
  libopenal-dev"
profile[server]="${profile[base]} libcpp-httplib-dev libsqlite3-dev"
profile[package]="${profile[run]} ${profile[server]} dpkg-dev librsvg2-bin"
profile[bench]="${profile[run]} ${profile[server]} libbenchmark-dev libzstd-dev xvfb xauth xdotool"
profile[fuzz]="${profile[server]} clang-14 libclang-rt-14-dev"
profile[test]="${profile[package]} ${profile[bench]} ${profile[fuzz]}
  googletest libgtest-dev libgmock-dev
  imagemagick valgrind jq curl nginx openssl mandoc groff-base chromium sqlite3
  libfreetype-dev fonts-dejavu-core desktop-file-utils appstream lintian debootstrap"

[ $# -eq 0 ] && set -- test
packages=()
for name in "$@"; do
  if [ -z "${profile[$name]:-}" ] || [ "$name" = base ]; then
    echo "install-deps: no profile '$name' (run, server, package, bench, fuzz, test)" >&2
    exit 2
  fi
  read -r -a listed <<<"$(echo ${profile[$name]})"
  packages+=("${listed[@]}")
done

missing=()
for p in $(printf "%s\n" "${packages[@]}" | sort -u); do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "install-deps: need root or sudo to install ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# The nginx test runs nginx in a scratch folder of its own. The system nginx that the package
# would start on port 80 is not wanted on a build machine, and where port 80 is taken its
# failed start would fail the whole install. A policy-rc.d that refuses every start keeps
# dpkg from starting services during this install; one already in place is left alone.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
  "${sudo[@]}" chmod 755 "$policy"
  trap '"${sudo[@]}" rm -f "$policy"' EXIT
fi
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
