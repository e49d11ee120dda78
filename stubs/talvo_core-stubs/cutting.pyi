# The `cutting` attribute of talvo_core: circuit-cutting sample records and
# the expectation reconstruction.
from collections.abc import Sequence
from typing import SupportsFloat, SupportsIndex, TypeAlias, final

_Float: TypeAlias = SupportsFloat | SupportsIndex
_UInt: TypeAlias = SupportsIndex

__all__ = ["SubcircuitSampleCounts", "SampleCoefficient", "reconstruct_expectation"]

@final
class SubcircuitSampleCounts:
    def __new__(
        cls, sample_index: _UInt, subcircuit_label: str, counts: dict[str, int], shots: _UInt
    ) -> SubcircuitSampleCounts: ...
    @property
    def subcircuit_label(self) -> str: ...
    # Bitstring -> shots; a new dict on every read.
    @property
    def counts(self) -> dict[str, int]: ...
    @property
    def sample_index(self) -> int: ...
    @property
    def shots(self) -> int: ...

@final
class SampleCoefficient:
    def __new__(cls, sample_index: _UInt, coefficient: _Float) -> SampleCoefficient: ...
    @property
    def sample_index(self) -> int: ...
    @property
    def coefficient(self) -> float: ...

def reconstruct_expectation(
    counts: Sequence[SubcircuitSampleCounts], coefficients: Sequence[SampleCoefficient], subcircuit_labels: Sequence[str]
) -> float: ...
