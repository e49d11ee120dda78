"""Many Python threads calling the module at once get the same results as one
thread, also while they share instances that other threads change and while
the collector is switched on and off; Ctrl-C reaches the main thread alone;
on an interpreter without the GIL, importing the module leaves it off; and a
child made by os.fork() can go on using the module."""
import gc
import os
import select
import signal
import subprocess
import sys
import sysconfig
import textwrap
import threading
import time

import pytest

import fuzzing
import talvo_core
from talvo_core import analog, sim

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


def plain(value):
    """A comparable form of a result: floats by their bits, records by their attributes."""
    if isinstance(value, (list, tuple)):
        return type(value)(plain(v) for v in value)
    if isinstance(value, dict):
        return {k: plain(v) for k, v in value.items()}
    if isinstance(value, float):
        return value.hex()
    if isinstance(value, (int, str, type(None))):
        return value
    names = [n for n in dir(type(value)) if not n.startswith("_") and not callable(getattr(value, n))]
    return (type(value).__name__,) + tuple(plain(getattr(value, n)) for n in names)


def calls():
    """Every callable entry of the module (functions, constructors, methods),
    as (label, callable returning a fresh bound entry, args factory)."""
    out = []
    for label, get, args, inst_spec in fuzzing.targets():
        if inst_spec is None:
            out.append((label, get, args))
        else:
            make, method = inst_spec
            out.append((label, lambda m=make, me=method: getattr(m(), me), args))
    return out


def outcome(get, args):
    """The result in comparable form, or the error it raised."""
    try:
        return repr(plain(get()(*args())))
    except Exception as e:
        return f"raises {type(e).__name__}: {e}"


def test_threads_get_the_same_results():
    cases = calls()
    expected = {path: outcome(get, args) for path, get, args in cases}
    errors = []

    def worker(seed):
        try:
            for round_ in range(30):
                for path, get, args in cases[seed % 3:] + cases[:seed % 3]:
                    got = outcome(get, args)
                    if got != expected[path]:
                        errors.append((path, got))
        except BaseException as e:  # noqa: B036
            errors.append(("exception", repr(e)))

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


def together(n, body):
    """Runs body(k) on n threads started together; re-raises the first error."""
    barrier = threading.Barrier(n)
    errors = []

    def run(k):
        try:
            barrier.wait()
            body(k)
        except BaseException as e:  # noqa: B036
            errors.append(e)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(n)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if errors:
        raise errors[0]


# Whole values of a shared graph's attributes, as plain tuples.
VARIABLES = ([("a", "spin"), ("b", "spin"), ("c", "spin")], [("x", "spin"), ("y", "bit")])
INTERACTIONS = ([("a", "b", 1.0), ("b", "c", -0.5), ("c", "a", 0.25)], [("x", "y", 0.25), ("y", "y", -1.0), ("x", "x", -0.0)])


def variables(k):
    return [sim.Variable(*v) for v in VARIABLES[k]]


def interactions(k):
    return [sim.Interaction(*i) for i in INTERACTIONS[k]]


def graph_value(g):
    vs = [(v.name, v.domain) for v in g.variables]
    its = [(i.i, i.j, i.weight.hex()) for i in g.interactions]
    return vs, its


def test_shared_instances_while_setters_run():
    """Readers racing setters on other threads see an old or a new whole
    value, never a mix and never an error; the kernels given the shared graph
    compute on one whole value of each attribute."""
    g = sim.LogicalGraph(variables(0), interactions(0))
    inter = sim.Interaction("p", "q", 1.5)
    whole = {(tuple(VARIABLES[a]), tuple((i, j, w.hex()) for i, j, w in INTERACTIONS[b]))
             for a in (0, 1) for b in (0, 1)}
    solutions = {}
    encodings = {}
    for a in (0, 1):
        for b in (0, 1):
            one = sim.LogicalGraph(variables(a), interactions(b))
            solutions[a, b] = sim.IsingSimulator().solve_exact(one)
            encodings[a, b] = plain(analog.PhotonicCompiler().build_arrazola_bromley_encoding(one))
    weights = {w.hex() for w in (1.5, -0.0, 2.5)}

    def body(k):
        for r in range(150):
            if k < 2:  # setters: whole new lists, and scalar fields
                g.variables = variables((r + k) % 2)
                g.interactions = interactions(r % 2)
                inter.weight = (-0.0, 2.5)[(r + k) % 2]
                inter.i = ("p", "s")[r % 2]
            else:  # readers, and the graph as an argument
                vs, its = graph_value(g)
                assert (tuple(vs), tuple(its)) in whole
                copy = sim.LogicalGraph(g.variables, g.interactions)
                assert (tuple(graph_value(copy)[0]), tuple(graph_value(copy)[1])) in whole
                assert sim.IsingSimulator().solve_exact(g) in solutions.values()
                assert plain(analog.PhotonicCompiler().build_arrazola_bromley_encoding(g)) in encodings.values()
                assert inter.weight.hex() in weights and inter.i in ("p", "s") and inter.j == "q"

    together(6, body)


