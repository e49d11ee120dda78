"""Error-correction planning: a distance-3 patch, its lookup decoder, exact
logical failure rates at distances 3 and 5, and patches handed out to the most
critical variables of a QUBO under a qubit budget.

    python examples/error_correction.py
"""
import talvo_core
from talvo_core import ecc


def main():
    patch = ecc.build_surface_code(3)
    print(patch, "Z stabilizers:", patch.z_stabilizers)

    table = talvo_core.build_ecc_lookup_table(len(patch.data_qubits), patch.z_stabilizers)
    print(f"lookup decoder: {len(table)} syndromes")
    for syndrome, correction in table[:4]:
        print(f"  syndrome {syndrome} -> flip qubits {[q for q, bit in enumerate(correction) if bit]}")

    print(f"{'p':>6} {'d = 3':>11} {'d = 5':>11}")
    patches = {d: ecc.build_surface_code(d) for d in (3, 5)}
    for p in (0.001, 0.01, 0.05):
        rates = [talvo_core.logical_failure_probability(d * d, patches[d].z_stabilizers, patches[d].logical_z, p)
                 for d in (3, 5)]
        print(f"{p:>6} {rates[0]:>11.3e} {rates[1]:>11.3e}")

    # Protect the most critical variables of a QUBO with a budget of 40 physical qubits.
    qubo = [((0, 1), -2.0), ((1, 2), 3.0), ((2, 2), -1.0), ((3, 4), 0.5), ((0, 0), 1.5)]
    ranked = talvo_core.qubo_criticality(qubo, 5)
    print("criticality:", ranked)
    assignments = ecc.select_patches(ranked, 40, 3)
    for a in assignments:
        print(" ", a)
    circuit = [("cx", [1, 2]), ("h", [0]), ("cx", [3, 4])]
    print("remapped circuit:", ecc.remap_circuit(circuit, assignments))
    # Variable 4 got no patch, so its operand 4 passes through unchanged and now
    # names a qubit of variable 1's block: remap only circuits whose every
    # variable has a patch, or keep the numbers apart yourself.
    unassigned = sorted({q for _, qubits in circuit for q in qubits} - {a.logical_var for a in assignments})
    print("variables without a patch:", unassigned)


if __name__ == "__main__":
    main()
