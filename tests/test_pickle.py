"""Pickling and copying of every class whose instances the module creates.

An instance pickles as (talvo_core._reconstruct, (class name, state)); the
state is a tuple whose layout is fixed by STATE below, so a pickle written by
one build loads in another. The model of the state is read back through the
attributes (QuditSimulator keeps two fields it shows as no attribute)."""
import copy
import math
import pickle
import random
import struct

import pytest
from hypothesis import given, settings, strategies as st

import fuzzing
import talvo_core
from talvo_core import analog, cutting, ecc, sim

reconstruct = talvo_core._reconstruct

# The fields of each class's pickled state, in order: a class with a
# constructor keeps its constructor's arguments, one without keeps every
# attribute in the order the class shows them.
STATE = {
    "StackelbergSolver": ("target_kappa", "max_iterations", "learning_rate"),
    "EquilibriumScore": ("kappa", "confidence", "energy_gap", "iterations", "kappa_std"),
    "IsingSimulator": (),
    "LogicalGraph": ("variables", "interactions"),
    "Variable": ("name", "domain"),
    "Interaction": ("i", "j", "weight"),
    "QuditSimulator": ("levels", "num_sites"),
    "RydbergControlParameters": ("omega", "delta", "atom_positions"),
    "SpatialCoordinates": ("x", "y"),
    "NeutralAtomCompiler": (),
    "PhotonicGBSParameters": ("adjacency_matrix", "phases"),
    "PhotonicCompiler": (),
    "SurfaceCodePatch": ("distance", "data_qubits", "x_stabilizers", "z_stabilizers", "logical_x", "logical_z"),
    "PatchAssignment": ("logical_var", "distance", "physical_start", "physical_end"),
    "SubcircuitSampleCounts": ("sample_index", "subcircuit_label", "counts", "shots"),
    "SampleCoefficient": ("sample_index", "coefficient"),
}
CLASSES = {name: getattr(mod, name) for mod in (talvo_core, sim, analog, ecc, cutting)
           for name in getattr(mod, "__all__", ()) if name in STATE}
NOT_PICKLED = (analog.ContinuousFieldIR, analog.HardwareDeltaModel)  # the module creates none
WITH_REPR = {"EquilibriumScore", "SurfaceCodePatch", "PatchAssignment", "SubcircuitSampleCounts",
             "SampleCoefficient"}


def attributes(cls):
    return [k for k, v in vars(cls).items() if type(v).__name__ == "getset_descriptor"]


def bits(value):
    """A form of `value` equal to another's only when both hold the same
    values: floats by their bits (signed zeros and NaN payloads count), dict
    items in order, records by their class, every attribute and their state."""
    if isinstance(value, float):
        return "float", struct.pack("<d", value)
    if isinstance(value, (bool, int, str, type(None))):
        return type(value).__name__, value
    if isinstance(value, (list, tuple)):
        return type(value).__name__, [bits(v) for v in value]
    if isinstance(value, dict):
        return "dict", [(bits(k), bits(v)) for k, v in value.items()]
    cls = type(value)
    assert CLASSES.get(cls.__name__) is cls, cls
    fn, (name, state) = value.__reduce__()
    assert fn is reconstruct and name == cls.__name__
    return name, [bits(getattr(value, a)) for a in attributes(cls)], bits(state)


def model_state(obj, hidden=None):
    """The state the model expects: the listed fields read by their attributes."""
    name = type(obj).__name__
    if name == "QuditSimulator":
        return hidden
    return tuple(getattr(obj, f) for f in STATE[name])


# ---- instances -------------------------------------------------------------------------------

floats = st.floats() | st.sampled_from([0.0, -0.0, math.nan, -math.nan, struct.unpack("<d", bytes.fromhex(
    "0100000000f87f7f"))[0], 5e-324, -5e-324, math.inf, -math.inf])
u64 = st.integers(0, 2**64 - 1)
text = st.text(max_size=6)
small = dict(max_size=3)
variables = st.builds(sim.Variable, text, text)
interactions = st.builds(sim.Interaction, text, text, floats)
coords = st.tuples(floats, floats).map(lambda xy: reconstruct("SpatialCoordinates", xy))
finite = st.floats(-10, 10)


