"""Small calls: every function and method at three sizes (tiny, typical, large),
against the compact Python model the tests keep and against the call's
argument-conversion floor, side by side in one run.

    PYTHONPATH=build/dev python bench/small.py [--markdown] [--rounds N] [entry ...]

The floor is the same call with its work skipped: the same arguments where an
argument says there is nothing to do (n_vars = 0, n_runs = 0, no coefficients),
otherwise the emptiest arguments (an empty list), as the column "floor call"
says. Each figure is the best over several rounds of the per-call time of a
batch of calls, module, model and floor taken in turn in every round so that
the load of a shared machine falls on all three alike. "vs model" is the
model's time over the module's (above 1: the module is faster); "over floor"
is the module's time over the floor's.
"""
import argparse
import math
import random
import sys
import time

import _common  # puts tests/ on the import path
import models
import talvo_core
import test_analog
import test_bisect
import test_ecc
import test_runs
import test_stackelberg
import test_statevector
from talvo_core import analog, cutting, ecc, sim

# Targets beyond "at least as fast as the model": (entry, size) -> (least
# speed-up over the model, or None) and (most microseconds, or None).
TARGETS = {
    ("run_statevector", "1 qubit, 1 gate"): (1.0, None),
    ("run_statevector", "2 qubits, 4 gates"): (2.0, None),
    ("run_statevector", "4 qubits, 20 gates"): (10.0, None),
    ("reconstruct_expectation", "1 sample, 1 label"): (1.5, None),
    ("simulate_qubo_runs", "10 vars, 1 run"): (1.5, None),
}
EMPTY_STATE_LIMIT_US = 3.0


def per_call(fn, budget=0.002):
    """Calls per batch so that one batch takes about `budget` seconds."""
    t0 = time.perf_counter()
    fn()
    once = time.perf_counter() - t0
    return max(1, min(20000, int(budget / max(once, 1e-7))))


def best_per_call(fns, rounds):
    """Best seconds per call of each function, batches run in turn each round."""
    sizes = [per_call(f) if f else 0 for f in fns]
    best = [math.inf if f else None for f in fns]
    for _ in range(rounds):
        for k, f in enumerate(fns):
            if f is None:
                continue
            n = sizes[k]
            t0 = time.perf_counter()
            for _ in range(n):
                f()
            best[k] = min(best[k], (time.perf_counter() - t0) / n)
    return best


# ---------------------------------------------------------------------------
# Inputs and cases: (entry, size, module call, model call or None, floor call,
# floor description).

def qubo(rng, n, terms):
    return [((rng.randrange(n), rng.randrange(n)), rng.uniform(-1, 1)) for _ in range(terms)] if n else []


def circuit(rng, n, gates):
    out = []
    for g in range(gates):
        if n >= 2 and g % 3 == 2:
            a, b = rng.sample(range(n), 2)
            out.append((rng.choice(["cx", "cz", "swap"]), [a, b], []))
        else:
            name = rng.choice(["h", "x", "t", "rz", "u"])
            params = [rng.uniform(-3, 3) for _ in range(3 if name == "u" else 1 if name == "rz" else 0)]
            out.append((name, [rng.randrange(n)], params))
    return out


def cutting_inputs(rng, samples, labels, bitstrings=4):
    keys = [format(k, "03b") for k in range(bitstrings)]
    raw = []
    for s in range(samples):
        for label in labels:
            hist = {k: rng.randrange(1, 100) for k in keys}
            raw.append((s, label, hist, sum(hist.values())))
    coefs = [(s, rng.uniform(-1, 1)) for s in range(samples)]
    records = [cutting.SubcircuitSampleCounts(s, l, h, n) for s, l, h, n in raw]
    return raw, coefs, records, [cutting.SampleCoefficient(s, c) for s, c in coefs]


