"""What every entry shares, checked where a slip shows: the signs of zeros at
sizes 0 and 1, sums whose order changes the last bit, the first of several
faults in one input, conversion hooks that raise, containers whose length
lies, the interpreter state a call touches, the fault report, and the
process the worker pool lives in. Each area's model decides the expected
value wherever one exists."""
import gc
import os
import subprocess
import sys
import textwrap

import pytest

import talvo_core
import test_analog
import test_bisect
import test_cutting
import test_ecc
import test_ising
import test_runs
import test_spectrum
import test_stackelberg
import test_statevector
import test_vrp
from models import bits_of

sim, analog, ecc, cutting = talvo_core.sim, talvo_core.analog, talvo_core.ecc, talvo_core.cutting
ZEROS = (0.0, -0.0)


def inner(test):
    """The body of a property test of another file, for fixed arguments."""
    return test.hypothesis.inner_test


def panic(call):
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value).__name__ == "PanicException"
    return str(info.value)


# ---------------------------------------------------------------------------
# Sizes 0 and 1: every entry that returns floats, with zeros of both signs in
# its input, against its model (which compares by bits).

def test_sizes_zero_and_one_keep_their_signs():
    spectrum = talvo_core.qubo_energy_spectrum
    # The empty problem's energy is a positive zero, whatever the term list.
    for got in (spectrum([], 0), spectrum([((0, 0), -0.0)], 0)):
        assert got[0] == [] and [bits_of(x) for x in [got[1]] + got[2]] == [bits_of(0.0)] * 2
    for z in ZEROS:
        one = [((0, 0), z)]
        inner(test_spectrum.test_matches_reference)(([], 1))
        inner(test_spectrum.test_matches_reference)((one, 1))
        for n in (0, 1):
            inner(test_ising.test_norm_matches_model)(([(0, z)] * n, [((0, 0), z)] * n, n))
            inner(test_runs.test_matches_model)((one * n, [1] * n, 2, 0.5, 3))
            inner(test_runs.test_matches_model)(([], [0] * n, 1, 0.0, 3))
            inner(test_ecc.test_criticality_matches_reference)(one, n)
            inner(test_ecc.test_failure_matches_reference)((n, [[0]] * n), [0] * n, z)
            inner(test_ecc.test_select_matches_reference)([(0, z)] * n, 9, 3)
            inner(test_vrp.test_matches_model)([[z] * n for _ in range(n)], z, z)
            inner(test_analog.test_coupling_correction_matches_model)([((0, 1), z)] * n, [((0, 1), z)] * n)
            inner(test_analog.test_detuning_correction_matches_model)([z] * n, [(0, z)] * n)
            inner(test_analog.test_encoding_matches_model)(["a"] * n, [("a", "a", z)] * n)
            inner(test_stackelberg.test_solve_matches_model)([(z, z, z, z)] * n, 0, z, z, z)
            test_cutting.check([(0, "A", {}, 1), (1, "A", {"1": 1}, 1)], [(k, z) for k in range(n)], ["A"])
        test_bisect.run_both([(0, 1, z)], 2)
        inner(test_analog.test_rabi_correction_matches_model)(z, z)
        inner(test_analog.test_rabi_correction_matches_model)(z, -z)
    for n in (0, 1):
        test_statevector.check([], n)
        test_statevector.check([("s", [0], []), ("z", [0], []), ("y", [0], [])] * n, n)


# ---------------------------------------------------------------------------
# Sums: weights whose sum depends on the order (0.1 + 0.2 + 0.3 is
# 0.6000000000000001 left to right, 0.6 in any other order), in both orders.

ORDERED = ([0.1, 0.2, 0.3], [0.3, 0.2, 0.1], [1e16, 1.0, -1e16, 1.0])


def test_sums_follow_the_stated_order():
    # The Stoer-Wagner phase cut: node 3's three edges, added in node order.
    edges = [(0, 1, 10.0), (1, 2, 10.0), (0, 2, 10.0), (3, 0, 0.1), (3, 1, 0.2), (3, 2, 0.3)]
    cut, side = talvo_core.stoer_wagner_bisect(edges, 4)
    assert bits_of(cut) == bits_of(0.6000000000000001) and side == [3]
    test_bisect.run_both(edges, 4)
    test_bisect.run_both([(3, 0, 0.3), (3, 1, 0.2), (3, 2, 0.1)] + edges[:3], 4)
    for ws in ORDERED:
        terms = [((0, 0), w) for w in ws]
        inner(test_spectrum.test_matches_reference)((terms, 1))
        inner(test_ising.test_norm_matches_model)(([(0, w) for w in ws], [((0, 1), w) for w in ws], 2))
        inner(test_runs.test_matches_model)((terms, [1], 1, 0.0, 0))
        inner(test_ecc.test_criticality_matches_reference)(terms + [((1, 0), w) for w in ws], 2)
        test_cutting.check([(k, "A", {"": 1}, 1) for k in range(len(ws))], list(enumerate(ws)), ["A"])
        inner(test_vrp.test_matches_model)([ws[:3], ws[1:3] + ws[:1], ws[2:3] + ws[:2]], ws[0], ws[1])
        inner(test_stackelberg.test_solve_matches_model)([(w, w, 3 * w, w / 4) for w in ws[:3]], 0, 0.5, 0.1, 1.0)


