"""Checked by mypy from tests/test_typing.py, never run: numpy arrays and numpy
scalars are accepted wherever the module accepts a sequence or a number, and
what the module refuses (a str or a dict for a list, a list for a tuple) is
refused by the stubs too."""
import numpy as np
import numpy.typing as npt

import talvo_core
from talvo_core import analog, cutting, ecc, sim

vec: npt.NDArray[np.float64] = np.array([1.0, 2.0, 3.0])
mat: npt.NDArray[np.float64] = np.zeros((3, 3))
bits: npt.NDArray[np.uint8] = np.array([1, 0, 1], dtype=np.uint8)
idx: npt.NDArray[np.int64] = np.arange(3)

corrected: list[float] = talvo_core.apply_detuning_correction(vec, [(np.int64(1), np.float64(0.5))])
talvo_core.apply_rabi_correction(np.float64(10.0), 0)
talvo_core.vrp_qubo_terms(mat, 1.0, np.float32(2.0))
talvo_core.simulate_qubo_runs([((0, 1), 1.0)], bits, np.int64(4), 0.1, np.uint64(7))
talvo_core.simulate_qubo_runs([], b"\x00\x01", 1, 0.0, 0)
talvo_core.qubo_energy_spectrum([((np.int64(0), np.int64(0)), np.float64(-1.0))], np.int64(1))
talvo_core.run_statevector([("rz", idx[:1], vec[:1]), ("cx", [0, 1], ())], 2)
talvo_core.logical_failure_probability(9, ecc.build_surface_code().z_stabilizers, idx, np.float64(0.01))
talvo_core.build_ecc_lookup_table(3, [idx, range(2)])
talvo_core.StackelbergSolver(0.9, 10, 0.1).solve(vec, vec, vec, vec, 1.0)
cutting.SubcircuitSampleCounts(0, "a", {"0": np.int64(5), "1": np.int64(2)}, np.int64(7))
cutting.SubcircuitSampleCounts(0, "a", {"0": 5}, 5)
analog.PhotonicGBSParameters(mat, vec)
analog.RydbergControlParameters(vec, vec, [])
field: analog.ContinuousFieldIR | None = None
if field is not None:
    field.data = vec
g = sim.LogicalGraph((sim.Variable("a", "spin"),), [])

talvo_core.apply_detuning_correction("12", [])  # type: ignore[arg-type]
talvo_core.apply_detuning_correction({0: 1.0}, [])  # type: ignore[arg-type]
talvo_core.apply_detuning_correction([1.0], [[0, 1.0]])  # type: ignore[list-item]
talvo_core.qubo_energy_spectrum([((0, 0), 1.0)], 2.0)  # type: ignore[arg-type]
