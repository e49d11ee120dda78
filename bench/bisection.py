"""stoer_wagner_bisect on a dense random graph of 300 nodes against networkx.stoer_wagner.

Integer weights keep every sum exact, so the two cut values must be equal.
"""
import random
import sys
import time

import _common
import talvo_core


def run(n=300):
    rng = random.Random(300)
    edges = [(i, j, float(rng.randint(1, 100))) for i in range(n) for j in range(i + 1, n)]

    best = float("inf")
    for _ in range(5):
        t0 = time.process_time()
        cut, side = talvo_core.stoer_wagner_bisect(edges, n)
        best = min(best, time.process_time() - t0)
    inside = set(side)
    consistent = cut == sum(w for i, j, w in edges if (i in inside) != (j in inside))
    case = f"stoer_wagner_bisect n={n} dense ({len(edges):,} edges)"
    note = f"CPU time; cut {cut:g}, |side_a| = {len(side)}" + ("" if consistent else ", NOT the weight across the sides")
    try:
        import networkx as nx
    except ImportError:
        return [_common.row(case, best, None, "", ">= 50x networkx, same cut", None,
                            note + "; networkx not installed")]
    g = nx.Graph()
    g.add_weighted_edges_from(edges)
    t0 = time.process_time()
    nx_cut, (nx_a, nx_b) = nx.stoer_wagner(g)
    t_nx = time.process_time() - t0
    return [_common.row(case, best, t_nx, f"networkx {nx.__version__} stoer_wagner", ">= 50x networkx, same cut",
                        t_nx / best >= 50 and cut == nx_cut and consistent,
                        note + f"; networkx cut {nx_cut:g}, sides {len(nx_a)}/{len(nx_b)}")]


if __name__ == "__main__":
    _common.print_rows(run(*map(int, sys.argv[1:2])))
