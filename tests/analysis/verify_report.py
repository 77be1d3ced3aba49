#!/usr/bin/env python3
"""Recomputes the report from the raw result files of a folder, independently of the program
(pandas reads the program's outputs, scipy gives the distributions), and compares every figure.

usage: verify_report.py FOLDER REPORT.csv TRIALS.csv ANTICIPATION_MS EXCLUDE(0|1)
Prints one line per disagreement and a summary; exit status 0 when everything agrees.
"""
import csv
import math
import sys
from collections import defaultdict

import pandas as pd
from scipy import stats

folder, report_csv, trials_csv, limit, exclude = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5] == "1"
SETTINGS = ["TgtPokko", "DstPokko", "Holes", "Ordered", "Dur", "ISI_1", "ISI_2", "TmLimit"]
problems = []


def read_lines(path, encoding="cp932"):
    with open(path, "rb") as f:
        return [line.rstrip(b"\r\n").decode(encoding) for line in f.read().split(b"\n") if line.strip()]


# Summary: one run per line, counts from it.
summary = read_lines(f"{folder}/ピョコラン.txt")
head = summary[0].split("\t")
runs = {}
for line in summary[1:]:
    f = dict(zip(head, line.split("\t")))
    key = (f["Subject"], f["Date"], f["Time"])
    runs[key] = {"subject": f["Subject"], "date": f["Date"], "time": f["Time"],
                 **{k: int(f[k]) for k in SETTINGS + ["RndSeed", "Hit", "Miss", "CR", "FA"]}, "rows": []}

# Appearance rows and onset RTs from the timing record.
for subject in {r["subject"] for r in runs.values()}:
    lines = read_lines(f"{folder}/{subject}.csv")
    h = lines[0].split(",")
    for line in lines[1:]:
        f = dict(zip(h, line.split(",")))
        runs[(f["Subject"], f["Date"], f["Time"])]["rows"].append({k: int(f[k]) for k in ["Trial", "Pokko", "Tgt", "Hole", "Resp", "RT", "TotalRT"]})
    onset = {}
    try:
        tl = read_lines(f"{folder}/{subject}_timing.csv")
        th = tl[0].split(",")
        for line in tl[1:]:
            f = dict(zip(th, line.split(",")))
            onset[(f["Subject"], f["Date"], f["Time"], int(f["Trial"]))] = f
    except FileNotFoundError:
        pass
    for key, r in runs.items():
        if key[0] != subject:
            continue
        for row in r["rows"]:
            t = onset.get(key + (row["Trial"],))
            row["timing"] = t
            row["onset_rt"] = float(t["OnsetRT"]) if t and t.get("OnsetRT") else None

# A summary line whose counts differ from its complete rows: the rows' counts count.
for r in runs.values():
    total = r["Hit"] + r["Miss"] + r["CR"] + r["FA"]
    if len(r["rows"]) == total and total <= 4999:
        r["Hit"] = sum(1 for x in r["rows"] if x["Tgt"] and x["Resp"])
        r["Miss"] = sum(1 for x in r["rows"] if x["Tgt"] and not x["Resp"])
        r["FA"] = sum(1 for x in r["rows"] if not x["Tgt"] and x["Resp"])
        r["CR"] = sum(1 for x in r["rows"] if not x["Tgt"] and not x["Resp"])

# Run ids: oldest first.
ordered = sorted(runs.values(), key=lambda r: (r["date"], r["time"]))
for i, r in enumerate(ordered):
    r["id"] = i + 1


def z(p):
    return stats.norm.ppf(p) if 0 < p < 1 else math.nan


def wilson(k, n):
    if n == 0:
        return math.nan, math.nan
    lo, hi = stats.binomtest(k, n).proportion_ci(0.95, method="wilson")
    return lo, hi


