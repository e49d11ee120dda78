"""simulate_qubo_runs against a pure-Python model, and the shared worker pool."""
import math
import os
import shutil
import struct
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, settings, strategies as st

import talvo_core
from models import assert_same_sequence

M64 = (1 << 64) - 1
MAX_RUNS = ((1 << 63) - 1) // 24  # the largest run count whose run list can be sized


def splitmix64(state):
    """Yields the uniform doubles of one SplitMix64 stream."""
    while True:
        state = (state + 0x9E3779B97F4A7C15) & M64
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & M64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & M64
        z ^= z >> 31
        yield (z >> 11) * 2.0**-53


def model_runs(qubo, base_bits, n_runs, noise_level, seed):
    base = list(base_bits)
    n = len(base)
    draws = splitmix64(seed)
    runs = [[(1 - b) % 256 if noise_level > next(draws) else b for b in base] for _ in range(n_runs)]
    energies = []
    for run in runs:
        e = -0.0
        for (i, j), w in qubo:
            if i >= n or j >= n:
                raise IndexError(f"index out of bounds: the len is {n} but the index is {i if i >= n else j}")
            e += float(run[j]) * (float(run[i]) * w)
        energies.append(e)
    return runs, energies


def fbit(x):
    # Every NaN is one value: which NaN an addition of two NaNs keeps depends on
    # how the compiler ordered the operands, in the interpreter as here.
    return "nan" if x != x else struct.pack("<d", x)


def fbits(xs):
    return [fbit(x) for x in xs]


def assert_same(got, want):
    assert_same_sequence(got[0], want[0])
    assert_same_sequence(got[1], want[1], key=fbit)


weights = st.one_of(
    st.floats(allow_nan=False, width=64),
    st.sampled_from([0.0, -0.0, 1.0, -1.0, 0.1, 0.2, float("inf"), float("-inf"), float("nan")]),
)


@st.composite
def problems(draw):
    n = draw(st.integers(0, 12))
    bit = st.integers(0, 255) if draw(st.booleans()) else st.integers(0, 1)
    base = draw(st.lists(bit, min_size=n, max_size=n))
    idx = st.integers(0, n + 2 if draw(st.integers(0, 9)) == 0 else max(n - 1, 0))  # now and then out of range
    qubo = draw(st.lists(st.tuples(st.tuples(idx, idx), weights), max_size=30)) if n or draw(st.booleans()) else []
    noise = draw(st.one_of(st.floats(0.0, 1.0), st.sampled_from([-0.5, 1.5, float("nan"), 0.5])))
    return qubo, base, draw(st.integers(0, 12)), noise, draw(st.integers(0, M64))


@settings(max_examples=150, deadline=None)
@given(problems())
def test_matches_model(args):
    try:
        want = model_runs(*args)
    except IndexError as fault:
        with pytest.raises(BaseException) as got:
            talvo_core.simulate_qubo_runs(*args)
        assert type(got.value).__name__ == "PanicException" and got.value.args == fault.args
        return
    assert_same(talvo_core.simulate_qubo_runs(*args), want)


def test_documented_runs():
    # the stream of seed 0 starts with u = 0.883..., 0.4315..., 0.0264..., 0.9708...
    draws = splitmix64(0)
    assert [next(draws) for _ in range(4)] == [
        0.8833108082136426, 0.43152799704850997, 0.026433771592597743, 0.9708819781538285]
    # a bit flips only when noise_level is strictly above its draw
    assert talvo_core.simulate_qubo_runs([], [0, 0, 0, 0], 1, 0.43152799704850997, 0)[0] == [[0, 0, 1, 0]]
    assert_same(talvo_core.simulate_qubo_runs([((0, 0), -1.0), ((0, 1), 2.0)], [1, 0, 1], 3, 0.5, 0),
                ([[1, 1, 0], [1, 1, 0], [0, 0, 0]], [1.0, 1.0, 0.0]))
    assert_same(talvo_core.simulate_qubo_runs([], [1, 0], 2, 0.0, 7), ([[1, 0], [1, 0]], [-0.0, -0.0]))
    assert_same(talvo_core.simulate_qubo_runs([((0, 0), -1.0)], [0], 1, 0.0, 7), ([[0]], [-0.0]))
    assert talvo_core.simulate_qubo_runs([], [1, 0, 2], 2, 1.0, 3)[0] == [[0, 1, 255]] * 2
    assert talvo_core.simulate_qubo_runs([], [1, 0], 2, float("nan"), 3)[0] == [[1, 0]] * 2
    assert talvo_core.simulate_qubo_runs([], b"\x00\x01", 1, 0.0, 0) == ([[0, 1]], [-0.0])
    # byte values weigh as numbers, (x_i * w) * x_j: x_i * (w * x_j) would give 1.5
    assert_same(talvo_core.simulate_qubo_runs([((0, 1), 0.1)], [3, 5], 1, 0.0, 0), ([[3, 5]], [1.5000000000000002]))
    assert talvo_core.simulate_qubo_runs([], [1], 1, True, M64)[0] == [[0]]