def graph(rng, n, edges):
    names = [f"v{k}" for k in range(n)]
    inter = [(rng.choice(names), rng.choice(names), rng.uniform(-1, 1)) for _ in range(edges)] if n else []
    lg = sim.LogicalGraph([sim.Variable(x, "spin") for x in names], [sim.Interaction(i, j, w) for i, j, w in inter])
    return names, inter, lg


def model_remap(circuit_, assignments):
    table = {a[0]: a[1] for a in assignments}
    return [(name, [table.get(q, q) for q in qs]) for name, qs in circuit_]


def model_grid(n):
    side = math.isqrt(n - 1) + 1 if n else 0
    return [(5.0 * (k % side), 5.0 * (k // side)) for k in range(n)]


def model_controls(positions):
    return [1.0] * 100, [0.5] * 100, [tuple(p) for p in positions]


def cases():
    rng = random.Random(28)
    out = []
    add = lambda *c: out.append(c)

    for n, t, label in ((3, 4, "n = 3"), (8, 30, "n = 8"), (12, 60, "n = 12")):
        q = qubo(rng, n, t)
        add("qubo_energy_spectrum", label, lambda q=q, n=n: talvo_core.qubo_energy_spectrum(q, n),
            lambda q=q, n=n: models.qubo_energy_spectrum(q, n),
            lambda q=q: talvo_core.qubo_energy_spectrum(q, 0), "n_vars = 0")
    for n, t, label in ((3, 4, "n = 3"), (8, 30, "n = 8"), (12, 60, "n = 12")):
        dj = [((i, j), w) for (i, j), w in qubo(rng, n, t) if i != j]
        dh = [(k, rng.uniform(-1, 1)) for k in range(n)]
        add("exact_ising_norm", label, lambda dh=dh, dj=dj, n=n: talvo_core.exact_ising_norm(dh, dj, n),
            lambda dh=dh, dj=dj, n=n: models.model_norm(dh, dj, n),
            lambda dh=dh, dj=dj: talvo_core.exact_ising_norm(dh, dj, 0), "n_sites = 0")
    for n, t, runs, label in ((10, 12, 1, "10 vars, 1 run"), (10, 30, 100, "10 vars, 100 runs"),
                              (40, 300, 2000, "40 vars, 2000 runs")):
        q, base = qubo(rng, n, t), [rng.randrange(2) for _ in range(n)]
        add("simulate_qubo_runs", label, lambda q=q, b=base, r=runs: talvo_core.simulate_qubo_runs(q, b, r, 0.2, 5),
            lambda q=q, b=base, r=runs: test_runs.model_runs(q, b, r, 0.2, 5),
            lambda q=q, b=base: talvo_core.simulate_qubo_runs(q, b, 0, 0.2, 5), "n_runs = 0")
    for n, gates, label in ((1, 1, "1 qubit, 1 gate"), (2, 4, "2 qubits, 4 gates"), (4, 20, "4 qubits, 20 gates"),
                            (10, 100, "10 qubits, 100 gates")):
        c = circuit(rng, n, gates)
        add("run_statevector", label, lambda c=c, n=n: talvo_core.run_statevector(c, n),
            lambda c=c, n=n: test_statevector.model(c, n),
            lambda n=n: talvo_core.run_statevector([], n), "no gates")
    for n in (0, 1, 2, 4):
        add("run_statevector", f"no gates, {n} qubit{'s' if n != 1 else ''}",
            lambda n=n: talvo_core.run_statevector([], n), lambda n=n: test_statevector.model([], n),
            lambda: talvo_core.run_statevector([], 0), "0 qubits")
    for samples, labels, label in ((1, ["A"], "1 sample, 1 label"), (100, ["A", "B"], "100 samples x 2 labels"),
                                   (5000, ["A", "B"], "5000 samples x 2 labels")):
        raw, coefs, records, coef_records = cutting_inputs(rng, samples, labels)
        add("reconstruct_expectation", label,
            lambda r=records, c=coef_records, l=labels: cutting.reconstruct_expectation(r, c, l),
            lambda r=raw, c=coefs, l=labels: models.model_reconstruct(r, c, l),
            lambda r=records, l=labels: cutting.reconstruct_expectation(r, [], l), "no coefficients")
    for n in (2, 4, 8):
        dist = [[0.0 if i == j else rng.uniform(1, 9) for j in range(n)] for i in range(n)]
        add("vrp_qubo_terms", f"{n} nodes", lambda d=dist: talvo_core.vrp_qubo_terms(d, 4.0, 2.0),
            lambda d=dist: models.model_vrp(d, 4.0, 2.0), lambda: talvo_core.vrp_qubo_terms([], 4.0, 2.0), "no nodes")
    for n, m in ((4, 5), (20, 60), (100, 600)):
        edges = [(rng.randrange(n), rng.randrange(n), rng.uniform(0, 5)) for _ in range(m)]
        add("stoer_wagner_bisect", f"{n} nodes, {m} edges", lambda e=edges, n=n: talvo_core.stoer_wagner_bisect(e, n),
            lambda e=edges, n=n: test_bisect.model_bisect(e, n),
            lambda: talvo_core.stoer_wagner_bisect([], 2), "no edges, 2 nodes")
    for d in (2, 3, 4):
        patch = ecc.build_surface_code(d)
        n, z, lz = d * d, patch.z_stabilizers, patch.logical_z
        add("build_ecc_lookup_table", f"distance {d}", lambda n=n, z=z: talvo_core.build_ecc_lookup_table(n, z),
            lambda n=n, z=z: test_ecc.ref_lookup(n, z), lambda: talvo_core.build_ecc_lookup_table(0, []),
            "no qubits")
        add("logical_failure_probability", f"distance {d}",
            lambda n=n, z=z, lz=lz: talvo_core.logical_failure_probability(n, z, lz, 0.01),
            lambda n=n, z=z, lz=lz: test_ecc.ref_failure(n, z, lz, 0.01),
            lambda: talvo_core.logical_failure_probability(0, [], [], 0.01), "no qubits")
    for n, t in ((3, 4), (20, 60), (200, 2000)):
        q = qubo(rng, n, t)
        add("qubo_criticality", f"{n} vars, {t} terms", lambda q=q, n=n: talvo_core.qubo_criticality(q, n),
            lambda q=q, n=n: test_ecc.ref_criticality(q, n), lambda q=q: talvo_core.qubo_criticality(q, 0),
            "n_vars = 0")
    for n in (2, 20, 1000):
        couplings = [((k, k + 1), rng.uniform(0, 2)) for k in range(n)]
        errors = [((k, k + 1), rng.uniform(-0.1, 0.1)) for k in range(0, n, 2)]
        add("apply_coupling_correction", f"{n} couplings",
            lambda c=couplings, e=errors: talvo_core.apply_coupling_correction(c, e),
            lambda c=couplings, e=errors: test_analog.model_coupling(c, e),
            lambda: talvo_core.apply_coupling_correction([], []), "empty lists")
        detunings = [rng.uniform(-1, 1) for _ in range(n)]
        offsets = [(k, rng.uniform(-0.1, 0.1)) for k in range(0, n, 2)]
        add("apply_detuning_correction", f"{n} sites",
            lambda d=detunings, o=offsets: talvo_core.apply_detuning_correction(d, o),
            lambda d=detunings, o=offsets: test_analog.model_detuning(d, o),
            lambda: talvo_core.apply_detuning_correction([], []), "empty lists")
    add("apply_rabi_correction", "one value", lambda: talvo_core.apply_rabi_correction(10.0, 0.25),
        lambda: 10.0 / test_analog.clamp(0.25), lambda: talvo_core.apply_rabi_correction(10.0, 0.25),
        "(the call itself)")
    for d in (1, 3, 7):
        add("ecc.build_surface_code", f"distance {d}", lambda d=d: ecc.build_surface_code(d),
            lambda d=d: test_ecc.ref_patch(d), lambda: ecc.build_surface_code(0), "distance 0")
    for n in (2, 20, 500):
        ranked = [(k, rng.uniform(0, 9)) for k in range(n)]
        add("ecc.select_patches", f"{n} variables", lambda r=ranked: ecc.select_patches(r, 10**9, 3),
            lambda r=ranked: test_ecc.ref_select(r, 10**9, 3), lambda r=ranked: ecc.select_patches(r, 0, 3),
            "budget 0")
    for n in (2, 20, 500):
        ranked = [(k, rng.uniform(0, 9)) for k in range(max(2, n // 4))]
        assignments = ecc.select_patches(ranked, 10**9, 3)
        plain = [(a.logical_var, a.physical_start) for a in assignments]
        gates = [(rng.choice(["h", "cx"]), [rng.randrange(len(ranked) + 3)]) for _ in range(n)]
        add("ecc.remap_circuit", f"{n} gates", lambda g=gates, a=assignments: ecc.remap_circuit(g, a),
            lambda g=gates, a=plain: model_remap(g, a), lambda: ecc.remap_circuit([], []), "empty lists")
    solver = talvo_core.StackelbergSolver(0.8, 10, 0.1)
    for n in (1, 10, 1000):
        rows = [[rng.uniform(0, 1) for _ in range(n)], [rng.uniform(-5, 0) for _ in range(n)],
                [rng.uniform(-5, 0) for _ in range(n)], [rng.uniform(0, 1) for _ in range(n)]]
        add("StackelbergSolver.solve", f"{n} candidates", lambda r=rows: solver.solve(*r, 2.0),
            lambda r=rows: test_stackelberg.model_solve(0.8, 0.1, *r, 2.0),
            lambda: solver.solve([0.5], [0.0], [0.0], [0.0], 2.0), "1 candidate")
    ising = sim.IsingSimulator()
    photonic, atoms = analog.PhotonicCompiler(), analog.NeutralAtomCompiler()
    empty = sim.LogicalGraph([], [])
    for n, m in ((3, 3), (8, 20), (14, 60)):
        names, inter, lg = graph(rng, n, m)
        add("IsingSimulator.solve_exact", f"{n} variables", lambda g=lg: ising.solve_exact(g),
            lambda nm=names, it=inter: models.model_solve(nm, it), lambda: ising.solve_exact(empty), "empty graph")
    for n, m in ((3, 3), (20, 60), (200, 600)):
        names, inter, lg = graph(rng, n, m)
        add("PhotonicCompiler.build_arrazola_bromley_encoding", f"{n} variables",
            lambda g=lg: photonic.build_arrazola_bromley_encoding(g),
            lambda nm=names, it=inter: test_analog.model_encoding(nm, it),
            lambda: photonic.build_arrazola_bromley_encoding(empty), "empty graph")
        add("NeutralAtomCompiler.map_to_spatial_geometry", f"{n} variables",
            lambda g=lg: atoms.map_to_spatial_geometry(g), lambda n=n: model_grid(n),
            lambda: atoms.map_to_spatial_geometry(empty), "empty graph")
        coords = atoms.map_to_spatial_geometry(lg)
        positions = model_grid(n)
        add("NeutralAtomCompiler.generate_rydberg_controls", f"{n} atoms",
            lambda g=lg, c=coords: atoms.generate_rydberg_controls(g, c), lambda p=positions: model_controls(p),
            lambda: atoms.generate_rydberg_controls(empty, []), "no atoms")
    for levels, sites in ((2, 1), (3, 20), (3, 1000)):
        q = sim.QuditSimulator(levels, sites)
        add("QuditSimulator.simulate", f"{sites} sites", q.simulate, lambda s=sites: [0] * s,
            sim.QuditSimulator(2, 0).simulate, "0 sites")
    return out


def check_models_agree(all_cases):
    """The benchmark is only fair if model and module compute the same thing:
    compare the floats of the entries whose results are plain numbers."""
    for entry, size, mod, model, _, _ in all_cases:
        if entry in ("run_statevector",):
            got, want = mod(), model()
            assert [(models.bits_of(a), models.bits_of(b)) for a, b in got] == \
                   [(models.bits_of(a), models.bits_of(b)) for a, b in want], (entry, size)
        elif entry in ("reconstruct_expectation", "exact_ising_norm", "logical_failure_probability"):
            assert models.bits_of(mod()) == models.bits_of(model()), (entry, size)


def measure(rounds=5, wanted=None, out=sys.stderr):
    all_cases = [c for c in cases() if not wanted or c[0] in wanted]
    check_models_agree(all_cases)
    rows = []
    for entry, size, mod, model, floor, floor_note in all_cases:
        t_mod, t_model, t_floor = best_per_call([mod, model, floor], rounds)
        rows.append({"entry": entry, "size": size, "module": t_mod, "model": t_model, "floor": t_floor,
                     "floor_call": floor_note})
        print(f"  {entry} {size}: {t_mod * 1e6:.2f} us", file=out, flush=True)
    return rows


def verdict(r):
    speedup = r["model"] / r["module"] if r["model"] else None
    least, most = TARGETS.get((r["entry"], r["size"]), (1.0, None))
    if r["entry"] == "run_statevector" and r["size"].startswith("no gates"):
        least, most = None, EMPTY_STATE_LIMIT_US
    ok = True
    target = []
    if least is not None and speedup is not None:
        ok &= speedup >= least
        target.append(f">= {least:g}x")
    if most is not None:
        ok &= r["module"] * 1e6 <= most
        target.append(f"<= {most:g} µs")
    return speedup, " and ".join(target) or "-", ok


def table(rows, markdown=False):
    cols = ["entry", "size", "module µs", "model µs", "floor µs", "vs model", "over floor", "floor call", "target",
            "met"]
    body = []
    for r in rows:
        speedup, target, ok = verdict(r)
        us = lambda t: "-" if t is None else f"{t * 1e6:.2f}" if t < 1e-3 else f"{t * 1e6:,.0f}"
        body.append([r["entry"], r["size"], us(r["module"]), us(r["model"]), us(r["floor"]),
                     _common.fmt_ratio(speedup), _common.fmt_ratio(r["module"] / r["floor"]), r["floor_call"], target,
                     "yes" if ok else "NO"])
    if markdown:
        return "\n".join(["| " + " | ".join(cols) + " |", "|---|---|" + "---:|" * 5 + "---|---|---|"] +
                         ["| " + " | ".join(b) + " |" for b in body])
    widths = [max(len(c) for c in col) for col in zip(cols, *body)]
    line = lambda cs: "  ".join(c.rjust(w) if 2 <= k <= 6 else c.ljust(w)
                                for k, (c, w) in enumerate(zip(cs, widths))).rstrip()
    return "\n".join([line(cols), line(["-" * w for w in widths])] + [line(b) for b in body])


def rows_for_run_py(rows):
    """The rows in bench/run.py's format: module against model."""
    out = []
    for r in rows:
        if r["model"] is None:
            continue
        speedup, target, ok = verdict(r)
        out.append(_common.row(f"small: {r['entry']}, {r['size']}", r["module"], r["model"], "Python model",
                               target, ok, note=f"floor {r['floor'] * 1e6:.2f} µs ({r['floor_call']})"))
    return out


def run():
    """The case `small` of bench/run.py: its rows."""
    return rows_for_run_py(measure())


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--markdown", action="store_true", help="print the table as Markdown")
    ap.add_argument("--rounds", type=int, default=5, help="rounds of batches; the best is kept (default 5)")
    ap.add_argument("entries", nargs="*", help="entries to run (default: all)")
    args = ap.parse_args()
    rows = measure(args.rounds, set(args.entries))
    print(f"Machine: {_common.machine()}. Best of {args.rounds} rounds per figure.\n")
    print(table(rows, args.markdown))


if __name__ == "__main__":
    main()
