"""Error-correction planning: patches, lookup decoder, logical failure rate,
criticality ranking, patch selection and circuit remapping."""
import struct

import pytest
from hypothesis import given, settings, strategies as st

import talvo_core
from models import NO_SHRINK, assert_same_sequence
from talvo.exceptions import SizeViolation

ecc = talvo_core.ecc


def bits(x):
    return struct.pack("<d", x)


def panic_type(excinfo):
    assert excinfo.type.__name__ == "PanicException"
    assert not issubclass(excinfo.type, Exception)


# ---------------------------------------------------------------------------
# Reference routines, written as plainly as possible.

def ref_patch(d):
    x, z = [], []
    for r in range(-1, d):
        for c in range(-1, d):
            corners = [(r, c), (r + 1, c), (r, c + 1), (r + 1, c + 1)]
            sup = [a * d + b for a, b in corners if 0 <= a < d and 0 <= b < d]
            even = (r + c) % 2 == 0
            if len(sup) == 4:
                (z if even else x).append(sup)
            elif len(sup) == 2:
                if r in (-1, d - 1):
                    if even:
                        z.append(sup)
                elif not even:
                    x.append(sup)
    return list(range(d * d)), x, z, list(range(d)), [k * d for k in range(d)]


def ref_masks(n, supports):
    if n > 26:
        raise SizeViolation("SizeViolation: lookup decoding requires n_data <= 26")
    if len(supports) > 32:
        raise SizeViolation("SizeViolation: lookup decoding requires at most 32 Z-stabilizers")
    masks = []
    for sup in supports:
        m = 0
        for q in sup:
            if q >= n:
                raise ValueError(f"stabilizer references data qubit {q} but n_data is {n}")
            m |= 1 << q
        masks.append(m)
    return masks


def syndrome(p, masks):
    return sum((bin(p & m).count("1") & 1) << j for j, m in enumerate(masks))


def ref_table(n, masks):
    slots = {}
    for e in range(1 << n):
        p = sum(1 << i for i in range(n) if (e >> (n - 1 - i)) & 1)
        s, w = syndrome(p, masks), bin(p).count("1")
        if s not in slots or slots[s][0] > w:
            slots[s] = (w, p)
    return {s: p for s, (w, p) in slots.items()}


def ref_lookup(n, supports):
    masks = ref_masks(n, supports)
    table = ref_table(n, masks)
    return [([(s >> j) & 1 for j in range(len(masks))], [(p >> i) & 1 for i in range(n)])
            for s, p in sorted(table.items())]


def powi(x, e):
    r = 1.0
    while True:
        if e & 1:
            r = r * x
        e //= 2
        if e == 0:
            return r
        x = x * x


def ref_failure_counts(n, supports, logical_z):
    masks = ref_masks(n, supports)
    table = ref_table(n, masks)
    lmask = 0
    for q in logical_z:
        if q >= n:
            raise ValueError(f"logical_z references data qubit {q} but n_data is {n}")
        lmask |= 1 << q
    fails = []  # failing patterns in increasing order
    for p in range(1 << n):
        r = p ^ table[syndrome(p, masks)]
        if bin(r & lmask).count("1") & 1:
            fails.append(p)
    return fails


def ref_failure(n, supports, logical_z, rate):
    fails = ref_failure_counts(n, supports, logical_z)
    wp = [powi(rate, k) * powi(1.0 - rate, n - k) for k in range(n + 1)]
    total = 0.0
    for p in fails:
        total += wp[bin(p).count("1")]
    return total


def ref_criticality(qubo, n):
    w = [0.0] * n
    for (i, j), x in qubo:
        if i < n and j < n:
            w[i] += abs(x)
            if i != j:
                w[j] += abs(x)
    return sorted(enumerate(w), key=lambda t: t[1], reverse=True)


def ref_select(ranked, budget, d):
    c, used, out = d * d, 0, []
    if c == 0:
        return out
    for var, _ in ranked:
        if used + c > budget:
            break
        out.append((var, d, used, used + c))
        used += c
    return out


# ---------------------------------------------------------------------------
# Surface-code patch

D3_Z = [[1, 2], [0, 3, 1, 4], [4, 7, 5, 8], [6, 7]]


def fields(p):
    return p.data_qubits, p.x_stabilizers, p.z_stabilizers, p.logical_x, p.logical_z


