#!/usr/bin/env bash
# The Windows program's result files shared by several programs, under Wine: two writers in
# one folder at once keep every run whole; a subject file held open without sharing (as a
# spreadsheet holds it) is tried again until it is free, or, given up, its run is kept in the
# rescue folder and put in place by the next run. Usage: shared_folder_tests.sh <prefix>
# <shared_folder_writer.exe>
set -u
prefix=$1 exe=$2
dir=$(mktemp -d)
. "$(dirname "$0")/wine_session.sh"
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
shared="$dir/shared" rescue="$dir/rescued"
mkdir -p "$shared" "$rescue"
wshared=$(winepath -w "$shared") wrescue=$(winepath -w "$rescue")

# Two programs at once.
win write "$wshared" 0 15 > "$dir/w0.txt" & first=$!
win write "$wshared" 1 15 > "$dir/w1.txt" & second=$!
check "writer 0" 'wait $first'
check "writer 1" 'wait $second'

# S.csv held without sharing for 2 s: the writer tries again until it is free.
held() { for _ in $(seq 100); do grep -q held "$1" 2>/dev/null && return 0; sleep 0.1; done; return 1; }
win hold "$wshared\\S.csv" 2 > "$dir/hold1.txt" & holder=$!
check "the file is held" 'held "$dir/hold1.txt"'
check "writer 2 tries again" 'win write "$wshared" 2 1 "$wrescue" 60 > "$dir/w2.txt" && grep -q "^ok 2 0" "$dir/w2.txt"'
wait $holder
# Held again, and given up: the run is kept, then put in place by the next run.
win hold "$wshared\\S.csv" 2 > "$dir/hold2.txt" & holder=$!
check "the file is held again" 'held "$dir/hold2.txt"'
check "writer 3 gives up and keeps the run" 'win write "$wshared" 3 1 "$wrescue" 0 > "$dir/w3.txt"; grep -q "^rescued 3 0" "$dir/w3.txt"'
check "one rescue file" '[ "$(ls "$rescue" | wc -l)" = 1 ]'
wait $holder
check "writer 4 puts it in place" 'win write "$wshared" 4 1 "$wrescue" 0 > "$dir/w4.txt" && grep -q "^ok 4 0" "$dir/w4.txt"'
check "the rescue folder is empty" '[ -z "$(ls "$rescue")" ]'

cat "$dir"/w?.txt > "$dir/acknowledged.txt"
check "every file whole" 'win verify "$wshared" 5 15 "$(winepath -w "$dir/acknowledged.txt")"'
check "15 + 15 + 3 runs" '[ "$(($(wc -l < "$shared/ピョコラン.txt") - 1))" = 33 ]'
exit $fail
