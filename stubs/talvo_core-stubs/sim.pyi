# The `sim` attribute of talvo_core: named-variable Ising graphs, the exact
# solver and the qudit simulator.
from collections.abc import Sequence
from typing import SupportsFloat, SupportsIndex, TypeAlias, final

_Float: TypeAlias = SupportsFloat | SupportsIndex
_UInt: TypeAlias = SupportsIndex

__all__ = ["IsingSimulator", "LogicalGraph", "Variable", "Interaction", "QuditSimulator"]

@final
class IsingSimulator:
    def __new__(cls) -> IsingSimulator: ...
    # One spin (+1 or -1) per variable, in graph.variables order.
    def solve_exact(self, graph: LogicalGraph) -> list[int]: ...

@final
class LogicalGraph:
    def __new__(cls, variables: Sequence[Variable], interactions: Sequence[Interaction]) -> LogicalGraph: ...
    # Reads return new copies; writes copy the whole list in.
    @property
    def variables(self) -> list[Variable]: ...
    @variables.setter
    def variables(self, value: Sequence[Variable]) -> None: ...
    @property
    def interactions(self) -> list[Interaction]: ...
    @interactions.setter
    def interactions(self, value: Sequence[Interaction]) -> None: ...

@final
class Variable:
    name: str
    domain: str
    def __new__(cls, name: str, domain: str) -> Variable: ...

@final
class Interaction:
    i: str
    j: str
    def __new__(cls, i: str, j: str, weight: _Float) -> Interaction: ...
    @property
    def weight(self) -> float: ...
    @weight.setter
    def weight(self, value: _Float) -> None: ...

@final
class QuditSimulator:
    def __new__(cls, levels: _UInt, num_sites: _UInt) -> QuditSimulator: ...
    def simulate(self) -> list[int]: ...
