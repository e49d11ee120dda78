"""Many Python threads calling the module at once get the same results as one
thread, and a child made by os.fork() can go on using the module."""
import os
import select
import signal
import subprocess
import sys
import textwrap
import threading

import pytest

import fuzzing


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