@st.composite
def scores(draw):
    n = draw(st.integers(1, 3))
    lists = [draw(st.lists(finite, min_size=n, max_size=n)) for _ in range(4)]
    lists[0] = [abs(c) % 1 for c in lists[0]]
    lists[3] = [abs(b) % 1 for b in lists[3]]
    solver = talvo_core.StackelbergSolver(draw(st.floats(0, 1)), 5, draw(st.floats(0, 1)))
    return solver.solve(*lists, draw(finite))[1]


INSTANCES = {
    "StackelbergSolver": st.builds(talvo_core.StackelbergSolver, floats, u64, floats),
    "EquilibriumScore": scores() | st.tuples(floats, floats, floats, u64, floats).map(
        lambda s: reconstruct("EquilibriumScore", s)),
    "IsingSimulator": st.builds(sim.IsingSimulator),
    "LogicalGraph": st.builds(sim.LogicalGraph, st.lists(variables, **small), st.lists(interactions, **small)),
    "Variable": variables,
    "Interaction": interactions,
    "QuditSimulator": st.builds(sim.QuditSimulator, u64, u64),
    "RydbergControlParameters": st.builds(analog.RydbergControlParameters, st.lists(floats, **small),
                                          st.lists(floats, **small), st.lists(coords, **small)),
    "SpatialCoordinates": coords | st.integers(0, 10).map(
        lambda n: analog.NeutralAtomCompiler().map_to_spatial_geometry(
            sim.LogicalGraph([sim.Variable(str(k), "") for k in range(n + 1)], []))[n]),
    "NeutralAtomCompiler": st.builds(analog.NeutralAtomCompiler),
    "PhotonicGBSParameters": st.builds(analog.PhotonicGBSParameters, st.lists(st.lists(floats, **small), **small),
                                       st.lists(floats, **small)),
    "PhotonicCompiler": st.builds(analog.PhotonicCompiler),
    "SurfaceCodePatch": st.integers(0, 7).map(ecc.build_surface_code),
    "PatchAssignment": st.tuples(st.lists(st.tuples(u64, finite), min_size=1, max_size=4), u64, st.integers(0, 9)).map(
        lambda a: ecc.select_patches(*a) or [reconstruct("PatchAssignment", (a[1], a[2], 0, 2**64 - 1))]).map(
        lambda found: found[-1]),
    "SubcircuitSampleCounts": st.builds(cutting.SubcircuitSampleCounts, u64, text, st.dictionaries(text, u64, **small),
                                        u64),
    "SampleCoefficient": st.builds(cutting.SampleCoefficient, u64, floats),
}

# Where a slip shows: empty and one-element lists, signed zeros, the extremes.
EDGE_CASES = [
    lambda: talvo_core.StackelbergSolver(-0.0, 2**64 - 1, -0.0),
    lambda: reconstruct("EquilibriumScore", (-0.0, 0.0, -0.0, 0, -0.0)),
    lambda: sim.LogicalGraph([], []),
    lambda: sim.LogicalGraph([sim.Variable("", "")], [sim.Interaction("", "", -0.0)]),
    lambda: sim.Variable("a\x00\u2028\U0001f600", "é"),
    lambda: sim.QuditSimulator(0, 2**64 - 1),
    lambda: analog.RydbergControlParameters([], [-0.0], [reconstruct("SpatialCoordinates", (-0.0, 0.0))]),
    lambda: analog.PhotonicGBSParameters([], []),
    lambda: analog.PhotonicGBSParameters([[]], [-0.0]),
    lambda: analog.PhotonicGBSParameters([[-0.0]], []),
    lambda: ecc.build_surface_code(0),
    lambda: ecc.build_surface_code(1),
    lambda: reconstruct("SurfaceCodePatch", (2**64 - 1, [], [[]], [], [0], [])),
    lambda: reconstruct("PatchAssignment", (2**64 - 1, 0, 5, 3)),
    lambda: cutting.SubcircuitSampleCounts(0, "", {}, 0),
    lambda: cutting.SubcircuitSampleCounts(2**64 - 1, "A", {"1": 2**64 - 1, "": 0, "0": 1}, 1),
    lambda: cutting.SampleCoefficient(0, -0.0),
]


