#!/usr/bin/env bash
# The Windows program's command line under Wine, as a user meets it: answers and refusals
# with their exit statuses and messages, a folder with a Japanese name, output sent to a file
# from the Command Prompt. Usage: command_line_tests.sh <prefix> <pyokoran.exe> <source folder>
set -u
prefix=$1 exe=$2 source=$3
dir=$(mktemp -d)
. "$(dirname "$0")/wine_session.sh"
fail=0
cd "$dir" || exit 1
mkdir データ empty
cp -r "$source/stim" データ/

# Each row: the exit status, a piece of what the program prints, its arguments.
rows=(
  "0|the PDF is written by the Linux version only|--help"
  "0|Documents\\ピョコラン|-h"
  "0|pyokoran 1.|--version"
  "2|pyokoran: Unknown option 'frobnicate'.|--frobnicate"
  "2|Missing value after '--folder'.|--folder"
  "2|'存在しない' does not exist|--folder 存在しない"
  "2|--present takes locked or fallback, not 'gdi'.|--present gdi"
  "2|--simulate needs a number of runs from 1 to 1000000.|--simulate 0"
  "2|--seed needs a whole number|--simulate 1 --seed 12x"
  "2|ファイル名に使えない文字|--folder データ --simulate 1 --subject a:b"
  "2|Windows の装置の名前です。|--folder データ --simulate 1 --subject NUL"
  "2|--out only goes with --report|--out x"
  "1|no result files in empty|--report empty"
  "0|2 simulated runs written to 実験\\ |--folder データ --simulate 2 --seed 9 --subject 被験者 --out 実験"
  "0|2 runs, 1 subjects (simulated): データ\\実験\\ピョコラン_report.csv, |--report データ\\実験"
  "2|のタイミング記録と同じ名前|--folder データ --simulate 1 --subject AB_Timing"
  "2|--trials needs a file of its own|--report データ\\実験 --out データ\\実験\\r --trials データ\\実験\\R.CSV"
)
for row in "${rows[@]}"; do
  IFS='|' read -r status piece line <<<"$row"
  read -r -a arguments <<<"$line"
  # Into a file, not a pipe: Wine's services, started by the first program, would hold a pipe open.
  win "${arguments[@]}" >output.txt 2>&1
  got=$?
  output=$(tr '\r\n' '  ' <output.txt | tr -s ' ')  # --help's wrapping aside
  if [ "$got" != "$status" ] || [[ "$output" != *"$piece"* ]]; then
    echo "FAIL: pyokoran $line: status $got (want $status), printed:"
    echo "$output"
    fail=1
  fi
done
if [ ! -f データ/実験/被験者.csv ] || [ ! -f データ/実験/ピョコラン_report.html ] || [ -e データ/実験/ピョコラン_report.pdf ]; then
  echo "FAIL: the runs and the report are not where they were asked for"
  fail=1
fi

# From the Command Prompt, output sent to files: the program's own handles, not a console.
wine cmd /c "$(winepath -w "$exe") --version > out.txt 2> err.txt & $(winepath -w "$exe") --bad 2>> err.txt" >/dev/null 2>&1
if ! grep -q "^pyokoran 1\." out.txt || ! grep -q "Unknown option 'bad'" err.txt; then
  echo "FAIL: redirected output from cmd: $(cat out.txt err.txt 2>/dev/null)"
  fail=1
fi
exit $fail
