"""Native acceleration module of the talvo toolkit.

Every function gives the same result as the toolkit's own Python loop, to the
last bit: the same values, list and dict orders, enumeration orders and
tie-breaks. ``sim``, ``analog``, ``ecc`` and ``cutting`` are module objects held
as attributes of ``talvo_core`` (``from talvo_core import sim`` works,
``import talvo_core.sim`` does not: the module is not a package). Type
checkers accept ``import talvo_core.sim`` all the same, since these stubs
are a package with a file per submodule; it fails only when run.

Argument conversion
-------------------

Every parameter may be passed by position or by keyword. Where a list is
documented, any sequence is accepted (list, tuple, range, bytes,
bytearray, array.array, a one-dimensional numpy array, ...) except a
``str``; sets, dicts, generators and iterators are refused. Items shown
as tuples must be ``tuple`` objects (named tuples included) of exactly
that length; a list in their place is refused. Counts, sizes, indices and seeds are unsigned
64-bit integers: ``int``, ``bool`` or any object with ``__index__``
(numpy integers included), 0 to 2**64 - 1. Floats accept anything
``float()`` accepts except strings: ``int`` (rounded to the nearest
double), numpy floats, objects with ``__float__`` or ``__index__``.

Conversion failures, raised before any work, in parameter order:

* ``TypeError`` whose message starts with the parameter's name, e.g.
  ``"argument 'qubo': 'dict' object cannot be converted to 'Sequence'"``,
  ``"argument 'qubo': Can't extract `str` to `Vec`"`` for a ``str``,
  ``"... 'list' object cannot be converted to 'PyTuple'"`` for a list
  where a tuple is required, ``"... 'float' object cannot be interpreted
  as an integer"`` for a float where an integer is required;
* ``ValueError`` ``"expected tuple of length 2, but got tuple of length
  3"`` for a tuple of the wrong length (no parameter name);
* ``OverflowError`` for a negative integer or one of 2**64 or more
  (``"can't convert negative int to unsigned"``, ``"int too big to
  convert"``), and ``"out of range integral type conversion attempted"``
  for a bit outside 0..255.

Errors raised by the module
---------------------------

* ``SizeViolation``, the toolkit's class ``talvo.exceptions.SizeViolation``,
  imported the first time one is raised (importing ``talvo_core`` does not
  import ``talvo``): an input beyond an exhaustive-search or memory limit
  (20 variables or sites, 24 qubits, 26 data qubits, 32 stabilizers),
  checked right after argument conversion, before any other check or work. ``str(e)`` is the
  message, which starts with ``"SizeViolation: "``; ``e.args == (message,)``.
  Catch it as ``talvo.exceptions.SizeViolation``.

  When ``talvo.exceptions`` cannot be imported, or has no
  ``SizeViolation``, the module raises a fallback class instead, named
  ``talvo_core.SizeViolation``: an ``Exception`` subclass that is *not* an
  attribute of the module (``hasattr(talvo_core, "SizeViolation")`` is
  false), whose ``str()`` is the full message, with a one-line note
  (``__notes__``) saying that it is the module's own class and why, and
  whose ``__context__`` is the import failure (not printed). Code that must
  work without the toolkit catches
  ``Exception`` and tests ``type(e).__name__ == "SizeViolation"``.
* ``ValueError`` with the messages quoted under each function.
* ``PanicException``: an internal fault the call cannot continue from, such
  as an index beyond the data it was given (``"index out of bounds: the len
  is 1 but the index is 1"``), a NaN where an order is needed, or a size
  too large to compute (``"capacity overflow"``). It derives from
  ``BaseException``, not ``Exception``: ``except Exception`` does not catch
  it. A one-line report (``talvo_core: internal fault: <message>``) is
  written to standard error; no result is returned, no argument is
  changed and the interpreter stays usable. The class is not a module
  attribute either; recognise it by name::

      try:
          talvo_core.simulate_qubo_runs([((0, 1), 1.0)], [1], 1, 0.0, 0)
      except BaseException as e:
          if type(e).__name__ != "PanicException":
              raise  # KeyboardInterrupt, SystemExit, ...
          print("internal fault:", e)

  Better, check the inputs each function names under *Raises* (indices
  below the stated length, no NaN where it says so) before calling.
* ``MemoryError`` when the buffers or the result a call would build do not
  fit in the memory the machine has left (checked before allocating), and
  ``KeyboardInterrupt`` (or another signal's exception) when Ctrl-C
  arrives during a long computation.

No call releases the interpreter lock: other Python threads wait while it
runs, also while ``simulate_qubo_runs`` and ``cutting.reconstruct_expectation``
use the module's worker threads. Results never depend on the number of worker
threads.
"""

