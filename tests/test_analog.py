"""Analog records, the photonic and neutral-atom compilers, hardware delta corrections."""
import math
import struct

import pytest
from hypothesis import given, settings, strategies as st

import talvo_core
from talvo_core import analog, sim

Variable, Interaction, LogicalGraph = sim.Variable, sim.Interaction, sim.LogicalGraph


def bits(x):
    return struct.pack("<d", x)


def all_bits(values):
    return [bits(x) for x in values]


# --- reference models ---------------------------------------------------------

def model_encoding(names, interactions):
    n = len(names)
    a = [[0.0] * n for _ in range(n)]
    p = [0.0] * n
    index = {name: k for k, name in enumerate(names)}
    for i, j, w in interactions:
        if i not in index or j not in index:
            continue
        x, y = index[i], index[j]
        if x != y:
            a[x][y] = w
            a[y][x] = w
        else:
            p[x] = math.atan(w)
    return a, p


def clamp(e):
    d = e + 1.0
    return d if d > 0.01 else 0.01


def model_coupling(couplings, errors):
    table = dict(errors)
    return [(key, j / clamp(table[key]) if key in table else j / 1.0) for key, j in couplings]


def model_detuning(detunings, offsets):
    table = dict(offsets)
    return [d - table.get(k, 0.0) for k, d in enumerate(detunings)]


def graph(names, interactions=()):
    return LogicalGraph([Variable(nm, "") for nm in names], [Interaction(i, j, w) for i, j, w in interactions])


floats = st.one_of(
    st.floats(allow_nan=True, allow_infinity=True),
    st.sampled_from([0.0, -0.0, -1.0, -0.995, -3.0, 0.25, 1.0]),
)
NAMES = ["a", "b", "c", "A", "a"]


# --- photonic -----------------------------------------------------------------

ENCODING_ARGS = (st.lists(st.sampled_from(NAMES), max_size=6),
                 st.lists(st.tuples(st.sampled_from(NAMES + ["zz"]), st.sampled_from(NAMES + ["zz"]), floats),
                          max_size=10))


@settings(max_examples=150, deadline=None)
@given(*ENCODING_ARGS)
def test_encoding_matches_model(names, inter):
    out = analog.PhotonicCompiler().build_arrazola_bromley_encoding(graph(names, inter))
    a, p = model_encoding(names, inter)
    assert [all_bits(r) for r in out.adjacency_matrix] == [all_bits(r) for r in a]
    assert all_bits(out.phases) == all_bits(p)


def test_encoding_examples():
    enc = analog.PhotonicCompiler().build_arrazola_bromley_encoding
    empty = enc(LogicalGraph([], []))
    assert empty.adjacency_matrix == [] and empty.phases == []
    out = enc(graph("abc", [("a", "b", 2.0), ("c", "c", 1.0)]))
    assert out.adjacency_matrix == [[0, 2, 0], [2, 0, 0], [0, 0, 0]]
    assert out.phases == [0.0, 0.0, math.atan(1.0)]
    out = enc(graph("ab", [("a", "b", 1.0), ("b", "a", 3.0), ("a", "q", 9.0)]))
    assert out.adjacency_matrix == [[0.0, 3.0], [3.0, 0.0]]
    out = enc(graph(["a", "a", "b"], [("a", "b", 4.0), ("a", "a", math.inf)]))
    assert out.adjacency_matrix == [[0, 0, 0], [0, 0, 4.0], [0, 4.0, 0]]
    assert out.phases == [0.0, math.pi / 2, 0.0]
    with pytest.raises(TypeError, match="^argument 'graph': 'NoneType' object cannot be converted to 'LogicalGraph'$"):
        enc(None)


def test_gbs_parameters_record():
    rec = analog.PhotonicGBSParameters([[1.0], [2, 3.0]], [])
    m = rec.adjacency_matrix
    assert m == [[1.0], [2.0, 3.0]] and rec.phases == []
    m[0].append(5.0)
    assert rec.adjacency_matrix == [[1.0], [2.0, 3.0]]
    with pytest.raises(AttributeError):
        rec.phases = [1.0]
    with pytest.raises(TypeError, match=r"^argument 'adjacency_matrix': Can't extract `str` to `Vec`$"):
        analog.PhotonicGBSParameters(["ab"], [])


# --- neutral atom ---------------------------------------------------------------

def positions(coords):
    return [(c.x, c.y) for c in coords]


def test_grid_placement():
    place = analog.NeutralAtomCompiler().map_to_spatial_geometry
    assert positions(place(graph("abcde"))) == [(0, 0), (5, 0), (10, 0), (0, 5), (5, 5)]
    assert positions(place(graph("abcd"))) == [(0, 0), (5, 0), (0, 5), (5, 5)]
    assert positions(place(graph("ab"))) == [(0, 0), (5, 0)]
    assert positions(place(graph("a"))) == [(0, 0)]
    assert place(graph("")) == []
    assert positions(place(graph([str(k) for k in range(10)])))[-2:] == [(0.0, 10.0), (5.0, 10.0)]


