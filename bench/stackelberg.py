"""StackelbergSolver.solve on 10,000 iterations: how much of a call is argument conversion.

The four lists are converted before any scoring starts, and only
len(confidences) iterations are scored. A call with a one-element
`confidences` and the other three lists full converts three of the four lists
and scores nothing to speak of; four thirds of its time estimates the
conversion of the full call.
"""
import random
import sys

import _common
import talvo_core


def run(n=10_000, rounds=200):
    rng = random.Random(10)
    conf = [rng.uniform(0.0, 1.0) for _ in range(n)]
    best = [rng.uniform(-50.0, 0.0) for _ in range(n)]
    second = [e + rng.uniform(0.0, 12.0) for e in best]
    breaks = [rng.uniform(-0.1, 0.4) for _ in range(n)]
    solver = talvo_core.StackelbergSolver(0.95, 100, 0.2)

    t_full, t_three = _common.best_interleaved(
        [lambda: solver.solve(conf, best, second, breaks, 2.0), lambda: solver.solve(conf[:1], best, second, breaks, 2.0)],
        rounds)
    conversion = min(t_full, t_three * 4 / 3)
    share = conversion / t_full
    return [
        _common.row(f"StackelbergSolver.solve, {n:,} iterations", t_full, None, "",
                    "dominated by argument conversion", share >= 0.5,
                    f"conversion {share * 100:.0f}% of the call (4/3 of a call that converts 3 lists and scores "
                    f"1 iteration, {_common.fmt_value(t_three)}); scoring and the rest "
                    f"{_common.fmt_value(t_full - conversion)}; CPU time, best of {rounds}"),
    ]


if __name__ == "__main__":
    _common.print_rows(run(*map(int, sys.argv[1:2])))
