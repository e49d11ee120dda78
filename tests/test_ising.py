"""Ising error norm, the named-variable graph records and the exact solver."""
import math
import struct

import pytest
from hypothesis import given, settings, strategies as st

import talvo_core
from talvo.exceptions import SizeViolation
from talvo_core import sim
from models import model_norm, model_solve

Variable, Interaction, LogicalGraph = sim.Variable, sim.Interaction, sim.LogicalGraph


# --- reference models: the plain Python loops the module must reproduce -----


def bits(x):
    return struct.pack("<d", x)


def graph(names, interactions):
    return LogicalGraph([Variable(nm, "spin") for nm in names], [Interaction(i, j, w) for i, j, w in interactions])


def raises_panic(fn, message):
    with pytest.raises(BaseException) as info:
        fn()
    assert type(info.value).__name__ == "PanicException"
    assert not isinstance(info.value, Exception)
    assert str(info.value) == message


# Weights with ties, signed zeros and non-finite values mixed into ordinary floats.
weights = st.one_of(
    st.sampled_from([0.0, -0.0, 1.0, -1.0, 0.5, 2.0, math.inf, -math.inf, math.nan]),
    st.integers(-3, 3).map(float),
    st.floats(-1e6, 1e6, allow_nan=False),
    st.floats(allow_nan=True, allow_infinity=True),
)


@st.composite
def norm_inputs(draw):
    n = draw(st.integers(0, 9))
    site = st.integers(0, max(n - 1, 0))
    dh = draw(st.lists(st.tuples(site, weights), max_size=8))
    dj = draw(st.lists(st.tuples(st.tuples(site, site), weights), max_size=12))
    return dh, dj, n


@settings(max_examples=150, deadline=None)
@given(norm_inputs())
def test_norm_matches_model(args):
    dh, dj, n = args
    if n == 0:
        assert bits(talvo_core.exact_ising_norm(dh, dj, n)) == bits(0.0)
        return
    assert bits(talvo_core.exact_ising_norm(dh, dj, n)) == bits(model_norm(dh, dj, n))


def test_norm_sums_linear_terms_first_in_every_lane():
    # 1e16 swallows 1.0 unless the linear terms are added before the coupling.
    dh = [(k, 1.0) for k in range(7)]
    dj = [((0, 1), 1e16), ((2, 3), -1e16)]
    assert bits(talvo_core.exact_ising_norm(dh, dj, 7)) == bits(model_norm(dh, dj, 7))


def test_norm_examples():
    norm = talvo_core.exact_ising_norm
    assert repr(norm([], [], 5)) == repr(0.0)
    assert repr(norm([(7, 1.0)], [], 0)) == repr(0.0)
    assert norm([(0, 1.0)], [], 1) == 1.0
    assert norm([(0, 1.0), (1, 1.0)], [((0, 1), 1.0)], 2) == 3.0
    assert norm([], [((0, 0), 2.5)], 1) == 2.5
    assert repr(norm([(0, math.nan)], [], 3)) == repr(0.0)
    assert repr(norm(dh=[], dj=[], n_sites=20)) == repr(0.0)
    assert norm([(19, -1.5)], [((0, 19), 1.0)], 20) == 2.5


def test_norm_errors():
    norm = talvo_core.exact_ising_norm
    with pytest.raises(SizeViolation, match="^SizeViolation: exact_ising_norm requires n_sites <= 20$"):
        norm([(99, 1.0)], [], 21)
    raises_panic(lambda: norm([(2, 1.0)], [], 2), "index out of bounds: the len is 2 but the index is 2")
    # linear terms are checked before couplings, i before j
    raises_panic(lambda: norm([(0, 1.0), (5, 1.0)], [((4, 0), 1.0)], 3),
                 "index out of bounds: the len is 3 but the index is 5")
    raises_panic(lambda: norm([], [((1, 3), 1.0), ((4, 0), 1.0)], 2),
                 "index out of bounds: the len is 2 but the index is 3")
    # but an empty problem never looks at the indices
    assert repr(norm([], [], 2)) == repr(0.0)
    with pytest.raises(TypeError, match="unexpected keyword argument 'dJ'"):
        norm(dh=[], dJ=[], n_sites=1)


# --- solver --------------------------------------------------------------------

NAMES = ["a", "b", "c", "d", "", "a"]


@st.composite
def solver_inputs(draw):
    names = draw(st.lists(st.sampled_from(NAMES), max_size=9))
    name = st.sampled_from(NAMES + ["x"])
    inter = draw(st.lists(st.tuples(name, name, weights), max_size=10))
    return names, inter


@settings(max_examples=150, deadline=None)
@given(solver_inputs())
def test_solver_matches_model(args):
    names, inter = args
    assert sim.IsingSimulator().solve_exact(graph(names, inter)) == model_solve(names, inter)


@settings(max_examples=30, deadline=None)
@given(st.integers(5, 11), st.randoms(use_true_random=False))
def test_solver_many_ties_across_blocks(n, rnd):
    # Small integer weights give many equal energies; the first configuration must win.
    names = [f"v{k}" for k in range(n)]
    inter = [(rnd.choice(names), rnd.choice(names), float(rnd.randint(-2, 2))) for _ in range(rnd.randint(1, 8))]
    assert sim.IsingSimulator().solve_exact(graph(names, inter)) == model_solve(names, inter)


