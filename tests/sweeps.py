"""The work of the sweep tests, in a module of its own: worker processes (a
process pool's, a Dask cluster's) import these functions by name. Each reaches
the module through `talvo_core`, as a shipped function must."""
import random

import talvo_core


def failure_point(distance, p):
    """A patch record and its exact logical failure rate at physical rate p."""
    patch = talvo_core.ecc.build_surface_code(distance)
    rate = talvo_core.logical_failure_probability(len(patch.data_qubits), patch.z_stabilizers, patch.logical_z, p)
    return patch, rate


def qubo(seed, n_vars):
    rng = random.Random(seed)
    return [((i, j), rng.choice([-0.0, 0.5, -1.25, rng.uniform(-1, 1)]))
            for i in range(n_vars) for j in range(i, n_vars)]


def spectrum(seed, n_vars):
    """The spectrum of a random QUBO, and the score of a short co-design history on it."""
    best_assignment, best_energy, energies = talvo_core.qubo_energy_spectrum(qubo(seed, n_vars), n_vars)
    second = energies[1] if len(energies) > 1 else best_energy
    solver = talvo_core.StackelbergSolver(0.8, 3, 0.1)
    strength, score = solver.solve([0.5, 0.9], [best_energy, best_energy], [second, -0.0], [0.0, 0.25], 1.0)
    return best_assignment, best_energy, energies, strength, score, talvo_core.cutting.SampleCoefficient(seed, -0.0)
