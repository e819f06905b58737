#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The board's page in a real browser, headless Chromium, at a desktop's 1280x900 and a phone's
# 390x844: each player's best and one player's scores, from a board with equal scores, the
# longest names and dates of every width. Judged from the laid-out page (no horizontal scroll,
# every row one line high, every date on one line) and from its screenshot (the names, scores
# and dates drawn, nothing cut at the right edge). Exits 77 when Chromium cannot start at all.
# Usage: board_page_test.sh SERVICE [CHROMIUM [OUTDIR]]
# With OUTDIR, the desktop and phone pictures of the board are kept there as board.png and
# board-phone.png (the README's pictures: docs/screenshots).
set -u
service=$1 chromium=${2:-chromium} outdir=${3:-}
scratch=$(mktemp -d) || exit 1
service_pid=
trap '[ -n "$service_pid" ] && kill -KILL "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
passed=0 failed=0
verdict() {  # OK WHAT FIGURES...
  if [ "$1" = 1 ]; then
    echo "PASS: $2: ${*:3}"; passed=$((passed + 1))
  else
    echo "FAIL: $2: ${*:3}"; failed=$((failed + 1))
  fi
}
# shellcheck source=service_test_lib.sh
. "$(dirname "$0")/service_test_lib.sh"

# Chromium keeps its profile, caches and crash reports in the scratch folder.
mkdir -p "$scratch/home"
browse() {  # WIDTH HEIGHT CHROMIUM-OPTION... PAGE
  HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home XDG_CACHE_HOME=$scratch/home \
    timeout 60 "$chromium" --headless --no-sandbox --disable-gpu --no-first-run \
    --disable-crash-reporter --hide-scrollbars --user-data-dir="$scratch/profile" \
    --window-size="$1,$2" --virtual-time-budget=5000 "${@:3}" 2>>"$scratch/chromium.log"
}
if ! browse 800 600 --dump-dom about:blank >/dev/null; then
  echo "board-page: skipped, Chromium ($chromium) cannot start: $(tail -3 "$scratch/chromium.log")" >&2
  exit 77
fi
command -v sqlite3 >/dev/null || { echo "FAIL: sqlite3 is needed to fill the board"; exit 1; }

# The service makes the database; the board is then filled as years of posts would have.
start_service 127.0.0.1 || exit 1
kill -TERM "$service_pid"; wait "$service_pid"; service_pid=
sqlite3 "$scratch/scores.sqlite" <<'EOF' || { echo "FAIL: cannot fill the board"; exit 1; }
INSERT INTO scores (name, score, posted_utc, address, replay) VALUES
 ('ada', 2820, '2026-12-07T20:15:03Z', '', '0123456789abcdef'),
 ('wwwwwwwwwwwwwwww', 2410, '2026-12-01T08:00:00Z', '', NULL),
 ('best_of_the_best', 2410, '2026-11-30T23:59:59Z', '', 'fedcba9876543210'),
 ('ada', 2300, '2026-12-06T10:00:00Z', '', NULL),
 ('ada', 2290, '2026-11-28T10:00:00Z', '', '0000000000000001'),
 ('two words', 1980, '2026-11-17T12:00:00Z', '', NULL),
 ('marek', 1750, '2026-10-22T12:00:00Z', '', '00112233445566aa'),
 ('zz_top 2', 1750, '2026-09-21T12:00:00Z', '', NULL),
 ('ada', 1700, '2026-08-05T10:00:00Z', '', NULL),
 ('mmmmmmmmmmmmmmmm', 1320, '2026-07-14T12:00:00Z', '', NULL),
 ('x', 990, '2026-06-01T12:00:00Z', '', NULL),
 ('ada', 870, '2026-05-30T10:00:00Z', '', NULL),
 ('wm wm wm wm wm w', 100, '2026-01-09T12:00:00Z', '', NULL);
EOF
start_service 127.0.0.1 || exit 1

# The page as the service sends it, inside an iframe of the screen's size (Chromium's own
# window is at least 500 pixels wide) whose script writes the laid-out figures into the
# frame's page: srcdoc makes the board the frame's own document, readable from the script.
frame_page() {  # URL WIDTH HEIGHT OUT
  local page=$scratch/page.html
  curl -s --max-time 5 -o "$page" "$1" || return 1
  {
    printf '<!DOCTYPE html><html><head><style>html,body{margin:0;overflow:hidden}'
    printf 'iframe{border:0;display:block}</style></head><body>\n'
    printf '<iframe id="board" width="%s" height="%s" srcdoc="' "$2" "$3"
    sed -e 's/&/\&amp;/g' -e 's/"/\&quot;/g' "$page"
    cat <<'EOF'
"></iframe><pre id="figures"></pre>
<script>
document.getElementById("board").onload = function () {
  var d = this.contentDocument, html = d.documentElement, out = [];
  out.push("viewport " + html.clientWidth + " " + html.scrollWidth);
  d.querySelectorAll("tr").forEach(function (row, i) {
    if (i > 0) out.push("row " + row.getBoundingClientRect().height + " " + row.getBoundingClientRect().right);
  });
  d.querySelectorAll("td.when time").forEach(function (t) {
    out.push("date " + t.getClientRects().length + " " + t.textContent.replace(/ /g, "_"));
  });
  d.querySelectorAll("td.name").forEach(function (n) { out.push("name " + n.getClientRects().length); });
  document.getElementById("figures").textContent = out.join("\n");
};
</script></body></html>
EOF
  } >"$4"
}

