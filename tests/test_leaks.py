"""Arguments keep their reference counts and memory stays flat (short run; the
long run is tests/leakcheck.py as a script)."""
import os

import pytest

import leakcheck


@pytest.mark.native_only  # measures resident memory
def test_entries_keep_reference_counts_and_memory_flat():
    worst = 0
    for label, get_fn, args in leakcheck.entries():
        growth, refs_ok = leakcheck.check_entry(label, get_fn, args, 300)
        assert refs_ok, label
        worst = max(worst, growth)
    # Allocator noise only: a leak of even one small object per call would
    # show as hundreds of KiB here. (A sanitized build keeps freed memory in
    # quarantine, so there only the reference counts are checked.)
    if not os.environ.get("TALVO_SANITIZED"):
        assert worst < 2048


def test_allocated_blocks_measure_flags_a_kept_object_per_call():
    # The measure of the debug-build leak check (leakcheck.py --blocks): a
    # stand-in entry that keeps one small object per call must count as a leak,
    # a real entry and a stand-in that keeps nothing must not.
    kept = []
    calls = 200

    def leaky(*args):
        kept.append([args])

    def clean(*args):
        return [args]

    assert leakcheck.blocks_leaked(calls // 2, calls) and not leakcheck.blocks_leaked(calls // 2 - 1, calls)
    assert not leakcheck.blocks_leaked(63, 10)
    growth, _ = leakcheck.check_entry("leaky", lambda: leaky, lambda: (1, 2), calls, "blocks")
    assert growth >= calls and leakcheck.blocks_leaked(growth, calls)
    growth, _ = leakcheck.check_entry("clean", lambda: clean, lambda: (1, 2), calls, "blocks")
    assert not leakcheck.blocks_leaked(growth, calls), growth
    label, get_fn, args = next(e for e in leakcheck.entries() if e[0] == "qubo_energy_spectrum")
    growth, refs_ok = leakcheck.check_entry(label, get_fn, args, calls, "blocks")
    assert refs_ok and not leakcheck.blocks_leaked(growth, calls), growth