# ---------------------------------------------------------------------------
# Several faults in one input: the first in the stated order is the one named.

def test_first_of_several_faults_is_reported():
    oob = "index out of bounds: the len is {} but the index is {}".format
    # A term's or an edge's first index is checked before its second.
    assert panic(lambda: talvo_core.stoer_wagner_bisect([(5, 7, 1.0)], 3)) == oob(3, 5)
    assert panic(lambda: talvo_core.stoer_wagner_bisect([(0, 1, 1.0), (1, 9, 1.0), (8, 0, 1.0)], 3)) == oob(3, 9)
    with pytest.raises(ValueError, match="^n_nodes must be >= 2 to bisect$"):
        talvo_core.stoer_wagner_bisect([(5, 7, 1.0)], 1)
    test_bisect.run_both([(0, 1, 1.0), (7, 5, 1.0), (6, 0, 1.0)], 3)
    assert panic(lambda: talvo_core.qubo_energy_spectrum([((0, 0), 1.0), ((5, 7), 1.0), ((9, 1), 1.0)], 3)) == \
        oob(3, 5)
    assert panic(lambda: talvo_core.exact_ising_norm([(6, 1.0)], [((5, 7), 1.0)], 3)) == oob(3, 6)
    assert panic(lambda: talvo_core.exact_ising_norm([(0, 1.0)], [((1, 7), 1.0), ((5, 1), 1.0)], 3)) == oob(3, 7)
    # The runs: a bit beyond 255 is a conversion error before any index fault;
    # then the terms in order, first index first.
    with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
        talvo_core.simulate_qubo_runs([((5, 7), 1.0)], [1, 300, -1], 2, 0.5, 1)
    inner(test_runs.test_matches_model)(([((0, 1), 1.0), ((5, 7), 1.0), ((0, 9), 1.0)], [1, 0], 2, 0.5, 1))
    # The statevector: instructions in list order, each one's name first.
    for circuit, n in (([("cx", [0, 3], []), ("H", [0], [])], 2), ([("u", [5], [0.1]), ("cx", [0, 9], [])], 1),
                       ([("x", [0], []), ("H", [0], []), ("h", [], [])], 1), ([("rz", [7], []), ("q", [], [])], 1)):
        test_statevector.check(circuit, n)
    # The decoder: the stabilizers before the logical operator.
    for call in (lambda: talvo_core.build_ecc_lookup_table(2, [[0], [5], [7]]),
                 lambda: talvo_core.logical_failure_probability(2, [[0, 5], [7]], [9], 0.5)):
        with pytest.raises(ValueError, match="^stabilizer references data qubit 5 but n_data is 2$"):
            call()
    with pytest.raises(ValueError, match="^distance matrix must be square$"):
        talvo_core.vrp_qubo_terms([[0.0, 1.0], [1.0]], math_nan(), 1.0)
    # Criticality: the out-of-range term is skipped, the NaN is what faults.
    assert panic(lambda: talvo_core.qubo_criticality([((1, 1), math_nan()), ((5, 7), 1.0)], 3)) == \
        "called `Option::unwrap()` on a `None` value"
    # Reconstruction: duplicates, then missing records, then empty shots.
    C, S = cutting.SubcircuitSampleCounts, cutting.SampleCoefficient
    for records, coefs, labels in (
            ([(0, "A", {}, 0), (0, "A", {}, 0)], [(1, 1.0)], ["B"]),
            ([(0, "A", {}, 0)], [(1, 1.0), (0, 1.0)], ["A"]),
            ([(0, "A", {}, 0), (1, "A", {}, 0)], [(1, 1.0), (0, 1.0)], ["A"]),
            ([], [], [])):
        test_cutting.check(records, coefs, labels)
    with pytest.raises(ValueError, match="^subcircuit_labels must not be empty$"):
        cutting.reconstruct_expectation([C(0, "A", {}, 0), C(0, "A", {}, 0)], [S(1, 1.0)], [])
    # Conversion: within a tuple or a dict item, positions in order.
    as_int = "'str' object cannot be interpreted as an integer"
    for call, message in ((lambda: talvo_core.exact_ising_norm([(0, 1.0), ("a", "b")], [], 1), "dh': " + as_int),
                          (lambda: talvo_core.stoer_wagner_bisect([("a", 1, "w")], 2), "edges': " + as_int),
                          (lambda: talvo_core.qubo_energy_spectrum([(("a", 0), "w")], 1), "qubo': " + as_int),
                          (lambda: C(0, "A", {"1": 1, 1: "x"}, 1),
                           "counts': 'int' object cannot be converted to 'PyString'")):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == "argument '" + message
    # Conversion: parameters in signature order, then the kernel's checks.
    with pytest.raises(TypeError, match="^argument 'edges': "):
        talvo_core.stoer_wagner_bisect([(9, 9, "w")], "n")
    with pytest.raises(TypeError, match="^argument 'n_nodes': "):
        talvo_core.stoer_wagner_bisect([(9, 9, 1.0)], "n")


