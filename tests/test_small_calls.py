"""Small inputs take paths of their own: the statevector's state comes from the
heap below a crossover register size, and a pool job too small to pay for the
workers runs on the calling thread. Both paths give the same bits and the
same first error, leave the collector and Ctrl-C handling as they were, and
a job of one element starts no worker thread."""
import gc
import itertools
import os
import random
import signal
import struct
import subprocess
import sys
import textwrap

import pytest

import talvo_core
import test_runs
import test_statevector
from models import bits_of, model_reconstruct
from talvo_core import cutting

# The module's thresholds: registers of this many qubits or more are mapped,
# jobs of this many steps or more go to the pool.
MAPPED_QUBITS = 19
INLINE_STEPS = 1 << 15


# --- the statevector on both sides of the crossover ---------------------------

def local_circuit(rng, gates):
    """A circuit over three qubits (0, 1, 2), every gate kind, angles that
    leave signed zeros in a zero state."""
    out = []
    for _ in range(gates):
        if rng.random() < 0.35:
            a, b = rng.sample(range(3), 2)
            out.append((rng.choice(["cx", "swap", "cz"]), [a, b], []))
        else:
            name = rng.choice(["h", "x", "y", "z", "s", "t", "rx", "ry", "rz", "u"])
            k = 3 if name == "u" else 1 if name[0] == "r" else 0
            out.append((name, [rng.randrange(3)], [rng.uniform(-4, 4) for _ in range(k)]))
    return out


def packed(amplitudes):
    return struct.pack(f"<{2 * len(amplitudes)}d", *itertools.chain.from_iterable(amplitudes))


def check_wide(local, n):
    """Runs `local` with its qubit 2 moved to qubit n - 1 of an n-qubit register
    and compares every amplitude's bits with the model. The qubits between are
    never touched, so the register is 2^(n-3) copies of a 3-qubit system: the
    one whose middle bits are 0 starts in |000>, every other one at +0.0
    everywhere (and may end with signed zeros), each evolving like the model's
    3-qubit register started that way."""
    wide = [(name, [n - 1 if q == 2 else q for q in qs], ps) for name, qs, ps in local]
    got = packed(talvo_core.run_statevector(wide, n))
    live, idle = test_statevector.model(local, 3), test_statevector.model(local, 3, zero_start=True)
    copies = 1 << (n - 3)
    want = b"".join(packed(live[4 * t:4 * t + 4]) + packed(idle[4 * t:4 * t + 4]) * (copies - 1) for t in (0, 1))
    assert got == want


@pytest.mark.parametrize("n", [MAPPED_QUBITS - 1, MAPPED_QUBITS, MAPPED_QUBITS + 1])
def test_statevector_both_sides_of_the_crossover(n):
    check_wide(local_circuit(random.Random(n), 24), n)


def test_statevector_small_registers_one_call_after_another():
    # The heap's state is new memory every call: nothing of one run shows in the next.
    rng = random.Random(7)
    for n in range(1, 7):
        for _ in range(3):
            check_wide(local_circuit(rng, 10), max(n, 3))
            assert talvo_core.run_statevector([], n) == [(1.0, 0.0)] + [(0.0, 0.0)] * ((1 << n) - 1)


def test_statevector_result_shares_only_positive_zeros():
    # The amplitudes that are (+0.0, +0.0) share one tuple; (-0.0, +0.0) is not one of them.
    test_statevector.check([("y", [1], []), ("t", [1], []), ("z", [0], [])], 2)
    test_statevector.check([("x", [0], []), ("cz", [0, 1], []), ("h", [1], []), ("cz", [0, 1], [])], 2)
    got = talvo_core.run_statevector([("h", [1], [])], 3)
    assert got[1] is got[3] and got[0] is not got[2]


# --- the pool entries on both sides of the threshold ---------------------------