def copies(obj):
    """Every way of copying: pickle protocols 2 to 5, copy and deepcopy."""
    for proto in range(2, pickle.HIGHEST_PROTOCOL + 1):
        yield f"pickle {proto}", pickle.loads(pickle.dumps(obj, proto))
    yield "copy", copy.copy(obj)
    yield "deepcopy", copy.deepcopy(obj)


def check_round_trips(obj):
    expected = bits(obj)
    for how, other in copies(obj):
        assert type(other) is type(obj) and other is not obj, how
        assert bits(other) == expected, how
        assert bits(obj) == expected, how  # the original is left as it was


@pytest.mark.parametrize("name", sorted(STATE))
@settings(max_examples=15)
@given(data=st.data())
def test_random_instances_round_trip(name, data):
    obj = data.draw(INSTANCES[name])
    check_round_trips(obj)
    if name == "QuditSimulator":
        return
    # The state is the model's: the listed fields, read by their attributes.
    assert bits(obj.__reduce__()[1][1]) == bits(model_state(obj))


@pytest.mark.parametrize("make", EDGE_CASES, ids=range(len(EDGE_CASES)))
def test_edge_cases_round_trip(make):
    obj = make()
    check_round_trips(obj)
    if type(obj).__name__ != "QuditSimulator":
        assert bits(obj.__reduce__()[1][1]) == bits(model_state(obj))


def test_fields_that_are_no_attributes_travel():
    q = sim.QuditSimulator(7, 3)
    assert q.__reduce__() == (reconstruct, ("QuditSimulator", (7, 3)))
    for _, other in copies(q):
        assert other.__reduce__()[1] == ("QuditSimulator", (7, 3)) and other.simulate() == [0, 0, 0]


def test_records_inside_records_travel_as_records():
    g = sim.LogicalGraph([sim.Variable("a", "spin"), sim.Variable("b", "")], [sim.Interaction("a", "b", -0.0)])
    rydberg = analog.NeutralAtomCompiler().generate_rydberg_controls(g, [reconstruct("SpatialCoordinates",
                                                                                     (-0.0, 5.0))])
    for obj in (g, rydberg):
        state = obj.__reduce__()[1][1]
        assert all(type(v).__name__ in STATE for v in state[-1])
        check_round_trips(obj)
    # A copy computes what the original computes.
    assert sim.IsingSimulator().solve_exact(copy.deepcopy(g)) == sim.IsingSimulator().solve_exact(g)


def test_copies_are_independent():
    g = sim.LogicalGraph([sim.Variable("a", "spin")], [sim.Interaction("a", "a", 1.5)])
    for how, other in copies(g):
        other.variables = [sim.Variable("z", "")]
        other.interactions = []
        assert [v.name for v in g.variables] == ["a"] and len(g.interactions) == 1, how
        g.variables = [sim.Variable("b", "x")]
        assert [v.name for v in other.variables] == ["z"], how
        g.variables = [sim.Variable("a", "spin")]
    v = sim.Variable("a", "spin")
    w = copy.copy(v)
    w.name = "b"
    assert v.name == "a"
    i = sim.Interaction("a", "b", 1.0)
    j = pickle.loads(pickle.dumps(i))
    j.weight = -0.0
    assert i.weight == 1.0


# Pickles written by this layout: they must keep loading.
WRITTEN = [
    (b"\x80\x02ctalvo_core\n_reconstruct\nq\x00X\x08\x00\x00\x00Variableq\x01X\x01\x00\x00\x00aq\x02"
     b"X\x01\x00\x00\x00bq\x03\x86q\x04\x86q\x05Rq\x06.", "Variable", {"name": "a", "domain": "b"}),
    (b"\x80\x02ctalvo_core\n_reconstruct\nq\x00X\x0f\x00\x00\x00PatchAssignmentq\x01(K\x00K\x03K\x00K\ttq\x02"
     b"\x86q\x03Rq\x04.", "PatchAssignment",
     {"logical_var": 0, "distance": 3, "physical_start": 0, "physical_end": 9}),
]


@pytest.mark.parametrize("data, name, fields", WRITTEN, ids=[w[1] for w in WRITTEN])
def test_written_pickles_load(data, name, fields):
    obj = pickle.loads(data)
    assert type(obj) is CLASSES[name]
    assert {f: getattr(obj, f) for f in fields} == fields
    assert pickle.dumps(obj, 2) == data