def test_long_term_lists_give_every_run_its_energy():
    # Past about four million term steps per run, runs reach the pool one by
    # one. Each term adds 1.0 when bit 0 is set: the energy is the term count.
    t = 2**21 + 1
    runs, energies = talvo_core.simulate_qubo_runs([((0, 0), 1.0)] * t, [0, 1], 8, 0.5, 5)
    assert {r[0] for r in runs} == {0, 1}
    assert fbits(energies) == fbits([float(t) if r[0] else 0.0 for r in runs])


def test_faults_and_conversion_errors():
    with pytest.raises(BaseException, match=r"^index out of bounds: the len is 1 but the index is 1$") as e:
        talvo_core.simulate_qubo_runs([((0, 0), 1.0), ((0, 1), 1.0), ((5, 0), 1.0)], [1], 1, 0.0, 0)
    assert type(e.value).__name__ == "PanicException" and not isinstance(e.value, Exception)
    with pytest.raises(BaseException, match=r"the len is 0 but the index is 3$"):
        talvo_core.simulate_qubo_runs([((3, 9), 1.0)], [], 2, 0.0, 0)
    assert talvo_core.simulate_qubo_runs([((0, 1), 1.0)], [1], 0, 0.0, 0) == ([], [])
    for n_runs in (MAX_RUNS + 1, M64):
        with pytest.raises(BaseException, match=r"^capacity overflow$"):
            talvo_core.simulate_qubo_runs([((9, 9), 1.0)], [1], n_runs, 0.0, 0)
    with pytest.raises(MemoryError):
        talvo_core.simulate_qubo_runs([], [], MAX_RUNS, 0.0, 0)
    # Fewer runs than the run-list limit, but more assignment bytes (runs times
    # bits) than a signed size can count.
    with pytest.raises(MemoryError):
        talvo_core.simulate_qubo_runs([((0, 1), 1.0)], [0] * 100, 10**17, 0.3, 1)
    for bad_bit in (256, -1, 1 << 64, -(1 << 70)):
        with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
            talvo_core.simulate_qubo_runs([], [0, bad_bit], 1, 0.0, 0)
    for seed in (-1, 1 << 64):
        with pytest.raises(OverflowError):
            talvo_core.simulate_qubo_runs([], [0], 1, 0.0, seed)
    with pytest.raises(TypeError, match=r"^argument 'qubo': 'dict' object cannot be converted to 'Sequence'$"):
        talvo_core.simulate_qubo_runs({(0, 0): 1.0}, [0], 1, 0.0, 0)
    with pytest.raises(TypeError, match=r"^argument 'noise_level': "):
        talvo_core.simulate_qubo_runs([], [0], 1, "x", 0)


# Run in a fresh interpreter: a digest of several calls, and the number of the
# process's threads before the first call, after it, and after many more.
PROBE = textwrap.dedent("""
    import hashlib, os, random, struct, sys
    import talvo_core
    from talvo_core import cutting
    tasks = lambda: len(os.listdir("/proc/self/task"))
    counts = [tasks()]
    rng = random.Random(5)
    n = 40
    qubo = [((rng.randrange(n), rng.randrange(n)), rng.uniform(-1, 1)) for _ in range(300)]
    out = [talvo_core.simulate_qubo_runs(qubo, [rng.randrange(2) for _ in range(n)], 257, 0.3, 99)]
    counts.append(tasks())
    recs = [cutting.SubcircuitSampleCounts(s, l, {"01": s + 1, "11": 3, "0": 7 * s}, 11 + s)
            for s in range(3000) for l in "AB"]
    coefs = [cutting.SampleCoefficient(s, rng.uniform(-2, 2)) for s in range(3000)]
    for _ in range(20):
        out.append(cutting.reconstruct_expectation(recs, coefs, ["A", "B", "A"]))
    counts.append(tasks())
    if os.environ.get("PROBE_FORK"):
        pid = os.fork()
        if pid == 0:
            again = talvo_core.simulate_qubo_runs(qubo, [0] * n, 300, 0.5, 1)
            again = (again, cutting.reconstruct_expectation(recs, coefs, ["A"]))
            os.write(1, hashlib.sha256(repr(again).encode()).hexdigest().encode() + b"\\n")
            sys.exit(0)  # a normal exit: the child's exit handlers run too
        assert os.waitpid(pid, 0)[1] == 0
        again = talvo_core.simulate_qubo_runs(qubo, [0] * n, 300, 0.5, 1)
        again = (again, cutting.reconstruct_expectation(recs, coefs, ["A"]))
        print(hashlib.sha256(repr(again).encode()).hexdigest())
    digest = hashlib.sha256(repr([struct.pack("<d", x) for x in out[0][1]] + out[1:] + out[0][0]).encode())
    print(digest.hexdigest(), *counts)
""")


