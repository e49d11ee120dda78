"""Analog IR records and the photonic and neutral-atom compilers.

``talvo_core.analog`` is a module object held as an attribute of
``talvo_core``. The compilers read a ``sim.LogicalGraph``; the hardware
corrections that apply measured errors to control values are the functions
``talvo_core.apply_coupling_correction``, ``apply_detuning_correction`` and
``apply_rabi_correction``.

Units: the module attaches no unit to any number and converts none. The
neutral-atom output is a grid of pitch 5.0 and control sequences of 1.0 (Rabi
frequency ``omega``) and 0.5 (detuning ``delta``). The frequencies are meant in
the unit of the hardware corrections, MHz (``offset_mhz``; "for example in
MHz" for the Rabi frequency); the positions are in the length unit of the
caller's device model (a 5.0 pitch matches the usual micrometre spacing of
Rydberg arrays, but nothing in the module fixes it).
"""

from typing import SupportsFloat, SupportsIndex, TypeAlias, final

from talvo_core import _SequenceLike
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

@final
class ContinuousFieldIR:
    """A list of floats under the name ``data``, for the toolkit's analog layer.

    No constructor: calling the class raises ``TypeError`` ``"No constructor
    defined for ContinuousFieldIR"``, and no function of the module creates or
    reads one.
    """

    @property
    def data(self) -> list[float]:
        """The values, a new list on every read; assigning a sequence of floats replaces them all.

        A failed assignment (``TypeError`` naming ``data``) keeps the old
        values; deleting raises ``AttributeError`` ``"can't delete attribute"``.
        """
    @data.setter
    def data(self, value: _SequenceLike[_Float]) -> None: ...

@final
class HardwareDeltaModel:
    """A list of floats under the name ``calibration_data``, for the toolkit's analog layer.

    No constructor: calling the class raises ``TypeError`` ``"No constructor
    defined for HardwareDeltaModel"``, and no function of the module creates
    or reads one (the corrections take plain lists).
    """

    @property
    def calibration_data(self) -> list[float]:
        """The values, a new list on every read; assigning a sequence of floats replaces them all."""
    @calibration_data.setter
    def calibration_data(self, value: _SequenceLike[_Float]) -> None: ...

@final
class RydbergControlParameters:
    """Compiled neutral-atom controls: Rabi-frequency and detuning sequences and the atom positions.

    Returned by ``NeutralAtomCompiler.generate_rydberg_controls`` or built
    directly; the three lists are stored as given, with no length relation
    checked. All attributes are read-only; each read returns a new list.

    Args:
        omega: Rabi-frequency sequence.
        delta: Detuning sequence.
        atom_positions: ``SpatialCoordinates`` of the atoms (copied in).

    Raises:
        TypeError: A non-number in ``omega`` or ``delta``, an item of
            ``atom_positions`` that is not a ``SpatialCoordinates`` (a tuple
            is refused), or a ``str`` in place of a list.
    """

    def __new__(
        cls, omega: _SequenceLike[_Float], delta: _SequenceLike[_Float], atom_positions: _SequenceLike[SpatialCoordinates]
    ) -> RydbergControlParameters: ...
    @property
    def omega(self) -> list[float]:
        """Rabi-frequency sequence (100 values of 1.0 from the compiler)."""
    @property
    def delta(self) -> list[float]:
        """Detuning sequence (100 values of 0.5 from the compiler)."""
    @property
    def atom_positions(self) -> list[SpatialCoordinates]:
        """Atom positions, new ``SpatialCoordinates`` on every read, in the order given."""

@final
class SpatialCoordinates:
    """One atom position on the plane.

    Created only by ``NeutralAtomCompiler.map_to_spatial_geometry`` and by
    reading ``RydbergControlParameters.atom_positions``; calling the class
    raises ``TypeError`` ``"No constructor defined for SpatialCoordinates"``.
    """

    @property
    def x(self) -> float:
        """Horizontal coordinate (column * 5.0 from the compiler). Read-only."""
    @property
    def y(self) -> float:
        """Vertical coordinate (row * 5.0 from the compiler). Read-only."""

