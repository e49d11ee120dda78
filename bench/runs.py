"""simulate_qubo_runs against the pure-Python loop it replaces.

500 runs of 200 variables with 2,000 terms. Prints the module's time, the
pure-Python model's time and their ratio, and the share of the call spent
building the Python result: the call minus its argument conversion (the same
call with n_runs=0) minus the native work (timed by bench/runs_kernel.cpp,
compiled here when a C++ compiler is found).
"""
import os
import random
import shutil
import subprocess
import sys
import time

import talvo_core

N_RUNS, N_VARS, N_TERMS = 500, 200, 2000
M64 = (1 << 64) - 1
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def model_runs(qubo, base_bits, n_runs, noise_level, seed):
    state = seed
    runs = []
    for _ in range(n_runs):
        run = []
        for b in base_bits:
            state = (state + 0x9E3779B97F4A7C15) & M64
            z = state
            z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & M64
            z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & M64
            z ^= z >> 31
            run.append((1 - b) % 256 if noise_level > (z >> 11) * 2.0**-53 else b)
        runs.append(run)
    energies = []
    for run in runs:
        e = -0.0
        for (i, j), w in qubo:
            e += float(run[j]) * (float(run[i]) * w)
        energies.append(e)
    return runs, energies


def best_of(f, reps):
    best = float("inf")
    for _ in range(reps):
        t0 = time.perf_counter()
        f()
        best = min(best, time.perf_counter() - t0)
    return best


def kernel_time():
    cxx = shutil.which(os.environ.get("CXX", "c++")) or shutil.which("g++")
    if not cxx:
        return None
    exe = os.path.join(ROOT, "build", "bench_runs_kernel")
    os.makedirs(os.path.dirname(exe), exist_ok=True)
    src = [os.path.join(ROOT, p) for p in ("bench/runs_kernel.cpp", "src/validator.cpp", "src/pool.cpp")]
    subprocess.run([cxx, "-std=c++20", "-O2", "-ffp-contract=off", "-pthread", "-I", os.path.join(ROOT, "src"),
                    *src, "-o", exe], check=True)
    out = subprocess.run([exe, str(N_RUNS), str(N_VARS), str(N_TERMS), "200"], check=True, capture_output=True,
                         text=True).stdout.split()
    return float(out[0])


def main():
    rng = random.Random(11)
    qubo = [((rng.randrange(N_VARS), rng.randrange(N_VARS)), rng.uniform(-1, 1)) for _ in range(N_TERMS)]
    base = [rng.randrange(2) for _ in range(N_VARS)]
    args = (qubo, base, N_RUNS, 0.1, 12345)
    threads = lambda: len(os.listdir("/proc/self/task"))
    before = threads()
    assert talvo_core.simulate_qubo_runs(*args) == model_runs(*args)
    after_first = threads()
    ours = best_of(lambda: talvo_core.simulate_qubo_runs(*args), 100)
    after_many = threads()
    model = best_of(lambda: model_runs(*args), 5)
    convert = best_of(lambda: talvo_core.simulate_qubo_runs(qubo, base, 0, 0.1, 12345), 100)
    print(f"simulate_qubo_runs {N_RUNS} runs x {N_VARS} vars, {N_TERMS} terms")
    print(f"  talvo_core   {ours * 1e3:9.3f} ms")
    print(f"  Python model {model * 1e3:9.3f} ms")
    print(f"  ratio        {model / ours:9.1f}x  (target >= 50x)")
    kernel = kernel_time()
    if kernel is not None:
        build = max(ours - convert - kernel, 0.0)
        print(f"  argument conversion {convert * 1e3:.3f} ms, native work {kernel * 1e3:.3f} ms, "
              f"Python result {build * 1e3:.3f} ms = {100 * build / ours:.0f}% of the call")
    print(f"  threads: {before} before the first call, {after_first} after it, {after_many} after 100 more")


if __name__ == "__main__":
    sys.exit(main())
