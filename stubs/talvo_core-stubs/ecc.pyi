"""Surface-code patches, patch allocation under a qubit budget, and circuit remapping.

``talvo_core.ecc`` is a module object held as an attribute of ``talvo_core``.
A patch's ``z_stabilizers`` and ``logical_z`` go, as plain lists, into
``talvo_core.build_ecc_lookup_table`` and
``talvo_core.logical_failure_probability``; ``talvo_core.qubo_criticality``
feeds ``select_patches``, whose assignments feed ``remap_circuit``.
"""

from typing import SupportsFloat, SupportsIndex, TypeAlias, final

from talvo_core import _SequenceLike

_Float: TypeAlias = SupportsFloat | SupportsIndex
_UInt: TypeAlias = SupportsIndex

__all__ = ["SurfaceCodePatch", "build_surface_code", "PatchAssignment", "select_patches", "remap_circuit"]

@final
class SurfaceCodePatch:
    """One logical qubit in a rotated surface-code patch of distance d.

    Data qubit (row r, column c) of the d x d grid is number ``r * d + c``.
    Plaquettes are visited row-major by their top-left corner (r, c), r and c
    from -1 to d - 1; a support lists the corners on the grid in the order
    top-left, bottom-left, top-right, bottom-right (not sorted). Bulk
    plaquettes with r + c even are Z stabilizers, odd X; weight-2 plaquettes
    on the top and bottom edges are Z (r + c even), on the left and right
    edges X (r + c odd). Distance 3 gives ``x_stabilizers`` [[0, 3], [1, 4, 2,
    5], [3, 6, 4, 7], [5, 8]] and ``z_stabilizers`` [[1, 2], [0, 3, 1, 4], [4,
    7, 5, 8], [6, 7]].

    Created only by ``build_surface_code``; calling the class raises
    ``TypeError``. Attributes are read-only; each read returns new lists.
    ``repr()`` is ``SurfaceCodePatch(distance=3, data_qubits=9)`` (the number
    of data qubits, not the list).
    """

    @property
    def distance(self) -> int:
        """The distance d the patch was built with."""
    @property
    def data_qubits(self) -> list[int]:
        """All data-qubit numbers, 0 to d*d - 1 in order."""
    @property
    def x_stabilizers(self) -> list[list[int]]:
        """X-stabilizer supports in construction order ((d*d - 1) / 2 for odd d)."""
    @property
    def z_stabilizers(self) -> list[list[int]]:
        """Z-stabilizer supports in construction order, the ``z_stabilizers`` argument of the decoder functions."""
    @property
    def logical_x(self) -> list[int]:
        """Support of the logical X operator, the top row [0, 1, ..., d - 1]."""
    @property
    def logical_z(self) -> list[int]:
        """Support of the logical Z operator, the left column [0, d, ..., (d - 1) * d]."""

def build_surface_code(distance: _UInt = 3) -> SurfaceCodePatch:
    """Build a rotated surface-code patch encoding one logical qubit.

    Args:
        distance: Code distance d (0 to 2**64 - 1, limited by memory); even
            distances are accepted and built by the same rule (distance 4
            gives 8 X and 7 Z stabilizers). 0 gives empty lists; 1 a single
            data qubit and no stabilizers.

    Returns:
        A new ``SurfaceCodePatch``; work and memory grow as d*d.

    Raises:
        TypeError, OverflowError: A non-integer, negative or too large
            distance.
        MemoryError: d*d qubits do not fit in the memory left.
    """

@final
class PatchAssignment:
    """One logical variable's surface-code patch: the half-open block ``physical_start..physical_end``.

    Created only by ``select_patches``; calling the class raises
    ``TypeError``. Attributes are read-only. ``repr()`` is
    ``PatchAssignment(logical_var=4, distance=3, physical_qubits=9..18)``.
    """

    @property
    def logical_var(self) -> int:
        """The logical variable the patch protects."""
    @property
    def distance(self) -> int:
        """Code distance of the patch."""
    @property
    def physical_start(self) -> int:
        """First physical qubit of the block; ``remap_circuit`` maps the variable to it."""
    @property
    def physical_end(self) -> int:
        """One past the last physical qubit of the block (``physical_start + distance**2``)."""

def select_patches(
    ranked: _SequenceLike[tuple[_UInt, _Float]], physical_qubit_budget: _UInt, distance: _UInt
) -> list[PatchAssignment]:
    """Greedily give surface-code patches to the most critical variables until the budget runs out.

    Each patch costs ``c = distance * distance`` physical qubits; blocks are
    consecutive from 0, the k-th covering ``[k * c, (k + 1) * c)``. The walk
    stops at the first entry that no longer fits (all patches cost the same,
    so no later one could), which gives ``min(len(ranked), budget // c)``
    patches; a patch ending exactly at the budget fits.

    Args:
        ranked: ``(variable, weight)`` tuples, normally the result of
            ``qubo_criticality``, used in the order given (not re-sorted). The
            weights must be numbers but are not used. A variable listed twice
            gets two patches.
        physical_qubit_budget: Physical qubits available.
        distance: Code distance of every patch; 0 gives ``[]``.

    Returns:
        New ``PatchAssignment`` records in ``ranked`` order.

    Raises:
        TypeError, OverflowError, ValueError: Argument conversion.
    """

def remap_circuit(
    circuit: _SequenceLike[tuple[str, _SequenceLike[_UInt]]], assignments: _SequenceLike[PatchAssignment]
) -> list[tuple[str, list[int]]]:
    """Rewrite gate operand indices from logical variables to physical qubits.

    Every operand that names a variable with a patch becomes that patch's
    ``physical_start``; other operands pass through unchanged. One linear
    pass; names are not checked. For a variable with several assignments
    the last one wins. Mapped and unmapped numbers share one integer space and
    are not told apart (a pass-through operand may equal a mapped one).

    Args:
        circuit: ``(gate_name, operand_indices)`` tuples (no parameter list,
            unlike ``run_statevector``); a list per gate is refused.
        assignments: ``PatchAssignment`` records, from ``select_patches``.

    Returns:
        A new list of ``(gate_name, operands)`` tuples, one per gate in order.
        With blocks 0..9 for variable 4 and 9..18 for variable 1,
        ``[("cx", [4, 1]), ("h", [2])]`` becomes ``[("cx", [0, 9]), ("h",
        [2])]``.

    Raises:
        TypeError: ``"argument 'assignments': 'int' object cannot be converted
            to 'PatchAssignment'"`` for an item of another type, ``"argument
            'circuit': 'list' object cannot be converted to 'PyTuple'"``.
    """