def test_solver_examples():
    solve = sim.IsingSimulator().solve_exact
    assert solve(graph(["a", "b"], [("a", "b", 1.0)])) == [1, -1]
    assert solve(graph(["a"], [("a", "a", 2.0)])) == [-1]
    assert solve(graph(["a", "b", "c"], [])) == [-1, -1, -1]
    assert solve(graph(["a", "b"], [("a", "x", 5.0), ("a", "b", 1.0)])) == [1, -1]
    assert solve(graph(["a", "a"], [("a", "a", -1.0)])) == [-1, 1]
    assert solve(LogicalGraph([], [])) == []
    assert solve(graph(["a", "b"], [("a", "b", math.nan)])) == [-1, -1]
    names = [f"v{k}" for k in range(20)]
    assert solve(graph(names, [(names[k], names[k], -1.0 if k % 3 else 1.0) for k in range(20)])) == [
        -1 if k % 3 == 0 else 1 for k in range(20)]
    with pytest.raises(SizeViolation, match="^SizeViolation: N > 20 is not supported for exact solver$"):
        solve(graph([f"v{k}" for k in range(21)], []))
    with pytest.raises(TypeError, match="^argument 'graph': 'list' object cannot be converted to 'LogicalGraph'$"):
        solve([])
    with pytest.raises(TypeError, match=r"^IsingSimulator.solve_exact\(\) missing 1 required positional argument: 'graph'$"):
        solve()


# --- records -------------------------------------------------------------------

def test_records_copy_on_read_and_write():
    v = Variable("a", "spin")
    g = LogicalGraph([v], [Interaction("a", "a", 1)])
    v.name = "changed"
    assert g.variables[0].name == "a"
    g.variables.append(Variable("z", "spin"))
    g.variables[0].name = "other"
    assert len(g.variables) == 1 and g.variables[0].name == "a"
    assert g.variables[0] is not g.variables[0]
    g.variables = g.variables + [Variable("z", "spin")]
    assert [x.name for x in g.variables] == ["a", "z"]
    inter = g.interactions
    assert inter[0].weight == 1.0 and isinstance(inter[0].weight, float)
    inter[0].weight = 5.0
    assert g.interactions[0].weight == 1.0
    lst = [Variable("p", "q")]
    g.variables = lst
    lst[0].name = "r"
    lst.append(Variable("s", "t"))
    assert [x.name for x in g.variables] == ["p"]
    g.interactions = (Interaction("p", "p", -2.0),)
    assert sim.IsingSimulator().solve_exact(g) == [1]


def test_record_attributes():
    i = Interaction(i="a", j="b", weight=True)
    i.j, i.weight = "c", 3
    assert (i.i, i.j, i.weight) == ("a", "c", 3.0)
    v = Variable("n", "d")
    v.domain = "x"
    assert (v.name, v.domain) == ("n", "x")
    assert sim.IsingSimulator.solve_exact.__text_signature__ == "($self, graph)"
    for obj, attr in [(v, "domain"), (i, "weight"), (LogicalGraph([], []), "variables")]:
        with pytest.raises(AttributeError, match="^can't delete attribute$"):
            delattr(obj, attr)


def test_record_conversion_errors():
    with pytest.raises(TypeError, match=r"^argument 'weight': must be real number, not str$"):
        Interaction("a", "b", "1")
    with pytest.raises(TypeError, match=r"^argument 'name': 'int' object cannot be converted to 'PyString'$"):
        Variable(1, "d")
    with pytest.raises(TypeError, match=r"^argument 'variables': 'Interaction' object cannot be converted to 'Variable'$"):
        LogicalGraph([Interaction("a", "b", 1.0)], [])
    with pytest.raises(TypeError, match=r"^argument 'interactions': 'Variable' object cannot be converted to 'Interaction'$"):
        LogicalGraph([], [Variable("a", "b")])
    g = LogicalGraph([Variable("a", "b")], [])
    with pytest.raises(TypeError, match=r"^argument 'variables': 'int' object cannot be converted to 'Sequence'$"):
        g.variables = 5
    with pytest.raises(TypeError, match=r"^argument 'variables': 'int' object cannot be converted to 'Variable'$"):
        g.variables = [Variable("z", "z"), 5]
    assert [x.name for x in g.variables] == ["a"]  # a failed write keeps the old value
    with pytest.raises(TypeError, match=r"^argument 'weight': "):
        Interaction("a", "b", 1.0).weight = None


def test_reentrant_conversion_meets_borrow_flags():
    inter = Interaction("a", "b", 1.0)

    class ReadsBack:
        def __float__(self):
            return inter.weight

    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        inter.weight = ReadsBack()
    assert inter.weight == 1.0

    g = LogicalGraph([Variable("a", "b")], [])

    class Seq:
        def __len__(self):
            return 1

        def __getitem__(self, k):
            if k:
                raise IndexError
            g.interactions = []  # a write while the graph is being written
            return Variable("x", "y")

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        g.variables = Seq()
    assert [x.name for x in g.variables] == ["a"]