def describe(values):
    n = len(values)
    if n == 0:
        return dict(n=0, mean=math.nan, median=math.nan, sd=math.nan, lo=math.nan, hi=math.nan)
    mean = sum(values) / n
    sd = math.sqrt(sum((v - mean) ** 2 for v in values) / (n - 1)) if n > 1 else math.nan
    s = sorted(values)
    median = s[n // 2] if n % 2 else (s[n // 2 - 1] + s[n // 2]) / 2
    half = stats.t.ppf(0.975, n - 1) * sd / math.sqrt(n) if n > 1 else math.nan
    return dict(n=n, mean=mean, median=median, sd=sd, lo=mean - half, hi=mean + half)


def measure(group):
    hit = miss = fa = cr = antic = 0
    hit_rts, fa_rts = [], []
    for r in group:
        h, f = r["Hit"], r["FA"]
        for row in r["rows"]:
            if not row["Resp"]:
                continue
            if row["RT"] < limit:
                antic += 1
                if exclude:
                    if row["Tgt"] and h > 0:
                        h -= 1
                    elif not row["Tgt"] and f > 0:
                        f -= 1
                continue
            (hit_rts if row["Tgt"] else fa_rts).append(row["RT"])
        hit, miss, fa, cr = hit + h, miss + r["Miss"], fa + f, cr + r["CR"]
    nt, nd = hit + miss, fa + cr
    m = dict(Targets=nt, Distractors=nd, Hit=hit, Miss=miss, FA=fa, CR=cr, Anticipations=antic)
    m["HitRate"] = hit / nt if nt else math.nan
    m["FARate"] = fa / nd if nd else math.nan
    m["HitRate_CI_Low"], m["HitRate_CI_High"] = wilson(hit, nt)
    m["FARate_CI_Low"], m["FARate_CI_High"] = wilson(fa, nd)
    hl = (hit + 0.5) / (nt + 1) if nt else math.nan
    fl = (fa + 0.5) / (nd + 1) if nd else math.nan
    m["HitRateLL"], m["FARateLL"] = hl, fl
    m["dPrime"] = z(hl) - z(fl) if nt and nd else math.nan
    m["Criterion"] = -(z(hl) + z(fl)) / 2 if nt and nd else math.nan
    if nt and nd:
        se = math.sqrt(hl * (1 - hl) / (nt * stats.norm.pdf(z(hl)) ** 2) + fl * (1 - fl) / (nd * stats.norm.pdf(z(fl)) ** 2))
    else:
        se = math.nan
    m["dPrime_SE"], m["dPrime_CI_Low"], m["dPrime_CI_High"] = se, m["dPrime"] - 1.959964 * se, m["dPrime"] + 1.959964 * se
    h = describe(hit_rts)
    m.update(HitRT_Mean=h["mean"], HitRT_Median=h["median"], HitRT_SD=h["sd"], HitRT_N=h["n"], HitRT_CI_Low=h["lo"], HitRT_CI_High=h["hi"])
    f = describe(fa_rts)
    m.update(FART_Mean=f["mean"], FART_Median=f["median"], FART_SD=f["sd"], FART_N=f["n"])
    return m


def spread(group):
    out = {}
    for name in ["HitRate", "FARate", "dPrime", "Criterion", "HitRT_Mean"]:
        values = [measure([r])[name] for r in group]
        values = [v for v in values if not math.isnan(v)]
        n = len(values)
        mean = sum(values) / n if n else math.nan
        sd = math.sqrt(sum((v - mean) ** 2 for v in values) / (n - 1)) if n > 1 else math.nan
        prefix = "HitRT" if name == "HitRT_Mean" else name
        out[prefix + "_RunMean"], out[prefix + "_RunSD"] = mean, sd
        if name == "dPrime":
            out["dPrime_RunN"] = n
    return out


def condition_name(c):
    k = dict(zip(SETTINGS, c))
    return (f"T{k['TgtPokko']} D{k['DstPokko']} H{k['Holes']} {k['TmLimit']}s {k['Dur']}ms "
            f"{k['ISI_1']}-{k['ISI_2']}ms {'rows' if k['Ordered'] else 'random'}")


# The program's table, read with Subject as text as its schema says.
table = pd.read_csv(report_csv, dtype={"Subject": str}, keep_default_na=False, na_values=[""])
table["Subject"] = table.Subject.str.replace(r"^'(?=[=+\-@\t\r])", "", regex=True)
checked = 0


def compare(label, expected, row):
    global checked
    for name, want in expected.items():
        got = row[name]
        checked += 1
        if isinstance(want, float) and math.isnan(want):
            if not pd.isna(got):
                problems.append(f"{label} {name}: {got}, expected no value")
            continue
        if pd.isna(got):
            problems.append(f"{label} {name}: no value, expected {want}")
            continue
        digits = 1 if "RT" in name and "N" != name[-1] else 4 if "Rate" in name else 3
        if name.endswith("_N") or name in ("Targets", "Distractors", "Hit", "Miss", "FA", "CR", "Anticipations", "dPrime_RunN"):
            digits = 0
        if abs(float(got) - want) > 0.5005 * 10 ** -digits + 1e-9:
            problems.append(f"{label} {name}: {got}, expected {want:.6f}")


for r in ordered:
    rows = table[(table.Level == "run") & (table.RunId == r["id"])]
    if len(rows) != 1:
        problems.append(f"run {r['id']}: {len(rows)} rows")
        continue
    compare(f"run {r['id']}", measure([r]), rows.iloc[0])

groups = defaultdict(list)
for r in ordered:
    groups[(r["subject"], tuple(r[k] for k in SETTINGS))].append(r)
subjects = defaultdict(list)
for r in ordered:
    subjects[r["subject"]].append(r)
for (subject, cond), group in groups.items():
    sel = table[(table.Level == "subject_condition") & (table.Subject.astype(str) == subject)]
    for k, v in zip(SETTINGS, cond):
        sel = sel[sel[k] == v]
    if len(sel) != 1:
        problems.append(f"{subject} {cond}: {len(sel)} rows")
        continue
    compare(f"{subject} {cond}", {**measure(group), **spread(group), "Runs": len(group)}, sel.iloc[0])
    checked += 1
    if sel.iloc[0].Condition != condition_name(cond):
        problems.append(f"{subject} {cond}: Condition {sel.iloc[0].Condition}")
for subject, group in subjects.items():
    sel = table[(table.Level == "subject") & (table.Subject.astype(str) == subject)]
    if len(sel) != 1:
        problems.append(f"subject {subject}: {len(sel)} rows")
        continue
    conditions = len({tuple(r[k] for k in SETTINGS) for r in group})
    compare(f"subject {subject}", {**measure(group), **spread(group), "Runs": len(group), "Conditions": conditions}, sel.iloc[0])
if len(table) != len(runs) + len(groups) + len(subjects):
    problems.append(f"table has {len(table)} rows, expected {len(runs) + len(groups) + len(subjects)}")
if (table.AnticipationLimit != limit).any():
    problems.append("AnticipationLimit differs from the limit used")

# The group table: each condition over subjects, and paired differences between conditions.
MEASURES = {"HitRate": "HitRate", "FARate": "FARate", "dPrime": "dPrime", "Criterion": "Criterion",
            "HitRT_Mean": "HitRT"}


def figures(group):
    m, sp = measure(group), spread(group)
    return {("subject_pooled", k): m[k] for k in MEASURES} | {("run_mean", k): sp[v + "_RunMean"] for k, v in MEASURES.items()}


def over_subjects(values):
    values = [v for v in values if not math.isnan(v)]
    n = len(values)
    mean = sum(values) / n if n else math.nan
    sd = math.sqrt(sum((v - mean) ** 2 for v in values) / (n - 1)) if n > 1 else math.nan
    se = sd / math.sqrt(n) if n > 1 else math.nan
    half = stats.t.ppf(0.975, n - 1) * se if n > 1 else math.nan
    return dict(N=n, Mean=mean, SD=sd, SE=se, CI_Low=mean - half, CI_High=mean + half)


group_table = pd.read_csv(report_csv[:-4] + "_groups.csv", keep_default_na=False, na_values=[""])
by_condition = defaultdict(dict)  # condition -> subject -> figures
for (subject, cond), group in groups.items():
    by_condition[cond][subject] = figures(group)


def compare_stats(label, want, row):
    global checked
    # Half the last digit written: ms with 2 decimals, rates with 5, d' and c with 4.
    step = {"HitRT_Mean": 1e-2, "HitRate": 1e-5, "FARate": 1e-5}.get(row["Measure"], 1e-4)
    for name, w in want.items():
        got = row[name]
        checked += 1
        if isinstance(w, float) and math.isnan(w):
            if not pd.isna(got):
                problems.append(f"{label} {name}: {got}, expected no value")
        elif pd.isna(got) or abs(float(got) - w) > (0.5005 * step if name != "N" else 0):
            problems.append(f"{label} {name}: {got}, expected {w}")


expected_group_rows = 0
for cond, subj in by_condition.items():
    for key in next(iter(subj.values())):
        sel = group_table[(group_table.Level == "group_condition") & (group_table.Condition == condition_name(cond)) &
                          (group_table.From == key[0]) & (group_table.Measure == key[1])]
        expected_group_rows += 1
        if len(sel) != 1:
            problems.append(f"group {cond} {key}: {len(sel)} rows")
            continue
        compare_stats(f"group {cond} {key}", over_subjects([f[key] for f in subj.values()]), sel.iloc[0])
conds = list(by_condition)
for i, a in enumerate(conds):
    for b in conds[i + 1:]:
        both = [s for s in by_condition[a] if s in by_condition[b]]
        if not both:
            continue
        for key in by_condition[a][both[0]]:
            sign, sel = 1, None
            for x, y, sg in ((a, b, 1), (b, a, -1)):
                cand = group_table[(group_table.Level == "condition_difference") & (group_table.Condition == condition_name(x)) &
                                   (group_table.Condition_B == condition_name(y)) & (group_table.From == key[0]) &
                                   (group_table.Measure == key[1])]
                if len(cand) == 1:
                    sign, sel = sg, cand
            expected_group_rows += 1
            if sel is None:
                problems.append(f"difference {a} {b} {key}: no row")
                continue
            diffs = [sign * (by_condition[a][s][key] - by_condition[b][s][key]) for s in both]
            compare_stats(f"difference {a} {b} {key}", over_subjects(diffs), sel.iloc[0])
if len(group_table) != expected_group_rows:
    problems.append(f"group table has {len(group_table)} rows, expected {expected_group_rows}")

# The trial file: every appearance, its outcome, RT and onset RT as the raw files give them.
trials = pd.read_csv(trials_csv, dtype={"Subject": str})
expected_rows = sum(len(r["rows"]) for r in ordered)
if len(trials) != expected_rows:
    problems.append(f"trial file has {len(trials)} rows, expected {expected_rows}")
by_run = {rid: g for rid, g in trials.groupby("RunId")}
for r in ordered:
    g = by_run.get(r["id"])
    if g is None:
        problems.append(f"trial file lacks run {r['id']}")
        continue
    g = g.sort_values("Trial")
    for row, (_, t) in zip(r["rows"], g.iterrows()):
        outcome = ("Hit" if row["Resp"] else "Miss") if row["Tgt"] else ("FA" if row["Resp"] else "CR")
        checked += 1
        if t.Outcome != outcome or t.Kind != ("target" if row["Tgt"] else "distractor"):
            problems.append(f"run {r['id']} trial {row['Trial']}: {t.Outcome}/{t.Kind}, expected {outcome}")
        if row["Resp"] and (t.RT != row["RT"] or t.Anticipation != int(row["RT"] < limit)):
            problems.append(f"run {r['id']} trial {row['Trial']}: RT {t.RT}, expected {row['RT']}")
        if not row["Resp"] and not (pd.isna(t.RT) and pd.isna(t.Anticipation)):
            problems.append(f"run {r['id']} trial {row['Trial']}: RT {t.RT} without a response")
        want = row["onset_rt"]
        if (want is None) != pd.isna(t.OnsetRT) or (want is not None and abs(t.OnsetRT - want) > 1e-6):
            problems.append(f"run {r['id']} trial {row['Trial']}: OnsetRT {t.OnsetRT}, expected {want}")
        timing = row["timing"]
        for col in ["ShowTick", "Onset", "Press"]:
            w = float(timing[col]) if timing and timing.get(col) else None
            if (w is None) != pd.isna(t[col]) or (w is not None and abs(t[col] - w) > 1e-6):
                problems.append(f"run {r['id']} trial {row['Trial']}: {col} {t[col]}, expected {w}")
    counts = g.Outcome.value_counts()
    if not exclude and r["Hit"] + r["Miss"] + r["FA"] + r["CR"] <= 4999:
        for o in ["Hit", "Miss", "FA", "CR"]:
            if counts.get(o, 0) != r[o]:
                problems.append(f"run {r['id']}: {counts.get(o, 0)} {o} rows, summary {r[o]}")

for p in problems[:50]:
    print("MISMATCH", p)
print(f"{len(runs)} runs, {len(groups)} subject x condition groups, {len(subjects)} subjects, "
      f"{expected_rows} appearances; {checked} figures compared, {len(problems)} disagree")
sys.exit(1 if problems else 0)
