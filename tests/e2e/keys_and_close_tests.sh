#!/usr/bin/env bash
# The real program under its own Xvfb, driven by synthetic X input, one row after the other
# in one session:
#   1. Return confirms the condition dialog and is released where no window of the program
#      sees it; a click closes the start message: the run starts and completes.
#   2. Escape held while the run starts (its press closes the start message): the run does
#      not abort and completes.
#   3. Escape held 1.5 s during a run: the run ends only after the release, and the key's
#      repeats dismiss neither the end message nor the ranking.
#   4. A close request from the window system (close box, Alt+F4) while the condition dialog
#      is open is refused; afterwards it ends the program, which writes the settings file.
# Usage: keys_and_close_tests.sh <pyokoran executable> <wm_close executable> <source folder>
set -euo pipefail
program=$(realpath "$1")
wm_close=$(realpath "$2")
source=$(realpath "$3")

fail() {
  echo "FAIL: $*" >&2
  [ -n "${work:-}" ] && [ -f "$work/program.log" ] && sed 's/^/  program: /' "$work/program.log" >&2
  exit 1
}

source "$(dirname "${BASH_SOURCE[0]}")/own_xvfb.sh"

cp -r "$source/stim" "$work/stim"
printf 'time_limit = 4\r\nrandom_seed = 1\r\n' >"$work/ピョコラン.ini"

cd "$work"
unset QT_QPA_PLATFORM
SDL_AUDIODRIVER=dummy "$program" >"$work/program.log" 2>&1 &
app_pid=$!

shown() { xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }
wait_for() {  # window name, seconds
  for _ in $(seq $((${2:-10} * 10))); do shown "$1" && { sleep 0.3; return; }; sleep 0.1; done
  fail "no window '$1' ($row)"
}
has_focus() {  # window name: wait until it has the keyboard focus
  local id
  id=$(xdotool search --onlyvisible --name "^$1\$" | head -1)
  for _ in $(seq 50); do [ "$(xdotool getwindowfocus 2>/dev/null)" = "$id" ] && return; sleep 0.1; done
  fail "'$1' did not get the keyboard focus ($row)"
}
still() {  # window name: shown now
  shown "$1" || fail "'$1' is gone ($row)"
}
gone() {  # window name: not shown now
  shown "$1" && fail "'$1' is shown ($row)"
  return 0
}
runs_recorded() { [ -f ピョコラン.txt ] && echo $(($(wc -l <ピョコラン.txt) - 1)) || echo 0; }
start() {  # click the main window, confirm the condition dialog with Return
  xdotool mousemove 500 300 click 1
  wait_for "条件設定"
  has_focus "条件設定"
  xdotool key Return
  wait_for "開始"
  has_focus "開始"
}
finish() {  # end message and ranking, each closed with Return
  wait_for "終了" 15
  has_focus "終了"
  xdotool key Return
  wait_for "結果"
  has_focus "結果"
  xdotool key Return
  sleep 0.5
  gone "結果"
}

row="start-up"
wait_for "ピョコラン"
main_window=$(xdotool search --name "^ピョコラン\$" | head -1)

row="click on the start message after Return"
xdotool mousemove 500 300 click 1
wait_for "条件設定"
has_focus "条件設定"
xdotool keydown Return
wait_for "開始"
xdotool windowfocus "$(xdotool search --maxdepth 0 --name '' | head -1)"  # the root window
xdotool keyup Return
eval "$(xdotool search --name "^開始\$" getwindowgeometry --shell)"
xdotool mousemove $((X + WIDTH - 46)) $((Y + HEIGHT - 24)) click 1
sleep 1
gone "開始"
still "Experiment Window"
finish
[ "$(runs_recorded)" -eq 1 ] || fail "the run was not recorded ($row)"

row="Escape held while the run starts"
start
xdotool keydown Escape
sleep 1.5
gone "開始"
xdotool keyup Escape
sleep 0.5
still "Experiment Window"
gone "終了"
finish
[ "$(runs_recorded)" -eq 2 ] || fail "the run was aborted ($row)"

row="Escape held during the run"
start
xdotool key Return
sleep 0.5
still "Experiment Window"
xdotool keydown Escape
sleep 1.5
still "Experiment Window"
gone "終了"
xdotool keyup Escape
wait_for "終了"
sleep 1
still "終了"
has_focus "終了"
xdotool key Return
wait_for "結果"
sleep 1
still "結果"
has_focus "結果"
xdotool key Return
sleep 0.5
[ "$(runs_recorded)" -eq 2 ] || fail "the aborted run was recorded ($row)"

row="close request"
xdotool mousemove 500 300 click 1
wait_for "条件設定"
"$wm_close" "$main_window"
sleep 1
still "条件設定"
kill -0 "$app_pid" 2>/dev/null || fail "the program ended ($row)"
has_focus "条件設定"
xdotool key Escape
sleep 0.5
gone "条件設定"
"$wm_close" "$main_window"
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not exit ($row)"
wait "$app_pid" || fail "the program's exit code was $? ($row)"
app_pid=""
grep -q '^n_holes = 12' ピョコラン.ini || fail "settings not written at exit ($row)"
echo "4 passed, 0 failed"