# The laid-out page: no horizontal scroll; every row one line, no row higher than 1.25 times the
# lowest nor than 44 px, none past the viewport; every date on one line.
judge_layout() {  # WHAT FIGURES
  local figures
  figures=$(sed -n '/<pre id="figures">/,/<\/pre>/p' "$2" | sed -e 's/.*<pre id="figures">//' -e 's|</pre>.*||')
  # shellcheck disable=SC2016
  local judged
  judged=$(awk '
    $1 == "viewport" { width = $2; scroll = $3 }
    $1 == "row" { rows++; h[rows] = $2; right[rows] = $3; if (low == "" || $2 < low) low = $2; if ($2 > high) high = $2 }
    $1 == "date" { dates++; if ($2 != 1) { bad = bad " date " $3 " in " $2 " lines" } }
    $1 == "name" { if ($2 != 1) bad = bad " a name in " $2 " boxes" }
    END {
      if (width == "" || rows == 0) { print "0 no figures from the page"; exit }
      if (scroll > width) bad = bad " scrolls " scroll - width " px sideways"
      if (high > 1.25 * low || high > 44) bad = bad " rows from " low " to " high " px high"
      for (i = 1; i <= rows; i++) if (right[i] > width) bad = bad " row " i " ends at " right[i]
      printf "%d viewport %d px, page %d px wide, %d rows %.1f to %.1f px high, %d dates%s\n",
        bad == "", width, scroll, rows, low, high, dates, bad
    }' <<<"$figures")
  verdict "${judged%% *}" "$1" "${judged#* }"
}

# The picture: its size; scores (yellow), names (green) and dates (grey) drawn; and the page's
# right margin dark, so nothing was cut at the edge.
judge_picture() {  # WHAT PNG WIDTH HEIGHT
  local size yellow green grey box right
  size=$(identify -format '%wx%h' "$2" 2>/dev/null)
  count() { convert "$2" -fuzz 12% -fill white -opaque "$1" -fill black +opaque white \
    -format '%[fx:round(mean*w*h)]' info:; }
  yellow=$(count '#eeee33' "$2") green=$(count '#33ee33' "$2") grey=$(count '#999999' "$2")
  box=$(convert "$2" -fuzz 4% -format '%@' info:)  # WxH+X+Y of what is not the background
  right=$(awk -F'[x+]' '{ print $1 + $3 }' <<<"$box")
  local ok=1
  [ "$size" = "$3x$4" ] || ok=0
  [ "${yellow:-0}" -gt 300 ] && [ "${green:-0}" -gt 300 ] && [ "${grey:-0}" -gt 300 ] || ok=0
  [ "${right:-$3}" -le $(($3 - 8)) ] || ok=0
  verdict "$ok" "$1" "${size:-no picture}, score pixels $yellow, name pixels $green," \
    "date pixels $grey, drawn up to x=$right"
}

board=http://127.0.0.1:$service_port
for screen in desktop:1280:900 phone:390:844; do
  IFS=: read -r label width height <<<"$screen"
  for view in "/" "/?player=ada"; do
    what="$label $view"
    frame_page "$board$view" "$width" "$height" "$scratch/frame.html" ||
      { verdict 0 "$what" "the service did not answer"; continue; }
    browse "$width" "$height" --dump-dom "file://$scratch/frame.html" >"$scratch/dom.html"
    judge_layout "$what: layout" "$scratch/dom.html"
    shot=$scratch/$label${view//[^a-z]/-}.png
    browse "$width" "$height" --screenshot="$shot" "file://$scratch/frame.html" >/dev/null
    judge_picture "$what: picture" "$shot" "$width" "$height"
  done
done

if [ -n "$outdir" ]; then
  cp "$scratch/desktop-.png" "$outdir/board.png" && cp "$scratch/phone-.png" "$outdir/board-phone.png" &&
    echo "wrote $outdir/board.png and $outdir/board-phone.png"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