@pytest.mark.parametrize("runs", [INLINE_STEPS // 8 - 1, INLINE_STEPS // 8, INLINE_STEPS // 8 + 1])
def test_runs_both_sides_of_the_threshold(runs):
    rng = random.Random(runs)
    n = 5
    qubo = [((rng.randrange(n), rng.randrange(n)), rng.uniform(-1, 1) * 10.0 ** rng.randrange(-8, 9))
            for _ in range(8)]
    args = (qubo, [1, 0, 1, 1, 0], runs, 0.3, runs)
    test_runs.assert_same(talvo_core.simulate_qubo_runs(*args), test_runs.model_runs(*args))


def test_one_run_of_many_terms_runs_on_the_caller():
    rng = random.Random(2)
    qubo = [((rng.randrange(3), rng.randrange(3)), rng.uniform(-1, 1) * 10.0 ** rng.randrange(-9, 10))
            for _ in range(INLINE_STEPS + 5)]
    for args in ((qubo, [1, 1, 0], 1, 0.4, 9), (qubo, [1], 1, 0.0, 9), (qubo[:1], [1, 1, 1], 2, 0.0, 1)):
        try:
            want = test_runs.model_runs(*args)
        except IndexError as e:
            with pytest.raises(BaseException, match=f"^{e}$"):
                talvo_core.simulate_qubo_runs(*args)
            continue
        test_runs.assert_same(talvo_core.simulate_qubo_runs(*args), want)


def reconstruction(n_coefficients, places=(), n_records=1, entries=1):
    """n_records healthy records of label "A" with `entries` bitstrings each,
    coefficients walking over them; the coefficients at `places` name samples
    whose only record has zero shots."""
    rng = random.Random(n_coefficients * 31 + n_records)
    keys = [format(k, "b") for k in range(entries)]
    raw = []
    for s in range(n_records):
        hist = {k: rng.randrange(1, 50) for k in keys}
        raw.append((s, "A", hist, sum(hist.values()) + rng.randrange(3)))
    coefs = [(k % n_records, rng.uniform(-1, 1) * 10.0 ** rng.randrange(-12, 13)) for k in range(n_coefficients)]
    for m, k in enumerate(places):
        coefs[k] = (n_records + m, 1.0)
        raw.append((n_records + m, "A", {"1": 1}, 0))
    return raw, coefs


def same_reconstruction(raw, coefs):
    records = [cutting.SubcircuitSampleCounts(*r) for r in raw]
    coef_records = [cutting.SampleCoefficient(*c) for c in coefs]
    try:
        want = ("ok", bits_of(model_reconstruct(raw, coefs, ["A"])))
    except ValueError as e:
        want = ("error", str(e))
    try:
        got = ("ok", bits_of(cutting.reconstruct_expectation(records, coef_records, ["A"])))
    except ValueError as e:
        got = ("error", str(e))
    assert got == want


@pytest.mark.parametrize("terms", [INLINE_STEPS - 1, INLINE_STEPS, INLINE_STEPS + 1])
def test_reconstruction_terms_both_sides_of_the_threshold(terms):
    # An order-dependent sum of the terms, then the first failing term among
    # several (in coefficient order, not the order of the records).
    same_reconstruction(*reconstruction(terms, n_records=3))
    same_reconstruction(*reconstruction(terms, places=(terms - 1, terms // 2, 5, terms // 2 + 1), n_records=3))


@pytest.mark.parametrize("records", [INLINE_STEPS // 8 - 1, INLINE_STEPS // 8, INLINE_STEPS // 8 + 1])
def test_reconstruction_records_both_sides_of_the_threshold(records):
    # Each record is one step and its 7 bitstrings seven more.
    same_reconstruction(*reconstruction(records, n_records=records, entries=7))
    same_reconstruction(*reconstruction(records, places=(records - 1, 3), n_records=records, entries=7))


# --- the collector, Ctrl-C and the worker threads --------------------------------

def pool_and_state_calls():
    """(small, large) calls of each entry with a path of its own for small inputs."""
    qubo = [((0, 1), 0.5), ((1, 1), -1.0)]
    few = ([cutting.SubcircuitSampleCounts(0, "A", {"01": 3}, 4)], [cutting.SampleCoefficient(0, 0.5)], ["A"])
    many_coefs = [cutting.SampleCoefficient(0, 0.5)] * INLINE_STEPS
    return {
        "statevector": (lambda: talvo_core.run_statevector([("h", [0], [])], 2),
                        lambda: talvo_core.run_statevector([("h", [0], [])], MAPPED_QUBITS)),
        "runs": (lambda: talvo_core.simulate_qubo_runs(qubo, [1, 0], 3, 0.5, 1),
                 lambda: talvo_core.simulate_qubo_runs(qubo, [1, 0], INLINE_STEPS, 0.5, 1)),
        "reconstruct": (lambda: cutting.reconstruct_expectation(*few),
                        lambda: cutting.reconstruct_expectation(few[0], many_coefs, ["A"])),
    }


@pytest.mark.parametrize("entry", ["statevector", "runs", "reconstruct"])
def test_collector_state_is_kept_on_both_paths(entry):
    was = gc.isenabled()
    try:
        for call in pool_and_state_calls()[entry]:
            for enabled in (True, False):
                gc.enable() if enabled else gc.disable()
                call()
                assert gc.isenabled() == enabled
    finally:
        gc.enable() if was else gc.disable()


# In a fresh interpreter: the process's threads before any call, after small
# jobs of every pool entry (one element each, and each pass just below the
# threshold), and after one job just at the threshold, named by argv[1].
THREADS = textwrap.dedent("""
    import os, sys, talvo_core
    from talvo_core import cutting
    tasks = lambda: len(os.listdir("/proc/self/task"))
    before = tasks()
    big = [((0, 1), 0.5)] * 40000
    coef = cutting.SampleCoefficient(0, 0.5)
    one = [cutting.SubcircuitSampleCounts(0, label, {"1": 3}, 4) for label in "AB"]
    # records of 7 bitstrings each: a record is 1 + 7 steps
    seven = [cutting.SubcircuitSampleCounts(s, "A", {format(k, "b"): 1 for k in range(7)}, 9) for s in range(4096)]
    each = [cutting.SampleCoefficient(s, 0.5) for s in range(4096)]
    calls = {
        "runs": lambda k: talvo_core.simulate_qubo_runs(big[:8], [1, 1], 4096 - k, 0.5, 1),  # 8 steps a run
        "terms": lambda k: cutting.reconstruct_expectation(one, [coef] * (16384 - k), ["A", "B"]),  # 2 a term
        "records": lambda k: cutting.reconstruct_expectation(seven[:4096 - k], each[:4096 - k], ["A"]),
    }
    talvo_core.simulate_qubo_runs(big, [1, 1], 1, 0.5, 1)  # one element, much work
    cutting.reconstruct_expectation(one, [coef], ["A"])
    talvo_core.run_statevector([("h", [0], [])], 3)
    for call in calls.values():
        call(1)
    small = tasks()
    calls[sys.argv[1]](0)
    print(before, small, tasks())
""")


@pytest.mark.native_only  # counts threads
@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc")
@pytest.mark.parametrize("at_threshold", ["runs", "terms", "records"])
def test_small_jobs_start_no_worker_threads(at_threshold):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", THREADS, at_threshold], capture_output=True, text=True, env=env,
                         timeout=60)
    assert out.returncode == 0, out.stderr
    before, small, large = map(int, out.stdout.split())
    assert small == before < large


# A child calling the small paths in a loop until Ctrl-C comes: it must end the
# loop with KeyboardInterrupt (raised by whichever call or statement was
# running), after which every entry still works.
CTRL_C = textwrap.dedent("""
    import signal, time, talvo_core
    from talvo_core import cutting
    signal.signal(signal.SIGINT, signal.default_int_handler)
    rec = [cutting.SubcircuitSampleCounts(0, "A", {"1": 3}, 4)]
    coef = [cutting.SampleCoefficient(0, 0.5)]
    calls = [lambda: talvo_core.run_statevector([("h", [0], []), ("cx", [0, 1], [])], 2),
             lambda: talvo_core.simulate_qubo_runs([((0, 1), 0.5)], [1, 0], 3, 0.5, 1),
             lambda: cutting.reconstruct_expectation(rec, coef, ["A"])]
    t0 = time.monotonic()
    try:
        print("ready", flush=True)
        while time.monotonic() - t0 < 30:
            for call in calls:
                call()
        print("not interrupted", flush=True)
    except KeyboardInterrupt:
        print("interrupted", [repr(call()) for call in calls] == [repr(call()) for call in calls], flush=True)
""")


def test_ctrl_c_during_small_calls():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen([sys.executable, "-c", CTRL_C], stdout=subprocess.PIPE, text=True, env=env)
    assert child.stdout.readline().strip() == "ready"
    child.send_signal(signal.SIGINT)
    out = child.stdout.readline().split()
    child.wait(timeout=60)
    assert out == ["interrupted", "True"]


def test_qudit_register_on_both_sides_of_the_repeat():
    # Below 2^20 - 1 sites the zeros are one list repeated, from there on a
    # loop that looks for Ctrl-C: the same list either way.
    for sites in (0, 1, 5, 0xFFFFE, 0xFFFFF, 0x100000):
        got = talvo_core.sim.QuditSimulator(2, sites).simulate()
        assert type(got) is list and len(got) == sites and got.count(0) == sites
        assert all(type(x) is int for x in got[:3] + got[-3:])


def test_coupling_result_shares_only_equal_site_ints():
    # Site indices that share their low bits, above the interpreter's own small ints.
    import test_analog

    sites = [1, 65, 129, 1 << 40, (1 << 40) + 64, 2**64 - 1, 2**64 - 65, 300, 364, 300]
    couplings = [((a, b), 0.5 + k) for k, (a, b) in enumerate(zip(sites, sites[1:] + sites[:1]))]
    errors = [((65, 129), 0.25), ((300, 364), -0.5)]
    got = talvo_core.apply_coupling_correction(couplings, errors)
    want = test_analog.model_coupling(couplings, errors)
    assert [(key, bits_of(j)) for key, j in got] == [(key, bits_of(j)) for key, j in want]
    assert all(type(key) is tuple and all(type(x) is int for x in key) for key, _ in got)