class Blocking:
    """A float (or sequence) conversion hook that waits until released."""

    def __init__(self, value):
        self.value = value
        self.entered = threading.Event()
        self.release = threading.Event()

    def __float__(self):
        self.entered.set()
        assert self.release.wait(30)
        return self.value

    def __len__(self):
        return len(self.value)

    def __getitem__(self, k):
        self.entered.set()
        assert self.release.wait(30)
        return self.value[k]


def while_blocked(hook, write, check):
    """Starts write(hook) on another thread, runs check() while the write is
    inside its conversion hook, then lets the write finish."""
    errors = []

    def writer():
        try:
            write(hook)
        except BaseException as e:  # noqa: B036
            errors.append(e)

    t = threading.Thread(target=writer)
    t.start()
    try:
        assert hook.entered.wait(30)
        check()
    finally:
        hook.release.set()
        t.join()
    assert errors == []


def test_a_setter_on_another_thread_is_no_conflict():
    """A setter holds its instance only on its own thread: while another
    thread's setter waits in its conversion hook, this thread reads the old
    value, writes other fields and passes the instance to kernels, and the
    waiting write lands afterwards. On the writing thread itself, re-entrant
    use is still refused."""
    inter = sim.Interaction("a", "b", 1.0)

    def check():
        assert inter.weight == 1.0 and inter.i == "a"
        inter.i = "c"
        assert sim.LogicalGraph([], [inter]).interactions[0].weight == 1.0

    while_blocked(Blocking(2.0), lambda hook: setattr(inter, "weight", hook), check)
    assert (inter.i, inter.weight) == ("c", 2.0)

    g = sim.LogicalGraph(variables(0), interactions(0))
    before = graph_value(g)
    solution = sim.IsingSimulator().solve_exact(g)

    def check_graph():
        assert graph_value(g) == before
        assert sim.IsingSimulator().solve_exact(g) == solution
        g.interactions = interactions(1)

    while_blocked(Blocking(variables(1)), lambda hook: setattr(g, "variables", hook), check_graph)
    assert graph_value(g) == graph_value(sim.LogicalGraph(variables(1), interactions(1)))


def test_reentrant_record_conversion_is_refused():
    """A conversion hook of a setter that passes the instance being written as
    an argument (its record copied) is refused on that thread, and the write
    does not happen; the same hook passing another instance works."""
    inter, other = sim.Interaction("a", "b", 1.0), sim.Interaction("c", "d", 3.0)

    class Passes:
        def __init__(self, which):
            self.which = which

        def __float__(self):
            return sim.LogicalGraph([], [self.which]).interactions[0].weight

    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        inter.weight = Passes(inter)
    assert inter.weight == 1.0
    inter.weight = Passes(other)
    assert inter.weight == 3.0


def test_overlapping_calls_leave_the_collector_as_they_found_it():
    """run_statevector pauses the collector while it builds its result; calls
    overlapping on several threads leave it as they found it, on or off, and
    another thread switching it meanwhile changes no result."""
    circuit = [(g, [q], []) for q in range(6) for g in ("h", "t")]
    expected = plain(talvo_core.run_statevector(circuit, 6))
    was = gc.isenabled()

    def calls(k):
        for _ in range(40):
            assert plain(talvo_core.run_statevector(circuit, 6)) == expected

    try:
        for start in (True, False, True):
            (gc.enable if start else gc.disable)()
            together(4, calls)
            assert gc.isenabled() is start
        stop = threading.Event()

        def switch():
            while not stop.is_set():
                gc.disable()
                gc.enable()

        switcher = threading.Thread(target=switch)
        switcher.start()
        try:
            together(3, calls)
        finally:
            stop.set()
            switcher.join()
    finally:
        (gc.enable if was else gc.disable)()


