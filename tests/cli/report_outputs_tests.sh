#!/bin/bash
# --report's outputs: a user's file, a FIFO or a link at any of the names is never written
# through, a refusal leaves every file as it was, and "--out ." is refused.
set -u
bin=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
export QT_QPA_PLATFORM=offscreen
printf 'Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\tTmLimit\tRndSeed\tHit\tMiss\tCR\tFA\tScore\r\nS\t2026/12/01\t10:00:00\t6\t3\t12\t1\t2000\t1000\t3000\t60\t7\t1\t0\t0\t0\t1\r\n' > ピョコラン.txt
printf 'Subject,Date,Time,Trial,TgtPokko,DstPokko,Holes,Ordered,Dur,ISI_1,ISI_2,TmLimit,RndSeed,Pokko,Tgt,Hole,Hole_X,Hole_Y,Resp,Resp_X,Resp_Y,RT,TotalRT,Error\r\nS,2026/12/01,10:00:00,1,6,3,12,1,2000,1000,3000,60,7,1,1,1,100,100,1,100,100,400,3400,0\r\n' > S.csv
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

# Written, then replaced: the program's own report.
check "first report" 'timeout 30 "$bin" --report . --out r >/dev/null 2>&1'
check "own report replaced" 'timeout 30 "$bin" --report . --out r >/dev/null 2>&1'
# A user's PDF: refused before anything is written.
printf '%%PDF-1.7 mine' > m.pdf
check "user PDF refused" '! timeout 30 "$bin" --report . --out m >/dev/null 2>&1'
check "user PDF kept" '[ "$(cat m.pdf)" = "%PDF-1.7 mine" ] && [ ! -e m.csv ] && [ ! -e m.html ]'
# A FIFO at an output or a temporary name: no hang.
mkfifo f.pdf
check "FIFO output refused" '! timeout 30 "$bin" --report . --out f >/dev/null 2>&1 && [ ! -e f.csv ]'
mkfifo p.pdf.part
ln -s S.csv p.csv.part
check "FIFO and link at temporary names" 'timeout 30 "$bin" --report . --out p >/dev/null 2>&1'
check "link target kept" 'head -c 8 S.csv | grep -q "^Subject,"'
# The trial file and the side file are guarded the same way.
check "side file written" 'head -1 r_about.txt | grep -q "^pyokoran report"'
mkfifo tf.csv
check "FIFO as the trial file refused" '! timeout 30 "$bin" --report . --out q --trials tf.csv >/dev/null 2>&1 && [ ! -e q.csv ]'
ln -s S.csv tl.csv.part
check "link at the trial file's temporary name" 'timeout 30 "$bin" --report . --out r --trials tl.csv >/dev/null 2>&1 && head -c 8 S.csv | grep -q "^Subject,"'
check "trial file is not the table" '! timeout 30 "$bin" --report . --out r --trials ./r.csv >/dev/null 2>&1'
ln r.csv hard.csv
check "trial file is not the table under a second name" '! timeout 30 "$bin" --report . --out r --trials hard.csv >/dev/null 2>&1'
printf 'notes\n' > n_about.txt
check "user file at the side file's name refused" '! timeout 30 "$bin" --report . --out n >/dev/null 2>&1 && [ "$(cat n_about.txt)" = notes ] && [ ! -e n.csv ]'
# The PDF's subjects: one with runs in the folder, or a clear refusal.
check "--subject and --pdf-all" 'timeout 30 "$bin" --report . --out sel --subject S --pdf-all >/dev/null 2>&1 && [ -s sel.pdf ]'
check "--subject without runs refused" 'msg=$(timeout 30 "$bin" --report . --out none --subject T 2>&1) && false || { grep -q "no runs of this subject" <<<"$msg" && [ ! -e none.csv ]; }'
# "--out ." names no file.
check "--out . refused" '! timeout 30 "$bin" --report . --out . >/dev/null 2>&1 && [ ! -e ..csv ]'
exit $fail
