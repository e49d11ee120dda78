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
