"""Prints one line per representative computation: its name and a digest of
its result, floats by their bits. Two builds that agree in every bit print
the same lines; scripts/check_portability.sh compares an arm64 build under
emulation with the x86-64 build this way.

Usage: python digest.py   (talvo_core importable)
"""
import hashlib
import math
import random
import struct

import talvo_core
from talvo_core import analog, cutting, ecc, sim


def plain(value):
    """A comparable form of a result: floats by their bits, records by their attributes."""
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dict):
        return sorted((plain(k), plain(v)) for k, v in value.items())
    if isinstance(value, float):
        return struct.pack("<d", value).hex()
    if isinstance(value, (bool, int, str, type(None))):
        return value
    names = [n for n in dir(type(value)) if not n.startswith("_") and not callable(getattr(value, n))]
    return [type(value).__name__] + [plain(getattr(value, n)) for n in names]


def qubo(rng, n, terms):
    return [((rng.randrange(n), rng.randrange(n)), rng.uniform(-2, 2)) for _ in range(terms)]


def cases():
    rng = random.Random(20240607)
    yield "spectrum n=16", lambda: talvo_core.qubo_energy_spectrum(qubo(rng, 16, 120), 16)
    yield "spectrum n=9 ties", lambda: talvo_core.qubo_energy_spectrum(
        [((i % 9, (i * 4) % 9), (i % 5) * 0.25 - 0.5) for i in range(40)], 9)
    yield "ising norm 14 sites", lambda: talvo_core.exact_ising_norm(
        [(k, rng.uniform(-1, 1)) for k in range(14)], qubo(rng, 14, 60), 14)

    def solve():
        names = [f"v{k}" for k in range(15)]
        graph = sim.LogicalGraph([sim.Variable(n, "spin") for n in names],
                                 [sim.Interaction(rng.choice(names), rng.choice(names), rng.uniform(-1, 1))
                                  for _ in range(70)])
        return sim.IsingSimulator().solve_exact(graph)
    yield "ising exact solver", solve

    single = ["h", "x", "y", "z", "s", "t", "rx", "ry", "rz", "u"]

    def circuit(n, length):
        out = []
        for _ in range(length):
            if rng.random() < 0.3:
                a, b = rng.sample(range(n), 2)
                out.append((rng.choice(["cx", "cz", "swap"]), [a, b], []))
            else:
                name = rng.choice(single)
                k = 3 if name == "u" else 1 if name in ("rx", "ry", "rz") else 0
                out.append((name, [rng.randrange(n)], [rng.uniform(-7, 7) for _ in range(k)]))
        return out
    yield "statevector 10 qubits", lambda: talvo_core.run_statevector(circuit(10, 300), 10)
    yield "statevector 15 qubits", lambda: talvo_core.run_statevector(circuit(15, 120), 15)
    yield "rz angles", lambda: [talvo_core.run_statevector([("h", [0], []), ("rz", [0], [rng.uniform(-50, 50)])], 1)
                                for _ in range(2000)]
    yield "noisy runs", lambda: talvo_core.simulate_qubo_runs(
        qubo(rng, 60, 400), [rng.randrange(2) for _ in range(60)], 300, 0.3, 12345)
    patch = ecc.build_surface_code(3)
    yield "surface code d=5", lambda: ecc.build_surface_code(5)
    yield "lookup table d=3", lambda: talvo_core.build_ecc_lookup_table(9, patch.z_stabilizers)
    yield "logical failure d=3", lambda: [
        talvo_core.logical_failure_probability(9, patch.z_stabilizers, patch.logical_z, p)
        for p in (1e-4, 0.01, 0.1, 0.3)]
    yield "criticality", lambda: talvo_core.qubo_criticality(qubo(rng, 30, 200), 30)
    yield "vrp", lambda: talvo_core.vrp_qubo_terms(
        [[0.0 if i == j else rng.uniform(1, 9) for j in range(6)] for i in range(6)], 3.5, 1.25)
    yield "bisection", lambda: talvo_core.stoer_wagner_bisect(
        [(rng.randrange(25), rng.randrange(25), rng.uniform(0, 3)) for _ in range(120)], 25)

    def reconstruct():
        counts = [cutting.SubcircuitSampleCounts(s, label, {format(b, "03b"): rng.randrange(1, 50) for b in range(8)},
                                                 rng.randrange(100, 400))
                  for s in range(200) for label in "AB"]
        coefficients = [cutting.SampleCoefficient(s, rng.uniform(-2, 2)) for s in range(200)]
        return cutting.reconstruct_expectation(counts, coefficients, ["A", "B", "A"])
    yield "cutting", reconstruct

    def analog_compile():
        names = [f"q{k}" for k in range(12)]
        graph = sim.LogicalGraph([sim.Variable(n, "spin") for n in names],
                                 [sim.Interaction(rng.choice(names), rng.choice(names), rng.uniform(-2, 2))
                                  for _ in range(30)])
        atoms = analog.NeutralAtomCompiler()
        coords = atoms.map_to_spatial_geometry(graph)
        return (analog.PhotonicCompiler().build_arrazola_bromley_encoding(graph), coords,
                atoms.generate_rydberg_controls(graph, coords))
    yield "analog", analog_compile

    def solver():
        k = 50
        return talvo_core.StackelbergSolver(0.8, 100, 0.05).solve(
            [rng.uniform(0, 1) for _ in range(k)], [rng.uniform(-5, 0) for _ in range(k)],
            [rng.uniform(-5, 0) for _ in range(k)], [rng.uniform(0, 0.3) for _ in range(k)], 1.5)
    yield "stackelberg", solver
    yield "corrections", lambda: (
        talvo_core.apply_detuning_correction([rng.uniform(-5, 5) for _ in range(50)],
                                             [(k, rng.uniform(-1, 1)) for k in range(0, 50, 3)]),
        talvo_core.apply_coupling_correction([((k, k + 1), rng.uniform(-2, 2)) for k in range(30)],
                                             [((k, k + 1), rng.uniform(-0.2, 0.2)) for k in range(0, 30, 2)]),
        talvo_core.apply_rabi_correction(math.pi, 0.0123))
    yield "qudits", lambda: sim.QuditSimulator(5, 7).simulate()


def main():
    for name, compute in cases():
        digest = hashlib.sha256(repr(plain(compute())).encode()).hexdigest()[:32]
        print(f"{name:24} {digest}")


if __name__ == "__main__":
    main()