def test_run_statevector_builds_its_result_without_a_collection():
    """The collector, on before the call, runs no collection while the
    amplitudes are made, and is on again afterwards."""
    collections = []

    def note(phase, info):
        if phase == "start":
            collections.append(info["generation"])

    was = gc.isenabled()
    gc.enable()
    gc.collect()
    gc.callbacks.append(note)
    try:
        amplitudes = talvo_core.run_statevector([], 14)  # 16384 new tuples
        during = len(collections)  # before anything else is allocated
        assert during == 0 and gc.isenabled()
        gc.collect()
        assert collections == [2]  # the callback sees collections when there are some
    finally:
        gc.callbacks.remove(note)
        (gc.enable if was else gc.disable)()
    assert len(amplitudes) == 16384


@pytest.mark.skipif(FREE_THREADED, reason="an interpreter with the GIL")
def test_no_call_releases_the_gil():
    """With the GIL, no other Python thread runs while a call runs, also while
    the call polls for Ctrl-C (every few ms). The switch interval is short, so
    the other thread, which notes the time whenever it runs, asks for the GIL
    within every call, and a call that let it go at its polls would hand it
    over at each. When the call returns, the other thread gets the GIL and may
    keep it a while on a loaded machine, before the caller notes the time: so
    only the first half of each call must be free of notes. A sleep, which
    lets the GIL go, shows that notes are taken. (The collector is off
    meanwhile: finalizers it ran would be Python code, which may hand the GIL
    over.)"""
    stamps = []
    clock = time.perf_counter
    stop = threading.Event()

    def note_the_time():
        while not stop.is_set():
            stamps.append(clock())
            time.sleep(0)

    def noted(start, end):
        return sum(1 for s in stamps if start < s < end)

    q = [((i % 20, (i * 7) % 20), 0.5) for i in range(1000)]
    interval = sys.getswitchinterval()
    t = threading.Thread(target=note_the_time)
    in_calls, in_sleeps = [], []
    was = gc.isenabled()
    gc.collect()
    gc.disable()
    try:
        t.start()
        while not stamps:
            time.sleep(0.001)
        sys.setswitchinterval(0.0002)
        for _ in range(6):
            start = clock()
            talvo_core.qubo_energy_spectrum(q, 20)  # tens of ms
            end = clock()
            time.sleep(0.01)
            in_calls.append(noted(start, (start + end) / 2))
            in_sleeps.append(noted(end, clock()))
    finally:
        sys.setswitchinterval(interval)
        stop.set()
        t.join()
        (gc.enable if was else gc.disable)()
    assert max(in_calls) == 0 and min(in_sleeps) >= 1, (in_calls, in_sleeps)


# In a fresh interpreter, so that neither class exists yet: threads raising
# the module's first PanicException and first SizeViolation at once all get
# one class of each.
FIRST_ERRORS = textwrap.dedent("""
    import threading, talvo_core
    barrier, kinds = threading.Barrier(8), []
    def first(k):
        barrier.wait()
        try:
            if k % 2:
                talvo_core.simulate_qubo_runs([((0, 5), 1.0)], [0], 1, 0.0, 0)
            else:
                talvo_core.qubo_energy_spectrum([], 21)
        except BaseException as e:
            kinds.append((k % 2, id(type(e)), type(e).__name__))
    threads = [threading.Thread(target=first, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print(len(kinds), sorted(set(kinds))[0][2], sorted(set(kinds))[-1][2], len(set(kinds)))
""")


def test_first_errors_from_many_threads_share_one_class():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", FIRST_ERRORS], capture_output=True, text=True, env=env, timeout=60)
    assert out.stdout.split() == ["8", "SizeViolation", "PanicException", "2"], out.stdout + out.stderr


