#!/bin/bash
# The report read back as researchers read it: simulated runs of two subjects under two
# conditions, --report with --trials (with anticipations kept, then left out), the table and
# the trial file read by pandas and by R (read.csv and readr), and every figure recomputed from
# the raw result files by tests/analysis/verify_report.py. Skipped (77) without pandas and scipy.
set -u
bin=$1
src=$2
py=/usr/bin/python3
if ! "$py" -c 'import pandas, scipy' 2>/dev/null; then
  echo "SKIP: python3-pandas and python3-scipy are not installed"
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
export QT_QPA_PLATFORM=offscreen
cp -r "$src/stim" .
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

# A: 4 runs with 3 distractors in play, 3 runs with 1; B: 3 runs with 3. Fast responses
# (mu 150 ms) give anticipations at a limit of 200 ms.
printf 'time_limit = 20\r\n' > ピョコラン.ini
check "simulate A, 3 distractors" '"$bin" --simulate 4 --seed 11 --subject A --rt 150,40,60 --out sim >/dev/null'
check "simulate B" '"$bin" --simulate 3 --seed 21 --subject B --hit 0.6 --false-alarm 0.3 --out sim >/dev/null'
printf 'time_limit = 20\r\nn_dstpokko = 1\r\n' > ピョコラン.ini
check "simulate A, 1 distractor" '"$bin" --simulate 3 --seed 31 --subject A --rt 150,40,60 --out sim >/dev/null'

for exclude in 0 1; do
  flag=""
  [ "$exclude" = 1 ] && flag=--exclude-anticipations
  check "report ($exclude)" '"$bin" --report sim --out r$exclude --trials t$exclude.csv --anticipation 200 $flag >/dev/null 2>&1'
  check "figures agree with the raw files ($exclude)" '"$py" "$src/tests/analysis/verify_report.py" sim r$exclude.csv t$exclude.csv 200 $exclude'
  check "about file names the option ($exclude)" 'grep -q "Anticipation limit: 200 ms" r${exclude}_about.txt && grep -q "hit 0.6, false alarm 0.3" r${exclude}_about.txt'
done
check "exclusion changes the counts" '! cmp -s r0.csv r1.csv'
# A second --trials over its own earlier file replaces it; a user's file is refused.
check "own trial file replaced" '"$bin" --report sim --out r0 --trials t0.csv --anticipation 200 >/dev/null 2>&1'
printf 'my data\n' > mine.csv
check "user file refused" '! "$bin" --report sim --out r2 --trials mine.csv >/dev/null 2>&1 && [ "$(cat mine.csv)" = "my data" ] && [ ! -e r2.csv ]'

# Both files read by pandas without options: the header as names (no byte-order mark left),
# numbers as numbers, missing values as NaN.
check "pandas reads both" '"$py" - <<PY
import pandas as pd
t = pd.read_csv("r0.csv"); x = pd.read_csv("t0.csv")
assert t.columns[0] == "Level" and x.columns[0] == "RunId", (t.columns[0], x.columns[0])
for c in ["dPrime", "HitRT_CI_Low", "dPrime_RunMean", "RunId"]: assert t[c].dtype.kind == "f", c
for c in ["RT", "OnsetRT", "Onset", "Anticipation"]: assert x[c].dtype.kind == "f", c
assert x.RT.isna().sum() == (x.Outcome.isin(["Miss", "CR"])).sum()
assert set(t.Level) == {"run", "subject_condition", "subject"}
PY'
if command -v Rscript >/dev/null; then
  check "R reads both" 'Rscript -e "
t <- read.csv(\"r0.csv\", fileEncoding = \"UTF-8-BOM\"); x <- read.csv(\"t0.csv\", fileEncoding = \"UTF-8-BOM\")
stopifnot(names(t)[1] == \"Level\", names(x)[1] == \"RunId\", is.numeric(t\$dPrime), is.numeric(x\$RT), is.numeric(x\$OnsetRT))
stopifnot(sum(is.na(x\$RT)) == sum(x\$Outcome %in% c(\"Miss\", \"CR\")))
if (requireNamespace(\"readr\", quietly = TRUE)) {
  rt <- readr::read_csv(\"r0.csv\", show_col_types = FALSE); rx <- readr::read_csv(\"t0.csv\", show_col_types = FALSE)
  stopifnot(nrow(readr::problems(rt)) == 0, nrow(readr::problems(rx)) == 0, names(rx)[1] == \"RunId\")
  stopifnot(is.numeric(rt\$dPrime), is.numeric(rx\$RT), nrow(rx) == nrow(x), nrow(rt) == nrow(t))
}" >/dev/null 2>&1'
fi
exit $fail