@pytest.mark.parametrize("d", range(0, 8))
def test_patch_matches_reference(d):
    p = ecc.build_surface_code(d)
    assert p.distance == d
    assert fields(p) == ref_patch(d)
    assert repr(p) == f"SurfaceCodePatch(distance={d}, data_qubits={d * d})"


def test_patch_default_and_counts():
    p = ecc.build_surface_code()
    assert fields(p) == ([0, 1, 2, 3, 4, 5, 6, 7, 8], [[0, 3], [1, 4, 2, 5], [3, 6, 4, 7], [5, 8]],
                         D3_Z, [0, 1, 2], [0, 3, 6])
    assert fields(ecc.build_surface_code(2)) == ([0, 1, 2, 3], [[0, 2], [1, 3]], [[0, 2, 1, 3]], [0, 1], [0, 2])
    p4, p5 = ecc.build_surface_code(distance=4), ecc.build_surface_code(5)
    assert (len(p4.x_stabilizers), len(p4.z_stabilizers)) == (8, 7)
    assert (len(p5.x_stabilizers), len(p5.z_stabilizers)) == (12, 12)


def test_patch_record_behaviour():
    p = ecc.build_surface_code()
    a = p.x_stabilizers
    a[0].append(99)
    assert p.x_stabilizers == [[0, 3], [1, 4, 2, 5], [3, 6, 4, 7], [5, 8]] and p.x_stabilizers is not a
    with pytest.raises(AttributeError):
        p.distance = 5
    with pytest.raises(TypeError, match="No constructor defined for SurfaceCodePatch"):
        ecc.SurfaceCodePatch()
    with pytest.raises(OverflowError):
        ecc.build_surface_code(-1)
    with pytest.raises(TypeError, match="^argument 'distance': "):
        ecc.build_surface_code(3.0)
    assert ecc.build_surface_code.__text_signature__ == "(distance=3)"
    assert ecc.SurfaceCodePatch.__doc__.startswith("One logical qubit encoded in a rotated surface code patch.")


# ---------------------------------------------------------------------------
# Lookup decoder and failure rate

supports_st = st.integers(0, 10).flatmap(
    lambda n: st.tuples(st.just(n), st.lists(st.lists(st.integers(0, max(n - 1, 0)), max_size=5)
                                             if n else st.just([]), max_size=12)))


@settings(max_examples=80, deadline=None)
@given(supports_st)
def test_lookup_matches_reference(case):
    n, supports = case
    assert_same_sequence(talvo_core.build_ecc_lookup_table(n, supports), ref_lookup(n, supports))


rates = st.one_of(st.floats(-2, 3), st.sampled_from([0.0, 1.0, 0.5, 1e-200, float("inf"), float("nan")]))
FAILURE_ARGS = (supports_st, st.lists(st.integers(0, 9), max_size=5), rates)


@settings(max_examples=80, deadline=None)
@given(*FAILURE_ARGS)
def test_failure_matches_reference(case, logical, rate):
    n, supports = case
    logical = [q for q in logical if q < n]
    got = talvo_core.logical_failure_probability(n, supports, logical, rate)
    assert bits(got) == bits(ref_failure(n, supports, logical, rate))


@settings(max_examples=6, deadline=None, phases=NO_SHRINK)
@given(st.integers(11, 14).flatmap(lambda n: st.tuples(
    st.just(n), st.lists(st.lists(st.integers(0, n - 1), min_size=1, max_size=6), max_size=16),
    st.lists(st.integers(0, n - 1), max_size=6))), st.floats(0, 1))
def test_wider_patterns_match_reference(case, rate):
    # Past 11 data qubits the enumeration splits patterns into low and high parts.
    n, supports, logical = case
    assert_same_sequence(talvo_core.build_ecc_lookup_table(n, supports), ref_lookup(n, supports))
    got = talvo_core.logical_failure_probability(n, supports, logical, rate)
    assert bits(got) == bits(ref_failure(n, supports, logical, rate))


def test_distance4_patch_matches_reference():
    p = ecc.build_surface_code(4)
    assert_same_sequence(talvo_core.build_ecc_lookup_table(16, p.z_stabilizers), ref_lookup(16, p.z_stabilizers))
    got = talvo_core.logical_failure_probability(16, p.z_stabilizers, p.logical_z, 0.03)
    assert bits(got) == bits(ref_failure(16, p.z_stabilizers, p.logical_z, 0.03))


