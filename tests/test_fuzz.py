"""A short seeded run of the hostile-input fuzzer (the long run is tests/fuzzing.py as a script)."""
import fuzzing


def test_every_member_is_exercised():
    # The member list comes from the module: a new function, class, method or
    # attribute without valid arguments in the fuzzer's tables fails here (and
    # in every test built on those tables).
    kinds = {kind for kind, _ in fuzzing.members()}
    assert kinds == {"function", "class", "method", "attribute"}
    assert fuzzing.coverage_gaps() == []


def test_hostile_inputs_never_crash_or_raise_system_error():
    stats = fuzzing.run(4000, seed=12345)
    assert stats["calls"] >= 4000
    assert stats["ok"] > 0 and stats["errors"]
