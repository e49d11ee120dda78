"""A short seeded run of the hostile-input fuzzer (the long run is tests/fuzzing.py as a script)."""
import fuzzing


def test_hostile_inputs_never_crash_or_raise_system_error():
    stats = fuzzing.run(4000, seed=12345)
    assert stats["calls"] >= 4000
    assert stats["ok"] > 0 and stats["errors"]
