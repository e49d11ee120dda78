import inspect
import os
import sys

import pytest
from hypothesis import HealthCheck, settings

# The calling package's exceptions module: a small stand-in lives beside the tests.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

# Timing varies on a shared machine: no per-example deadline. Under CI the
# examples are drawn from a fixed seed, so a run is repeatable.
settings.register_profile("default", deadline=None, suppress_health_check=[HealthCheck.too_slow])
settings.register_profile("ci", parent=settings.get_profile("default"), derandomize=True)
settings.load_profile("ci" if os.environ.get("CI") else "default")

# A failed == between two long lists or strings (a whole state vector, the
# repr of one) is explained by its first difference. pytest's own explanation
# diffs the two operands whole, which takes minutes at these lengths with -v
# or under CI, so a failing test would seem to hang.
LONG = 1000


def _first_difference(left, right):
    for i, (a, b) in enumerate(zip(left, right)):
        if not (a is b or a == b):
            return i
    return min(len(left), len(right))


def _short(value, width=160):
    text = repr(value)
    return text if len(text) <= width else text[:width] + "..."


def _concise_compare(full):
    signature = inspect.signature(full)

    def compare(*args, **kwargs):
        given = signature.bind(*args, **kwargs).arguments
        op, left, right = given.get("op"), given.get("left"), given.get("right")
        kinds = (list, tuple, str, bytes)
        if (op == "==" and isinstance(left, kinds) and type(left) is type(right)
                and max(len(left), len(right)) > LONG):
            i = _first_difference(left, right)
            kind = type(left).__name__
            around = slice(max(i - 2, 0), i + 3)
            return [f"{_short(left, 60)} == {_short(right, 60)}",
                    f"two {kind} objects of lengths {len(left)} and {len(right)}, first different at index {i}:",
                    f"  left[{around.start}:{around.stop}]  = {_short(left[around])}",
                    f"  right[{around.start}:{around.stop}] = {_short(right[around])}"]
        return full(*args, **kwargs)
    return compare


try:
    from _pytest.assertion import util as _assertion_util
except ImportError:  # pragma: no cover - another pytest layout: its own explanation then
    _assertion_util = None
if _assertion_util is not None and hasattr(_assertion_util, "assertrepr_compare"):
    _assertion_util.assertrepr_compare = _concise_compare(_assertion_util.assertrepr_compare)

# Under a user-mode emulator (TALVO_EMULATED names it) timing, memory use,
# thread counts and fork-after-threads are the emulator's, not the module's:
# tests that measure them carry the native_only marker and are skipped there.
EMULATED = os.environ.get("TALVO_EMULATED", "")


def pytest_configure(config):
    config.addinivalue_line("markers", "native_only: measures memory, threads or forking; "
                                       "skipped under a user-mode emulator (TALVO_EMULATED)")
    # The mutation harness leaves out native_only tests (memory use and forking
    # can fail on a loaded machine without any fault) but runs these: the
    # threads a fresh interpreter starts do not depend on the load.
    config.addinivalue_line("markers", "counts_threads: counts or names the pool's threads in a fresh "
                                       "interpreter; run by the mutation harness although native_only")


def pytest_collection_modifyitems(config, items):
    # The quick first stage runs before everything else: a fault in a kernel
    # shows within seconds, not after the slow tests of other areas.
    items.sort(key=lambda item: item.path.name != "test_quick.py")
    if not EMULATED:
        return
    skip = pytest.mark.skip(reason=f"native only: running under {EMULATED}")
    for item in items:
        if item.get_closest_marker("native_only"):
            item.add_marker(skip)
