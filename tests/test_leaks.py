"""Arguments keep their reference counts and memory stays flat (short run; the
long run is tests/leakcheck.py as a script)."""
import os

import pytest

import leakcheck


@pytest.mark.native_only  # measures resident memory
def test_entries_keep_reference_counts_and_memory_flat():
    worst = 0
    with leakcheck.frozen_heap():
        checked = [(label, *leakcheck.check_entry(label, get_fn, args, 300)) for label, get_fn, args in leakcheck.entries()]
    for label, growth, refs_ok in checked:
        assert refs_ok, label
        worst = max(worst, growth)
    # Allocator noise only: memory the module itself kept on every call (a
    # buffer of a kernel, say) would show here. (A sanitized build keeps freed
    # memory in quarantine, so there only the reference counts are checked.)
    if not os.environ.get("TALVO_SANITIZED"):
        assert worst < 2048


def test_entries_keep_no_object():
    # Counted in the interpreter's memory blocks, a call that keeps even one
    # small object (a float of a result, an error's message) grows by a block
    # per call, which resident memory would not show over a few hundred calls.
    with leakcheck.frozen_heap():
        grown = {label: leakcheck.check_entry(label, get_fn, args, 300, "blocks")[0]
                 for label, get_fn, args in leakcheck.entries()}
    assert not {label: g for label, g in grown.items() if leakcheck.blocks_leaked(g, 300)}


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
    label, get_fn, args = next(e for e in leakcheck.entries() if e[0] == "qubo_energy_spectrum")
    with leakcheck.frozen_heap():
        leaked, _ = leakcheck.check_entry("leaky", lambda: leaky, lambda: (1, 2), calls, "blocks")
        flat, _ = leakcheck.check_entry("clean", lambda: clean, lambda: (1, 2), calls, "blocks")
        real, refs_ok = leakcheck.check_entry(label, get_fn, args, calls, "blocks")
    assert leaked >= calls and leakcheck.blocks_leaked(leaked, calls)
    assert not leakcheck.blocks_leaked(flat, calls), flat
    assert refs_ok and not leakcheck.blocks_leaked(real, calls), real
