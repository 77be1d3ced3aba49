#!/usr/bin/env bash
# The real program under its own Xvfb, driven by synthetic X input: Start, the condition
# dialog, a 3-second run with the mouse held on the hole where the first target comes up,
# the end message, the ranking and Exit. Both result files must hold the run. The main window,
# the condition dialog and the experiment window show the program's icon to the window manager.
# Usage: short_run_tests.sh <pyokoran executable> <source folder>
set -euo pipefail
program=$(realpath "$1")
source=$(realpath "$2")

fail() { echo "FAIL: $*" >&2; exit 1; }

source "$(dirname "${BASH_SOURCE[0]}")/own_xvfb.sh"

cp -r "$source/stim" "$work/stim"
# Seed 1 with the default creatures in 12 ordered holes: the first target comes up at
# 2238 ms in hole 12, at (881, 625) on the stage, which fills this 1024 x 768 screen.
printf 'time_limit = 3\r\nrandom_seed = 1\r\n' >"$work/ピョコラン.ini"

cd "$work"
unset QT_QPA_PLATFORM
SDL_AUDIODRIVER=dummy "$program" >"$work/program.log" 2>&1 &
app_pid=$!

wait_for() {  # window name
  timeout 20 xdotool search --sync --onlyvisible --name "$1" >/dev/null || fail "no window '$1'"
  sleep 0.3
}
# A key for a window reaches it only once the window has the keyboard focus; on a loaded
# machine that can take a while after it is shown.
key_to() {  # window name, key
  local id
  id=$(xdotool search --onlyvisible --name "$1" | head -1)
  for _ in $(seq 100); do [ "$(xdotool getwindowfocus 2>/dev/null)" = "$id" ] && break; sleep 0.1; done
  xdotool key "$2"
}

# The icon every window hands the window manager, in its small and large sizes.
has_icon() {  # window name
  local id icons
  id=$(xdotool search --onlyvisible --name "$1" | head -1)
  icons=$(xprop -id "$id" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | tr '\n' ' ')
  [[ "$icons" == *"Icon (16 x 16)"* && "$icons" == *"Icon (128 x 128)"* ]] ||
    fail "window '$1' has the icons [$icons]"
}

wait_for "ピョコラン"
main_window=$(xdotool search --name "ピョコラン" | head -1)
has_icon "ピョコラン"
xdotool mousemove 500 400 click 1
wait_for "条件設定"
has_icon "条件設定"
key_to "条件設定" Return
wait_for "開始"
has_icon "Experiment Window"
xdotool mousemove 881 625
key_to "開始" Return
sleep 1.5
xdotool mousedown 1
sleep 2
xdotool mouseup 1
wait_for "終了"
key_to "終了" Return
wait_for "結果"
key_to "結果" Return
sleep 0.5
# File -> Exit; asked again should a keystroke be lost to a window still settling.
for _ in 1 2 3; do
  xdotool windowfocus "$main_window" 2>/dev/null || true
  xdotool key alt+f
  sleep 0.5
  xdotool key x
  for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app_pid" 2>/dev/null || break
done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not exit"
app_pid=""

summary=$(cat "ピョコラン.txt") || fail "no summary file"
[ "$(wc -l <"ピョコラン.txt")" -eq 2 ] || fail "summary: $summary"
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
grep -q '^pyokoran: tick thread: .* scheduling' program.log || fail "the run did not say how its tick thread is scheduled"
echo "1 passed, 0 failed"
