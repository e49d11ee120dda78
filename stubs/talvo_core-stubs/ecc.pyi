# The `ecc` attribute of talvo_core: surface-code patches, patch allocation
# and circuit remapping.
from collections.abc import Sequence
from typing import SupportsFloat, SupportsIndex, TypeAlias, final

_Float: TypeAlias = SupportsFloat | SupportsIndex
_UInt: TypeAlias = SupportsIndex

__all__ = ["SurfaceCodePatch", "build_surface_code", "PatchAssignment", "select_patches", "remap_circuit"]

# Created only by build_surface_code.
@final
class SurfaceCodePatch:
    @property
    def distance(self) -> int: ...
    @property
    def data_qubits(self) -> list[int]: ...
    @property
    def x_stabilizers(self) -> list[list[int]]: ...
    @property
    def z_stabilizers(self) -> list[list[int]]: ...
    @property
    def logical_x(self) -> list[int]: ...
    @property
    def logical_z(self) -> list[int]: ...

def build_surface_code(distance: _UInt = 3) -> SurfaceCodePatch: ...

# Created only by select_patches; physical_start..physical_end is half-open.
@final
class PatchAssignment:
    @property
    def logical_var(self) -> int: ...
    @property
    def distance(self) -> int: ...
    @property
    def physical_start(self) -> int: ...
    @property
    def physical_end(self) -> int: ...

def select_patches(
    ranked: Sequence[tuple[_UInt, _Float]], physical_qubit_budget: _UInt, distance: _UInt
) -> list[PatchAssignment]: ...
def remap_circuit(
    circuit: Sequence[tuple[str, Sequence[_UInt]]], assignments: Sequence[PatchAssignment]
) -> list[tuple[str, list[int]]]: ...