def test_classes_gain_no_other_member():
    for name, cls in CLASSES.items():
        dunders = {k for k in vars(cls) if k.startswith("_")}
        assert dunders == {"__doc__", "__module__", "__new__", "__reduce__"} | (
            {"__repr__"} if name in WITH_REPR else set()), name
        assert cls.__eq__ is object.__eq__ and cls.__hash__ is object.__hash__, name
        assert not hasattr(cls, "__setstate__") or cls.__setstate__ is object.__setstate__  # noqa: B009
        if cls.__text_signature__ is None:
            with pytest.raises(TypeError, match=f"^No constructor defined for {name}$"):
                cls()
    for cls in NOT_PICKLED:
        assert "__reduce__" not in vars(cls)
        with pytest.raises(ValueError, match=f"^talvo_core has no picklable class named '{cls.__name__}'$"):
            reconstruct(cls.__name__, ([],))
    assert "_reconstruct" not in talvo_core.__all__
    assert pickle.loads(pickle.dumps(reconstruct)) is reconstruct


def test_instances_keep_their_surface():
    for make in EDGE_CASES:
        obj = make()
        for _, other in copies(obj):
            assert not hasattr(other, "__dict__")
            with pytest.raises(AttributeError):
                other.not_an_attribute = 1
            if type(obj).__name__ in WITH_REPR:
                assert repr(other) == repr(obj)
            else:
                assert repr(other).startswith(f"<{type(obj).__name__} object at 0x")
            assert other != obj


# ---- tampered pickles ------------------------------------------------------------------------

class Payload:
    """Pickles as a call of the reconstructor with any class name and state."""

    def __init__(self, name, state):
        self.name, self.state = name, state

    def __reduce__(self):
        return reconstruct, (self.name, self.state)


def tampered(name, state, proto=pickle.HIGHEST_PROTOCOL):
    return pickle.dumps(Payload(name, state), proto)


MILLION = 10**6

TAMPERED = [
    ("Foo", (), ValueError, "talvo_core has no picklable class named 'Foo'"),
    ("", (), ValueError, "talvo_core has no picklable class named ''"),
    ("variable", ("a", "b"), ValueError, "talvo_core has no picklable class named 'variable'"),
    (None, (), TypeError, "argument 'name': 'NoneType' object cannot be converted to 'PyString'"),
    (b"Variable", (), TypeError, "argument 'name': 'bytes' object cannot be converted to 'PyString'"),
    ("Variable", None, TypeError, "'NoneType' object cannot be converted to 'PyTuple'"),
    ("Variable", ["a", "b"], TypeError, "'list' object cannot be converted to 'PyTuple'"),
    ("Variable", "ab", TypeError, "'str' object cannot be converted to 'PyTuple'"),
    ("Variable", ("a",), TypeError, "Variable.__new__() missing 1 required positional argument: 'domain'"),
    ("Variable", ("a", "b", "c"), TypeError, "Variable.__new__() takes 2 positional arguments but 3 were given"),
    ("Variable", ("a", 5), TypeError, "argument 'domain': 'int' object cannot be converted to 'PyString'"),
    ("IsingSimulator", (1,), TypeError, "IsingSimulator.__new__() takes 0 positional arguments but 1 was given"),
    ("StackelbergSolver", (), TypeError, "StackelbergSolver.__new__() missing 3 required positional arguments: "
                                         "'target_kappa', 'max_iterations', and 'learning_rate'"),
    ("QuditSimulator", (-1, 2), OverflowError, None),
    ("QuditSimulator", (2, 2**64), OverflowError, None),
    ("SampleCoefficient", (math.nan, 1.0), TypeError,
     "argument 'sample_index': 'float' object cannot be interpreted as an integer"),
    ("SampleCoefficient", (0, "1.0"), TypeError, "argument 'coefficient': must be real number, not str"),
    ("PatchAssignment", (0, 3, 0), ValueError, "expected tuple of length 4, but got tuple of length 3"),
    ("PatchAssignment", (0, 3, 0, 9, 9), ValueError, "expected tuple of length 4, but got tuple of length 5"),
    ("PatchAssignment", [0, 3, 0, 9], TypeError, "'list' object cannot be converted to 'PyTuple'"),
    ("PatchAssignment", (0, 3, 0, -1), OverflowError, None),
    ("PatchAssignment", (0, 3, 2**70, 9), OverflowError, None),
    ("PatchAssignment", (0, None, 0, "9"), TypeError,
     "argument 'distance': 'NoneType' object cannot be interpreted as an integer"),
    ("EquilibriumScore", (None,) * 5, TypeError, "argument 'kappa': must be real number, not NoneType"),
    ("EquilibriumScore", (0.5,) * 3 + (math.inf, 0.5), TypeError,
     "argument 'iterations': 'float' object cannot be interpreted as an integer"),
    ("SpatialCoordinates", (1.0, 2**1024), OverflowError, "int too large to convert to float"),
    ("SpatialCoordinates", ((1.0,), 2.0), TypeError, "argument 'x': must be real number, not tuple"),
    ("SurfaceCodePatch", (3, list(range(MILLION)) + [None], [], [], [], []), TypeError,
     "argument 'data_qubits': 'NoneType' object cannot be interpreted as an integer"),
    ("SurfaceCodePatch", (3, [], [[[0]]], [], [], []), TypeError,
     "argument 'x_stabilizers': 'list' object cannot be interpreted as an integer"),
    ("SurfaceCodePatch", (3, [], [], [], [], {"a": 1}), TypeError,
     "argument 'logical_z': 'dict' object cannot be converted to 'Sequence'"),
    ("LogicalGraph", ([None] * MILLION, []), TypeError,
     "argument 'variables': 'NoneType' object cannot be converted to 'Variable'"),
    ("LogicalGraph", ([], [Payload("Variable", ("a", "b"))]), TypeError,
     "argument 'interactions': 'Variable' object cannot be converted to 'Interaction'"),
    ("LogicalGraph", ([Payload("Variable", ("a", "b")), Payload("Variable", ("a", math.nan))], []), TypeError,
     "argument 'domain': 'float' object cannot be converted to 'PyString'"),
    ("RydbergControlParameters", ([], [], [(1.0, 2.0)]), TypeError,
     "argument 'atom_positions': 'tuple' object cannot be converted to 'SpatialCoordinates'"),
    ("SubcircuitSampleCounts", (0, "A", {"01": -1}, 4), OverflowError, None),
    ("SubcircuitSampleCounts", (0, "A", [("01", 1)], 4), TypeError,
     "argument 'counts': 'list' object cannot be converted to 'PyDict'"),
    ("SubcircuitSampleCounts", (0, "A", {1: 1}, 4), TypeError,
     "argument 'counts': 'int' object cannot be converted to 'PyString'"),
]


