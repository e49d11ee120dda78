"""Shared helpers of the benchmark scripts: timing, one row format, the table."""
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

# Benchmarks run against the installed module, or a development build when
# PYTHONPATH points at one; the calling package's stand-in lives in tests/.
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests"))


def median_time(fn, repeat=7, warmup=1):
    for _ in range(warmup):
        fn()
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - t0)
        del result  # freed outside the timed region
    return statistics.median(times)


def best_of(fn, repeat):
    """Best wall time of `repeat` calls."""
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - t0)
        del result
    return best


def best_interleaved(fns, rounds):
    """Best CPU time of each function over `rounds` rounds, run in turn so that
    load changes on the shared machine hit all of them alike; results are freed
    outside the timed region."""
    best = [float("inf")] * len(fns)
    for _ in range(rounds):
        for k, fn in enumerate(fns):
            t0 = time.process_time()
            result = fn()
            best[k] = min(best[k], time.process_time() - t0)
            del result
    return best


def kernel_timer(name):
    """The kernel-only timer `name` (bench/<name>.cpp), built by CMake on the
    kernel library with the module's own flags in build/bench: its path, None
    without CMake, or the build's complaint as a string."""
    cmake = shutil.which("cmake")
    if not cmake:
        return None
    build = os.path.join(ROOT, "build", "bench")
    configure = [cmake, "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", f"-DPython_EXECUTABLE={sys.executable}"]
    if shutil.which("ninja") and not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        configure += ["-G", "Ninja"]
    for cmd in (configure, [cmake, "--build", build, "--target", "bench_" + name, "-j2"]):
        done = subprocess.run(cmd, capture_output=True, text=True)
        if done.returncode:
            return "kernel build failed: " + ((done.stderr or done.stdout).strip().splitlines() or ["?"])[-1]
    return os.path.join(build, "bench_" + name)


def median_interleaved(fns, rounds):
    """Median CPU time of each function over `rounds` rounds, run in turn so
    that load changes on a shared machine hit all of them alike (the calls are
    single-threaded: time spent descheduled is not theirs); results are freed
    outside the timed region."""
    times = [[] for _ in fns]
    for _ in range(rounds):
        for k, fn in enumerate(fns):
            t0 = time.process_time()
            result = fn()
            times[k].append(time.process_time() - t0)
            del result
    return [statistics.median(t) for t in times]


def exhaustive_phases(terms, n, repeats=5):
    """Phase timings of the exhaustive searches from the C++ harness
    (bench/exhaustive_kernel.cpp, CMake target bench_exhaustive_kernel, built
    into build/bench on first use) for the QUBO `terms` over n variables, on
    the instruction set TALVO_CORE_SIMD names. A dict, or a string saying why
    there is none."""
    import json
    import subprocess
    import tempfile

    exe = kernel_timer("exhaustive_kernel")
    if not isinstance(exe, str) or not os.path.exists(exe):
        return exe or "cmake not found"
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
        f.write("".join(f"{i} {j} {w!r}\n" for (i, j), w in terms))
    try:
        out = subprocess.run([exe, f.name, str(n), str(repeats)], capture_output=True, text=True)
        if out.returncode:
            return "harness failed: " + (out.stderr.strip() or "?")
        return json.loads(out.stdout)
    finally:
        os.unlink(f.name)


def row(case, ours, baseline=None, baseline_name="", target="", met=None, note="", unit="s"):
    """One result. `ours` and `baseline` are seconds (or a figure in `unit` when
    unit is not "s"); ratio = baseline / ours, so above 1 means we are faster.
    `met` is True, False, None (nothing to check) or a short word."""
    ratio = baseline / ours if baseline and ours else None
    return {"case": case, "ours": ours, "unit": unit, "baseline": baseline, "baseline_name": baseline_name,
            "ratio": ratio, "target": target, "met": met, "note": note}


def fmt_value(v, unit="s"):
    if v is None:
        return "-"
    if unit != "s":
        return f"{v:.1f} {unit}" if unit == "MiB" else f"{v:g} {unit}"
    if v < 1e-3:
        return f"{v * 1e6:.1f} µs"
    if v < 1.0:
        return f"{v * 1e3:.2f} ms"
    return f"{v:.2f} s"


def fmt_ratio(r):
    if r is None:
        return "-"
    return f"{r:.0f}x" if r >= 100 else f"{r:.2f}x" if r < 10 else f"{r:.1f}x"


def fmt_met(m):
    return m if isinstance(m, str) else {True: "yes", False: "NO", None: "-"}[m]


COLUMNS = ["case", "ours", "baseline", "baseline time", "ratio", "target", "met", "note"]


def cells(r):
    return [r["case"], fmt_value(r["ours"], r["unit"]), r["baseline_name"] or "-",
            fmt_value(r["baseline"], r["unit"]), fmt_ratio(r["ratio"]), r["target"] or "-", fmt_met(r["met"]),
            r["note"]]


def table(rows, markdown=False):
    body = [cells(r) for r in rows]
    if markdown:
        esc = lambda s: s.replace("|", "\\|")
        lines = ["| " + " | ".join(COLUMNS) + " |",
                 "|" + "|".join("---:" if c in ("ours", "baseline time", "ratio") else "---" for c in COLUMNS) + "|"]
        lines += ["| " + " | ".join(esc(c) for c in b) + " |" for b in body]
        return "\n".join(lines)
    widths = [max(len(c) for c in col) for col in zip(COLUMNS, *body)]
    right = {1, 3, 4}

    def line(cs):
        return "  ".join(c.rjust(w) if k in right else c.ljust(w) for k, (c, w) in enumerate(zip(cs, widths))).rstrip()

    return "\n".join([line(COLUMNS), line(["-" * w for w in widths])] + [line(b) for b in body])


def machine():
    model = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as f:
            for text in f:
                if text.startswith("model name"):
                    model = text.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return (f"{model}, {os.cpu_count()} cores, {platform.python_implementation()} {platform.python_version()}, "
            f"{platform.system()} {platform.machine()}")


def print_rows(rows):
    print(table(rows))
