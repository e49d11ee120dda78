"""Applies each mutant of scripts/mutation/mutants.py alone, rebuilds, and runs
the C++ tests and the Python suite against it; reports which mutants the tests
kill, the test that killed each one, and how long the first failure took.

    python3 scripts/mutation/run.py                # every mutant
    python3 scripts/mutation/run.py --only K01,V01 # some of them
    python3 scripts/mutation/run.py --list         # the list, without running

The run works on a snapshot of the tracked files in build/mutation/tree (so
the worktree is never changed and may be edited meanwhile), with one
incremental build in build/mutation/tree/build. For each mutant: ctest (stops
at its first failure) and, at the same time, the Python suite with -x (its
quick first stage runs first), each with a timeout. A mutant is killed when
either fails; a survivor has run the whole suite. The tests marked native_only (memory use,
forking) are left out: on a loaded machine they can fail without any fault,
which would count as a kill; those also marked counts_threads (the threads a
fresh interpreter starts, and their names) run. Needs cmake, ninja and the test extra
(pytest, hypothesis, networkx, matplotlib) in the running interpreter.

The table goes to stdout and to build/mutation/report.md.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
from mutants import MUTANTS  # noqa: E402

WORK = os.path.join(ROOT, "build", "mutation")
TREE = os.path.join(WORK, "tree")
BUILD = os.path.join(TREE, "build")


def run(cmd, timeout, cwd, env=None):
    """(return code or None on timeout, output, seconds)."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=timeout)
        code = proc.returncode
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        code = None
    return code, out, time.monotonic() - start


def snapshot():
    files = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True, capture_output=True).stdout
    for rel in filter(None, files.decode().split("\0")):
        src, dst = os.path.join(ROOT, rel), os.path.join(TREE, rel)
        if not os.path.isfile(src):
            continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        with open(src, "rb") as f:
            data = f.read()
        if os.path.exists(dst):
            with open(dst, "rb") as f:
                if f.read() == data:
                    continue  # unchanged: keeps its time stamp, so the build stays incremental
        with open(dst, "wb") as f:
            f.write(data)
        shutil.copymode(src, dst)


def build(timeout=1800):
    if not os.path.exists(os.path.join(BUILD, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", TREE, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DTALVO_TESTS=ON", f"-DPython_EXECUTABLE={sys.executable}"],
                       check=True, stdout=subprocess.DEVNULL)
    return run(["cmake", "--build", BUILD, "-j2"], timeout, TREE)


def apply(mutant):
    """Writes the mutated file; returns a function that puts the original back."""
    mid, rel, old, new, _ = mutant
    path = os.path.join(TREE, rel)
    with open(path) as f:
        text = f.read()
    nth = int(mid.split("@")[1]) if "@" in mid else 1
    at = -1
    for _ in range(nth):
        at = text.index(old, at + 1)
    if "@" not in mid and text.count(old) != 1:
        raise SystemExit(f"{mid}: the original text occurs {text.count(old)} times in {rel}")
    with open(path, "w") as f:
        f.write(text[:at] + new + text[at + len(old):])

    def restore():
        with open(path, "w") as f:
            f.write(text)
    return restore


def first_ctest_failure(out):
    m = re.search(r"Test +#\d+: (\S+) \.+\s*\*+", out) or re.search(r"^\s*\d+ - (\S+) \(", out, re.M)
    return f"ctest {m.group(1)}" if m else "ctest"


def first_pytest_failure(out):
    m = re.search(r"^(?:FAILED|ERROR) (\S+)", out, re.M)
    if m:
        return m.group(1)
    # A crash leaves the test that was running as the last one started.
    started = re.findall(r"^(tests/\S+::\S+)", out, re.M)
    return f"{started[-1]} (crashed)" if started else "pytest (crashed)"


