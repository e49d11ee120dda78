"""Problem front ends: the one-hot tour QUBO of a small routing instance, solved
exactly, and the Stoer-Wagner bisection of a weighted graph.

    python examples/frontends.py
"""
import math

import talvo_core


def main():
    # A depot and three customers: 4 nodes, 16 one-hot variables x_i_t.
    points = [(0.0, 0.0), (3.0, 0.0), (3.0, 4.0), (0.0, 4.0)]
    dist = [[round(math.dist(p, q), 3) for q in points] for p in points]
    n = len(points)
    terms = talvo_core.vrp_qubo_terms(dist, penalty_a=20.0, penalty_b=1.0)
    print(f"tour QUBO: {n * n} variables, {len(terms)} entries; first: {next(iter(terms.items()))}")

    index = {f"x_{i}_{t}": i * n + t for i in range(n) for t in range(n)}
    qubo = [((index[a], index[b]), w) for (a, b), w in terms.items()]
    best, energy, _ = talvo_core.qubo_energy_spectrum(qubo, n * n)
    tour = [i for t in range(n) for i in range(n) if best[i * n + t]]
    length = sum(dist[tour[k]][tour[(k + 1) % n]] for k in range(n))
    print(f"best tour {tour}, length {length}, energy {energy}")

    # Two dense clusters joined by one light edge.
    edges = [(i, j, 5.0) for i in range(4) for j in range(i + 1, 4)]
    edges += [(i, j, 5.0) for i in range(4, 8) for j in range(i + 1, 8)]
    edges.append((3, 4, 1.5))
    cut, side_a = talvo_core.stoer_wagner_bisect(edges, 8)
    side_b = sorted(set(range(8)) - set(side_a))
    print(f"minimum cut {cut}: {sorted(side_a)} | {side_b}")


if __name__ == "__main__":
    main()