# Ctrl-C while worker threads run long calls: the main thread's own call ends
# with KeyboardInterrupt; the workers, whose polls see no signal, go on with
# their full results until told to stop.
CTRL_C_WITH_THREADS = textwrap.dedent("""
    import signal, threading, talvo_core
    signal.signal(signal.SIGINT, signal.default_int_handler)
    q = [((i % 17, (i * 5) % 17), 0.5 - (i % 3)) for i in range(60)]
    expected = talvo_core.qubo_energy_spectrum(q, 17)
    results, errors, started, stop = [], [], threading.Barrier(3), threading.Event()
    def worker():
        started.wait()
        try:
            while not stop.is_set():
                results.append(talvo_core.qubo_energy_spectrum(q, 17) == expected)
        except BaseException as e:
            errors.append(repr(e))
    threads = [threading.Thread(target=worker) for _ in range(2)]
    for t in threads:
        t.start()
    started.wait()
    print("ready", flush=True)
    interrupted = False
    try:
        for _ in range(100000):
            talvo_core.qubo_energy_spectrum(q, 17)
    except KeyboardInterrupt:
        interrupted = True
    stop.set()
    for t in threads:
        t.join()
    print(interrupted, len(results) > 0, all(results), errors, flush=True)
""")


@pytest.mark.skipif(os.name != "posix", reason="sends SIGINT")
def test_ctrl_c_reaches_the_main_thread_alone():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen([sys.executable, "-c", CTRL_C_WITH_THREADS], stdout=subprocess.PIPE, text=True, env=env)
    try:
        assert child.stdout.readline().strip() == "ready"
        threading.Event().wait(0.3)
        child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=120)
    finally:
        child.kill()
    assert out.split() == ["True", "True", "True", "[]"], out


@pytest.mark.skipif(not FREE_THREADED, reason="needs an interpreter built without the GIL")
def test_import_leaves_the_gil_off():
    """The module declares that it runs without the GIL: importing it neither
    turns the GIL on nor warns."""
    env = {k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}
    env["PYTHONPATH"] = os.pathsep.join(sys.path)
    code = "import sys, talvo_core; print(sys._is_gil_enabled())"
    out = subprocess.run([sys.executable, "-W", "error", "-c", code], capture_output=True, text=True, env=env,
                         timeout=60)
    assert (out.returncode, out.stdout.strip()) == (0, "False"), out.stderr


@pytest.mark.native_only  # forks after threads
@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
# The pool's worker threads exist by now; newer Pythons warn about forking a
# threaded process, which is exactly the case under test.
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
def test_forked_child_can_use_the_module():
    cases = calls()
    expected = [outcome(get, args) for _, get, args in cases]
    r, w = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            got = [outcome(get, args) for _, get, args in cases]
            os.write(w, b"ok" if got == expected else b"mismatch")
        finally:
            os._exit(0)
    os.close(w)
    # A child whose pool still waits for the parent's threads would hang.
    ready, _, _ = select.select([r], [], [], 30)
    if not ready:
        os.kill(pid, signal.SIGKILL)
    with os.fdopen(r, "rb") as f:
        answer = f.read() if ready else b"no answer within 30 s"
    os.waitpid(pid, 0)
    assert answer == b"ok"


# In a fresh interpreter: the pool's worker threads, found by name, block
# every signal (SIGINT and SIGTERM included), and starting them leaves the
# calling thread's signal mask as it was, so Ctrl-C still reaches Python.
WORKER_MASKS = textwrap.dedent("""
    import os, signal, talvo_core
    signal.pthread_sigmask(signal.SIG_SETMASK, [])  # whatever mask the parent passed on
    before = signal.pthread_sigmask(signal.SIG_BLOCK, [])
    talvo_core.simulate_qubo_runs([((0, 1), 1.0)], [1, 0], 1 << 16, 0.5, 3)  # enough work for the pool
    after = signal.pthread_sigmask(signal.SIG_BLOCK, [])
    workers = []
    for tid in os.listdir("/proc/self/task"):
        with open(f"/proc/self/task/{tid}/comm") as f:
            name = f.read().strip()
        with open(f"/proc/self/task/{tid}/status") as f:
            blocked = next(int(line.split()[1], 16) for line in f if line.startswith("SigBlk:"))
        if name == "talvo-pool":
            workers.append(blocked)
    print(before == after, len(workers), all(b >> (s - 1) & 1 for b in workers for s in (signal.SIGINT, signal.SIGTERM)))
""")


@pytest.mark.native_only  # reads the threads' own signal masks
@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc")
def test_workers_block_signals_and_the_caller_keeps_its_mask():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", WORKER_MASKS], capture_output=True, text=True, env=env, timeout=60)
    assert out.returncode == 0, out.stderr
    same_mask, workers, all_blocked = out.stdout.split()
    assert same_mask == "True" and 1 <= int(workers) <= len(os.sched_getaffinity(0)) and all_blocked == "True", out.stdout
