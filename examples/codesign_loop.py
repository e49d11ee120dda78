"""The co-design loop of talvo, end to end, on a small routing instance.

A depot and three customers give a 4 x 4 one-hot tour QUBO of 16 variables,
small enough for every exhaustive routine. The walk-through:

1. builds the tour QUBO and turns it into a term list,
2. takes its exact spectrum (best and second-best energy),
3. runs hundreds of noisy annealer runs per iteration, turns them into a
   validator confidence, and lets the Stackelberg solver score the iterations
   and recommend the next chain strength,
4. plans error correction: criticality ranking, patch selection under a qubit
   budget, circuit remapping, and the exact logical failure rates of a
   distance-3 and a distance-5 patch,
5. runs a short QAOA-style statevector simulation,
6. compiles the problem graph for photonic and neutral-atom hardware and
   pre-distorts the controls by measured hardware errors,
7. reconstructs an expectation value from synthetic circuit-cutting counts.

Each step prints what it found and how long it took.
"""
import math
import random
import time

import talvo_core
from talvo_core import analog, cutting, ecc, sim


class Report:
    def __init__(self):
        self.total = 0.0

    def step(self, title):
        report = self

        class Step:
            def __enter__(self):
                print(f"\n== {title}")
                self.t0 = time.perf_counter()
                return self

            def __exit__(self, *exc):
                dt = time.perf_counter() - self.t0
                report.total += dt
                print(f"   ({dt * 1e3:.1f} ms)")

        return Step()


def tour_qubo(rng, customers=3):
    """Depot 0 plus customers on a plane; returns the term list and variable names."""
    n = customers + 1
    points = [(0.0, 0.0)] + [(rng.uniform(-5, 5), rng.uniform(-5, 5)) for _ in range(customers)]
    dist = [[round(math.dist(p, q), 3) for q in points] for p in points]
    named = talvo_core.vrp_qubo_terms(dist, 20.0, 1.0)
    names = [f"x_{i}_{t}" for i in range(n) for t in range(n)]
    index = {name: k for k, name in enumerate(names)}
    terms = [((index[a], index[b]), w) for (a, b), w in named.items()]
    return terms, names, len(named)


