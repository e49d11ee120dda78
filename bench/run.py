"""Run every benchmark case and print one table.

    PYTHONPATH=build/dev python bench/run.py [--markdown] [case ...]

Each case runs in a fresh interpreter, so that peak-memory figures, thread
counts and the worker pool's first start belong to that case alone. The
table goes to stdout (as Markdown with --markdown); progress goes to stderr.
Optional baselines (dimod, networkx, qiskit-aer) and the C++ compiler used for
kernel-only timings may be missing: those rows then carry a note instead.

The cases whose kernels have instruction-set variants (spectrum, ising,
statevector) run once per instruction set the machine offers, with
TALVO_CORE_SIMD set (`--simd generic,avx2` picks some); their rows carry the
set's name in brackets, and a second table compares the sets side by side.

    python bench/run.py --record [--runs N]

records the headline figures instead (bench/headline.py): N >= 5 runs of each
headline call and of its peer, written to bench/headline.json and quoted from
there by README.md and docs/performance.md, whose blocks it rewrites.
"""
import argparse
import importlib.util
import json
import os
import subprocess
import sys
import tempfile
import time

import _common
import headline

CASES = ["spectrum", "runs", "cutting", "statevector", "ecc", "vrp", "bisection", "stackelberg", "ising", "small"]
SIMD_CASES = {"spectrum", "statevector", "ising"}
SIMD_NAMES = ["generic", "avx2", "avx512"]


def simd_paths():
    """The instruction sets this machine and build offer: those TALVO_CORE_SIMD can name."""
    paths = []
    for name in SIMD_NAMES:
        done = subprocess.run([sys.executable, "-c", "import talvo_core"], env=dict(os.environ, TALVO_CORE_SIMD=name),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if done.returncode == 0:
            paths.append(name)
    return paths


def run_one(case, out_path):
    # Loaded from its file under a prefixed name, so that a case never stands
    # in for a module of the same name elsewhere.
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), case + ".py")
    spec = importlib.util.spec_from_file_location(f"bench_{case}", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    rows = module.run()
    with open(out_path, "w") as f:
        json.dump(rows, f)


def run_case(case, simd=None):
    env = dict(os.environ)
    if simd:
        env["TALVO_CORE_SIMD"] = simd
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "rows.json")
        done = subprocess.run([sys.executable, os.path.abspath(__file__), "--one", case, out],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env)
        if done.returncode == 0 and os.path.exists(out):
            with open(out) as f:
                rows = json.load(f)
            for r in rows:
                r["simd"] = simd
                if simd:
                    r["case"] += f" [{simd}]"
            return rows
    lines = done.stdout.strip().splitlines()
    why = lines[-1] if lines else f"exit status {done.returncode}"
    return [_common.row(case, None, met=False, target="(case failed)", note=f"failed: {why}")]


def per_path_table(rows, paths, markdown):
    """One line per case run on several instruction sets: its time on each, and
    the generic set's time over the AVX2 set's."""
    by_case = {}
    for r in rows:
        if r.get("simd") and r["unit"] == "s" and r["ours"] is not None:
            base = r["case"].rsplit(" [", 1)[0]
            by_case.setdefault(base, {})[r["simd"]] = r["ours"]
    if not by_case:
        return ""
    cols = ["case"] + paths + (["generic / avx2"] if {"generic", "avx2"} <= set(paths) else [])
    body = []
    for case, times in by_case.items():
        line = [case] + [_common.fmt_value(times.get(p)) for p in paths]
        if len(cols) > len(paths) + 1:
            g, a = times.get("generic"), times.get("avx2")
            line.append(f"{g / a:.2f}x" if g and a else "-")
        body.append(line)
    if markdown:
        return "\n".join(["| " + " | ".join(cols) + " |", "|---|" + "---:|" * (len(cols) - 1)] +
                         ["| " + " | ".join(b) + " |" for b in body])
    widths = [max(len(c) for c in col) for col in zip(cols, *body)]
    fmt = lambda cs: "  ".join(c.ljust(w) if k == 0 else c.rjust(w) for k, (c, w) in enumerate(zip(cs, widths)))
    return "\n".join([fmt(cols), fmt(["-" * w for w in widths])] + [fmt(b) for b in body])