@final
class NeutralAtomCompiler:
    """Places one atom per variable on a square grid and packages the Rydberg controls. Holds no state."""

    def __new__(cls) -> NeutralAtomCompiler: ...
    def map_to_spatial_geometry(self, graph: LogicalGraph) -> list[SpatialCoordinates]:
        """One atom per variable of ``graph``, row by row on a square grid of pitch 5.0.

        With n variables the side is s = ceil(sqrt(n)); atom i sits at
        ``x = (i % s) * 5.0``, ``y = (i // s) * 5.0``, so 5 variables give
        (0, 0), (5, 0), (10, 0), (0, 5), (5, 5). Only the number of variables
        is read: names and interactions play no part.

        Args:
            graph: The problem graph.

        Returns:
            ``len(graph.variables)`` new ``SpatialCoordinates``, atom i for
            variable i; ``[]`` for no variables.

        Raises:
            TypeError: ``graph`` is not a ``LogicalGraph``.
        """
    def generate_rydberg_controls(
        self, graph: LogicalGraph, coords: _SequenceLike[SpatialCoordinates]
    ) -> RydbergControlParameters:
        """Package atom positions with fixed control sequences.

        Args:
            graph: A ``LogicalGraph``; checked for its type and otherwise not
                read.
            coords: Atom positions, usually the result of
                ``map_to_spatial_geometry``; copied in the given order.

        Returns:
            ``RydbergControlParameters`` with ``omega`` 100 values of 1.0,
            ``delta`` 100 values of 0.5, and ``atom_positions`` the given
            ``coords``. The sequences are fixed: they depend neither on the
            graph nor on the number of atoms.

        Raises:
            TypeError: ``graph`` is not a ``LogicalGraph``, or an item of
                ``coords`` is not a ``SpatialCoordinates`` (``"argument
                'coords': 'tuple' object cannot be converted to
                'SpatialCoordinates'"``).
        """

@final
class PhotonicGBSParameters:
    """Gaussian-boson-sampling encoding of a graph: an adjacency matrix and one phase per mode.

    Returned by ``PhotonicCompiler.build_arrazola_bromley_encoding`` or built
    directly; stored as given, with no shape checked (rows may differ in
    length, ``phases`` may have any length). Attributes are read-only; each
    read returns new lists.

    Args:
        adjacency_matrix: Rows of floats; a 2-D numpy array works.
        phases: One float per mode.

    Raises:
        TypeError: A non-number, or a ``str`` in place of a list.
    """

    def __new__(
        cls, adjacency_matrix: _SequenceLike[_SequenceLike[_Float]], phases: _SequenceLike[_Float]
    ) -> PhotonicGBSParameters: ...
    @property
    def adjacency_matrix(self) -> list[list[float]]:
        """The matrix as a new list of new row lists."""
    @property
    def phases(self) -> list[float]:
        """The phases in radians, one per mode."""

@final
class PhotonicCompiler:
    """Encodes a graph for photonic Gaussian boson sampling after Arrazola and Bromley. Holds no state."""

    def __new__(cls) -> PhotonicCompiler: ...
    def build_arrazola_bromley_encoding(self, graph: LogicalGraph) -> PhotonicGBSParameters:
        """Couplings between distinct variables become a symmetric adjacency matrix, self-couplings phases.

        For each interaction in order, with a and b the positions of its two
        names: a != b sets ``A[a][b] = A[b][a] = weight``; a == b sets
        ``phases[a] = atan(weight)`` (radians, so +-inf gives +-pi/2). Later
        interactions overwrite earlier ones, in either orientation. Weights
        enter unscaled (no normalisation); the diagonal stays 0.0.

        Args:
            graph: The problem graph; row, column and phase k stand for
                variable k.

        Returns:
            ``PhotonicGBSParameters`` with an n x n ``adjacency_matrix`` and
            n ``phases`` (n variables; all 0.0 where no interaction applies).

        Raises:
            TypeError: ``graph`` is not a ``LogicalGraph``.

        Note:
            Interactions naming an unknown variable are ignored. Of several
            variables with one name only the last is used; the others keep
            an all-zero row, column and phase.
        """
