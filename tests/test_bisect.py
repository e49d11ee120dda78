"""stoer_wagner_bisect against a plain-Python model, with networkx as an outside check."""
import math
import struct

import networkx as nx
import pytest
from hypothesis import given, settings, strategies as st

from talvo_core import stoer_wagner_bisect


class ModelFault(Exception):
    pass


def model_bisect(edges, n):
    if n < 2:
        raise ValueError("n_nodes must be >= 2 to bisect")
    for i, j, _ in edges:
        for x in (i, j):
            if x >= n:
                raise ModelFault(f"index out of bounds: the len is {n} but the index is {x}")
    w = [[0.0] * n for _ in range(n)]
    for i, j, x in edges:
        w[i][j] += x
        w[j][i] += x
    groups = [[v] for v in range(n)]
    active = [True] * n
    best, best_side = math.inf, []
    while sum(active) >= 2:
        nodes = [v for v in range(n) if active[v]]
        a = nodes[0]
        in_a = {a}
        key = {v: w[a][v] for v in nodes if v != a}
        s = t = a
        while len(in_a) < len(nodes):
            pick, top = None, -math.inf
            for v in nodes:
                if v not in in_a and key[v] > top:
                    pick, top = v, key[v]
            if pick is None:
                raise ModelFault("a candidate remains while n_in_a < active_count")
            in_a.add(pick)
            for v in nodes:
                if v not in in_a:
                    key[v] = w[pick][v] + key[v]
            s, t = t, pick
        cut = 0.0
        for v in nodes:
            if v != t:
                cut += w[t][v]
        if cut < best:
            best, best_side = cut, list(groups[t])
        for v in nodes:
            if v not in (s, t):
                w[s][v] = w[t][v] + w[s][v]
                w[v][s] = w[v][t] + w[v][s]
        groups[s] += groups[t]
        groups[t] = []
        active[t] = False
    if not best_side:
        raise ValueError("no cut found")
    return best, best_side


def panic_class():
    try:
        stoer_wagner_bisect([(0, 5, 1.0)], 3)
    except BaseException as e:  # noqa: BLE001
        return type(e)
    raise AssertionError("an edge index beyond n_nodes must fault")


PANIC = panic_class()


def run_both(edges, n):
    try:
        want = model_bisect(edges, n)
    except (ModelFault, ValueError) as e:
        kind = PANIC if isinstance(e, ModelFault) else ValueError
        with pytest.raises(kind) as info:
            stoer_wagner_bisect(edges, n)
        assert type(info.value) is kind and str(info.value) == str(e)
        return None
    got = stoer_wagner_bisect(edges, n)
    assert struct.pack("<d", got[0]) == struct.pack("<d", want[0]) and got[1] == want[1]
    return got


def graphs(weights):
    return st.integers(2, 9).flatmap(
        lambda n: st.tuples(st.lists(st.tuples(st.integers(0, n - 1), st.integers(0, n - 1), weights),
                                     max_size=25), st.just(n)))


tie_graphs = graphs(st.sampled_from([0.0, 1.0, 2.0, 3.0]))
float_graphs = graphs(st.floats(0, 10) | st.sampled_from([-0.0, -1.5, math.inf, -math.inf, math.nan]))


@settings(max_examples=150, deadline=None)
@given(tie_graphs)
def test_ties_match_model(graph):
    edges, n = graph
    cut, side = run_both(edges, n)
    assert 0 < len(side) < n and len(set(side)) == len(side)
    # The returned side really has the returned cut weight (integer weights: exact).
    inside = set(side)
    assert cut == sum(x for i, j, x in edges if (i in inside) != (j in inside))


@settings(max_examples=100, deadline=None)
@given(float_graphs)
def test_floats_and_faults_match_model(graph):
    run_both(*graph)


@settings(max_examples=60, deadline=None)
@given(st.integers(2, 14).flatmap(lambda n: st.tuples(
    st.lists(st.tuples(st.integers(0, n - 1), st.integers(0, n - 1), st.integers(1, 9)), min_size=n, max_size=40),
    st.just(n))))
def test_cut_value_matches_networkx(graph):
    edges, n = graph
    g = nx.Graph()
    g.add_nodes_from(range(n))
    for i, j, x in edges:
        if i != j:
            g.add_edge(i, j, weight=g.get_edge_data(i, j, {"weight": 0})["weight"] + x)
    if not nx.is_connected(g):
        assert stoer_wagner_bisect([(i, j, float(x)) for i, j, x in edges], n)[0] == 0.0
        return
    assert stoer_wagner_bisect([(i, j, float(x)) for i, j, x in edges], n)[0] == nx.stoer_wagner(g)[0]


def test_examples():
    assert repr(stoer_wagner_bisect([], 2)) == repr((0.0, [1]))
    assert stoer_wagner_bisect([(0, 1, 1.0), (1, 2, 1.0)], 3) == (1.0, [2])
    assert stoer_wagner_bisect([(0, 1, 5.0), (1, 2, 1.0), (2, 3, 5.0)], 4) == (1.0, [2, 3])
    assert stoer_wagner_bisect([(0, 1, 1.0), (0, 1, 2.0), (1, 2, 10.0)], 3) == (3.0, [1, 2])
    assert stoer_wagner_bisect([(0, 1, 1.0), (0, 1, 2.0), (1, 0, 4.0), (1, 2, 10.0)], 3) == (7.0, [1, 2])
    assert stoer_wagner_bisect([(0, 1, 1.0), (1, 2, 1.0), (1, 1, -50.0)], 3) == (1.0, [2])
    assert repr(stoer_wagner_bisect([(0, 1, 1.0)], 3)) == repr((0.0, [2]))
    assert stoer_wagner_bisect(edges=((0, 1, 2),), n_nodes=True + 1) == (2.0, [1])


def test_errors():
    for n in (0, 1):
        with pytest.raises(ValueError, match="^n_nodes must be >= 2 to bisect$"):
            stoer_wagner_bisect([(0, 7, 1.0)], n)
    with pytest.raises(PANIC, match="^index out of bounds: the len is 3 but the index is 5$"):
        stoer_wagner_bisect([(0, 1, 1.0), (0, 5, 1.0)], 3)
    with pytest.raises(PANIC, match="^a candidate remains while n_in_a < active_count$"):
        stoer_wagner_bisect([(0, 1, math.nan)], 2)
    with pytest.raises(ValueError, match="^no cut found$"):
        stoer_wagner_bisect([(0, 1, math.inf)], 2)
    with pytest.raises(TypeError, match="^argument 'edges': 'list' object cannot be converted to 'PyTuple'$"):
        stoer_wagner_bisect([[0, 1, 1.0]], 2)
    with pytest.raises(ValueError, match="^expected tuple of length 3, but got tuple of length 2$"):
        stoer_wagner_bisect([(0, 1)], 2)
    with pytest.raises(OverflowError):
        stoer_wagner_bisect([(0, -1, 1.0)], 2)
    with pytest.raises(OverflowError):
        stoer_wagner_bisect([], -2)
    # A matrix that cannot be allocated is a MemoryError, not a crash.
    for n in (2**32, 2**63):
        with pytest.raises(MemoryError):
            stoer_wagner_bisect([(0, 1, 1.0)], n)