from typing import Any, Protocol, SupportsFloat, SupportsIndex, TypeAlias, TypeVar, final, overload

from . import analog as analog
from . import cutting as cutting
from . import ecc as ecc
from . import sim as sim

_T_co = TypeVar("_T_co", covariant=True)

class _SequenceLike(Protocol[_T_co]):
    """What the module accepts as a list: indexable by an int and by a slice.

    Lists, tuples, ranges, bytes, array.array and numpy arrays qualify (numpy
    arrays are not a ``collections.abc.Sequence``); a dict does not. A ``str``
    qualifies as a sequence of ``str`` but the module refuses it.
    """

    @overload
    def __getitem__(self, index: int, /) -> _T_co: ...
    @overload
    def __getitem__(self, index: slice, /) -> Any: ...

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
    """Scores validation iterations and recommends the next chain strength.

    Each iteration of the co-design loop is summarised by four numbers (the
    validator's confidence, the best and second-best energy found, the
    fraction of broken chains) and scored with a calibration margin κ (see
    ``EquilibriumScore.kappa``). ``solve`` picks the best-scored iteration and
    returns the chain strength unchanged when its κ reaches ``target_kappa``,
    otherwise scaled up by a step that shrinks when κ oscillates between
    iterations. The solver keeps no state; ``solve`` does not change it.

    Args:
        target_kappa: The κ at or above which the chain strength is left as
            it is. Any float, not checked (κ never exceeds 1.0, so a target
            above 1.0 is never met).
        max_iterations: Stored and reported only (0 to 2**64 - 1).
        learning_rate: Base step size of the chain-strength adjustment. Any
            float, not checked: a negative rate is used as given and lowers
            the chain strength.

    Raises:
        TypeError: A float parameter given a non-number, or
            ``max_iterations`` given a float.
        OverflowError: ``max_iterations`` negative or 2**64 or more.
    """

    def __new__(cls, target_kappa: _Float, max_iterations: _UInt, learning_rate: _Float) -> StackelbergSolver: ...
    @property
    def target_kappa(self) -> float:
        """The κ at or above which ``solve`` returns the chain strength unchanged."""
    @property
    def max_iterations(self) -> int:
        """Stored and reported only, not a stopping limit; ``solve`` scores every iteration it is given."""
    @property
    def learning_rate(self) -> float:
        """Base multiplicative step size of the chain-strength adjustment."""
    def solve(
        self,
        confidences: _SequenceLike[_Float],
        best_energies: _SequenceLike[_Float],
        second_best_energies: _SequenceLike[_Float],
        chain_break_fractions: _SequenceLike[_Float],
        current_chain_strength: _Float,
    ) -> tuple[float, EquilibriumScore]:
        """Score every iteration and recommend the next chain strength.

        Iteration i is scored from ``confidences[i]``, ``best_energies[i]``,
        ``second_best_energies[i]`` and ``chain_break_fractions[i]`` (see
        ``EquilibriumScore`` for κ). Then, with ``kappa_std`` the population
        standard deviation of all κ (0.0 for a single iteration)::

            stability_penalty = min(max(5.0 * kappa_std, 0.0), 0.9)
            effective_lr = learning_rate * (1.0 - stability_penalty)
            if best.kappa >= target_kappa:
                recommended = current_chain_strength
            else:
                recommended = current_chain_strength * ((1.0 - best.kappa) * effective_lr + 1.0)

        The step never falls below a tenth of ``learning_rate``.

        Args:
            confidences: One confidence per iteration, as the validator gives
                it (normally 0.0 to 1.0; not clamped). Its length n is the
                number of iterations; n must be at least 1.
            best_energies: Best energy found per iteration; at least n items.
            second_best_energies: Second-best energy per iteration; at least
                n items.
            chain_break_fractions: Fraction of broken chains per iteration,
                clamped to [0.0, 1.0] for scoring; at least n items.
            current_chain_strength: The chain strength used so far. Any float,
                not checked.

        Returns:
            A tuple ``(recommended_chain_strength, best_score)`` of a float and the
            ``EquilibriumScore`` of the best iteration, the one with the
            largest κ (among equal κ the *last* one).

        Raises:
            PanicException: ``confidences`` is empty; one of the other three
                lists is shorter than ``confidences`` (``"index out of
                bounds: ..."``); or, with two or more iterations, a κ is NaN
                (a NaN confidence or chain-break fraction; ``"called
                `Option::unwrap()` on a `None` value"``). Guard: pass lists of
                equal, non-zero length and replace NaN confidences and
                fractions before the call. There is no ValueError for a length
                mismatch.
            TypeError: An item that is not a number, or a ``str`` in place of
                a list.

        Note:
            Items beyond n in the other three lists are ignored. A single
            iteration with a NaN κ is not a fault: its κ never meets the
            target and the recommended strength is NaN. A NaN energy gives a
            NaN ``energy_gap`` but counts as a saturated gap in κ.
        """

