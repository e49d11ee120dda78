"""Gate-model simulators: a GHZ state and a one-layer QAOA-style circuit on the
statevector simulator, and the qudit register.

    python examples/simulators.py
"""
import math

import talvo_core
from talvo_core import sim


def probabilities(amplitudes):
    return [re * re + im * im for re, im in amplitudes]


def main():
    n = 3
    ghz = [("h", [0], [])] + [("cx", [q, q + 1], []) for q in range(n - 1)]
    state = talvo_core.run_statevector(ghz, n)
    print("GHZ state, basis states with weight (qubit 0 is the rightmost bit):")
    for index, p in enumerate(probabilities(state)):
        if p > 1e-12:
            print(f"  |{index:0{n}b}>  {p:.4f}")

    # One QAOA layer for a ring of 4 qubits: cost as cx-rz-cx, mixer as rx.
    n, gamma, beta = 4, 0.7, 0.3
    circuit = [("h", [q], []) for q in range(n)]
    for q in range(n):
        a, b = q, (q + 1) % n
        circuit += [("cx", [a, b], []), ("rz", [b], [2 * gamma]), ("cx", [a, b], [])]
    circuit += [("rx", [q], [2 * beta]) for q in range(n)]
    p = probabilities(talvo_core.run_statevector(circuit, n))
    cut = [sum(((i >> q) & 1) != ((i >> ((q + 1) % n)) & 1) for q in range(n)) for i in range(2 ** n)]
    print(f"QAOA ring of {n}: {len(circuit)} gates, expected cut {sum(c * w for c, w in zip(cut, p)):.4f}, "
          f"total probability {math.fsum(p):.12f}")

    # Qubit indices are not checked before a gate runs (a wrong one ends the call
    # with PanicException): check them for circuits from outside.
    for candidate in ([("h", [3], [])], [("h", [5], [])]):
        fits = all(qubits and max(qubits[:2]) < n for _, qubits, _ in candidate)
        print(f"{candidate} on {n} qubits:", "run" if fits else "refused before the call")

    print("qudit register of 4 sites, 3 levels:", sim.QuditSimulator(3, 4).simulate())


if __name__ == "__main__":
    main()
