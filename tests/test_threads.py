"""Many Python threads calling the module at once get the same results as one
thread, and a child made by os.fork() can go on using the module."""
import os
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
    out = []
    for path, args in fuzzing.FUNCTIONS.items():
        fn = fuzzing._resolve(path)
        if fn is not None:
            out.append((path, fn, args))
    return out


def test_threads_get_the_same_results():
    cases = calls()
    expected = {path: repr(plain(fn(*args()))) for path, fn, args in cases}
    errors = []

    def worker(seed):
        try:
            for round_ in range(30):
                for path, fn, args in cases[seed % 3:] + cases[:seed % 3]:
                    got = repr(plain(fn(*args())))
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
    expected = [repr(plain(fn(*args()))) for _, fn, args in cases]
    r, w = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            got = [repr(plain(fn(*args()))) for _, fn, args in cases]
            os.write(w, b"ok" if got == expected else b"mismatch")
        finally:
            os._exit(0)
    os.close(w)
    with os.fdopen(r, "rb") as f:
        answer = f.read()
    os.waitpid(pid, 0)
    assert answer == b"ok"
