"""StackelbergSolver.solve on 10,000 iterations: how much of a call is argument conversion.

The four lists are converted before any scoring starts, and only
len(confidences) iterations are scored. A call with a one-element
`confidences` and the other three lists full converts three of the four lists
and scores nothing to speak of; four thirds of its time estimates the
conversion of the full call.
"""
import random
import sys
import time

import talvo_core


def best_interleaved(fns, rounds):
    best = [float("inf")] * len(fns)
    for _ in range(rounds):
        for k, fn in enumerate(fns):
            t0 = time.process_time()
            fn()
            best[k] = min(best[k], time.process_time() - t0)
    return best


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000
    rng = random.Random(10)
    conf = [rng.uniform(0.0, 1.0) for _ in range(n)]
    best = [rng.uniform(-50.0, 0.0) for _ in range(n)]
    second = [e + rng.uniform(0.0, 12.0) for e in best]
    breaks = [rng.uniform(-0.1, 0.4) for _ in range(n)]
    solver = talvo_core.StackelbergSolver(0.95, 100, 0.2)

    t_full, t_three = best_interleaved(
        [lambda: solver.solve(conf, best, second, breaks, 2.0), lambda: solver.solve(conf[:1], best, second, breaks, 2.0)],
        200)
    conversion = min(t_full, t_three * 4 / 3)
    print(f"StackelbergSolver.solve, {n} iterations (CPU time, best of 200)")
    print(f"  full call                    {t_full * 1e6:9.1f} us")
    print(f"  3 lists converted, 1 scored  {t_three * 1e6:9.1f} us")
    print(f"  conversion share (estimate)  {conversion / t_full * 100:9.1f} %")
    print(f"  scoring and the rest         {(t_full - conversion) * 1e6:9.1f} us")


if __name__ == "__main__":
    main()
