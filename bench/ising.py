"""Benchmark: exact Ising norm and exact solver at 20 sites, against the plain
Python loops at 14 sites measured in the same run.

    PYTHONPATH=build/dev python bench/ising.py
"""
import random

import _common
import talvo_core
from talvo_core import sim
from models import model_norm as python_norm, model_solve as python_solve

TARGET = 0.15  # seconds, median at 20 sites


def norm_case(n, rnd):
    dh = [(k, rnd.uniform(-1, 1)) for k in range(n)]
    dj = [((i, j), rnd.uniform(-1, 1)) for i in range(n) for j in range(i + 1, n)]
    return dh, dj, n


def graph_case(n, rnd):
    names = [f"q{k}" for k in range(n)]
    inter = [(names[i], names[j], rnd.gauss(0, 1)) for i in range(n) for j in range(i + 1, n)]
    g = sim.LogicalGraph([sim.Variable(x, "spin") for x in names],
                         [sim.Interaction(i, j, w) for i, j, w in inter])
    return names, inter, g


def run(repeats=9):
    rnd = random.Random(7)
    solver = sim.IsingSimulator()

    dh, dj, n = norm_case(20, rnd)
    norm20 = _common.median_time(lambda: talvo_core.exact_ising_norm(dh, dj, n), repeats, warmup=0)
    dh14, dj14, _ = norm_case(14, rnd)
    norm14 = _common.median_time(lambda: talvo_core.exact_ising_norm(dh14, dj14, 14), repeats, warmup=0)
    py_norm14 = _common.median_time(lambda: python_norm(dh14, dj14, 14), 3, warmup=0)
    assert python_norm(dh14, dj14, 14) == talvo_core.exact_ising_norm(dh14, dj14, 14)

    _, _, g20 = graph_case(20, rnd)
    solve20 = _common.median_time(lambda: solver.solve_exact(g20), repeats, warmup=0)
    names14, inter14, g14 = graph_case(14, rnd)
    solve14 = _common.median_time(lambda: solver.solve_exact(g14), repeats, warmup=0)
    py_solve14 = _common.median_time(lambda: python_solve(names14, inter14), 3, warmup=0)
    assert python_solve(names14, inter14) == solver.solve_exact(g14)

    target = f"<= {TARGET * 1e3:.0f} ms median"
    return [
        _common.row("exact_ising_norm 20 sites, 20 + 190 terms", norm20, None, "", target, norm20 <= TARGET,
                    f"median of {repeats}"),
        _common.row("exact_ising_norm 14 sites, 14 + 91 terms", norm14, py_norm14, "pure-Python model", "report",
                    None),
        _common.row("IsingSimulator.solve_exact 20 variables, 190 interactions", solve20, None, "", target,
                    solve20 <= TARGET, f"median of {repeats}"),
        _common.row("IsingSimulator.solve_exact 14 variables, 91 interactions", solve14, py_solve14,
                    "pure-Python model", "report", None),
    ]


if __name__ == "__main__":
    _common.print_rows(run())