def record_headline(runs):
    """Measures each headline case in a fresh interpreter, writes the record and
    the pages' blocks from it."""
    results = {}
    for case in headline.CASES:
        print(f"recording {case}, {runs} runs ...", end=" ", file=sys.stderr, flush=True)
        t0 = time.perf_counter()
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "times.json")
            subprocess.run([sys.executable, os.path.abspath(__file__), "--record-one", case, str(runs), out],
                           check=True)
            with open(out) as f:
                results[case] = json.load(f)
        print(f"{time.perf_counter() - t0:.1f} s", file=sys.stderr, flush=True)
    rec = headline.record(results, _common.machine(), runs)
    with open(headline.RECORD, "w", encoding="utf-8") as f:
        json.dump(rec, f, indent=2, ensure_ascii=False)
        f.write("\n")
    headline.write_pages(rec)
    print(headline.block(rec, "performance"))


def main():
    ap = argparse.ArgumentParser(description="Run the benchmark cases and print one table.")
    ap.add_argument("--markdown", action="store_true", help="print the table as Markdown")
    ap.add_argument("--one", nargs=2, metavar=("CASE", "OUT"), help=argparse.SUPPRESS)
    ap.add_argument("--record", action="store_true",
                    help="record the headline figures in bench/headline.json and rewrite the pages quoting them")
    ap.add_argument("--runs", type=int, default=7, help=f"runs per headline case (at least {headline.MIN_RUNS}; default 7)")
    ap.add_argument("--record-one", nargs=3, metavar=("CASE", "RUNS", "OUT"), help=argparse.SUPPRESS)
    ap.add_argument("--simd", metavar="SETS",
                    help="comma-separated instruction sets for the " + ", ".join(sorted(SIMD_CASES)) +
                         " cases (default: every one the machine offers)")
    ap.add_argument("cases", nargs="*", metavar="case",
                    help="cases to run (default: all of " + ", ".join(CASES) + ")")
    args = ap.parse_args()
    unknown = [c for c in args.cases if c not in CASES] if not args.one else []
    if unknown:
        ap.error(f"unknown case {unknown[0]!r} (choose from {', '.join(CASES)})")
    if args.one:
        run_one(*args.one)
        return
    if args.record_one:
        case, runs, out = args.record_one
        with open(out, "w") as f:
            json.dump(headline.measure(case, int(runs)), f)
        return
    if args.record:
        if args.runs < headline.MIN_RUNS:
            ap.error(f"--runs must be at least {headline.MIN_RUNS}")
        record_headline(args.runs)
        return
    paths = simd_paths()
    if args.simd:
        wanted = args.simd.split(",")
        bad = [p for p in wanted if p not in paths]
        if bad:
            ap.error(f"instruction set {bad[0]!r} is not offered here (this machine offers {', '.join(paths)})")
        paths = [p for p in paths if p in wanted]
    rows = []
    t_all = time.perf_counter()
    for case in args.cases or CASES:
        for simd in (paths if case in SIMD_CASES else [None]):
            label = case + (f" [{simd}]" if simd else "")
            print(f"running {label} ...", end=" ", file=sys.stderr, flush=True)
            t0 = time.perf_counter()
            rows += run_case(case, simd)
            print(f"{time.perf_counter() - t0:.1f} s", file=sys.stderr, flush=True)
    print(f"all cases: {time.perf_counter() - t_all:.0f} s", file=sys.stderr)
    header = f"Machine: {_common.machine()}."
    if args.markdown:
        print(header + "\n")
    else:
        print(header)
    print(_common.table(rows, markdown=args.markdown))
    side_by_side = per_path_table(rows, paths, args.markdown)
    if side_by_side:
        print("\nPer instruction set (TALVO_CORE_SIMD):\n" + ("\n" if args.markdown else "") + side_by_side)


if __name__ == "__main__":
    main()
