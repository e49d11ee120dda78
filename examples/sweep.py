"""A threshold study on a Dask cluster of worker processes.

The exact logical failure rate of the distance-3 and distance-5 surface codes
(the largest the lookup decoder takes) over 30 physical error rates each, and
the energy spectra of 100 random 16-variable QUBOs, computed by the workers of
a local cluster, or of any cluster whose scheduler address is given:

    pip install "dask[distributed]"     # from a checkout: pip install ".[cluster]"
    python examples/sweep.py                                # a LocalCluster of 2 worker processes
    python examples/sweep.py --scheduler tcp://10.0.0.5:8786

The functions shipped to the workers reach the module through `talvo_core`
(`talvo_core.ecc.build_surface_code`): a submodule and its functions have no
importable module of their own, so they cannot be pickled (docs/sweeps.md).
"""
import argparse
import logging
import random
import sys
import time

import talvo_core


def failure_rate(distance, p):
    """The exact logical failure rate of a distance-d patch at physical error rate p."""
    patch = talvo_core.ecc.build_surface_code(distance)
    return talvo_core.logical_failure_probability(len(patch.data_qubits), patch.z_stabilizers, patch.logical_z, p)


def random_qubo(seed, n_vars):
    rng = random.Random(seed)
    return [((i, j), rng.uniform(-1.0, 1.0)) for i in range(n_vars) for j in range(i, n_vars)]


def spectrum_summary(seed, n_vars):
    """The ground energy, the gap to the next level and the number of distinct
    levels of a random QUBO: the spectrum stays on the worker, the summary travels."""
    _, best, energies = talvo_core.qubo_energy_spectrum(random_qubo(seed, n_vars), n_vars)
    gap = energies[1] - energies[0] if len(energies) > 1 else 0.0
    return best, gap, len(energies)


def crossing(rates, first, second):
    """The rate where curve `first` rises through curve `second` (linear
    between samples), or None."""
    for k in range(1, len(rates)):
        a, b = first[k - 1] - second[k - 1], first[k] - second[k]
        if a < 0 <= b:
            return rates[k - 1] + (rates[k] - rates[k - 1]) * (-a) / (b - a)
    return None


def arguments():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--scheduler", help="address of a running Dask scheduler (default: start a local cluster)")
    ap.add_argument("--workers", type=int, default=2, help="worker processes of the local cluster (default: 2)")
    ap.add_argument("--rates", type=int, default=30, help="physical error rates per distance (default: 30)")
    ap.add_argument("--qubos", type=int, default=100, help="random QUBOs (default: 100)")
    ap.add_argument("--variables", type=int, default=16, help="variables per QUBO (default: 16)")
    return ap


def main(argv=None):
    args = arguments().parse_args(argv)
    try:
        from dask.distributed import Client, LocalCluster, progress
    except ImportError:
        print('this example needs Dask: pip install "dask[distributed]"', file=sys.stderr)
        return 2

    rates = [0.3 * (k + 1) / args.rates for k in range(args.rates)]
    started = time.perf_counter()
    if args.scheduler:
        cluster, client = None, Client(args.scheduler)
    else:
        # One thread per worker: no call releases the interpreter lock.
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None, silence_logs=logging.ERROR)
        client = Client(cluster)
    try:
        n_workers = len(client.scheduler_info()["workers"])
        d3 = client.map(failure_rate, [3] * len(rates), rates)
        d5 = client.map(failure_rate, [5] * len(rates), rates)
        spectra = client.map(spectrum_summary, range(args.qubos), [args.variables] * args.qubos)
        progress(d3 + d5 + spectra)  # a text progress bar until every task is done
        print()
        p3, p5, summaries = client.gather(d3), client.gather(d5), client.gather(spectra)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    elapsed = time.perf_counter() - started

    print(f"exact logical failure rates on {n_workers} worker processes")
    print(f"{'p':>8} {'d = 3':>12} {'d = 5':>12}")
    for p, a, b in zip(rates, p3, p5):
        print(f"{p:8.4f} {a:12.6g} {b:12.6g}")
    p_th = crossing(rates, p5, p3)  # the threshold of this decoder
    print("distance 5 beats distance 3 below p = " + (f"{p_th:.4f}" if p_th is not None else "(no crossing)"))
    gaps = sorted(g for _, g, _ in summaries)
    levels = [n for _, _, n in summaries]
    if summaries:
        print(f"{args.qubos} random {args.variables}-variable QUBOs: median gap {gaps[len(gaps) // 2]:.3g}, "
              f"lowest ground energy {min(b for b, _, _ in summaries):.4f}, "
              f"distinct levels {min(levels)} to {max(levels)}")
    print(f"done in {elapsed:.1f} s, cluster start and stop included")
    return 0


if __name__ == "__main__":
    sys.exit(main())
