#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The committed outline table is exactly what the generator makes from the font.
#   font_table_regen_test.sh GENERATOR FONT COMMITTED_TABLE
set -euo pipefail
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$1" "$2" "$scratch/font_table.cpp"
if ! cmp -s "$scratch/font_table.cpp" "$3"; then
    echo "font table: $3 differs from what tools/font_table_gen.cpp makes; run make font-table" >&2
    diff "$3" "$scratch/font_table.cpp" | head -20 >&2
    exit 1
fi
