"""Statevector benchmark: 22 qubits, 200 gates mixing h, rz, u, cx, cz, swap.

Reports
  * kernel time without result conversion, blocked and unblocked (a small
    executable built from the kernel sources alone, same compiler flags),
  * a plain read-and-write pass over the same state buffer (bandwidth limit),
  * run_statevector end to end, and an estimate of the simulation part
    (end to end minus an empty circuit's end to end),
  * qiskit-aer's statevector method on one thread, same circuit, if installed.

Usage: PYTHONPATH=build/dev python bench/statevector.py [n_qubits] [n_gates]
"""
import json
import os
import random
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests"))  # stand-in talvo.exceptions

import talvo_core  # noqa: E402


def make_circuit(n, n_gates, seed=2024):
    rng = random.Random(seed)
    out = []
    for _ in range(n_gates):
        name = rng.choice(["h", "rz", "u", "cx", "cz", "swap"])
        if name in ("cx", "cz", "swap"):
            a, b = rng.sample(range(n), 2)
            out.append((name, [a, b], []))
        elif name == "h":
            out.append((name, [rng.randrange(n)], []))
        elif name == "rz":
            out.append((name, [rng.randrange(n)], [rng.uniform(-3.2, 3.2)]))
        else:
            out.append((name, [rng.randrange(n)], [rng.uniform(-3.2, 3.2) for _ in range(3)]))
    return out


def best_of(repeats, fn):
    best = float("inf")
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def kernel_times(circuit, n, repeats, other_blocks=()):
    with tempfile.TemporaryDirectory() as tmp:
        exe = os.path.join(tmp, "statevector_kernel")
        subprocess.run(
            ["g++", "-std=c++20", "-O2", "-ffp-contract=off", "-fno-fast-math", "-Wno-psabi", "-I", os.path.join(ROOT, "src"),
             os.path.join(ROOT, "src/sim/statevector_backend.cpp"), os.path.join(ROOT, "bench/statevector_kernel.cpp"),
             "-o", exe],
            check=True)
        path = os.path.join(tmp, "circuit.txt")
        with open(path, "w") as f:
            for name, qs, ps in circuit:
                f.write(f"{name} {len(qs)} {' '.join(map(str, qs))} {len(ps)} {' '.join(repr(p) for p in ps)}\n")
        out = subprocess.run([exe, path, str(n), str(repeats), *map(str, other_blocks)], check=True, capture_output=True, text=True)
        return json.loads(out.stdout)


def aer_time(circuit, n, repeats):
    try:
        from qiskit import QuantumCircuit
        from qiskit_aer import AerSimulator
    except ImportError:
        return None
    qc = QuantumCircuit(n)
    for name, qs, ps in circuit:
        getattr(qc, name)(*ps, *qs)
    qc.save_statevector()
    sim = AerSimulator(method="statevector", max_parallel_threads=1, max_parallel_experiments=1,
                       max_parallel_shots=1, statevector_parallel_threshold=64)
    best_sim = best_wall = float("inf")
    result = None
    for _ in range(repeats):
        t0 = time.perf_counter()
        result = sim.run(qc).result()
        best_wall = min(best_wall, time.perf_counter() - t0)
        best_sim = min(best_sim, result.results[0].time_taken)
    import qiskit_aer
    return {"version": qiskit_aer.__version__, "sim_s": best_sim, "wall_s": best_wall,
            "state": result.get_statevector(qc).data,
            "fusion": result.results[0].metadata.get("fusion", {}).get("applied")}


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 22
    n_gates = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    repeats = 3
    circuit = make_circuit(n, n_gates)

    k = kernel_times(circuit, n, repeats)
    print(f"statevector: {n} qubits, {n_gates} gates (h, rz, u, cx, cz, swap), best of {repeats}")
    print(f"  read+write pass over the state     {k['pass_s'] * 1e3:9.2f} ms")
    print(f"  kernel, cache-blocked              {k['blocked_s'] * 1e3:9.2f} ms   "
          f"({k['blocked_s'] / k['pass_s']:.1f} passes)")
    print(f"  kernel, one pass per gate          {k['unblocked_s'] * 1e3:9.2f} ms   "
          f"({k['unblocked_s'] / n_gates / k['pass_s']:.2f}x the pass per gate)")
    print(f"  blocked result == unblocked result {k['blocked_equals_unblocked']}")

    e2e = best_of(repeats, lambda: talvo_core.run_statevector(circuit, n))
    empty = best_of(repeats, lambda: talvo_core.run_statevector([], n))
    print(f"  run_statevector end to end         {e2e * 1e3:9.2f} ms")
    print(f"  run_statevector, empty circuit     {empty * 1e3:9.2f} ms   (allocation + result conversion)")
    print(f"  end to end minus empty circuit     {(e2e - empty) * 1e3:9.2f} ms")

    aer = aer_time(circuit, n, repeats)
    if aer is None:
        print("  qiskit-aer: not installed")
        return
    ours = talvo_core.run_statevector(circuit, n)
    diff = max(abs(complex(*a) - b) for a, b in zip(ours, aer["state"]))
    print(f"  qiskit-aer {aer['version']} statevector, 1 thread: simulation {aer['sim_s'] * 1e3:.2f} ms, "
          f"wall {aer['wall_s'] * 1e3:.2f} ms (fusion applied: {aer['fusion']}); max |difference| {diff:.1e}")
    print(f"  kernel blocked / aer simulation    {k['blocked_s'] / aer['sim_s']:.2f}x")


if __name__ == "__main__":
    main()
