#!/bin/sh
# Runs present_bench on a private 1920 x 1080 Xvfb (on a display number it finds free) and
# takes two screenshots: one by the bench itself and one with ImageMagick's import from
# outside.
# Usage: bench/qt/run_present_bench.sh <build dir> [source dir]
set -u
build=${1:?build dir}
source=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
out=$build/bench_out
mkdir -p "$out"
rm -f "$out/display"
# Xvfb writes the number it took to the descriptor given.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$out/display" >"$out/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null' EXIT
for _ in $(seq 50); do [ -s "$out/display" ] && break; sleep 0.1; done
display=:$(cat "$out/display")
echo "Xvfb on $display"
rm -f "$out/screen_bench.png"
DISPLAY=$display QT_QPA_PLATFORM=xcb "$build/present_bench" "$source" "$out/screen_bench.png" 3000 &
bench=$!
# The bench saves its own screenshot just before it holds the last frame.
for _ in $(seq 300); do [ -s "$out/screen_bench.png" ] && break; sleep 0.2; done
DISPLAY=$display import -window root "$out/screen_import.png" && echo "screenshot $out/screen_import.png (import)"
wait $bench
