#!/bin/sh
# Runs present_bench on a private 1920 x 1080 Xvfb (display :97) and takes two screenshots:
# one by the bench itself and one with ImageMagick's import from outside.
# Usage: bench/qt/run_present_bench.sh <build dir> [source dir]
set -u
build=${1:?build dir}
source=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
out=$build/bench_out
mkdir -p "$out"
Xvfb :97 -screen 0 1920x1080x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null' EXIT
sleep 1
DISPLAY=:97 QT_QPA_PLATFORM=xcb "$build/present_bench" "$source" "$out/screen_bench.png" 3000 &
bench=$!
# The bench saves its own screenshot just before it holds the last frame.
rm -f "$out/screen_bench.png"
for _ in $(seq 100); do [ -s "$out/screen_bench.png" ] && break; sleep 0.2; done
DISPLAY=:97 import -window root "$out/screen_import.png" && echo "screenshot $out/screen_import.png (import)"
wait $bench