@final
class EquilibriumScore:
    """The score of one validation iteration, returned by ``StackelbergSolver.solve``.

    Created only by ``solve``; calling the class raises ``TypeError`` ``"No
    constructor defined for EquilibriumScore"``. All attributes are read-only.
    ``repr()`` shows the four floats with exactly four decimals, e.g.
    ``EquilibriumScore(kappa=0.7000, confidence=1.0000, energy_gap=0.0000,
    kappa_std=0.0000, iterations=3)`` (a NaN shows as ``NaN``).
    """

    @property
    def kappa(self) -> float:
        """Calibration margin κ of the iteration, 0.0 to 1.0 (or NaN); higher is more trustworthy.

        κ = clamp((0.5 * c + 0.3 * g) + 0.2 * (1 - b), 0.0, 1.0), summed in
        that order, where c is the confidence (unclamped), g = min(gap, 10.0)
        / 10.0 the energy gap saturated at 10 (a NaN gap counts as 10), and b
        the chain-break fraction clamped to [0.0, 1.0]. A perfect confidence
        with no gap and no broken chains gives 0.7; confidence 1.0, a gap of
        10 or more and no broken chains give exactly 1.0. NaN when the
        confidence or the chain-break fraction is NaN.
        """
    @property
    def confidence(self) -> float:
        """The validator's confidence for this iteration, exactly as passed to ``solve`` (not clamped).

        A confidence of 2.0 is reported as 2.0 while κ clamps to 1.0.
        """
    @property
    def energy_gap(self) -> float:
        """abs(second_best_energy - best_energy) of this iteration, not saturated (NaN for a NaN energy)."""
    @property
    def iterations(self) -> int:
        """The 0-based position of this (the best-scored) iteration in the lists given to ``solve``; not a count."""
    @property
    def kappa_std(self) -> float:
        """Population standard deviation (divided by n) of the κ of all iterations of the call; 0.0 for one."""

def apply_detuning_correction(
    detunings: _SequenceLike[_Float], offsets: _SequenceLike[tuple[_UInt, _Float]]
) -> list[float]:
    """Subtract measured per-site detuning offsets from target detunings.

    Args:
        detunings: Target detuning per site (site k at position k), in the
            unit of the offsets (MHz in the toolkit's analog layer).
        offsets: ``(site_index, offset_mhz)`` tuples, measured detuning
            errors. For a repeated site the last entry wins; entries for sites
            at or beyond ``len(detunings)`` are ignored.

    Returns:
        A new list of ``len(detunings)`` floats, ``d - offset`` at each site
        with an offset, ``d - 0.0`` elsewhere. The inputs are not changed.

    Raises:
        TypeError: A detuning or offset that is not a number, an offset entry
            that is not a 2-tuple, or a ``str`` in place of a list.
        OverflowError: A negative site index.

    Note:
        Values are not checked: a NaN detuning or offset gives NaN there.
    """

