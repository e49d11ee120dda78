"""QUBO and Ising analysis: the exact spectrum of a small QUBO, the criticality
of its variables, the exact size of an Ising error Hamiltonian, and the ground
state of a named-variable Ising graph.

    python examples/qubo_ising.py
"""
import math
import random

import talvo_core
from talvo_core import sim


def main():
    # A random QUBO over 12 variables: every linear term and a third of the pairs.
    rng = random.Random(7)
    n = 12
    qubo = [((i, i), round(rng.uniform(-2, 1), 3)) for i in range(n)]
    qubo += [((i, j), round(rng.uniform(-1, 2), 3)) for i in range(n) for j in range(i + 1, n) if rng.random() < 1 / 3]
    print(f"QUBO: {n} variables, {len(qubo)} terms")

    best, best_energy, energies = talvo_core.qubo_energy_spectrum(qubo, n)
    print(f"best assignment {best}")
    print(f"best energy {best_energy:.3f}, second best {energies[1]:.3f}, "
          f"{len(energies)} distinct energies of {2 ** n} assignments")
    if not math.isfinite(best_energy):
        print("every energy was NaN: check the weights")

    ranking = talvo_core.qubo_criticality(qubo, n)
    print("most critical variables (index, sum of |w|):", [(k, round(w, 3)) for k, w in ranking[:3]])

    # The exact largest energy error that field and coupling errors of 1% add.
    dh = [(i, 0.01 * w) for (i, j), w in qubo if i == j]
    dj = [((i, j), 0.01 * w) for (i, j), w in qubo if i != j]
    print(f"exact Ising error norm: {talvo_core.exact_ising_norm(dh, dj, n):.4f}")

    # A frustrated triangle with a field on c.
    names = ["a", "b", "c"]
    graph = sim.LogicalGraph([sim.Variable(x, "spin") for x in names],
                             [sim.Interaction("a", "b", 1.0), sim.Interaction("b", "c", 1.0),
                              sim.Interaction("a", "c", 1.0), sim.Interaction("c", "c", 0.5)])
    spins = sim.IsingSimulator().solve_exact(graph)
    print("ground state:", dict(zip(names, spins)))


if __name__ == "__main__":
    main()
