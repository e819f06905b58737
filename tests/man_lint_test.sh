#!/usr/bin/env bash
# The manual pages: mandoc's lint and groff's warnings find nothing, the pages render within 80
# columns, their headers carry the project's version and their own name and section, and every
# option in a program's usage line is documented on its page.
# Usage: man_lint_test.sh VERSION PAGE[=PROGRAM]...  (PROGRAM prints its usage line when given
# an unknown option)
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
    usage=$("$program" --no-such-option 2>&1 >/dev/null | grep '^usage: ')
    check "$name: $program prints a usage line" [ -n "$usage" ]
    for option in $(grep -o -- '--[a-z-]*' <<<"$usage" | sort -u); do
        check "$name: documents $option" grep -q -- "^\.BI\? ${option//-/\\\\-}\b" "$page"
    done
done

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