def apply_coupling_correction(
    couplings: _SequenceLike[tuple[tuple[_UInt, _UInt], _Float]],
    errors: _SequenceLike[tuple[tuple[_UInt, _UInt], _Float]],
) -> list[tuple[tuple[int, int], float]]:
    """Divide coupling strengths by their measured fractional scale error.

    Args:
        couplings: ``((site_i, site_j), J)`` tuples.
        errors: ``((site_i, site_j), fractional_error)`` tuples; 0.0 means
            the hardware realises J exactly, 0.1 that it realises 1.1 * J.
            The pair is an ordered key: ``(1, 0)`` does not match a coupling
            on ``(0, 1)``. For a repeated pair the last entry wins; errors for
            pairs without a coupling are ignored.

    Returns:
        A new list of ``((site_i, site_j), J')`` tuples, one per coupling in
        the order of ``couplings``: ``J' = J / max(1.0 + e, 0.01)`` where the
        pair has an error e, ``J`` unchanged otherwise.

    Raises:
        TypeError: An entry that is not ``((int, int), float)`` with real
            tuples, or a ``str`` in place of a list.
        OverflowError: A negative site index.
        ValueError: A tuple of the wrong length (``"expected tuple of length
            2, ..."``).

    Note:
        The divisor is clamped: when ``1.0 + e`` is not above 0.01 (an error
        of about -0.99 or less) or e is NaN, J is divided by 0.01, that is
        multiplied by 100. An infinite error gives 0.0 for a finite J.
    """

def apply_rabi_correction(rabi_frequency: _Float, global_rabi_error: _Float) -> float:
    """Divide a global Rabi frequency by the measured global drive error.

    Args:
        rabi_frequency: Target global Rabi frequency (for example in MHz;
            the result has the same unit).
        global_rabi_error: Measured fractional drive error (0.0 = perfect);
            the hardware multiplies the drive by ``1.0 + global_rabi_error``.

    Returns:
        ``rabi_frequency / max(1.0 + global_rabi_error, 0.01)``; for example
        ``apply_rabi_correction(10.0, 0.25) == 8.0``.

    Raises:
        TypeError: An argument that is not a number.

    Note:
        When ``1.0 + global_rabi_error`` is not above 0.01 (an error of about
        -0.99 or less) or the error is NaN, the divisor is 0.01:
        ``apply_rabi_correction(10.0, -1.0) == 1000.0``.
    """

def qubo_criticality(qubo: _SequenceLike[_QuboTerm], n_vars: _UInt) -> list[tuple[int, float]]:
    """Rank QUBO variables by the total absolute weight of the terms that touch them.

    A bit flip on a heavily weighted variable is the likeliest to push the
    solver into a wrong basin, so the first variables of the ranking are the
    first candidates for surface-code protection (``ecc.select_patches``).

    Args:
        qubo: QUBO terms ``((i, j), w)`` (see ``qubo_energy_spectrum``). A
            linear term (i == j) adds ``abs(w)`` to variable i once; a
            quadratic term adds ``abs(w)`` to both i and j. A term with
            either index ``>= n_vars`` is ignored entirely.
        n_vars: Number of variables (0 to 2**64 - 1, limited by memory).

    Returns:
        ``n_vars`` tuples ``(variable, weight)``, every index exactly once,
        sorted by weight, largest first; equal weights keep index order, so
        untouched variables (weight 0.0) come last in index order.

    Raises:
        PanicException: ``"called `Option::unwrap()` on a `None` value"``
            when ``n_vars >= 2`` and a weight is NaN (a NaN term weight).
            Guard: drop or replace NaN weights first. Infinite weights sort
            normally; with ``n_vars == 1`` a NaN is returned as is.
        MemoryError: ``n_vars`` too large for the machine's memory.
        TypeError, OverflowError, ValueError: Argument conversion (negative
            index, non-numeric weight, list in place of a tuple).

    Note:
        Out-of-range indices are accepted and ignored here, unlike in
        ``qubo_energy_spectrum``.
    """

def exact_ising_norm(
    dh: _SequenceLike[tuple[_UInt, _Float]], dj: _SequenceLike[tuple[tuple[_UInt, _UInt], _Float]], n_sites: _UInt
) -> float:
    """Largest absolute error energy of an Ising error Hamiltonian, over every spin configuration.

    Returns ``max |dE(s)|`` over all 2**n_sites configurations s, where
    ``dE(s) = sum(h * s[i] for i, h in dh) + sum(J * s[i] * s[j] for (i, j), J in dj)``:
    the exact size of the error that miscalibrated fields and couplings add
    to an Ising problem. Configuration v gives site k the spin +1 when bit k
    of v is set, -1 otherwise. The linear sum comes first, each list in its
    order.

    Args:
        dh: ``(i, h)`` field errors.
        dj: ``((i, j), J)`` coupling errors. Nothing is merged: ``(i, j)`` and
            ``(j, i)`` are separate terms, and ``i == j`` contributes J in
            every configuration.
        n_sites: Number of sites, 0 to 20.

    Returns:
        A float >= 0.0; 0.0 when ``n_sites`` is 0 or both lists are empty
        (indices are then not looked at).

    Raises:
        SizeViolation: ``"SizeViolation: exact_ising_norm requires n_sites <=
            20"`` (``talvo.exceptions.SizeViolation``, or the fallback class
            described in the module notes).
        PanicException: A site index ``>= n_sites`` (``"index out of bounds:
            the len is 2 but the index is 2"``), when ``n_sites >= 1``. Guard:
            check every index against ``n_sites`` first.
        TypeError, OverflowError, ValueError: Argument conversion, ``dh``,
            then ``dj``, then ``n_sites``.

    Note:
        NaN weights are accepted; configurations whose error is NaN are left
        out of the maximum (all NaN gives 0.0). Time grows as 2**n_sites
        times the number of terms.
    """

