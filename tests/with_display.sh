#!/usr/bin/env bash
# Runs a command on a fresh virtual display with Mesa's software renderer.
set -euo pipefail
export LIBGL_ALWAYS_SOFTWARE=1
# Sanitizer builds: the GL context that GLUT makes lives until exit (see lsan_gl.supp).
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$(cd "$(dirname "$0")" && pwd)/lsan_gl.supp}"
export MESA_SHADER_CACHE_DIR="${MESA_SHADER_CACHE_DIR:-${TMPDIR:-/tmp}/kulimbara-mesa-cache}"
size="${KULIMBARA_SCREEN:-1280x1024x24}"
exec xvfb-run -a -s "-screen 0 ${size}" "$@"
