"""qubo_energy_spectrum at n = 20 with all 210 upper-triangular terms, against dimod's ExactSolver."""
import random
import resource

import _common
import talvo_core


def problem(n=20, seed=1):
    rng = random.Random(seed)
    return [((i, j), rng.uniform(-1.0, 1.0)) for i in range(n) for j in range(i, n)], n


def run():
    qubo, n = problem()
    rss0 = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    t = _common.median_time(lambda: talvo_core.qubo_energy_spectrum(qubo, n), repeat=9)
    peak_mib = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - rss0) / 1024
    base, note = None, ""
    try:
        import dimod

        bqm = dimod.BinaryQuadraticModel.from_qubo({ij: w for ij, w in qubo})
        base = _common.median_time(lambda: dimod.ExactSolver().sample(bqm), repeat=3, warmup=0)
    except ImportError:
        note = "dimod not installed; "
    ratio = base / t if base else None
    return [
        _common.row("spectrum n=20, 210 terms", t, base, "dimod ExactSolver" if base else "", "<= 100 ms; >= 10x dimod",
                    t <= 0.1 and (ratio is None or ratio >= 10),
                    note + f"peak RSS growth {peak_mib:.0f} MiB (result included)"),
    ]


if __name__ == "__main__":
    _common.print_rows(run())