def qubo_energy_spectrum(
    qubo: _SequenceLike[_QuboTerm], n_vars: _UInt
) -> tuple[list[int], float, list[float]]:
    """Enumerate every assignment of a QUBO: the best one, its energy, and all distinct energies.

    Assignment number v (0 to 2**n_vars - 1) sets variable k to bit k of v;
    the energy of x is ``sum(w * x[i] * x[j] for (i, j), w in qubo)``, added
    term by term in list order from +0.0, each term as ``(x[i] * w) * x[j]``.

    Args:
        qubo: QUBO terms, tuples ``((i, j), w)``: i and j 0-based variable
            indices below ``n_vars``, w a float. ``i == j`` is a linear term.
            Nothing is merged or symmetrised: ``(i, j)`` and ``(j, i)`` are two
            terms and a repeated term counts each time. For a mapping
            ``{(i, j): w}`` pass ``list(m.items())``.
        n_vars: Number of variables, 0 to 20.

    Returns:
        A tuple ``(best_assignment, best_energy, energies)``, holding the assignment of lowest
        energy as ``n_vars`` ints 0/1 (position k is variable k; of equal
        energies the smallest assignment number wins), its energy as summed,
        and the ascending list of distinct energies, each rounded to the
        1e-9 grid: ``round(E * 1e9) / 1e9``, halves away from zero, energies
        with the same rounded value being one entry. The first entry of
        ``energies`` can therefore differ from ``best_energy`` in the tenth
        decimal (an energy 0.1 + 0.2 is best_energy 0.30000000000000004 and
        the spectrum entry 0.3). ``n_vars == 0`` gives ``([], 0.0, [0.0])``
        without looking at the terms.

    Raises:
        SizeViolation: ``"SizeViolation: qubo_energy_spectrum requires n_vars
            <= 20"`` (``talvo.exceptions.SizeViolation``, or the fallback class
            described in the module notes), before anything else is examined.
        PanicException: A term index ``>= n_vars`` (``"index out of bounds:
            the len is 1 but the index is 1"``; the first such term, i before
            j). Guard: ``all(i < n_vars and j < n_vars for (i, j), _ in qubo)``.
        TypeError: ``"argument 'qubo': 'dict' object cannot be converted to
            'Sequence'"`` for a dict, a list in place of a tuple, a float
            ``n_vars``.
        OverflowError: A negative index or ``n_vars``.

    Note:
        Weights are not checked. A NaN energy never becomes best and is
        counted as the spectrum entry 0.0; infinite energies saturate the
        rounding, so the spectrum shows them as ±9223372036.854776 (while
        ``best_energy`` can be ``-inf``). If every energy is NaN (for
        instance a NaN weight on a linear term of a one-variable problem)
        the result is all zeros, ``best_energy == inf`` and ``energies ==
        [0.0]``. 0 * inf is NaN:
        ``[((0, 0), inf)]`` over one variable gives ``([0], inf, [0.0,
        9223372036.854776])``. At n_vars = 20 the call evaluates about a
        million assignments and returns up to 2**20 floats.
    """