def math_nan():
    return float("nan")


# ---------------------------------------------------------------------------
# Conversion hooks that raise: only an exact TypeError is prefixed with the
# parameter; a subclass, like any other error, comes through as raised.

class HookError(TypeError):
    pass


class Hook:
    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        raise self.exc

    __float__ = __index__


def test_hooks_raising_subclasses_come_through_unchanged():
    errors = (HookError("sub"), type("Deeper", (HookError,), {})("deeper"), OverflowError("of"),
              type("Of2", (OverflowError,), {})("of2"))
    calls = (
        lambda h: talvo_core.qubo_energy_spectrum([], h),                      # unsigned integer
        lambda h: talvo_core.qubo_energy_spectrum([((0, 0), h)], 1),           # float in a pair
        lambda h: talvo_core.simulate_qubo_runs([], [h], 1, 0.0, 0),           # bit
        lambda h: talvo_core.apply_rabi_correction(1.0, h),                    # float
        lambda h: cutting.SampleCoefficient(h, 1.0),                           # constructor
        lambda h: setattr(sim.Interaction("a", "b", 1.0), "weight", h),        # setter
        lambda h: talvo_core.StackelbergSolver(0.5, 3, 0.1).solve([h], [1.0], [2.0], [0.5], 1.0),  # method
    )
    for call in calls:
        for exc in errors:
            with pytest.raises(BaseException) as info:
                call(Hook(exc))
            assert info.value is exc and str(exc) == exc.args[0]
        with pytest.raises(TypeError) as info:
            call(Hook(TypeError("plain")))
        assert type(info.value) is TypeError and str(info.value).endswith("': plain")


# ---------------------------------------------------------------------------
# Lists whose __len__ lies: the length only sizes the first buffer.

class Lying:
    def __init__(self, items, length):
        self.items, self.length = items, length

    def __len__(self):
        return self.length

    def __getitem__(self, k):
        return self.items[k]


@pytest.mark.parametrize("claim", [0, 1, 2, 5, 1 << 20, (1 << 20) + 1, 10**10, sys.maxsize])
def test_lengths_that_lie(claim):
    qubo = [((0, 1), 0.5), ((1, 1), -1.0), ((0, 0), 0.25)]
    spectrum = talvo_core.qubo_energy_spectrum
    assert repr(spectrum(Lying(qubo, claim), 2)) == repr(spectrum(qubo, 2))
    assert repr(spectrum(Lying([], claim), 2)) == repr(spectrum([], 2))
    assert talvo_core.simulate_qubo_runs([], Lying([1, 0, 1], claim), 1, 0.0, 0)[0] == [[1, 0, 1]]
    assert talvo_core.apply_detuning_correction(Lying([1.5, -0.0], claim), []) == [1.5, -0.0]
    assert talvo_core.stoer_wagner_bisect(Lying([(0, 1, 2.0)], claim), 2) == (2.0, [1])


# ---------------------------------------------------------------------------
# Interpreter state a call touches is left exactly as it was.

def test_collector_flag_is_restored():
    was = gc.isenabled()
    try:
        for enabled in (False, True, False):
            (gc.enable if enabled else gc.disable)()
            talvo_core.run_statevector([("h", [0], [])], 3)
            assert gc.isenabled() is enabled
            with pytest.raises(ValueError):
                talvo_core.run_statevector([("nope", [0], [])], 3)
            assert gc.isenabled() is enabled
    finally:
        (gc.enable if was else gc.disable)()


