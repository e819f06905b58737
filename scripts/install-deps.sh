#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need; packages that
# are already installed are left alone.
set -euo pipefail

packages=(
  cmake make g++
  googletest libgtest-dev libgmock-dev pkg-config
  libcpp-httplib-dev libsqlite3-dev
  libbenchmark-dev libzstd-dev
  libgl-dev libglu1-mesa-dev freeglut3-dev libx11-dev libgl1-mesa-dri
  libopenal-dev
  xvfb xauth xdotool imagemagick valgrind
  clang-14 libclang-rt-14-dev
  jq curl nginx openssl
  mandoc groff-base
  libfreetype-dev fonts-dejavu-core
  librsvg2-bin desktop-file-utils appstream
  dpkg-dev lintian debootstrap
)

missing=()
for p in "${packages[@]}"; do
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