def run_statevector(
    instructions: _SequenceLike[tuple[str, _SequenceLike[_UInt], _SequenceLike[_Float]]], n_qubits: _UInt
) -> list[tuple[float, float]]:
    """Run a gate list on a dense statevector and return the final amplitudes.

    The state starts as the all-zero basis state. Basis index i is the state in
    which qubit q has the value ``(i >> q) & 1``: qubit 0 is the least
    significant bit, so ``[("x", [1], [])]`` on two qubits puts the 1 at index 2.

    Gates, by the number of qubit indices given:

    * one index q: ``h``, ``x``, ``y``, ``z``, ``s``, ``t`` (parameters ignored);
      ``rx``, ``ry``, ``rz`` with ``params[0]`` = θ in radians (``rz`` is
      diag(e^(-iθ/2), e^(iθ/2)), not diag(1, e^(iθ))); ``u`` with θ, φ, λ in
      radians (``[[cos θ/2, -e^(iλ) sin θ/2], [e^(iφ) sin θ/2, e^(i(φ+λ)) cos θ/2]]``).
      Extra parameters are ignored.
    * two or more indices a, b (further indices ignored, parameters ignored):
      ``cx`` (control a, target b), ``swap``, ``cz``.

    Names are matched exactly and case-sensitively.

    Args:
        instructions: ``(gate_name, qubit_indices, params)`` tuples in
            execution order (real tuples; a list per instruction is refused).
        n_qubits: Number of qubits, 0 to 24.

    Returns:
        ``2**n_qubits`` tuples ``(real, imag)`` in basis-index order. At 24
        qubits this is about 16.8 million tuples, some 1.9 GB of Python
        objects.

    Raises:
        SizeViolation: ``"SizeViolation: run_statevector requires n_qubits <=
            24"`` (``talvo.exceptions.SizeViolation``, or the fallback class
            described in the module notes), before anything is allocated.
        ValueError: ``"'H' is not a single-qubit gate"`` for an unknown name
            with one index, ``"'h' is not a supported two-qubit gate"`` for an
            unknown name with two or more.
        PanicException: ``"index out of bounds: ..."`` for an instruction
            without qubit indices, ``rx``/``ry``/``rz`` without a parameter,
            ``u`` with fewer than three, a single-qubit gate on a qubit
            ``>= n_qubits``, and ``cx``/``swap`` whose target (not control)
            is ``>= n_qubits``. Guard: check every index against ``n_qubits``
            and every parameter count before the call.
        MemoryError: The state and the result do not fit in the memory left.
        TypeError, OverflowError: Argument conversion.

    Note:
        Errors are raised at the failing instruction, in list order; no partial
        state is returned. ``cx``/``swap`` with the control ``>= n_qubits``,
        or with equal indices, change nothing; ``cz`` with an index ``>=
        n_qubits`` changes nothing and ``cz`` on ``[q, q]`` acts as ``z``.
        Angles are not checked: a NaN or infinite angle spreads NaN.
    """

def simulate_qubo_runs(
    qubo: _SequenceLike[_QuboTerm],
    base_bits: _SequenceLike[SupportsIndex],
    n_runs: _UInt,
    noise_level: _Float,
    seed: _UInt,
) -> tuple[list[list[int]], list[float]]:
    """Simulate noisy annealer runs around a base assignment of a QUBO.

    Every run starts again from ``base_bits`` and flips each bit independently
    with probability ``noise_level``: one uniform draw u per bit, run by run
    and bit by bit, from one SplitMix64 stream seeded with ``seed``; the bit
    flips when ``noise_level > u``. The energy of each run is the QUBO energy
    of its bits (see ``qubo_energy_spectrum``), summed from -0.0 in list order
    on the module's worker threads. The output is a pure function of the
    arguments, whatever the number of threads.

    Args:
        qubo: QUBO terms ``((i, j), w)`` over positions of ``base_bits``.
        base_bits: The starting assignment, one bit per variable (0 or 1;
            values up to 255 are accepted, see below). ``bytes`` works.
        n_runs: Number of runs (0 to 2**64 - 1, limited by memory).
        noise_level: Per-bit flip probability, not checked: 0.0 or less (and
            NaN) never flips, 1.0 or more always flips (every run is then the
            complement of ``base_bits``), 1.5 is accepted and flips every bit.
        seed: Seed of the random stream, 0 to 2**64 - 1.

    Returns:
        A tuple ``(assignments, energies)`` of ``n_runs`` lists of ints and ``n_runs``
        floats, entry k of both belonging to run k. An empty ``qubo`` gives
        the energy -0.0 for every run.

    Raises:
        PanicException: A term index ``>= len(base_bits)`` when ``n_runs >=
            1`` (``"index out of bounds: the len is 1 but the index is 1"``);
            ``"capacity overflow"`` when ``n_runs`` is so large (over about
            3.8e17) that the size of the runs cannot be computed. Guard: check
            the indices against ``len(base_bits)``.
        MemoryError: The runs and their result do not fit in the memory left.
        OverflowError: A bit outside 0..255 (``"out of range integral type
            conversion attempted"``), a negative or too large ``n_runs`` or
            ``seed``.
        TypeError: Argument conversion.

    Note:
        With ``n_runs == 0`` nothing is drawn or evaluated: bad indices pass
        unnoticed and the result is ``([], [])``. A flip maps a bit b to
        ``(1 - b) % 256`` and the energy uses the byte value as is, so bits
        other than 0 and 1 give energies of their own (2 flips to 255).
    """

