"""Circuit-cutting sample records and the reconstruction of an expectation value.

``talvo_core.cutting`` is a module object held as an attribute of ``talvo_core``.
"""

from typing import SupportsFloat, SupportsIndex, TypeAlias, TypeVar, final

from talvo_core import _SequenceLike

_Float: TypeAlias = SupportsFloat | SupportsIndex
_UInt: TypeAlias = SupportsIndex
# A count: an int or any integer with __index__ (numpy's included). A TypeVar,
# because dict is invariant in its values: dict[str, numpy.int64] is not a
# dict[str, SupportsIndex].
_Count = TypeVar("_Count", bound=SupportsIndex)

__all__ = ["SubcircuitSampleCounts", "SampleCoefficient", "reconstruct_expectation"]

@final
class SubcircuitSampleCounts:
    """The measurement histogram of one sub-circuit run for one joint QPD sample.

    Nothing is checked at construction: the counts need not add up to
    ``shots``, ``shots`` may be 0, bitstrings may hold any characters (only
    the parity of their ``"1"`` characters is used). Attributes are read-only.
    ``repr()`` is ``SubcircuitSampleCounts(sample_index=0,
    subcircuit_label="A", shots=100)`` (the label quoted with backslash
    escapes, the counts not shown).

    Args:
        sample_index: Index of the joint QPD sample.
        subcircuit_label: Label of the sub-circuit.
        counts: A ``dict`` from bitstring (the sub-circuit's classical
            registers concatenated, in either order) to its number of shots;
            any other mapping type is refused.
        shots: Total shots of the run, the divisor of the expectation.

    Raises:
        TypeError: ``"argument 'counts': 'list' object cannot be converted to
            'PyDict'"``, a non-``str`` key (``"... cannot be converted to
            'PyString'"``) or label, a non-integer count.
        OverflowError: A negative index, count or ``shots``.
    """

    def __new__(
        cls, sample_index: _UInt, subcircuit_label: str, counts: dict[str, _Count], shots: _UInt
    ) -> SubcircuitSampleCounts: ...
    @property
    def subcircuit_label(self) -> str:
        """Label of the sub-circuit."""
    @property
    def counts(self) -> dict[str, int]:
        """Bitstring -> shots, a new dict on every read (item order unspecified)."""
    @property
    def sample_index(self) -> int:
        """Index of the joint QPD sample."""
    @property
    def shots(self) -> int:
        """Total shot count, the divisor in ``reconstruct_expectation``."""

@final
class SampleCoefficient:
    """The real coefficient of one joint QPD sample.

    ``repr()`` is ``SampleCoefficient(sample_index=2, coefficient=1)``: the
    shortest round-trip decimal, without exponent or a fractional part when
    integral (1e-7 shows as 0.0000001, -0.0 as -0, NaN as NaN).

    Args:
        sample_index: Index of the joint QPD sample.
        coefficient: Its coefficient.

    Raises:
        OverflowError: A negative ``sample_index``.
        TypeError: A non-integer index or a non-number coefficient.
    """

    def __new__(cls, sample_index: _UInt, coefficient: _Float) -> SampleCoefficient: ...
    @property
    def sample_index(self) -> int:
        """Index of the joint QPD sample."""
    @property
    def coefficient(self) -> float:
        """The sample's coefficient."""

def reconstruct_expectation(
    counts: _SequenceLike[SubcircuitSampleCounts],
    coefficients: _SequenceLike[SampleCoefficient],
    subcircuit_labels: _SequenceLike[str],
) -> float:
    """Recombine sub-circuit histograms into the expectation value of the uncut circuit.

    ``<O> = sum over coefficients of coefficient * product over labels of e``,
    where e, for the record of (sample, label), is ``sum(sign * count) /
    shots`` with sign -1 for a bitstring holding an odd number of ``"1"``
    characters (other characters are ignored) and +1 otherwise; an empty
    histogram gives e = 0. The per-sample products are computed on the
    module's worker threads and added in ``coefficients`` order from -0.0,
    so the result does not depend on the number of threads.

    Args:
        counts: One ``SubcircuitSampleCounts`` per (sample, label) used;
            records no coefficient refers to are ignored (after the duplicate
            check).
        coefficients: ``SampleCoefficient`` records, one term each (two with
            one ``sample_index`` are two terms).
        subcircuit_labels: Every participating label, not empty (a single
            ``str`` is refused); a label listed twice multiplies its e in
            twice.

    Returns:
        The expectation as a float; -0.0 for an empty ``coefficients``. One
        coefficient 0.5 with counts {"00": 60, "11": 30, "01": 10} over 100
        shots gives 0.4.

    Raises:
        ValueError: In this order: ``"subcircuit_labels must not be empty"``;
            ``'duplicate SubcircuitSampleCounts for sample 1 / subcircuit
            "A"'``; ``'missing SubcircuitSampleCounts for sample 3 /
            subcircuit "B"'`` (the first in coefficient-major order);
            ``'SubcircuitSampleCounts for sample 1 / subcircuit "A" has shots
            == 0'`` for a record that is used (which one, of several, is not
            fixed).
        TypeError: An item of the wrong class, ``"argument 'subcircuit_labels':
            Can't extract `str` to `Vec`"`` for a single ``str``.
        MemoryError: The lookup table does not fit in the memory left.

    Note:
        The divisor is ``shots``, not the sum of the counts, and nothing checks
        that they agree.
    """
