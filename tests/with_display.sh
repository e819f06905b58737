#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command on a fresh virtual display with Mesa's software renderer.
set -euo pipefail
export LIBGL_ALWAYS_SOFTWARE=1
export MESA_SHADER_CACHE_DIR="${MESA_SHADER_CACHE_DIR:-${TMPDIR:-/tmp}/kulimbara-mesa-cache}"
size="${KULIMBARA_SCREEN:-1280x1024x24}"
exec xvfb-run -a -s "-screen 0 ${size}" "$@"
