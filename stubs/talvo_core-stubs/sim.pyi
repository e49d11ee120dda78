"""Named-variable Ising graphs, their exact ground state, and the qudit register.

``talvo_core.sim`` is a module object held as an attribute of ``talvo_core``
(``from talvo_core import sim``). The records copy what they are given and
what they hand out: changing a list read from a ``LogicalGraph`` never changes
the graph, only assigning the whole attribute does.
"""

from typing import SupportsFloat, SupportsIndex, TypeAlias, final

from talvo_core import _SequenceLike

_Float: TypeAlias = SupportsFloat | SupportsIndex
_UInt: TypeAlias = SupportsIndex

__all__ = ["IsingSimulator", "LogicalGraph", "Variable", "Interaction", "QuditSimulator"]

@final
class IsingSimulator:
    """Exact ground state of a ``LogicalGraph`` by exhaustive search. Holds no state."""

    def __new__(cls) -> IsingSimulator: ...
    def solve_exact(self, graph: LogicalGraph) -> list[int]:
        """The spin configuration of least Ising energy, by trying all 2**N of them.

        The energy of spins s is the sum, in interaction order, of
        ``weight * s[i] * s[j]`` for an interaction between two variables and
        ``weight * s[i]`` for an interaction of a variable with itself (a
        local field, not a constant). Configuration c gives variable k the
        spin +1 when bit k of c is set, -1 otherwise; of equal energies the
        smallest c wins.

        Args:
            graph: The problem, at most 20 variables.

        Returns:
            One spin, +1 or -1, per variable, in ``graph.variables`` order;
            ``[]`` for no variables, all -1 when there are no interactions.
            The energy itself is not returned.

        Raises:
            SizeViolation: ``"SizeViolation: N > 20 is not supported for exact
                solver"`` for more than 20 variables
                (``talvo.exceptions.SizeViolation``, or the fallback class
                described in the ``talvo_core`` module notes).
            TypeError: ``graph`` is not a ``LogicalGraph``.

        Note:
            Nothing is validated. Interactions naming an unknown variable are
            ignored. Names are matched exactly; of several variables with one
            name only the last is reached by interactions; the others always
            come out as -1. NaN
            weights are accepted; a NaN energy never wins, so all-NaN gives
            all -1.
        """

@final
class LogicalGraph:
    """A named-variable problem graph: variables in order and interactions in order.

    Position k of ``variables`` is variable k of every result (spins, atoms,
    matrix rows). The order of ``interactions`` is the summation order of the
    energy. No validation of any kind: duplicate variable names, interactions
    naming unknown variables and empty names are accepted.

    Args:
        variables: ``Variable`` instances, copied in.
        interactions: ``Interaction`` instances, copied in.

    Raises:
        TypeError: ``"argument 'variables': 'int' object cannot be converted
            to 'Variable'"`` (and the ``Interaction`` equivalent) for an item
            of another type, or a non-sequence.
    """

    def __new__(cls, variables: _SequenceLike[Variable], interactions: _SequenceLike[Interaction]) -> LogicalGraph: ...
    @property
    def variables(self) -> list[Variable]:
        """The variables, new copies on every read; assigning a sequence of ``Variable`` replaces them all.

        ``g.variables.append(v)`` changes nothing; ``g.variables = g.variables
        + [v]`` does. Deleting the attribute raises ``AttributeError`` ``"can't
        delete attribute"``.
        """
    @variables.setter
    def variables(self, value: _SequenceLike[Variable]) -> None: ...
    @property
    def interactions(self) -> list[Interaction]:
        """The interactions, new copies on every read; assigning a sequence of ``Interaction`` replaces them all."""
    @interactions.setter
    def interactions(self, value: _SequenceLike[Interaction]) -> None: ...

@final
class Variable:
    """A named variable of a ``LogicalGraph``.

    Args:
        name: The name interactions refer to it by (exact string match).
        domain: Free-form label, stored and never interpreted.

    Raises:
        TypeError: A non-``str`` argument (``"argument 'name': 'int' object
            cannot be converted to 'PyString'"``).
    """

    name: str
    """The name interactions refer to it by. Read and write; deleting raises ``AttributeError``."""
    domain: str
    """Free-form label (for example ``"spin"``), stored and copied, never interpreted."""
    def __new__(cls, name: str, domain: str) -> Variable: ...

@final
class Interaction:
    """A weighted coupling between two named variables (``i == j``: a local field on one).

    Args:
        i: Name of the first variable.
        j: Name of the second variable; may equal ``i``.
        weight: Coupling weight (an ``int`` is stored as a float).

    Raises:
        TypeError: A non-``str`` name, or a weight that is not a number
            (``Interaction("a", "b", "1")`` raises ``"argument 'weight': must
            be real number, not str"``).
    """

    i: str
    """Name of the first variable. Read and write."""
    j: str
    """Name of the second variable (may equal ``i``). Read and write."""
    def __new__(cls, i: str, j: str, weight: _Float) -> Interaction: ...
    @property
    def weight(self) -> float:
        """Coupling weight. Read and write; NaN and infinities are accepted."""
    @weight.setter
    def weight(self, value: _Float) -> None: ...

@final
class QuditSimulator:
    """A register of ``num_sites`` qudits with ``levels`` levels each, kept at the ground level.

    Args:
        levels: Levels per qudit (0 to 2**64 - 1); stored and not used by
            any operation.
        num_sites: Number of qudits (0 to 2**64 - 1).

    Raises:
        OverflowError: A negative or too large argument.
        TypeError: A non-integer argument.
    """

    def __new__(cls, levels: _UInt, num_sites: _UInt) -> QuditSimulator: ...
    def simulate(self) -> list[int]:
        """The level of every site: a new list of ``num_sites`` zeros.

        No gates or dynamics are applied: every site is in its ground level
        0, whatever ``levels`` is, and every call returns an equal, new list
        (``QuditSimulator(3, 4).simulate() == [0, 0, 0, 0]``).

        Raises:
            PanicException: ``"capacity overflow"`` for ``num_sites >=
                2**60``.
            MemoryError: A list of ``num_sites`` items does not fit in the
                memory left.
        """