def probe(*prefix, **env):
    proc = subprocess.run([*prefix, sys.executable, "-W", "ignore", "-c", PROBE], capture_output=True, text=True,
                          timeout=120, env={**os.environ, **env})
    assert proc.returncode == 0, proc.stderr
    return proc.stdout.split("\n")[:-1]


@pytest.mark.native_only  # counts threads
@pytest.mark.skipif(shutil.which("taskset") is None, reason="needs taskset")
def test_same_results_on_one_cpu_and_no_new_threads():
    digest, before, first, later = probe()[-1].split()
    one_digest, one_before, one_first, one_later = probe("taskset", "-c", "0")[-1].split()
    assert digest == one_digest
    # one worker on one CPU; no thread is started after the first call
    assert int(one_first) == int(one_before) + 1 == int(one_later)
    assert int(first) == int(later) > int(before)


@pytest.mark.native_only  # forks after threads
def test_forked_child_gets_a_working_pool():
    child, parent, last = probe(PROBE_FORK="1")
    assert child == parent and len(last.split()) == 4


def quota_file(cpus):
    """The CPU quota file of this process's cgroup, with text setting a quota of `cpus` processors."""
    for line in open("/proc/self/cgroup").read().splitlines():
        hier, controllers, path = line.split(":", 2)
        for mount in open("/proc/self/mountinfo").read().splitlines():
            fields, fstype = mount.split(" - ")[0].split(), mount.split(" - ")[1].split()
            if hier == "0" and fstype[0] == "cgroup2":
                name, text = os.path.join(fields[4] + path, "cpu.max"), f"{int(cpus * 100000)} 100000\n"
            elif "cpu" in controllers.split(",") and fstype[0] == "cgroup" and "cpu" in fstype[2].split(","):
                directory = fields[4] + path
                period = int(open(os.path.join(directory, "cpu.cfs_period_us")).read())
                name, text = os.path.join(directory, "cpu.cfs_quota_us"), f"{int(cpus * period)}\n"
            else:
                continue
            if os.path.exists(name):
                return name, text
    return None


def can_lay_quota_files():
    return shutil.which("unshare") is not None and os.geteuid() == 0


@pytest.mark.native_only  # counts threads
@pytest.mark.counts_threads
@pytest.mark.skipif(not can_lay_quota_files(), reason="needs root and unshare")
@pytest.mark.parametrize("cpus", [0.5, 1.5, 2.5])
def test_cpu_quota_limits_the_workers(tmp_path, cpus):
    # In a private mount namespace, a quota of a fraction of CPUs is laid over
    # this process's cgroup file: the pool has that many workers, rounded up
    # (never more than the processors it may run on).
    found = quota_file(cpus)
    if found is None:
        pytest.skip("no cgroup CPU quota file")
    fake = tmp_path / "quota"
    fake.write_text(found[1])
    script = (f"mount --bind {fake} {found[0]} || exit 77; exec {sys.executable} -W ignore -c "
              "'import os, talvo_core; talvo_core.simulate_qubo_runs([((0, 1), 1.0)], [1] * 16, 1 << 16, 0.5, 1); "
              "print(len(os.listdir(\"/proc/self/task\")))'")
    proc = subprocess.run(["unshare", "-m", "sh", "-c", script], capture_output=True, text=True, timeout=60)
    if proc.returncode == 77 or proc.stderr.startswith("unshare:"):  # unshare or mount refused
        pytest.skip(f"cannot lay a quota file: {proc.stderr.strip()}")
    assert proc.returncode == 0, proc.stderr
    workers = min(len(os.sched_getaffinity(0)), math.ceil(cpus))
    assert proc.stdout.split() == [str(1 + workers)]
