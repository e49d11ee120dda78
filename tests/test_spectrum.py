"""qubo_energy_spectrum against the pure-Python reference loop, bit for bit."""
import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import models
import talvo_core
from talvo.exceptions import SizeViolation

spectrum = talvo_core.qubo_energy_spectrum


def assert_same(got, want):
    assert got[0] == want[0]
    assert models.bits_of(got[1]) == models.bits_of(want[1])
    models.assert_same_sequence(got[2], want[2], key=models.bits_of)


weights = st.one_of(
    st.floats(-4, 4, allow_nan=False),
    st.sampled_from([0.0, -0.0, 0.1, 0.2, 0.3, -1.0, 1e-10, 5e-10, -5e-10, 1.5e-9]),
    st.integers(-3, 3),
)


@st.composite
def qubos(draw, max_vars=9, weights=weights):
    n = draw(st.integers(1, max_vars))
    index = st.integers(0, n - 1)
    terms = draw(st.lists(st.tuples(st.tuples(index, index), weights), max_size=25))
    return terms, n


@settings(max_examples=150, deadline=None)
@given(qubos())
def test_matches_reference(case):
    terms, n = case
    assert_same(spectrum(terms, n), models.qubo_energy_spectrum(terms, n))


non_finite_weights = st.one_of(weights, st.sampled_from([math.inf, -math.inf, math.nan, 1e300, -1e300]))


@settings(max_examples=40, deadline=None)
@given(qubos(max_vars=7, weights=non_finite_weights))
def test_non_finite_weights_match_reference(case):
    terms, n = case
    assert_same(spectrum(terms, n), models.qubo_energy_spectrum(terms, n))


def test_vector_path_against_reference_at_twelve_variables():
    import random

    rng = random.Random(5)
    n = 12
    terms = [((rng.randrange(n), rng.randrange(n)), rng.choice([rng.uniform(-2, 2), -0.0, 0.1])) for _ in range(40)]
    assert_same(spectrum(terms, n), models.qubo_energy_spectrum(terms, n))
    terms.append(((3, 7), math.inf))
    assert_same(spectrum(terms, n), models.qubo_energy_spectrum(terms, n))


@pytest.mark.parametrize("extra", [[], [((2, 9), math.inf)], [((4, 4), -math.inf), ((1, 1), math.nan)]])
def test_fourteen_variables_bucketed_sort(extra):
    # 16,384 keys are more than one bucket of the key sort; an infinite weight
    # adds saturated keys far from the rest, so the finite ones crowd into one
    # slice of the whole range and are split again.
    import random

    rng = random.Random(14)
    n = 14
    terms = [((rng.randrange(n), rng.randrange(n)), rng.uniform(-3, 3)) for _ in range(30)] + extra
    assert_same(spectrum(terms, n), models.qubo_energy_spectrum(terms, n))


@pytest.mark.parametrize("low", [
    [1.0 + k / 7 for k in range(13)],  # distinct energies below, spread over a few thousand keys
    [(k % 3) * 1e-9 for k in range(13)],  # thousands of energies on a few dozen keys
    [0.0] * 13,  # all of them on one key
])
def test_one_far_weight_leaves_an_oversized_bucket(low):
    # One weight of 1e9 puts half the keys 1e18 away from the other half, so
    # the other half (8,192 keys) falls into one slice of the whole range and
    # is sorted again within its own, narrower one.
    terms = [((0, 0), 1e9)] + [((i, i), u) for i, u in enumerate(low, 1)]
    assert_same(spectrum(terms, 14), models.qubo_energy_spectrum(terms, 14))


def test_documented_examples():
    assert repr(spectrum([], 0)) == repr(([], 0.0, [0.0]))
    assert repr(spectrum([((5, 5), 1.0)], 0)) == repr(([], 0.0, [0.0]))
    assert spectrum([], 3) == ([0, 0, 0], 0.0, [0.0])
    assert spectrum([((0, 0), -1.0)], 1) == ([1], -1.0, [-1.0, 0.0])
    assert spectrum([((0, 1), 1.0), ((0, 0), -1.0), ((1, 1), -1.0)], 2) == ([1, 0], -1.0, [-1.0, 0.0])
    best, e, energies = spectrum([((0, 0), -0.1), ((0, 0), -0.2)], 1)
    assert e == -0.30000000000000004 and energies == [-0.3, 0.0]
    assert spectrum([((0, 0), math.inf)], 1) == ([0], math.inf, [0.0, 9223372036.854776])


def test_key_saturates_at_two_to_the_sixty_three():
    # 2**63 / 1e9 * 1e9 is exactly 2**63, one more than the largest key: the
    # key saturates to the largest, not to the smallest.
    for w in [2**63 / 1e9, -(2**63) / 1e9, 2**63 / 1e9 * 4, math.nextafter(2**63 / 1e9, 0)]:
        assert_same(spectrum([((0, 0), w)], 1), models.qubo_energy_spectrum([((0, 0), w)], 1))
    assert repr(spectrum([((0, 0), 2**63 / 1e9)], 1)) == repr(([0], 0.0, [0.0, 9223372036.854776]))


def test_limits_and_faults():
    with pytest.raises(SizeViolation):
        spectrum([((99, 99), 1.0)], 21)  # the size is checked before the terms
    assert spectrum([], 20)[0] == [0] * 20
    for terms, idx in [([((0, 0), 1.0), ((3, 9), 1.0)], 3), ([((1, 5), 1.0), ((7, 0), 1.0)], 5)]:
        with pytest.raises(BaseException, match=rf"^index out of bounds: the len is 3 but the index is {idx}$"):
            spectrum(terms, 3)


def test_twenty_variables_end_to_end():
    terms = [((i, (i * 7 + 3) % 20), (-1.0) ** i * (i + 1) / 8) for i in range(20)]
    best, e, energies = spectrum(terms, 20)
    assert models.bits_of(models.qubo_energy(terms, best)) == models.bits_of(e)
    assert energies == sorted(set(energies)) and energies[0] == round(e, 9)