def test_distance3_failure_counts_and_values():
    def by_weight(fails):
        counts = [0] * 10
        for p in fails:
            counts[bin(p).count("1")] += 1
        return counts
    assert by_weight(ref_failure_counts(9, D3_Z, [0, 3, 6])) == [0, 0, 18, 56, 57, 69, 28, 18, 9, 1]
    assert by_weight(ref_failure_counts(9, D3_Z, [0, 0])) == [0, 1, 8, 28, 56, 70, 56, 28, 8, 1]
    f = lambda p, lz=(0, 3, 6): talvo_core.logical_failure_probability(9, D3_Z, list(lz), p)
    assert (f(0.5), f(0.0), f(1.0), f(0.3, []), f(float("nan"), [])) == (0.5, 0.0, 1.0, 0.0, 0.0)
    assert f(0.01) == pytest.approx(0.00173098923438564, rel=1e-14)
    assert f(0.1) == pytest.approx(0.119694592, rel=1e-14)
    # Small rates are where an exact rate matters, and where 1 - p has the most
    # bits to lose: (0.5 - p) + 0.5 differs from it in the last bits.
    for p in (1e-5, 3e-4, 1e-3, 0.01, 0.1, 0.37, 1.5):
        assert bits(f(p)) == bits(ref_failure(9, D3_Z, [0, 3, 6], p))
        assert bits(f(p, [0, 0])) == bits(f(p, [0]))
    assert not 0.0 <= f(1.5) <= 1.0


def test_lookup_edge_tables():
    assert talvo_core.build_ecc_lookup_table(0, [[], []]) == [([0, 0], [])]
    assert talvo_core.build_ecc_lookup_table(3, []) == [([], [0, 0, 0])]
    assert talvo_core.build_ecc_lookup_table(1, [[0, 0]]) == [([0], [0]), ([1], [1])]
    assert talvo_core.build_ecc_lookup_table(2, [[]]) == [([0], [0, 0])]


def test_many_stabilizers_over_few_qubits():
    # 32 stabilizers over 4 qubits: only the reachable syndromes take room.
    supports = [[j % 4, (j * 7 + 1) % 4] for j in range(32)]
    assert_same_sequence(talvo_core.build_ecc_lookup_table(4, supports), ref_lookup(4, supports))
    assert bits(talvo_core.logical_failure_probability(4, supports, [1, 2], 0.2)) == \
        bits(ref_failure(4, supports, [1, 2], 0.2))


def test_decoder_error_order():
    lut, lfp = talvo_core.build_ecc_lookup_table, talvo_core.logical_failure_probability
    with pytest.raises(SizeViolation, match="^SizeViolation: lookup decoding requires n_data <= 26$"):
        lut(27, [[99]] * 40)
    with pytest.raises(SizeViolation, match="^SizeViolation: lookup decoding requires at most 32 Z-stabilizers$"):
        lut(9, [[99]] * 33)
    with pytest.raises(ValueError, match="^stabilizer references data qubit 9 but n_data is 9$"):
        lut(9, [[0, 9], [12]])
    with pytest.raises(SizeViolation, match="n_data <= 26"):
        lfp(27, [], [100], 0.1)
    with pytest.raises(ValueError, match="^stabilizer references data qubit 12 but"):
        lfp(9, [[0], [12]], [100], 0.1)
    with pytest.raises(ValueError, match="^logical_z references data qubit 9 but n_data is 9$"):
        lfp(9, D3_Z, [0, 9], 0.1)
    with pytest.raises(TypeError, match="^argument 'z_stabilizers': Can't extract `str` to `Vec`"):
        lut(9, "ab")
    with pytest.raises(TypeError, match="^argument 'physical_error_rate': "):
        lfp(9, D3_Z, [0], "x")
    assert lfp.__text_signature__ == "(n_data, z_stabilizers, logical_z, physical_error_rate)"


# ---------------------------------------------------------------------------
# Criticality and patch selection

qubo_st = st.lists(st.tuples(st.tuples(st.integers(0, 7), st.integers(0, 7)),
                             st.floats(allow_nan=False, width=64)), max_size=20)