def main():
    rng = random.Random(2026)
    report = Report()

    with report.step("1. VRP/TSP tour QUBO"):
        terms, names, n_entries = tour_qubo(rng)
        n = len(names)
        print(f"   depot + 3 customers: {n} one-hot variables, {n_entries} QUBO entries")

    with report.step("2. Exact spectrum"):
        best_bits, best_energy, energies = talvo_core.qubo_energy_spectrum(terms, n)
        second_best = energies[1] if len(energies) > 1 else energies[0]
        tour = sorted((t, i) for k, (i, t) in enumerate((k // 4, k % 4) for k in range(n)) if best_bits[k])
        print(f"   best energy {best_energy:.4f}, second best {second_best:.4f}, "
              f"{len(energies)} distinct energies")
        print(f"   best tour (position, node): {tour}")

    with report.step("3. Noisy runs and the Stackelberg solver"):
        solver = talvo_core.StackelbergSolver(target_kappa=0.9, max_iterations=8, learning_rate=0.3)
        chain_strength = 1.0
        confidences, bests, seconds, breaks = [], [], [], []
        for it in range(6):
            noise = 0.08 / chain_strength
            runs, run_energies = talvo_core.simulate_qubo_runs(terms, best_bits, 300, noise, 1000 + it)
            hits = sum(1 for e in run_energies if abs(e - best_energy) < 1e-9)
            confidences.append(hits / len(runs))
            bests.append(min(run_energies))
            seconds.append(second_best)
            broken = sum(1 for r in runs if any(sum(r[i * 4:i * 4 + 4]) != 1 for i in range(4)))
            breaks.append(broken / len(runs))
            chain_strength, score = solver.solve(confidences, bests, seconds, breaks, chain_strength)
            print(f"   iteration {it}: noise {noise:.3f}, confidence {confidences[-1]:.3f}, "
                  f"next chain strength {chain_strength:.4f}")
        print(f"   best score: {score!r}")

    with report.step("4. Error-correction planning"):
        ranked = talvo_core.qubo_criticality(terms, n)
        patches = ecc.select_patches(ranked, 200, 3)
        print(f"   most critical variables: {[v for v, _ in ranked[:4]]}; "
              f"{len(patches)} distance-3 patches fit in 200 physical qubits")
        print(f"   first patch: {patches[0]!r}")
        circuit = [("h", [ranked[0][0]]), ("cx", [ranked[0][0], ranked[1][0]]), ("rz", [ranked[-1][0]])]
        print(f"   remapped circuit: {ecc.remap_circuit(circuit, patches)}")
        for d in (3, 5):
            patch = ecc.build_surface_code(d)
            table = talvo_core.build_ecc_lookup_table(len(patch.data_qubits), patch.z_stabilizers)
            rates = []
            for p in (1e-3, 5e-3, 1e-2):
                rates.append(talvo_core.logical_failure_probability(
                    len(patch.data_qubits), patch.z_stabilizers, patch.logical_z, p))
            print(f"   {patch!r}: {len(table)} decoder entries; logical failure at p = 0.001, 0.005, 0.01: "
                  + ", ".join(f"{r:.3e}" for r in rates))

    with report.step("5. Statevector (QAOA layer on 4 qubits)"):
        gamma, beta = 0.7, 0.4
        circuit = [("h", [q], []) for q in range(4)]
        for q in range(3):
            circuit += [("cx", [q, q + 1], []), ("rz", [q + 1], [2 * gamma]), ("cx", [q, q + 1], [])]
        circuit += [("rx", [q], [2 * beta]) for q in range(4)]
        amplitudes = talvo_core.run_statevector(circuit, 4)
        probs = [re * re + im * im for re, im in amplitudes]
        top = max(range(16), key=probs.__getitem__)
        print(f"   most likely basis state {top:04b} with probability {probs[top]:.4f}; "
              f"norm {sum(probs):.12f}")

    with report.step("6. Analog compilation"):
        variables = [sim.Variable(name, "binary") for name in names]
        interactions = [sim.Interaction(names[i], names[j], w) for (i, j), w in terms if i != j]
        graph = sim.LogicalGraph(variables, interactions)
        gbs = analog.PhotonicCompiler().build_arrazola_bromley_encoding(graph)
        print(f"   photonic: {len(gbs.adjacency_matrix)}x{len(gbs.adjacency_matrix)} adjacency, "
              f"first phases {[round(p, 4) for p in gbs.phases[:3]]}")
        atoms = analog.NeutralAtomCompiler()
        coords = atoms.map_to_spatial_geometry(graph)
        controls = atoms.generate_rydberg_controls(graph, coords)
        print(f"   neutral atoms: {len(coords)} sites, last at ({coords[-1].x}, {coords[-1].y}); "
              f"{len(controls.omega)} control steps")
        corrected = talvo_core.apply_detuning_correction(controls.delta[:4], [(0, 0.05), (2, -0.02)])
        rabi = talvo_core.apply_rabi_correction(controls.omega[0], 0.03)
        couplings = talvo_core.apply_coupling_correction([((0, 1), 1.2), ((1, 2), 0.8)], [((0, 1), 0.1)])
        print(f"   corrected detunings {corrected}, Rabi {rabi:.6f}, couplings {couplings}")

    with report.step("7. Circuit-cutting reconstruction"):
        counts, coefficients = [], []
        for s in range(40):
            coefficients.append(cutting.SampleCoefficient(s, (-1) ** s * 0.25))
            for label in ("A", "B"):
                hist = {f"{b:02b}": rng.randrange(0, 200) for b in range(4)}
                counts.append(cutting.SubcircuitSampleCounts(s, label, hist, sum(hist.values()) or 1))
        value = cutting.reconstruct_expectation(counts, coefficients, ["A", "B"])
        print(f"   {len(coefficients)} samples x 2 sub-circuits: expectation {value:.6f}")
        print(f"   e.g. {counts[0]!r}, {coefficients[1]!r}")

    print(f"\nTotal time in the seven steps: {report.total:.2f} s")


if __name__ == "__main__":
    main()
