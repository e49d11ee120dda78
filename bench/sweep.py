"""Benchmark of a parameter sweep on processes: the threshold study of
examples/sweep.py (exact logical failure rates of distances 3 and 5 over 30
physical error rates each, and the spectra of 100 random 16-variable QUBOs),
serial, on a thread pool (for comparison), on a process pool and on a local
Dask cluster of worker processes.

    PYTHONPATH=build/dev python bench/sweep.py [--workers 2] [--repeat 3]

Each way is timed on warm workers (started, and given one task each, before
the clock starts; the start is reported apart), best of --repeat runs; every
way's results are checked equal to the serial ones. No call releases the
interpreter lock, so the speed-up is bounded by the processors the workers
get: about 2x on two idle cores. The Dask row is left out when Dask is absent.
"""
import argparse
import logging
import multiprocessing
import os
import random
import sys
import time
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor

import talvo_core

RATES = [0.3 * (k + 1) / 30 for k in range(30)]
POINTS = [(d, p) for d in (3, 5) for p in RATES]
QUBOS, N_VARS = 100, 16


def failure_rate(distance, p):
    patch = talvo_core.ecc.build_surface_code(distance)
    return talvo_core.logical_failure_probability(len(patch.data_qubits), patch.z_stabilizers, patch.logical_z, p)


def spectrum_summary(seed, n_vars):
    rng = random.Random(seed)
    qubo = [((i, j), rng.uniform(-1.0, 1.0)) for i in range(n_vars) for j in range(i, n_vars)]
    _, best, energies = talvo_core.qubo_energy_spectrum(qubo, n_vars)
    return best, energies[1] - energies[0], len(energies)


def study(map_fn):
    """The whole study through `map_fn(fn, *iterables)`, which returns a list."""
    rates = map_fn(failure_rate, *zip(*POINTS))
    spectra = map_fn(spectrum_summary, range(QUBOS), [N_VARS] * QUBOS)
    return rates, spectra


def serial_map(fn, *iterables):
    return list(map(fn, *iterables))


def best_time(run, repeat):
    best, result = float("inf"), None
    for _ in range(repeat):
        t0 = time.perf_counter()
        result = run()
        best = min(best, time.perf_counter() - t0)
    return best, result


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--workers", type=int, default=2)
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()
    rows = []

    serial, expected = best_time(lambda: study(serial_map), args.repeat)
    rows.append(("serial", 0.0, serial))

    # Threads for comparison: no call releases the interpreter lock, so they take turns.
    with ThreadPoolExecutor(args.workers) as threads:
        took, got = best_time(lambda: study(lambda fn, *it: list(threads.map(fn, *it))), args.repeat)
    assert got == expected, "thread pool results differ from serial ones"
    rows.append((f"thread pool, {args.workers} threads", 0.0, took))

    t0 = time.perf_counter()
    with ProcessPoolExecutor(args.workers, mp_context=multiprocessing.get_context("spawn")) as pool:
        list(pool.map(failure_rate, [3] * args.workers, [0.1] * args.workers))
        start = time.perf_counter() - t0
        took, got = best_time(lambda: study(lambda fn, *it: list(pool.map(fn, *it))), args.repeat)
    assert got == expected, "process pool results differ from serial ones"
    rows.append((f"process pool, {args.workers} workers", start, took))

    try:
        from dask.distributed import Client, LocalCluster
    except ImportError:
        print("Dask is not installed (pip install 'talvo_core[cluster]'): no cluster row", file=sys.stderr)
    else:
        t0 = time.perf_counter()
        with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=None,
                          silence_logs=logging.ERROR) as cluster, Client(cluster) as client:
            client.gather(client.map(failure_rate, [3] * args.workers, [0.1 + k for k in range(args.workers)]))
            start = time.perf_counter() - t0
            # pure=False: every run computes afresh rather than reusing the last run's results.
            took, got = best_time(
                lambda: study(lambda fn, *it: client.gather(client.map(fn, *it, pure=False))), args.repeat)
        assert got == expected, "Dask results differ from serial ones"
        rows.append((f"Dask LocalCluster, {args.workers} worker processes", start, took))

    cpus = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    load = os.getloadavg()[0] if hasattr(os, "getloadavg") else float("nan")
    print(f"threshold study: {len(POINTS)} failure rates (d = 3, 5), {QUBOS} spectra of {N_VARS} variables; "
          f"{cpus} processors, load average {load:.1f}; best of {args.repeat}")
    print(f"{'way':<40} {'start s':>8} {'study s':>8} {'speed-up':>9}")
    for name, start, took in rows:
        print(f"{name:<40} {start:8.2f} {took:8.2f} {serial / took:8.2f}x")


if __name__ == "__main__":
    main()