@settings(max_examples=100, deadline=None)
@given(qubo_st, st.integers(0, 8))
def test_criticality_matches_reference(qubo, n):
    got = talvo_core.qubo_criticality(qubo, n)
    want = ref_criticality(qubo, n)
    assert [(i, bits(w)) for i, w in got] == [(i, bits(w)) for i, w in want]


def test_criticality_cases():
    q = talvo_core.qubo_criticality
    assert repr(q([((0, 1), -2.0), ((1, 1), 1.0), ((2, 5), 9.0)], 3)) == repr([(1, 3.0), (0, 2.0), (2, 0.0)])
    assert repr(q([((0, 1), 1.0)], 3)) == repr([(0, 1.0), (1, 1.0), (2, 0.0)])
    assert q([((0, 0), 1.0)], 0) == []
    # Ties among many variables (40 untouched ones at 0.0) keep index order.
    assert q([((3, 3), 1.0), ((44, 41), -0.5)], 45) == [(3, 1.0), (41, 0.5), (44, 0.5)] + [
        (k, 0.0) for k in range(45) if k not in (3, 41, 44)]
    r = q([((0, 0), float("nan"))], 1)
    assert r[0][0] == 0 and r[0][1] != r[0][1]
    with pytest.raises(BaseException, match="^called `Option::unwrap\\(\\)` on a `None` value$") as ei:
        q([((1, 1), float("nan"))], 2)
    panic_type(ei)


SELECT_ARGS = (st.lists(st.tuples(st.integers(0, 50), st.floats(allow_nan=False)), max_size=8),
               st.integers(0, 200), st.integers(0, 6))


@settings(max_examples=100, deadline=None)
@given(*SELECT_ARGS)
def test_select_matches_reference(ranked, budget, d):
    got = ecc.select_patches(ranked, budget, d)
    assert [(a.logical_var, a.distance, a.physical_start, a.physical_end) for a in got] == \
        ref_select(ranked, budget, d)


def test_select_cases_and_record():
    s = ecc.select_patches([(4, 9.0), (1, 5.0), (7, 1.0)], 20, 3)
    assert [repr(a) for a in s] == ["PatchAssignment(logical_var=4, distance=3, physical_qubits=0..9)",
                                    "PatchAssignment(logical_var=1, distance=3, physical_qubits=9..18)"]
    assert len(ecc.select_patches([(1, 0.0)] * 5, 27, 3)) == 3
    with pytest.raises(AttributeError):
        s[0].physical_start = 3
    with pytest.raises(TypeError, match="No constructor defined for PatchAssignment"):
        ecc.PatchAssignment()
    # Block ends past 2^64 - 1 are past the budget: the walk stops there.
    big = 2**32 - 1
    assert len(ecc.select_patches([(0, 1.0)] * 3, 2**64 - 1, big)) == 1
    with pytest.raises(BaseException, match="squared does not fit in 64 bits") as ei:
        ecc.select_patches([], 10, 2**32)
    panic_type(ei)
    with pytest.raises(TypeError, match="^argument 'ranked': "):
        ecc.select_patches([(1, "w")], 10, 3)


# ---------------------------------------------------------------------------
# Remapping

def test_remap_circuit():
    s = ecc.select_patches([(1, 9.0), (4, 5.0)], 20, 3)
    circuit = [("cx", [4, 1]), ("h", [2]), ("m", []), ("x", [9])]
    assert ecc.remap_circuit(circuit, s) == [("cx", [9, 0]), ("h", [2]), ("m", []), ("x", [9])]
    assert circuit[0] == ("cx", [4, 1])
    assert ecc.remap_circuit(circuit, []) == circuit
    twice = ecc.select_patches([(4, 0.0), (4, 0.0)], 20, 3)
    assert ecc.remap_circuit([("z", [4])], twice) == [("z", [9])]
    with pytest.raises(TypeError, match="^argument 'circuit': 'list' object cannot be converted to 'PyTuple'"):
        ecc.remap_circuit([["h", [0]]], [])
    with pytest.raises(TypeError, match="^argument 'assignments': 'int' object cannot be converted to "
                                        "'PatchAssignment'"):
        ecc.remap_circuit([], [3])


def test_member_layout():
    assert ecc.__all__ == ["SurfaceCodePatch", "build_surface_code", "PatchAssignment", "select_patches",
                           "remap_circuit"]
    assert ecc.select_patches.__module__ == "ecc"
    assert talvo_core.qubo_criticality.__text_signature__ == "(qubo, n_vars)"