@pytest.mark.parametrize("name, state, exc, message", TAMPERED, ids=range(len(TAMPERED)))
def test_tampered_state_is_an_ordinary_error(name, state, exc, message):
    for proto in (2, pickle.HIGHEST_PROTOCOL):
        with pytest.raises(exc) as info:
            pickle.loads(tampered(name, state, proto))
        assert type(info.value) is exc
        if message is not None:
            assert str(info.value) == message


def test_a_valid_state_of_a_million_items_loads():
    patch = pickle.loads(tampered("SurfaceCodePatch", (3, list(range(MILLION)), [], [], [], [])))
    assert len(patch.data_qubits) == MILLION and repr(patch) == f"SurfaceCodePatch(distance=3, data_qubits={MILLION})"


def valid_reductions():
    return [make().__reduce__()[1] for make in EDGE_CASES + list(fuzzing.PICKLED.values())]


ORDINARY = (TypeError, ValueError, OverflowError, pickle.UnpicklingError)
# What the fuzzer's conversion hooks raise themselves, passed through unchanged.
HOOKS = (ArithmeticError, KeyError)


def test_fuzzed_states_raise_ordinary_errors_or_make_whole_instances():
    rng = random.Random(2024)
    reductions = valid_reductions()
    made = failed = 0
    for _ in range(1500):
        name, state = rng.choice(reductions)
        if rng.random() < 0.05:
            name = rng.choice(list(STATE) + ["ContinuousFieldIR", None, 3, "x" * 1000])
        bad = fuzzing.mutate(rng, state)
        try:
            obj = reconstruct(name, bad)
        except ORDINARY + HOOKS:
            failed += 1
            continue
        # Whatever loads is whole: it carries its class's state and travels again.
        made += 1
        assert type(obj).__name__ == name
        check_round_trips(obj)
    assert made > 50 and failed > 500
