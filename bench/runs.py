"""simulate_qubo_runs against the pure-Python loop it replaces.

500 runs of 200 variables with 2,000 terms. Prints the module's time, the
pure-Python model's time and their ratio, and the share of the call spent
building the Python result: the call minus its argument conversion (the same
call with n_runs=0) minus the native work (timed by bench/runs_kernel.cpp,
built by CMake when CMake is found).
"""
import os
import random
import subprocess

import _common
import talvo_core

N_RUNS, N_VARS, N_TERMS = 500, 200, 2000
M64 = (1 << 64) - 1


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


def kernel_time():
    """Native work alone, from the kernel timer (bench/runs_kernel.cpp); None
    without CMake, or the build's complaint as a string."""
    exe = _common.kernel_timer("runs_kernel")
    if exe is None or exe.startswith("kernel build failed"):
        return exe
    out = subprocess.run([exe, str(N_RUNS), str(N_VARS), str(N_TERMS), "200"], check=True, capture_output=True,
                         text=True).stdout.split()
    return float(out[0])


def run():
    rng = random.Random(11)
    qubo = [((rng.randrange(N_VARS), rng.randrange(N_VARS)), rng.uniform(-1, 1)) for _ in range(N_TERMS)]
    base = [rng.randrange(2) for _ in range(N_VARS)]
    args = (qubo, base, N_RUNS, 0.1, 12345)
    threads = lambda: len(os.listdir("/proc/self/task"))
    before = threads()
    assert talvo_core.simulate_qubo_runs(*args) == model_runs(*args)
    after_first = threads()
    ours = _common.best_of(lambda: talvo_core.simulate_qubo_runs(*args), 100)
    after_many = threads()
    model = _common.best_of(lambda: model_runs(*args), 5)
    convert = _common.best_of(lambda: talvo_core.simulate_qubo_runs(qubo, base, 0, 0.1, 12345), 100)
    kernel = kernel_time()
    if kernel is None:
        share = "no CMake: result-building share not measured"
    elif isinstance(kernel, str):
        share = kernel
    else:
        build = max(ours - convert - kernel, 0.0)
        share = (f"building the Python result {_common.fmt_value(build)} = {100 * build / ours:.0f}% of the call "
                 f"(argument conversion {_common.fmt_value(convert)}, native work {_common.fmt_value(kernel)})")
    return [
        _common.row(f"simulate_qubo_runs {N_RUNS} runs x {N_VARS} vars, {N_TERMS:,} terms", ours, model,
                    "pure-Python model", ">= 50x the model", model / ours >= 50, share),
        _common.row("worker pool: threads created per call after the first", after_many - after_first, None, "",
                    "none", after_many == after_first,
                    f"threads: {before} before the first call, {after_first} after it, {after_many} after 100 more",
                    unit="threads"),
    ]


if __name__ == "__main__":
    _common.print_rows(run())
