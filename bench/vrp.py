"""vrp_qubo_terms at N = 53 (about 295,000 entries).

Compares the module with the plain-Python model of the tests (pair-keyed
accumulation, then a sorted name-keyed dict), with the same construction as
name-keyed term loops, and with the floor of this call: CPython building a dict
of the same entries from ready-made key and value lists.
"""
import random
import sys

import _common
import talvo_core
from models import model_vrp


def package_loops_vrp(dist, a, b):
    """The construction as plain term loops write it: names built per term,
    accumulated under name-pair keys oriented by string order, then put in
    index order."""
    n = len(dist)
    if any(len(row) != n for row in dist):
        raise ValueError("distance matrix must be square")
    acc = {}

    def add(p, q, delta):
        key = (p, q) if p <= q else (q, p)
        acc[key] = acc.get(key, 0.0) + delta

    for i in range(n):
        for t in range(n):
            add(f"x_{i}_{t}", f"x_{i}_{t}", -a)
            for s in range(t + 1, n):
                add(f"x_{i}_{t}", f"x_{i}_{s}", 2.0 * a)
    for t in range(n):
        for i in range(n):
            add(f"x_{i}_{t}", f"x_{i}_{t}", -a)
            for j in range(i + 1, n):
                add(f"x_{i}_{t}", f"x_{j}_{t}", 2.0 * a)
    for u in range(n):
        for v in range(n):
            if v != u:
                for t in range(n):
                    add(f"x_{u}_{t}", f"x_{v}_{(t + 1) % n}", dist[u][v] * b)
    index = {f"x_{i}_{t}": i * n + t for i in range(n) for t in range(n)}
    return dict(sorted(acc.items(), key=lambda kv: (index[kv[0][0]], index[kv[0][1]])))


def run(n=53, rounds=15):
    rng = random.Random(53)
    dist = [[0.0 if i == j else round(rng.uniform(1.0, 100.0), 2) for j in range(n)] for i in range(n)]
    a, b = 250.0, 1.0

    result = talvo_core.vrp_qubo_terms(dist, a, b)
    assert list(result.items()) == model_vrp(dist, a, b), "module and Python model differ"
    keys, values = list(result.keys()), list(result.values())

    t_mod, t_floor = _common.best_interleaved(
        [lambda: talvo_core.vrp_qubo_terms(dist, a, b), lambda: dict(zip(keys, values))], rounds)
    assert list(result.items()) == list(package_loops_vrp(dist, a, b).items()), "module and term loops differ"
    t_model, t_loops = _common.best_interleaved([lambda: model_vrp(dist, a, b), lambda: package_loops_vrp(dist, a, b)], 3)
    case = f"vrp_qubo_terms N={n} ({len(result):,} entries)"
    return [
        _common.row(case, t_mod, t_model, "pure-Python model", ">= 20x the model", t_model / t_mod >= 20,
                    f"CPU time, best of {rounds}; name-keyed term loops {_common.fmt_value(t_loops)} "
                    f"({t_loops / t_mod:.1f}x)"),
        _common.row(case, t_mod, t_floor, "dict(zip(keys, values))", "<= 2x the dict build", t_mod <= 2 * t_floor,
                    f"module / floor {t_mod / t_floor:.2f}; the dict build is the floor of this call"),
    ]


if __name__ == "__main__":
    _common.print_rows(run(*map(int, sys.argv[1:2])))
