# The `analog` attribute of talvo_core: analog IR records and the photonic and
# neutral-atom compilers.
from collections.abc import Sequence
from typing import SupportsFloat, SupportsIndex, TypeAlias, final

from .sim import LogicalGraph

_Float: TypeAlias = SupportsFloat | SupportsIndex

__all__ = [
    "ContinuousFieldIR",
    "HardwareDeltaModel",
    "RydbergControlParameters",
    "SpatialCoordinates",
    "NeutralAtomCompiler",
    "PhotonicGBSParameters",
    "PhotonicCompiler",
]

# No constructor: calling the class raises TypeError.
@final
class ContinuousFieldIR:
    @property
    def data(self) -> list[float]: ...
    @data.setter
    def data(self, value: Sequence[_Float]) -> None: ...

# No constructor: calling the class raises TypeError.
@final
class HardwareDeltaModel:
    @property
    def calibration_data(self) -> list[float]: ...
    @calibration_data.setter
    def calibration_data(self, value: Sequence[_Float]) -> None: ...

@final
class RydbergControlParameters:
    def __new__(
        cls, omega: Sequence[_Float], delta: Sequence[_Float], atom_positions: Sequence[SpatialCoordinates]
    ) -> RydbergControlParameters: ...
    @property
    def omega(self) -> list[float]: ...
    @property
    def delta(self) -> list[float]: ...
    @property
    def atom_positions(self) -> list[SpatialCoordinates]: ...

# Created only by NeutralAtomCompiler.map_to_spatial_geometry and by reading
# RydbergControlParameters.atom_positions.
@final
class SpatialCoordinates:
    @property
    def x(self) -> float: ...
    @property
    def y(self) -> float: ...

@final
class NeutralAtomCompiler:
    def __new__(cls) -> NeutralAtomCompiler: ...
    def map_to_spatial_geometry(self, graph: LogicalGraph) -> list[SpatialCoordinates]: ...
    def generate_rydberg_controls(
        self, graph: LogicalGraph, coords: Sequence[SpatialCoordinates]
    ) -> RydbergControlParameters: ...

@final
class PhotonicGBSParameters:
    def __new__(cls, adjacency_matrix: Sequence[Sequence[_Float]], phases: Sequence[_Float]) -> PhotonicGBSParameters: ...
    @property
    def adjacency_matrix(self) -> list[list[float]]: ...
    @property
    def phases(self) -> list[float]: ...

@final
class PhotonicCompiler:
    def __new__(cls) -> PhotonicCompiler: ...
    def build_arrazola_bromley_encoding(self, graph: LogicalGraph) -> PhotonicGBSParameters: ...
