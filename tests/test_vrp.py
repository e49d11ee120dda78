"""vrp_qubo_terms against a plain-Python model of the tour QUBO."""
import math
import struct

import pytest
from hypothesis import given, settings, strategies as st

from talvo_core import vrp_qubo_terms
from models import assert_same_sequence, model_vrp


def bits(x):
    return struct.pack("<d", x)


def same_items(got, want):
    assert_same_sequence([k for k, _ in got], [k for k, _ in want])
    assert_same_sequence([x for _, x in got], [y for _, y in want], key=lambda x: "nan" if math.isnan(x) else bits(x))


specials = st.sampled_from([0.0, -0.0, 1.0, -2.5, math.inf, -math.inf, math.nan])
weights = st.one_of(st.floats(-100, 100), specials)


MODEL_ARGS = (st.integers(0, 13).flatmap(lambda n: st.lists(st.lists(weights, min_size=n, max_size=n), min_size=n,
                                                            max_size=n)), weights, weights)


@settings(max_examples=60, deadline=None)
@given(*MODEL_ARGS)
def test_matches_model(dist, a, b):
    d = vrp_qubo_terms(dist, a, b)
    same_items(list(d.items()), model_vrp(dist, a, b))
    n = len(dist)
    assert len(d) == {0: 0, 1: 1, 2: 10}.get(n, n * n * (2 * n - 1))
    # One str object per variable, shared by every key naming it.
    seen = {}
    for key in d:
        for name in key:
            assert seen.setdefault(name, id(name)) == id(name)
    assert len(seen) == n * n


def test_small_instances():
    assert vrp_qubo_terms([], 1.0, 1.0) == {}
    assert list(vrp_qubo_terms([[7.0]], 1.5, 2.0).items()) == [(("x_0_0", "x_0_0"), -3.0)]
    a, b, d01, d10 = 1.5, 0.5, 3.0, 5.0
    pair = b * d01 + b * d10
    assert list(vrp_qubo_terms([[9.0, d01], [d10, 9.0]], a, b).items()) == [
        (("x_0_0", "x_0_0"), -2 * a), (("x_0_0", "x_0_1"), 2 * a), (("x_0_0", "x_1_0"), 2 * a),
        (("x_0_0", "x_1_1"), pair), (("x_0_1", "x_0_1"), -2 * a), (("x_0_1", "x_1_0"), pair),
        (("x_0_1", "x_1_1"), 2 * a), (("x_1_0", "x_1_0"), -2 * a), (("x_1_0", "x_1_1"), 2 * a),
        (("x_1_1", "x_1_1"), -2 * a),
    ]
    d = vrp_qubo_terms([[0.0, 2.0, 3.0], [4.0, 0.0, 0.0], [6.0, 7.0, 0.0]], 1.0, 10.0)
    assert len(d) == 45
    assert d[("x_0_2", "x_1_0")] == 20.0  # wrap-around: position 2 -> position 0
    assert d[("x_1_2", "x_2_0")] == 0.0  # a zero distance still yields its entry


def test_name_order_for_eleven_nodes():
    dist = [[float(i + j) for j in range(11)] for i in range(11)]
    d = vrp_qubo_terms(dist, 1.0, 1.0)
    keys = list(d)
    assert ("x_10_0", "x_1_0") in d and ("x_1_0", "x_10_0") not in d
    # Placed by the index of its first element (x_10_0 is variable 110): it is
    # the first key led by x_10_0 and follows the keys led by x_9_10 (109).
    pos = keys.index(("x_10_0", "x_1_0"))
    assert keys[pos - 1][0] == "x_9_10"
    index = {f"x_{i}_{t}": 11 * i + t for i in range(11) for t in range(11)}
    assert [(index[f], index[s]) for f, s in keys] == sorted((index[f], index[s]) for f, s in keys)
    assert list(vrp_qubo_terms(dist, 1.0, 1.0)) == keys


def test_errors():
    with pytest.raises(ValueError, match="^distance matrix must be square$"):
        vrp_qubo_terms([[0.0, 1.0], [1.0]], 1.0, 1.0)
    with pytest.raises(ValueError, match="^distance matrix must be square$"):
        vrp_qubo_terms([[0.0, 1.0]], 1.0, 1.0)
    # Conversion errors come first, in parameter order.
    with pytest.raises(TypeError, match="^argument 'penalty_a': "):
        vrp_qubo_terms([[0.0, 1.0]], "1", 1.0)
    with pytest.raises(TypeError, match="^argument 'dist': Can't extract `str` to `Vec`$"):
        vrp_qubo_terms(["ab"], 1.0, 1.0)
    with pytest.raises(TypeError, match=r"^vrp_qubo_terms\(\) missing 1 required positional argument: 'penalty_b'$"):
        vrp_qubo_terms([], 1.0)
    assert vrp_qubo_terms(dist=((0, 1), (1, 0)), penalty_a=1, penalty_b=True)[("x_0_0", "x_1_1")] == 2.0