def vrp_qubo_terms(
    dist: _SequenceLike[_SequenceLike[_Float]], penalty_a: _Float, penalty_b: _Float
) -> dict[tuple[str, str], float]:
    """Build the one-hot tour QUBO of a vehicle-routing / travelling-salesman instance.

    Binary variable ``x_i_t`` (for example ``x_3_12``) means "augmented node i
    occupies tour position t", for N nodes and N positions. The QUBO is, with
    constant offsets dropped::

        H = A * sum_i (1 - sum_t x_it)^2 + A * sum_t (1 - sum_i x_it)^2
          + B * sum_{u != v, t} d_uv * x_ut * x_v,(t+1) mod N

    so every linear entry is -2A, every pair of a node at two positions or of
    two nodes at one position is 2A, and every tour pair is ``B * dist[u][v]``
    (for N = 2 the two directions add up). The diagonal of ``dist`` is never
    read.

    Args:
        dist: The N x N augmented distance matrix (depot copies included), a
            sequence of rows; a 2-D numpy array works.
        penalty_a: Constraint penalty A.
        penalty_b: Distance weight B.

    Returns:
        A new dict ``{(name_a, name_b): weight}``; equal names are a linear
        term. Each key holds the string-smaller name first (so ``("x_10_0",
        "x_1_0")``); entries are inserted sorted by the variable indices
        (i * N + t) of the key, so the dict order is the same on every call.
        N**2 * (2N - 1) entries for N >= 3, 10 for N = 2, 1 for N = 1, none
        for N = 0. Entries whose weight is 0.0 (a zero distance) are kept.

    Raises:
        ValueError: ``"distance matrix must be square"`` when a row's length
            differs from the number of rows.
        MemoryError: N too large for the machine's memory.
        TypeError: Argument conversion (a non-numeric distance, a ``str``).

    Note:
        Distances and penalties are not checked: negative, NaN or infinite
        values are used as given.
    """

def build_ecc_lookup_table(
    n_data: _UInt, z_stabilizers: _SequenceLike[_SequenceLike[_UInt]]
) -> list[tuple[list[int], list[int]]]:
    """Build the minimum-weight lookup decoder of a surface-code patch for bit-flip errors.

    Enumerates all 2**n_data X-error patterns and keeps, for every syndrome
    some pattern produces, the lightest pattern producing it. Patterns are
    visited in the lexicographic order of their flags (x_0, ..., x_{n-1}),
    x_{n-1} changing fastest, and the first of equal weight is kept: data
    qubit 0 is the most significant position of the counter, so ties go to
    the patterns on higher-numbered qubits (on the distance-3 patch the
    syndrome of qubit 0 alone is decoded as qubit 3).

    Args:
        n_data: Number of data qubits, 0 to 26.
        z_stabilizers: Z-stabilizer supports, each a sequence of data-qubit
            numbers below ``n_data`` (``ecc.build_surface_code(d).z_stabilizers``);
            at most 32. A qubit listed twice counts once; an empty support is
            accepted.

    Returns:
        ``(syndrome_bits, error_bits)`` tuples in increasing order of the
        syndrome number sum(syndrome_bits[j] * 2**j), realizable syndromes
        only: ``syndrome_bits`` one 0/1 per stabilizer in the given order,
        ``error_bits`` one 0/1 per data qubit (1 = flipped by the correction).
        The first pair is always the all-zero syndrome with no correction.

    Raises:
        SizeViolation: ``"SizeViolation: lookup decoding requires n_data <=
            26"``, then ``"SizeViolation: lookup decoding requires at most 32
            Z-stabilizers"`` (``talvo.exceptions.SizeViolation``, or the
            fallback class described in the module notes).
        ValueError: ``"stabilizer references data qubit 9 but n_data is 9"``
            for the first entry ``>= n_data``, after both size checks.
        TypeError, OverflowError: Argument conversion (``n_data`` first).

    Note:
        Time grows as 2**n_data times the number of stabilizers (at 26 data
        qubits, some 67 million patterns).
    """

