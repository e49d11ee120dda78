"""Throughput of 1, 2 and 4 Python threads calling the module at once: the
spectrum (qubo_energy_spectrum, n = 14) and the statevector (run_statevector,
n = 12, 60 gates of bench/statevector.py), each thread making its own calls for a fixed time. On a
free-threaded interpreter with the GIL off (PYTHON_GIL=0) the calls run side
by side and the rate grows with the threads up to the cores; with a GIL it
stays near one thread's. The release workflow prints this on a free-threaded
runner.

Usage: python bench/threads.py [seconds per measurement]  (default 2)"""
import os
import random
import sys
import sysconfig
import threading
import time

import statevector  # bench/statevector.py: its circuit
import talvo_core


def spectrum_call(n=14, seed=1):
    rng = random.Random(seed)
    qubo = [((i, j), rng.uniform(-1.0, 1.0)) for i in range(n) for j in range(i, n)]
    return lambda: talvo_core.qubo_energy_spectrum(qubo, n)


def statevector_call(n=12, n_gates=60):
    circuit = statevector.make_circuit(n, n_gates)
    return lambda: talvo_core.run_statevector(circuit, n)


def rate(call, threads, seconds):
    """Calls per second of `threads` threads, each calling for `seconds`."""
    counts = [0] * threads
    start = threading.Barrier(threads + 1)

    def worker(k):
        start.wait()
        end = time.perf_counter() + seconds
        done = 0
        while time.perf_counter() < end:
            call()
            done += 1
        counts[k] = done

    pool = [threading.Thread(target=worker, args=(k,)) for k in range(threads)]
    for t in pool:
        t.start()
    t0 = time.perf_counter()
    start.wait()
    for t in pool:
        t.join()
    return sum(counts) / (time.perf_counter() - t0)


def main(seconds):
    free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    gil = sys._is_gil_enabled() if hasattr(sys, "_is_gil_enabled") else True
    print(f"CPython {sys.version.split()[0]}, free-threaded build: {free_threaded}, GIL enabled: {gil}, "
          f"{os.cpu_count()} CPUs, module {os.path.basename(talvo_core.__file__)}")
    for name, call in (("qubo_energy_spectrum n=14", spectrum_call()), ("run_statevector n=12", statevector_call())):
        call()  # warm up (the worker pool, the first allocations)
        one = None
        for threads in (1, 2, 4):
            r = rate(call, threads, seconds)
            one = one or r
            print(f"{name:<28} {threads} thread(s): {r:9.1f} calls/s  ({r / one:4.2f} x one thread)")


if __name__ == "__main__":
    main(float(sys.argv[1]) if len(sys.argv) > 1 else 2.0)
