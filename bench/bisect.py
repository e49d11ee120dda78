"""stoer_wagner_bisect on a dense random graph of 300 nodes against networkx.stoer_wagner.

Integer weights keep every sum exact, so the two cut values must be equal.
"""
import random
import sys
import time

import networkx as nx

import talvo_core


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 300
    rng = random.Random(300)
    edges = [(i, j, float(rng.randint(1, 100))) for i in range(n) for j in range(i + 1, n)]
    g = nx.Graph()
    g.add_weighted_edges_from(edges)

    best = float("inf")
    for _ in range(5):
        t0 = time.process_time()
        cut, side = talvo_core.stoer_wagner_bisect(edges, n)
        best = min(best, time.process_time() - t0)
    t0 = time.process_time()
    nx_cut, (nx_a, nx_b) = nx.stoer_wagner(g)
    t_nx = time.process_time() - t0

    assert cut == nx_cut, (cut, nx_cut)
    inside = set(side)
    assert cut == sum(w for i, j, w in edges if (i in inside) != (j in inside))
    print(f"stoer_wagner_bisect n={n}, {len(edges)} edges (CPU time)")
    print(f"  module      {best * 1e3:10.2f} ms   cut {cut}  |side_a| = {len(side)}")
    print(f"  networkx    {t_nx * 1e3:10.2f} ms   cut {nx_cut}  sides {len(nx_a)}/{len(nx_b)}")
    print(f"  speedup     {t_nx / best:10.1f}x  (target >= 50x)")


if __name__ == "__main__":
    main()
