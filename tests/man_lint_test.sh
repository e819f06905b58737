#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The manual pages: mandoc's lint and groff's warnings find nothing, the pages render within 80
# columns, their headers carry the project's version and their own name and section; a program's
# --help begins with the usage that a mistake prints, and every option of the usage and the help
# has a tagged paragraph (.TP) on the page.
# Usage: man_lint_test.sh VERSION PAGE[=PROGRAM]...  (PROGRAM prints its usage after one problem
# line when given an unknown option)
set -u
version=$1
shift
failures=0 passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { if "${@:2}"; then passes=$((passes + 1)); else fail "$1"; fi; }  # WHAT COMMAND...
empty() { [ -z "$1" ] || { printf '%s\n' "$1"; return 1; }; }

for pair in "$@"; do
    page=${pair%%=*} program=
    [ "$page" != "$pair" ] && program=${pair#*=}
    name=$(basename "$page") section=${page##*.}
    name=${name%.*}
    check "$name: mandoc -Tlint" empty "$(mandoc -Tlint "$page" 2>&1)"
    if command -v groff >/dev/null; then
        check "$name: groff -man -ww -z" empty "$(groff -man -ww -z "$page" 2>&1)"
    fi
    # Overstruck bold and underlined characters count once.
    check "$name: rendered lines over 80 columns" empty \
        "$(mandoc -Tascii "$page" | sed 's/.\x08//g' | awk 'length > 80')"
    title=$(grep -m1 '^\.TH ' "$page")
    upper=$(printf '%s' "$name" | tr a-z A-Z | sed 's/-/\\\\-/g')
    check "$name: header '$title' names the page, section $section and Kulimbara $version" \
        grep -q "^\.TH $upper $section [0-9-]* \"Kulimbara $version\" " "$page"
    [ -n "$program" ] || continue
    usage=$("$program" --no-such-option 2>&1 >/dev/null | tail -n +2)
    check "$name: $program prints a usage line" grep -q '^usage: ' <<<"$usage"
    help=$("$program" --help 2>&1)
    check "$name: --help begins with the usage" [ "${help:0:${#usage}}" = "$usage" ]
    # The words of the paragraph tags, without quotes and commas.
    tags=$(awk '/^\.TP/ { getline; for (i = 2; i <= NF; i++) { gsub(/[",]/, "", $i); print $i } }' "$page")
    options=$({
        grep -o -- '--[a-z-]*' <<<"$usage"
        # The help's option lines: "  -h, --help  print ...", up to the first double space.
        grep -- '^  -' <<<"$help" | sed -E 's/^  //; s/  .*//' | grep -oE -- '-{1,2}[a-z][a-z-]*'
    } | sort -u)
    for option in $options; do
        check "$name: documents $option" grep -qxF -- "${option//-/\\-}" <<<"$tags"
    done
done

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
