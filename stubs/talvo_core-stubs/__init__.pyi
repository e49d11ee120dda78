# Type information for the talvo_core extension module.
#
# talvo_core is a single extension module, not a package: `sim`, `analog`, `ecc`
# and `cutting` are module objects stored as its attributes.  They are written
# here as submodules so that `talvo_core.sim.Variable` and `from talvo_core import
# sim` type-check; `import talvo_core.sim` type-checks as well but fails at run time.
#
# Parameter types follow what the module accepts: counts and indices take any
# integer-like object (`SupportsIndex`), floats anything with `__float__` or
# `__index__`, lists any sequence except `str`.  Results are the concrete types
# the module returns.
from collections.abc import Sequence
from typing import SupportsFloat, SupportsIndex, TypeAlias, final

from . import analog as analog
from . import cutting as cutting
from . import ecc as ecc
from . import sim as sim

_Float: TypeAlias = SupportsFloat | SupportsIndex
_UInt: TypeAlias = SupportsIndex
# ((i, j), w): w * x_i * x_j, i == j a linear term.
_QuboTerm: TypeAlias = tuple[tuple[_UInt, _UInt], _Float]

__all__ = [
    "StackelbergSolver",
    "EquilibriumScore",
    "apply_detuning_correction",
    "apply_coupling_correction",
    "apply_rabi_correction",
    "qubo_criticality",
    "exact_ising_norm",
    "qubo_energy_spectrum",
    "run_statevector",
    "simulate_qubo_runs",
    "vrp_qubo_terms",
    "build_ecc_lookup_table",
    "logical_failure_probability",
    "stoer_wagner_bisect",
    "sim",
    "analog",
    "ecc",
    "cutting",
]

@final
class StackelbergSolver:
    def __new__(cls, target_kappa: _Float, max_iterations: _UInt, learning_rate: _Float) -> StackelbergSolver: ...
    @property
    def target_kappa(self) -> float: ...
    @property
    def max_iterations(self) -> int:
        """Stored and reported only, not a stopping limit: `solve` scores every iteration it is given."""
    @property
    def learning_rate(self) -> float: ...
    def solve(
        self,
        confidences: Sequence[_Float],
        best_energies: Sequence[_Float],
        second_best_energies: Sequence[_Float],
        chain_break_fractions: Sequence[_Float],
        current_chain_strength: _Float,
    ) -> tuple[float, EquilibriumScore]: ...

# Created only by StackelbergSolver.solve; calling the class raises TypeError.
@final
class EquilibriumScore:
    @property
    def kappa(self) -> float: ...
    @property
    def confidence(self) -> float: ...
    @property
    def energy_gap(self) -> float: ...
    @property
    def iterations(self) -> int:
        """The 0-based position of this (the best-scored) iteration in the lists given to `solve`; not a count."""
    @property
    def kappa_std(self) -> float: ...

def apply_detuning_correction(detunings: Sequence[_Float], offsets: Sequence[tuple[_UInt, _Float]]) -> list[float]: ...
def apply_coupling_correction(
    couplings: Sequence[tuple[tuple[_UInt, _UInt], _Float]],
    errors: Sequence[tuple[tuple[_UInt, _UInt], _Float]],
) -> list[tuple[tuple[int, int], float]]: ...
def apply_rabi_correction(rabi_frequency: _Float, global_rabi_error: _Float) -> float: ...
def qubo_criticality(qubo: Sequence[_QuboTerm], n_vars: _UInt) -> list[tuple[int, float]]: ...
def exact_ising_norm(
    dh: Sequence[tuple[_UInt, _Float]], dj: Sequence[tuple[tuple[_UInt, _UInt], _Float]], n_sites: _UInt
) -> float: ...
def qubo_energy_spectrum(qubo: Sequence[_QuboTerm], n_vars: _UInt) -> tuple[list[int], float, list[float]]: ...
def run_statevector(
    instructions: Sequence[tuple[str, Sequence[_UInt], Sequence[_Float]]], n_qubits: _UInt
) -> list[tuple[float, float]]: ...
def simulate_qubo_runs(
    qubo: Sequence[_QuboTerm], base_bits: Sequence[SupportsIndex], n_runs: _UInt, noise_level: _Float, seed: _UInt
) -> tuple[list[list[int]], list[float]]: ...
def vrp_qubo_terms(
    dist: Sequence[Sequence[_Float]], penalty_a: _Float, penalty_b: _Float
) -> dict[tuple[str, str], float]: ...
def build_ecc_lookup_table(n_data: _UInt, z_stabilizers: Sequence[Sequence[_UInt]]) -> list[tuple[list[int], list[int]]]: ...
def logical_failure_probability(
    n_data: _UInt, z_stabilizers: Sequence[Sequence[_UInt]], logical_z: Sequence[_UInt], physical_error_rate: _Float
) -> float: ...
def stoer_wagner_bisect(edges: Sequence[tuple[_UInt, _UInt, _Float]], n_nodes: _UInt) -> tuple[float, list[int]]: ...
