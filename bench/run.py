"""Run every benchmark case and print one table.

    PYTHONPATH=build/dev python bench/run.py [--markdown] [case ...]

Each case runs in a fresh interpreter, so that peak-memory figures, thread
counts and the worker pool's first start belong to that case alone. The
table goes to stdout (as Markdown with --markdown); progress goes to stderr.
Optional baselines (dimod, networkx, qiskit-aer) and the C++ compiler used for
kernel-only timings may be missing: those rows then carry a note instead.
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

CASES = ["spectrum", "runs", "cutting", "statevector", "ecc", "vrp", "bisect", "stackelberg", "ising"]


def run_one(case, out_path):
    # Loaded from its file under its own name: bench/bisect.py would otherwise
    # meet the standard library's bisect, which is imported already.
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), case + ".py")
    spec = importlib.util.spec_from_file_location(f"bench_{case}", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    rows = module.run()
    with open(out_path, "w") as f:
        json.dump(rows, f)


def run_case(case):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "rows.json")
        done = subprocess.run([sys.executable, os.path.abspath(__file__), "--one", case, out],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if done.returncode == 0 and os.path.exists(out):
            with open(out) as f:
                return json.load(f)
    lines = done.stdout.strip().splitlines()
    why = lines[-1] if lines else f"exit status {done.returncode}"
    return [_common.row(case, None, met=False, target="(case failed)", note=f"failed: {why}")]


def main():
    ap = argparse.ArgumentParser(description="Run the benchmark cases and print one table.")
    ap.add_argument("--markdown", action="store_true", help="print the table as Markdown")
    ap.add_argument("--one", nargs=2, metavar=("CASE", "OUT"), help=argparse.SUPPRESS)
    ap.add_argument("cases", nargs="*", metavar="case",
                    help="cases to run (default: all of " + ", ".join(CASES) + ")")
    args = ap.parse_args()
    unknown = [c for c in args.cases if c not in CASES] if not args.one else []
    if unknown:
        ap.error(f"unknown case {unknown[0]!r} (choose from {', '.join(CASES)})")
    if args.one:
        run_one(*args.one)
        return
    rows = []
    t_all = time.perf_counter()
    for case in args.cases or CASES:
        print(f"running {case} ...", end=" ", file=sys.stderr, flush=True)
        t0 = time.perf_counter()
        rows += run_case(case)
        print(f"{time.perf_counter() - t0:.1f} s", file=sys.stderr, flush=True)
    print(f"all cases: {time.perf_counter() - t_all:.0f} s", file=sys.stderr)
    header = f"Machine: {_common.machine()}."
    if args.markdown:
        print(header + "\n")
    else:
        print(header)
    print(_common.table(rows, markdown=args.markdown))


if __name__ == "__main__":
    main()
