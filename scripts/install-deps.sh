#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need; packages that
# are already installed are left alone.
set -euo pipefail

packages=(
  cmake make g++
  googletest libgtest-dev libgmock-dev pkg-config
  libcpp-httplib-dev libsqlite3-dev
  libbenchmark-dev
  libgl-dev libglu1-mesa-dev freeglut3-dev libx11-dev libgl1-mesa-dri
  xvfb xauth xdotool imagemagick valgrind
  clang-14 libclang-rt-14-dev
  jq
  mandoc groff-base
  libfreetype-dev fonts-dejavu-core
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
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
