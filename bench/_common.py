"""Shared helpers of the benchmark scripts: timing and one row format."""
import os
import statistics
import sys
import time

# Benchmarks run against the installed module, or a development build when
# PYTHONPATH points at one; the calling package's stand-in lives in tests/.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))


def median_time(fn, repeat=7, warmup=1):
    for _ in range(warmup):
        fn()
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


def row(case, ours, baseline=None, baseline_name="", target="", met=None, note=""):
    """One result: times in seconds; ratio = baseline / ours."""
    ratio = baseline / ours if baseline else None
    return {"case": case, "ours": ours, "baseline": baseline, "baseline_name": baseline_name,
            "ratio": ratio, "target": target, "met": met, "note": note}


def print_rows(rows):
    for r in rows:
        base = f"{r['baseline'] * 1e3:10.2f} ms ({r['baseline_name']})" if r["baseline"] else f"{'-':>13}"
        ratio = f"{r['ratio']:8.1f}x" if r["ratio"] else f"{'-':>9}"
        met = {True: "met", False: "NOT met", None: ""}[r["met"]]
        print(f"{r['case']:<44} {r['ours'] * 1e3:10.2f} ms  {base}  {ratio}  {r['target']:<28} {met} {r['note']}")