def test(env, full_timeout):
    """(killer, seconds to the first failure, what the Python suite did).

    ctest and the Python suite start together (ctest runs one test at a time,
    the suite is one process: one core each), so the first failure is the
    earlier of the two, and the suite's own time to its failure is kept
    beside it."""
    ctest = {}

    def run_ctest():
        ctest["result"] = run(["ctest", "--test-dir", BUILD, "--output-on-failure", "--stop-on-failure",
                               "--timeout", "120"], 300, TREE, env)
    worker = threading.Thread(target=run_ctest)
    worker.start()
    code, out, py_s = run([sys.executable, "-m", "pytest", "-x", "-v", "-p", "no:cacheprovider",
                           "-m", "not native_only or counts_threads", "tests"], full_timeout, TREE, env)
    worker.join()
    c_code, c_out, ctest_s = ctest["result"]
    ctest_killer = None if c_code == 0 else (first_ctest_failure(c_out) if c_code is not None else "ctest (timeout)")
    if code == 0:
        py_killer, python = None, "passed"
    elif code is None:
        py_killer, python = "pytest (timeout)", f">{full_timeout}"
    else:
        py_killer = first_pytest_failure(out)
        python = f"{py_s:.1f}" + ("" if ctest_killer is None else f" ({py_killer})")
    if ctest_killer and (not py_killer or ctest_s < py_s):
        return ctest_killer, ctest_s, python
    if py_killer:
        return py_killer, py_s, python
    return None, None, python


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", help="comma-separated mutant ids (without @N)")
    parser.add_argument("--list", action="store_true", help="print the mutants and stop")
    parser.add_argument("--timeout", type=int, default=900, help="seconds for one whole Python suite run")
    args = parser.parse_args()
    chosen = MUTANTS
    if args.only:
        wanted = set(args.only.split(","))
        chosen = [m for m in MUTANTS if m[0].split("@")[0] in wanted]
    if args.list:
        for mid, rel, old, new, note in chosen:
            print(f"{mid:6} {rel:36} {note}")
        return 0

    os.makedirs(TREE, exist_ok=True)
    snapshot()
    env = dict(os.environ, PYTHONPATH=BUILD, CI="1")  # CI: fixed hypothesis seeds, repeatable runs
    code, out, secs = build()
    if code != 0:
        print(out[-3000:])
        raise SystemExit("the unmutated tree does not build")
    killer, _, _ = test(env, args.timeout)
    if killer:
        raise SystemExit(f"the unmutated tree fails its tests ({killer})")

    rows = []
    report = os.path.join(WORK, "report.md")
    for mutant in chosen:
        mid, rel, _, _, note = mutant
        equivalent = note.startswith("equivalent:")
        restore = apply(mutant)
        try:
            code, out, build_s = build()
        finally:
            restore()
        if code != 0:
            row = (mid, rel, note, "does not build", "", "", "", f"{build_s:.0f}")
        else:
            killer, first_s, python = test(env, args.timeout)
            status = "killed" if killer else ("survived (equivalent)" if equivalent else "SURVIVED")
            row = (mid, rel, note, status, killer or "", f"{first_s:.1f}" if first_s is not None else "",
                   python, f"{build_s:.0f}")
        rows.append(row)
        print(" | ".join(row), flush=True)
        write_report(report, rows)
    build()  # the unmutated tree again, so the next run starts from it
    write_report(report, rows, final=True)
    with open(report) as f:
        print(f.read())
    return 0


def write_report(path, rows, final=False):
    counted = [r for r in rows if r[3] in ("killed", "SURVIVED")]
    killed = sum(1 for r in counted if r[3] == "killed")
    equivalent = sum(1 for r in rows if r[3] == "survived (equivalent)")
    stillborn = sum(1 for r in rows if r[3] == "does not build")
    firsts = sorted(float(r[5]) for r in rows if r[3] == "killed" and r[5])
    with open(path, "w") as f:
        f.write("| mutant | file | fault | result | first failing test | s to first failure | "
                "Python suite alone: s to its failure | build s |\n")
        f.write("|---|---|---|---|---|---:|---:|---:|\n")
        for r in rows:
            f.write("| " + " | ".join(c.replace("|", "\\|") for c in r) + " |\n")
        share = 100.0 * killed / len(counted) if counted else 0.0
        f.write(f"\n{killed} of {len(counted)} killed ({share:.1f}%), not counting {equivalent} equivalent "
                f"mutant(s) and {stillborn} that do not build.")
        if firsts:
            median = firsts[len(firsts) // 2] if len(firsts) % 2 else (firsts[len(firsts) // 2 - 1] +
                                                                      firsts[len(firsts) // 2]) / 2
            f.write(f" First failure after {firsts[0]:.1f} to {firsts[-1]:.1f} s (median {median:.1f} s).")
        f.write("\n" if final else " (run in progress)\n")


if __name__ == "__main__":
    sys.exit(main())
