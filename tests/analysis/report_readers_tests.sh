#!/bin/bash
# The report read back as researchers read it: simulated runs of four subjects (two of them
# 001 and 1) under two conditions, --report with --trials (with anticipations kept, then left
# out), the tables and the trial file read by pandas and by R (read.csv and readr) as their
# schemas say, and every figure, the groups over subjects and their differences included,
# recomputed from the raw result files by tests/analysis/verify_report.py. Skipped (77)
# without pandas and scipy.
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
# Two people whose IDs read alike as numbers, each in both conditions.
for id in 001 1; do
  check "simulate $id, 1 distractor" '"$bin" --simulate 1 --seed 4$id --subject $id --out sim >/dev/null'
done
printf 'time_limit = 20\r\n' > ピョコラン.ini
for id in 001 1; do
  check "simulate $id, 3 distractors" '"$bin" --simulate 2 --seed 5$id --subject $id --hit 0.7 --out sim >/dev/null'
done

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

# Every file read the way its schema says (the reads given there): the header as names (no
# byte-order mark left), Subject as text so that 001 and 1 stay two people, numbers as numbers,
# missing values as NaN, and every column typed as the schema types it.
check "pandas reads every file as its schema says" '"$py" - <<PY
import json
import pandas as pd
for csv, schema in [("r0.csv", "r0.schema.json"), ("r0_groups.csv", "r0_groups.schema.json"), ("t0.csv", "t0.schema.json")]:
    s = json.load(open(schema, encoding="utf-8"))
    d = eval(s["x-read"]["pandas"].replace(chr(34) + csv + chr(34), "c"), {"pandas": pd, "c": csv})
    assert list(d.columns) == [f["name"] for f in s["fields"]], (csv, list(d.columns))
    for f in s["fields"]:
        kind = d[f["name"]].dtype.kind
        want = {"integer": "if", "number": "if", "string": "O"}.get(f["type"], "O")
        assert kind in want or d[f["name"]].isna().all(), (csv, f["name"], kind, f["type"])
t = pd.read_csv("r0.csv", dtype={"Subject": str}, keep_default_na=False, na_values=[""])
x = pd.read_csv("t0.csv", dtype={"Subject": str})
assert {"001", "1", "A", "B"} <= set(t.Subject) and {"001", "1", "A", "B"} <= set(x.Subject), set(t.Subject)
assert t[t.Level == "subject"].Subject.value_counts().max() == 1
assert len(x[x.Subject == "001"].RunId.unique()) == 3 and len(x[x.Subject == "1"].RunId.unique()) == 3
assert x.RT.isna().sum() == (x.Outcome.isin(["Miss", "CR"])).sum()
assert set(t.Level) == {"run", "subject_condition", "subject"}
g = pd.read_csv("r0_groups.csv", keep_default_na=False, na_values=[""])
assert set(g.Level) == {"group_condition", "condition_difference"}
assert (g[(g.Level == "condition_difference")].N == 3).all()  # A, 001 and 1 ran both conditions
PY'
if command -v Rscript >/dev/null; then
  check "R reads every file as its schema says" 'Rscript -e "
t <- read.csv(\"r0.csv\", fileEncoding = \"UTF-8-BOM\", colClasses = c(Subject = \"character\"), na.strings = \"\")
x <- read.csv(\"t0.csv\", fileEncoding = \"UTF-8-BOM\", colClasses = c(Subject = \"character\"))
stopifnot(names(t)[1] == \"Level\", names(x)[1] == \"RunId\", is.numeric(t\$dPrime), is.numeric(x\$RT), is.numeric(x\$OnsetRT))
stopifnot(all(c(\"001\", \"1\") %in% t\$Subject), all(c(\"001\", \"1\") %in% x\$Subject))
stopifnot(sum(t\$Level == \"subject\") == length(unique(t\$Subject)))
stopifnot(sum(is.na(x\$RT)) == sum(x\$Outcome %in% c(\"Miss\", \"CR\")))
if (requireNamespace(\"readr\", quietly = TRUE)) {
  rt <- readr::read_csv(\"r0.csv\", col_types = readr::cols(Subject = \"c\"), na = \"\")
  rx <- readr::read_csv(\"t0.csv\", col_types = readr::cols(Subject = \"c\"))
  stopifnot(nrow(readr::problems(rt)) == 0, nrow(readr::problems(rx)) == 0, names(rx)[1] == \"RunId\")
  stopifnot(is.numeric(rt\$dPrime), is.numeric(rx\$RT), nrow(rx) == nrow(x), nrow(rt) == nrow(t))
  stopifnot(all(c(\"001\", \"1\") %in% rt\$Subject))
}" >/dev/null 2>&1'
fi
exit $fail
