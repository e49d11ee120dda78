"""Analog compilation: a problem graph encoded for photonic Gaussian boson
sampling and placed on a neutral-atom array, and control values corrected by
measured hardware errors.

    python examples/analog.py
"""
import talvo_core
from talvo_core import analog, sim


def main():
    names = ["a", "b", "c", "d", "e"]
    graph = sim.LogicalGraph([sim.Variable(x, "spin") for x in names],
                             [sim.Interaction("a", "b", 0.8), sim.Interaction("b", "c", -0.4),
                              sim.Interaction("d", "e", 0.2), sim.Interaction("e", "e", 1.0)])

    encoding = analog.PhotonicCompiler().build_arrazola_bromley_encoding(graph)
    print("photonic adjacency matrix:")
    for name, row in zip(names, encoding.adjacency_matrix):
        print(f"  {name}: {row}")
    print("phases (rad):", [round(p, 4) for p in encoding.phases])

    compiler = analog.NeutralAtomCompiler()
    positions = compiler.map_to_spatial_geometry(graph)
    print("atom positions:", {n: (p.x, p.y) for n, p in zip(names, positions)})
    controls = compiler.generate_rydberg_controls(graph, positions)
    print(f"controls: {len(controls.omega)} omega samples, {len(controls.delta)} delta samples")

    couplings = [((0, 1), 0.8), ((1, 2), -0.4)]
    print("couplings corrected:", talvo_core.apply_coupling_correction(couplings, [((0, 1), 0.05)]))
    print("detunings corrected:", talvo_core.apply_detuning_correction([0.5] * 5, [(2, 0.1), (4, -0.05)]))
    print("Rabi frequency corrected:", talvo_core.apply_rabi_correction(2.0, 0.02))


if __name__ == "__main__":
    main()