def test_fault_report_on_standard_error(capfd):
    capfd.readouterr()
    panic(lambda: talvo_core.qubo_energy_spectrum([((0, 1), 1.0)], 1))
    panic(lambda: talvo_core.qubo_criticality([((0, 0), math_nan()), ((1, 1), 1.0)], 2))
    out, err = capfd.readouterr()
    assert out == "" and err == ("talvo_core: internal fault: index out of bounds: the len is 1 but the index is 1\n"
                                 "talvo_core: internal fault: called `Option::unwrap()` on a `None` value\n")
    # Ordinary errors write nothing.
    with pytest.raises(ValueError):
        talvo_core.stoer_wagner_bisect([], 1)
    assert capfd.readouterr() == ("", "")


# Too many positional arguments, in each of the message's forms: "from ... to"
# where some parameters are optional, "was" for one argument.
ARGUMENT_COUNTS = [
    (lambda: ecc.build_surface_code(1, 2), "build_surface_code() takes from 0 to 1 positional arguments but 2 were given"),
    (lambda: ecc.build_surface_code(1, 2, 3), "build_surface_code() takes from 0 to 1 positional arguments but 3 were given"),
    (lambda: sim.IsingSimulator(1), "IsingSimulator.__new__() takes 0 positional arguments but 1 was given"),
    (lambda: analog.PhotonicCompiler().build_arrazola_bromley_encoding(1, 2),
     "PhotonicCompiler.build_arrazola_bromley_encoding() takes 1 positional arguments but 2 were given"),
    (lambda: talvo_core.apply_rabi_correction(1, 2, 3), "apply_rabi_correction() takes 2 positional arguments but 3 were given"),
]


def test_argument_count_messages():
    for call, message in ARGUMENT_COUNTS:
        with pytest.raises(TypeError) as info:
            call()
        assert type(info.value) is TypeError and str(info.value) == message


# ---------------------------------------------------------------------------
# The process: in a fresh interpreter, empty jobs start no worker; the first
# real job starts the pool's workers, one per available processor, named for
# the pool and blocking every signal, and leaves the caller's signal mask as
# it was.

POOL_START = textwrap.dedent("""
    import os, signal, time, talvo_core
    from talvo_core import cutting
    tasks = lambda: sorted(os.listdir("/proc/self/task"))
    start = tasks()
    signal.pthread_sigmask(signal.SIG_SETMASK, [signal.SIGUSR1])
    mask = signal.pthread_sigmask(signal.SIG_BLOCK, [])
    assert repr(cutting.reconstruct_expectation([], [], ["A"])) == "-0.0"
    assert talvo_core.simulate_qubo_runs([((0, 0), 1.0)], [1], 0, 0.5, 3) == ([], [])
    assert talvo_core.simulate_qubo_runs([], [], 0, 0.5, 3) == ([], [])
    empty = tasks()
    talvo_core.simulate_qubo_runs([((0, 1), 1.0)], [1] * 16, 1 << 16, 0.5, 3)  # enough work for the pool
    def names():
        out = []
        for tid in sorted(set(tasks()) - set(start)):
            with open(f"/proc/self/task/{tid}/comm") as f:
                out.append(f.read().strip())
        return out
    # A worker names itself when it first runs, which may come after the job
    # is done: wait (a few seconds at most) until every new thread has a name
    # other than the one it inherited.
    inherited = open("/proc/self/comm").read().strip()
    for _ in range(500):
        if inherited not in names():
            break
        time.sleep(0.01)
    blocking = True
    for tid in sorted(set(tasks()) - set(start)):
        with open(f"/proc/self/task/{tid}/status") as f:
            blocked = next(int(line.split()[1], 16) for line in f if line.startswith("SigBlk:"))
        blocking &= all(blocked >> (s - 1) & 1 for s in (signal.SIGINT, signal.SIGTERM, signal.SIGUSR2))
    print(empty == start, mask == signal.pthread_sigmask(signal.SIG_BLOCK, []), blocking,
          len(os.sched_getaffinity(0)), *names())
""")


@pytest.mark.native_only  # counts threads
@pytest.mark.counts_threads
@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc")
def test_pool_starts_only_for_real_work():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", POOL_START], capture_output=True, text=True, env=env, timeout=60)
    assert out.returncode == 0, out.stderr
    no_new_threads, same_mask, workers_block_signals, cpus, *names = out.stdout.split()
    assert (no_new_threads, same_mask, workers_block_signals) == ("True", "True", "True")
    # One worker per processor, fewer under a CPU quota.
    assert names == ["talvo-pool"] * len(names) and 1 <= len(names) <= int(cpus), out.stdout
