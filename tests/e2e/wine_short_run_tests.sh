#!/usr/bin/env bash
# The Windows program under Wine on its own Xvfb, driven by synthetic X input as a user would
# drive it: Start, the condition dialog, a 3-second run with the mouse held on the hole where
# the first target comes up, the end message, the ranking, the About box and Exit. Both
# result files and the timing record must hold the run, and the run must have said how it
# presented its frames.
# Usage: wine_short_run_tests.sh <pyokoran.exe> <source folder> [screenshot folder]
set -euo pipefail
program=$(realpath "$1")
source=$(realpath "$2")
shots=${3:+$(realpath "$3")}

fail() {
  echo "FAIL: $*" >&2
  [ -n "${work:-}" ] && [ -f "$work/program.log" ] && sed 's/^/  program: /' "$work/program.log" >&2
  exit 1
}

source "$(dirname "${BASH_SOURCE[0]}")/own_xvfb.sh"
source "$(dirname "${BASH_SOURCE[0]}")/wine_prefix.sh"

cp -r "$source/stim" "$work/stim"
# Seed 1 with the default creatures in 12 ordered holes: the first target comes up at
# 2238 ms in hole 12, at (881, 625) on the stage, which fills this 1024 x 768 screen.
printf 'time_limit = 3\r\nrandom_seed = 1\r\n' >"$work/ピョコラン.ini"
echo '<html>my notes</html>' >"$work/ピョコラン_report.html"

cd "$work"
wine "$program" >"$work/program.log" 2>&1 &
app_pid=$!

shown() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
wait_for() {  # window name, seconds
  for _ in $(seq $((${2:-20} * 10))); do [ -n "$(shown "$1")" ] && { sleep 0.5; return; }; sleep 0.1; done
  fail "no window '$1'"
}
gone() {  # window name, seconds: wait until it is no longer shown
  for _ in $(seq $((${2:-10} * 10))); do [ -z "$(shown "$1")" ] && return; sleep 0.1; done
  fail "window '$1' is still shown"
}
shot() {  # name
  [ -n "$shots" ] && import -window root "$shots/$1.png"
  return 0
}

wait_for "ピョコラン" 60
shot windows_main_window
xdotool mousemove 500 400 click 1
wait_for "条件設定"
shot windows_condition_dialog
# A subject ID that cannot name a file: told, and the dialog stays.
xdotool key ctrl+a
xdotool type --delay 30 'a:b'
xdotool key Return
wait_for pyokoran
shot windows_subject_refused
xdotool key Return
gone pyokoran
xdotool key ctrl+a
xdotool type --delay 30 'SBJ0000'
xdotool key Return
wait_for "開始"
xdotool mousemove 881 625
xdotool key Return
gone "開始"
sleep 1.2
xdotool mousedown 1
sleep 1.5
shot windows_run
sleep 1.5
xdotool mouseup 1
wait_for "終了" 20
xdotool key Return
wait_for "結果"
shot windows_ranking
xdotool key Return
gone "結果"
# ピョコラン > Report: the user's file of that name is left alone and the message says so.
report() {
  xdotool key alt+e
  sleep 0.5
  xdotool key p
}
report
wait_for pyokoran
shot windows_report_refused
xdotool key Return
gone pyokoran
[ "$(cat ピョコラン_report.html)" = '<html>my notes</html>' ] || fail "the user's file was replaced"
rm ピョコラン_report.html
report
for _ in $(seq 100); do [ -f ピョコラン_report.html ] && break; sleep 0.1; done
head -5 ピョコラン_report.html | grep -q 'content="pyokoran report"' || fail "no report written"
# Without a browser (as under Wine here) the message names the file instead.
for _ in $(seq 30); do [ -n "$(shown pyokoran)" ] && break; sleep 0.1; done
if [ -n "$(shown pyokoran)" ]; then
  xdotool key Return
  gone pyokoran
fi
# Help > About, closed with Return.
xdotool key alt+h
sleep 0.5
xdotool key a
wait_for "About this application"
shot windows_about
xdotool key Return
gone "About this application"
# File > Exit.
xdotool key alt+f
sleep 0.5
xdotool key x
for _ in $(seq 150); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not exit"
wait "$app_pid" || fail "the program's exit status was $?"
app_pid=""

[ -f "ピョコラン.txt" ] || fail "no summary file"
[ "$(wc -l <"ピョコラン.txt")" -eq 2 ] || fail "summary: $(cat "ピョコラン.txt")"
line=$(sed -n 2p "ピョコラン.txt")
IFS=$'\t' read -r subject _ _ tgt dst holes ordered dur isi1 isi2 limit seed hit miss cr fa score <<<"${line%$'\r'}"
[ "$subject $tgt $dst $holes $ordered $dur $isi1 $isi2 $limit $seed" = \
  "SBJ0000 6 3 12 1 2000 1000 3000 3 1" ] || fail "summary line: $line"
[ "$hit" -ge 1 ] || fail "no hit booked: $line"
[ "$score" -eq $((hit - fa)) ] || fail "score: $line"
grep -q $'\r$' "ピョコラン.txt" || fail "summary lines do not end in CR LF"

[ -f SBJ0000.csv ] || fail "no appearance file"
head -1 SBJ0000.csv | grep -q '^Subject,Date,Time,Trial,' || fail "appearance header"
rows=$(($(wc -l <SBJ0000.csv) - 1))
[ "$rows" -eq $((hit + miss + cr + fa)) ] || fail "$rows rows for $line"
grep -q ',1,12,881,625,1,' SBJ0000.csv || fail "the held press is not booked on hole 12"
grep -q 'time_limit = 3' "ピョコラン.ini" || fail "settings not written at exit"

# Wine gives Direct3D presents that do not wait: the run says so and falls back to GDI.
grep -q '^pyokoran: presenting not locked to the refresh, through GDI' program.log ||
  fail "the run did not say how it presented"
grep -q '^pyokoran: tick thread: multimedia class scheduler' program.log || fail "the run did not say how its tick thread is scheduled"
[ -f SBJ0000_timing.csv ] || fail "no timing file"
[ "$(($(wc -l <SBJ0000_timing.csv) - 1))" -eq "$rows" ] || fail "timing rows"
# Frames that went out are stamped: every row has its first frame and, where the creature
# showed, its onset.
onsets=$(tail -n +2 SBJ0000_timing.csv | cut -d, -f6,7 | grep -c '^[0-9][0-9.]*,[0-9][0-9.]*$' || true)
[ "$onsets" -ge 1 ] || fail "no onset stamped: $(cat SBJ0000_timing.csv)"
timing=$(sed -n 2p "ピョコラン_timing.txt")
# With a screenshot folder, what the run said and recorded goes beside the pictures.
[ -n "$shots" ] && cp program.log "ピョコラン_timing.txt" SBJ0000_timing.csv "$shots/"
[ "$(cut -f4 <<<"$timing")" = fallback ] || fail "timing record: $timing"
echo "1 passed, 0 failed"