def test_rydberg_controls():
    comp = analog.NeutralAtomCompiler()
    out = comp.generate_rydberg_controls(graph("ab", [("a", "b", 1.0)]), [])
    assert out.omega == [1.0] * 100 and out.delta == [0.5] * 100 and out.atom_positions == []
    coords = comp.map_to_spatial_geometry(graph("abc"))
    out = comp.generate_rydberg_controls(LogicalGraph([], []), coords[::-1])
    assert positions(out.atom_positions) == [(0.0, 5.0), (5.0, 0.0), (0.0, 0.0)]
    assert out.atom_positions[0] is not out.atom_positions[0]
    rec = analog.RydbergControlParameters([1.0], [], coords)
    assert (rec.omega, rec.delta, positions(rec.atom_positions)) == ([1.0], [], positions(coords))
    rec.omega.append(2.0)
    assert rec.omega == [1.0]
    with pytest.raises(AttributeError):
        rec.omega = []
    with pytest.raises(TypeError, match="^No constructor defined for SpatialCoordinates$"):
        analog.SpatialCoordinates()
    with pytest.raises(TypeError, match="^argument 'coords': 'tuple' object cannot be converted to 'SpatialCoordinates'$"):
        comp.generate_rydberg_controls(LogicalGraph([], []), [(0.0, 0.0)])
    with pytest.raises(TypeError, match="^argument 'graph': "):
        comp.generate_rydberg_controls([], [])
    with pytest.raises(TypeError, match="^argument 'atom_positions': Can't extract `str` to `Vec`$"):
        analog.RydbergControlParameters([], [], "xy")


# --- IR records ----------------------------------------------------------------

def test_ir_records_have_no_constructor():
    for cls in (analog.ContinuousFieldIR, analog.HardwareDeltaModel):
        with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
            cls()
    assert type(analog.ContinuousFieldIR.data).__name__ == "getset_descriptor"
    assert type(analog.HardwareDeltaModel.calibration_data).__name__ == "getset_descriptor"


# --- delta corrections ----------------------------------------------------------

site = st.integers(0, 4)


COUPLING_ARGS = (st.lists(st.tuples(st.tuples(site, site), floats), max_size=8),
                 st.lists(st.tuples(st.tuples(site, site), floats), max_size=8))
DETUNING_ARGS = (st.lists(floats, max_size=8), st.lists(st.tuples(st.integers(0, 10), floats), max_size=8))


@settings(max_examples=150, deadline=None)
@given(*COUPLING_ARGS)
def test_coupling_correction_matches_model(couplings, errors):
    out = talvo_core.apply_coupling_correction(couplings, errors)
    want = model_coupling(couplings, errors)
    assert [k for k, _ in out] == [k for k, _ in want]
    assert all_bits(v for _, v in out) == all_bits(v for _, v in want)


@settings(max_examples=150, deadline=None)
@given(*DETUNING_ARGS)
def test_detuning_correction_matches_model(detunings, offsets):
    out = talvo_core.apply_detuning_correction(detunings, offsets)
    assert all_bits(out) == all_bits(model_detuning(detunings, offsets))


@settings(max_examples=150, deadline=None)
@given(floats, floats)
def test_rabi_correction_matches_model(rabi, error):
    assert bits(talvo_core.apply_rabi_correction(rabi, error)) == bits(rabi / clamp(error))


def test_correction_examples():
    rabi = talvo_core.apply_rabi_correction
    assert rabi(10.0, 0.25) == 8.0
    assert rabi(10.0, -1.0) == rabi(10.0, -3.0) == rabi(10.0, math.nan) == 10.0 / 0.01
    assert repr(rabi(rabi_frequency=1.0, global_rabi_error=math.inf)) == repr(0.0)
    coup = talvo_core.apply_coupling_correction
    assert coup([((0, 1), 2.0)], [((1, 0), 1.0)]) == [((0, 1), 2.0)]
    assert coup([((0, 1), 2.0)], [((0, 1), 1.0), ((0, 1), 0.0)]) == [((0, 1), 2.0)]
    assert coup([((0, 1), 1.0)], [((0, 1), -0.995)]) == [((0, 1), 1.0 / 0.01)]
    assert coup([((0, 1), 1.0), ((0, 1), 3.0)], [((0, 1), 1.0)]) == [((0, 1), 0.5), ((0, 1), 1.5)]
    det = talvo_core.apply_detuning_correction
    assert det([1.0, 2.0], [(1, 0.5), (7, 3.0)]) == [1.0, 1.5]
    assert det([1.0], [(0, 0.25), (0, 0.5)]) == [0.5]
    assert det([], []) == [] and coup([], []) == []
    assert det([1.0, -0.0], []) == [1.0, -0.0] and bits(det([-0.0], [])[0]) == bits(-0.0)


def test_correction_conversion_errors():
    with pytest.raises(TypeError, match=r"^argument 'couplings': 'list' object cannot be converted to 'PyTuple'$"):
        talvo_core.apply_coupling_correction([[(0, 1), 1.0]], "x")
    with pytest.raises(OverflowError):
        talvo_core.apply_detuning_correction([1.0], [(-1, 0.5)])
    with pytest.raises(TypeError, match=r"^argument 'rabi_frequency': must be real number, not str$"):
        talvo_core.apply_rabi_correction("1", "x")
