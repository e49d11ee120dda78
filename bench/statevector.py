"""Statevector benchmark: 22 qubits, 200 gates mixing h, rz, u, cx, cz, swap.

Reports
  * kernel time without result conversion, blocked and unblocked (the timer
    bench/statevector_kernel.cpp, a CMake target on the kernel library),
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

import _common
import talvo_core



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


def kernel_times(circuit, n, repeats, other_blocks=()):
    """Kernel-only timings from the kernel timer (bench/statevector_kernel.cpp);
    None without CMake, or the build's complaint as a string."""
    exe = _common.kernel_timer("statevector_kernel")
    if exe is None or exe.startswith("kernel build failed"):
        return exe
    with tempfile.TemporaryDirectory() as tmp:
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
    best_sim = best_wall = best_cpu = float("inf")
    result = None
    for _ in range(repeats):
        t0, c0 = time.perf_counter(), time.process_time()
        result = sim.run(qc).result()
        best_wall = min(best_wall, time.perf_counter() - t0)
        best_cpu = min(best_cpu, time.process_time() - c0)
        best_sim = min(best_sim, result.results[0].time_taken)
    import qiskit_aer
    return {"version": qiskit_aer.__version__, "sim_s": best_sim, "wall_s": best_wall, "cpu_s": best_cpu,
            "state": result.get_statevector(qc).data,
            "fusion": result.results[0].metadata.get("fusion", {}).get("applied")}


def run(n=22, n_gates=200, repeats=3, aer_repeats=2):
    circuit = make_circuit(n, n_gates)
    case = f"statevector {n} qubits, {n_gates} gates"
    k = kernel_times(circuit, n, repeats)
    e2e = _common.best_of(lambda: talvo_core.run_statevector(circuit, n), repeats)
    empty = _common.best_of(lambda: talvo_core.run_statevector([], n), repeats)
    aer = aer_time(circuit, n, aer_repeats)
    if aer is not None:
        ours_state = talvo_core.run_statevector(circuit, n)
        diff = max(abs(complex(*a) - b) for a, b in zip(ours_state, aer["state"]))
        aer_name = f"qiskit-aer {aer['version']}, 1 thread"
        aer_note = f"aer fusion applied: {aer['fusion']}, max |state difference| {diff:.1e}"
    else:
        aer_name, aer_note = "", "qiskit-aer not installed"

    if isinstance(k, dict):
        sim_time = k["blocked_s"]
        sim_note = (f"kernel without result conversion, cache-blocked ({k['blocked_s'] / k['pass_s']:.1f} passes over "
                    f"the state); one pass per gate {_common.fmt_value(k['unblocked_s'])}; blocked == unblocked: "
                    f"{k['blocked_equals_unblocked']}")
    else:
        sim_time = max(e2e - empty, 0.0)
        sim_note = ("end to end minus an empty circuit (" + (k or "no CMake") +
                    ", kernel not timed alone)")
    if aer is not None:
        sim_met = True if sim_time <= aer["sim_s"] else "floor" if sim_time <= 2 * aer["sim_s"] else False
    else:
        sim_met = None
    rows = [
        _common.row(f"{case}: simulation only", sim_time, aer and aer["sim_s"], aer_name + " (simulation)" if aer else "",
                    "<= aer; floor 2x aer", sim_met, f"{sim_note}; {aer_note}"),
        _common.row(f"{case}: end to end", e2e, aer and aer["wall_s"], aer_name + " (wall)" if aer else "", "report",
                    None, f"empty circuit {_common.fmt_value(empty)} (allocation + result conversion); "
                          f"end to end minus empty {_common.fmt_value(e2e - empty)}"),
    ]
    if isinstance(k, dict):
        per_gate = k["unblocked_s"] / n_gates
        rows.append(_common.row(f"{case}: unblocked time per gate", per_gate, k["pass_s"],
                                "read+write pass over the state", "<= 1.3x the pass", per_gate <= 1.3 * k["pass_s"],
                                f"{per_gate / k['pass_s']:.2f}x the pass per gate (memory-bandwidth limit)"))
    else:
        rows.append(_common.row(f"{case}: unblocked time per gate", None, None, "", "<= 1.3x the pass", None,
                                (k or "no CMake") + ": not measured"))
    return rows


if __name__ == "__main__":
    _common.print_rows(run(*map(int, sys.argv[1:3])))