def logical_failure_probability(
    n_data: _UInt,
    z_stabilizers: _SequenceLike[_SequenceLike[_UInt]],
    logical_z: _SequenceLike[_UInt],
    physical_error_rate: _Float,
) -> float:
    """Exact logical X-error rate of a patch under the minimum-weight lookup decoder.

    Every data qubit flips independently with probability p. All 2**n_data
    error patterns are decoded with the table of ``build_ecc_lookup_table``;
    a pattern fails when ``error XOR correction`` overlaps ``logical_z`` on an
    odd number of qubits, and the result is the sum of
    ``p**w * (1 - p)**(n_data - w)`` over the failing patterns (w the weight of
    the error), added in increasing pattern number with integer powers by
    repeated squaring.

    Args:
        n_data: Number of data qubits, 0 to 26.
        z_stabilizers: Z-stabilizer supports as for ``build_ecc_lookup_table``;
            at most 32.
        logical_z: Support of the logical-Z operator, data-qubit numbers below
            ``n_data`` (``patch.logical_z``); a qubit listed twice counts once.
        physical_error_rate: Per-qubit flip probability p, not checked.

    Returns:
        The probability as a float; the distance-3 patch gives
        0.001730989234385637 at p = 0.01 and exactly 0.5 at p = 0.5.

    Raises:
        SizeViolation: ``"SizeViolation: lookup decoding requires n_data <=
            26"``, then ``"SizeViolation: lookup decoding requires at most 32
            Z-stabilizers"``, before any enumeration
            (``talvo.exceptions.SizeViolation``, or the fallback class
            described in the module notes).
        ValueError: ``"stabilizer references data qubit ..."`` as
            ``build_ecc_lookup_table``; ``"logical_z references data qubit 9
            but n_data is 9"``, checked after the stabilizers and the table.
        TypeError, OverflowError: Argument conversion, in parameter order.

    Note:
        A rate outside [0, 1] is accepted and goes through the formula: 1.5
        gives a value outside [0, 1] (-13.5 on the distance-3 patch). A NaN
        rate gives NaN once a pattern fails; an empty ``logical_z`` gives 0.0
        for any rate.
    """

def stoer_wagner_bisect(
    edges: _SequenceLike[tuple[_UInt, _UInt, _Float]], n_nodes: _UInt
) -> tuple[float, list[int]]:
    """Split a weighted undirected graph into two non-empty sides along a global minimum cut.

    Stoer-Wagner on a dense weight matrix: repeated maximum-adjacency
    orderings (ties to the lowest index) with merging of the last two nodes;
    among equally light cuts the earliest phase's wins.

    Args:
        edges: ``(i, j, weight)`` tuples, 0-based nodes below ``n_nodes``,
            each undirected edge once: parallel edges, and ``(j, i)`` listed
            beside ``(i, j)``, add up; self-loops have no effect. Weights
            should be non-negative (not checked; a negative weight is used).
        n_nodes: Total node count, at least 2; nodes without edges take part.

    Returns:
        A tuple ``(cut_weight, side_a)``, the cut weight and the nodes of one side, in
        the order the algorithm merged them (the last-added node of the
        minimum phase first), not sorted; the other side is every other node.
        ``side_a`` is never empty and never all nodes. A graph with isolated
        nodes has cut 0.0. Three nodes with edges (0, 1, 1.0) and (1, 2, 1.0)
        give ``(1.0, [2])``.

    Raises:
        ValueError: ``"n_nodes must be >= 2 to bisect"`` (the edges are not
            looked at); ``"no cut found"`` when every phase's cut is infinite
            or NaN.
        PanicException: An edge index ``>= n_nodes`` (``"index out of
            bounds: ..."``); ``"a candidate remains while n_in_a <
            active_count"`` when NaN or -inf weights leave no node to choose.
            Guard: check the indices and use finite weights.
        MemoryError: ``n_nodes**2`` doubles do not fit in the memory left.
        TypeError, OverflowError: Argument conversion (a list in place of an
            edge tuple is refused).

    Note:
        Time grows as n_nodes**3, memory as n_nodes**2.
    """
