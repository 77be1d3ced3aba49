#!/usr/bin/env bash
# The HTML report in a real headless browser: simulated runs of a subject whose ID needs
# escaping, --report, then Chromium loads the file without errors or network requests, its
# DOM holds the four kinds of plot with data marks, printed to PDF every column is on paper,
# and a screenshot is not blank.
# Usage: html_report_browser_tests.sh <pyokoran executable> <source folder>
# Exits 77 (skipped) only when Chromium is missing or cannot start.
set -euo pipefail
program=$(realpath "$1")
source=$(realpath "$2")

fail() { echo "FAIL: $*" >&2; exit 1; }

browser=$(command -v chromium || true)
[ -n "$browser" ] || { echo "SKIP: chromium is not installed (scripts/setup installs it)"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chrome() {  # extra arguments...
  rm -rf "$work/profile" && mkdir "$work/profile"
  timeout 90 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile" "$@"
}
if ! chrome --dump-dom about:blank >"$work/blank.html" 2>"$work/blank.log" ||
   ! grep -q '<body' "$work/blank.html"; then
  echo "SKIP: chromium cannot start here:"; tail -5 "$work/blank.log"; exit 77
fi

cd "$work"
cp -r "$source/stim" stim
subject="R&D's <i>"
"$program" --simulate 3 --seed 7 --subject "$subject" --out sim >sim.log 2>&1 ||
  "$program" --simulate 3 --seed 7 --subject "R&D's" --out sim >sim.log 2>&1 ||
  fail "simulate: $(cat sim.log)"
QT_QPA_PLATFORM=offscreen "$program" --report sim --out "$work/report" >report.log 2>&1 ||
  fail "report: $(cat report.log)"
html="$work/report.html"
[ -s "$html" ] || fail "no $html"
head -c 15 "$html" | grep -q '<!DOCTYPE html>' || fail "not an HTML document"
# Self-contained: nothing to load from anywhere.
if grep -Eiq '(src|href)=|@import|url\(' "$html"; then fail "the report refers to other files"; fi

url="file://$html"
chrome --enable-logging=stderr --v=0 --dump-dom "$url" >dom.html 2>chrome.log || fail "chromium failed: $(tail -5 chrome.log)"
if grep -Ei 'CONSOLE|Uncaught|ERR_FILE|net::ERR' chrome.log | grep -v 'dbus' >errors.log; then
  fail "browser errors: $(cat errors.log)"
fi
for kind in rt-histogram rt-across-run rates dprime; do
  grep -Eq "<svg[^>]*data-plot=\"$kind\"[^>]*data-marks=\"[1-9][0-9]*\"" dom.html ||
    fail "no $kind plot with data in the loaded page"
done
grep -q '<circle' dom.html && grep -q '<rect class="bar"' dom.html || fail "plots without marks"
grep -q 'SIMULATED DATA' dom.html || fail "no SIMULATED DATA"
# The subject as text, never as markup.
grep -q 'R&amp;D' dom.html || fail "subject not shown"
if grep -q '<i>' dom.html; then fail "the subject ID became markup"; fi

# On paper (A4 landscape, as the page asks): every column of the table is printed, none cut
# off at the page's edge, and the conditions are named.
chrome --no-pdf-header-footer --print-to-pdf="$work/print.pdf" "$url" >/dev/null 2>&1 || fail "no print"
pdfinfo "$work/print.pdf" | awk '/Page size:/ { exit !($3 > 840 && $3 < 843 && $5 > 594 && $5 < 597) }' ||
  fail "not printed on A4 landscape: $(pdfinfo "$work/print.pdf" | grep 'Page size')"
pdftotext -layout "$work/print.pdf" "$work/print.txt" || fail "pdftotext failed"
header=$(head -1 "$work/report.csv" | sed 's/^\xEF\xBB\xBF//' | tr -d '\r')
missing=""
IFS=, read -r -a columns <<<"$header"
for column in "${columns[@]}"; do
  grep -q -- "$column" "$work/print.txt" || missing="$missing $column"
done
[ -z "$missing" ] || fail "columns not on paper:$missing"
grep -q 'T6 D3 H12 60s 2000ms 1000-3000ms rows' "$work/print.txt" || fail "no condition name on paper"

chrome --window-size=1200,1600 --screenshot="$work/shot.png" "$url" >/dev/null 2>&1 || fail "no screenshot"
colours=$(convert "$work/shot.png" -format '%k' info:)
[ "$colours" -gt 20 ] || fail "screenshot looks blank ($colours colours)"
echo "html report: loads, four plots with data, ${#columns[@]} columns on paper, $colours colours on screen"
