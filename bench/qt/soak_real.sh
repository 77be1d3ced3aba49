#!/usr/bin/env bash
# The real program on its own Xvfb, driven by synthetic X input through many Start -> Escape
# cycles: a click on the main window, OK in the condition dialog, Return to the start
# message, a second of the run, Escape, Return to the end message and to the ranking (a
# summary file with three runs is there from the start). Prints the program's resident
# memory after start-up, after the first cycle, after ten and at the end (goal: flat within
# 1 MiB from the tenth cycle on), and the time per cycle; exits nonzero when memory grew or
# a step did not come.
#
# Usage: bench/qt/soak_real.sh <build dir> [cycles (50)] [display (:46)]
set -euo pipefail
program=$(realpath "${1:?build dir}/pyokoran")
cycles=${2:-50}
display=${3:-:46}
source=$(cd "$(dirname "$0")/../.." && pwd)

fail() { echo "soak_real: $*" >&2; exit 1; }

work=$(mktemp -d /tmp/pyokoran-soak-XXXXXX)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 200); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
xdotool getmouselocation >/dev/null 2>&1 || fail "Xvfb $display did not start: $(cat "$work/xvfb.log")"

cp -r "$source/stim" "$work/stim"
printf 'time_limit = 60\r\nrandom_seed = 1\r\n' >"$work/ピョコラン.ini"
{
  printf 'Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\tTmLimit\tRndSeed\tHit\tMiss\tCR\tFA\tScore\r\n'
  for s in 12 20 7; do
    printf 'SBJ0000\t2014/05/07\t13:05:09\t6\t3\t12\t1\t2000\t1000\t3000\t60\t1\t%d\t0\t0\t0\t%d\r\n' "$s" "$s"
  done
} >"$work/ピョコラン.txt"

cd "$work"
unset QT_QPA_PLATFORM
SDL_AUDIODRIVER=dummy "$program" >"$work/program.log" 2>&1 &
app_pid=$!

rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$app_pid/status"; }
# A search can fail on its own when a window goes away while it looks (BadWindow): ask again.
wait_for() {  # window name
  for _ in $(seq 400); do
    if xdotool search --name "$1" >/dev/null 2>&1; then
      sleep 0.2
      return 0
    fi
    sleep 0.05
  done
  fail "no window '$1' in cycle $cycle"
}
wait_gone() {  # window name
  for _ in $(seq 100); do
    xdotool search --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.05
  done
  fail "window '$1' stays open in cycle $cycle"
}

cycle=0
wait_for "ピョコラン"
sleep 1
rss_start=$(rss_kib)
start_ns=$(date +%s%N)
for cycle in $(seq "$cycles"); do
  xdotool mousemove 500 400 click 1
  wait_for "条件設定"
  xdotool key Return
  wait_for "開始"
  xdotool key Return
  wait_gone "開始"
  sleep 1
  xdotool key Escape
  wait_for "終了"
  xdotool key Return
  wait_for "結果"
  xdotool key Return
  wait_gone "結果"
  if [ "$cycle" -eq 1 ]; then rss_first=$(rss_kib); fi
  if [ "$cycle" -eq 10 ]; then rss_ten=$(rss_kib); fi
done
end_ns=$(date +%s%N)
sleep 1
rss_end=$(rss_kib)
rss_ten=${rss_ten:-$rss_first}

[ "$(wc -l <"ピョコラン.txt")" -eq 4 ] || fail "an aborted run was recorded"
if [ -e SBJ0000.csv ]; then fail "an aborted run wrote an appearance file"; fi

growth=$((rss_end - rss_ten))
echo "soak_real: $cycles real Start -> Escape cycles on Xvfb $display (1 s of each run)"
echo "  $(((end_ns - start_ns) / cycles / 1000000)) ms per cycle (with the waits for each window)"
echo "  resident memory: $rss_start KiB after start-up, $rss_first KiB after the first cycle," \
  "$rss_ten KiB after 10, $rss_end KiB at the end: ${growth} KiB since cycle 10 (goal within 1024 KiB)"
[ "$growth" -le 1024 ] || fail "memory grew"
echo "  memory flat"
