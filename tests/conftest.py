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
