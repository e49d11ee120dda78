"""run_statevector and sim.QuditSimulator against a plain Python model."""
import math
import random
import struct

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import talvo_core
from models import NO_SHRINK, assert_same_sequence
from talvo.exceptions import SizeViolation

run = talvo_core.run_statevector

# --- model -------------------------------------------------------------------

R = 0.7071067811865476
SIN_QUARTER_PI = 0.7071067811865475
U64_MAX = 2**64 - 1


class Fault(Exception):
    pass


class Invalid(Exception):
    pass


def index_fault(length, index):
    raise Fault(f"index out of bounds: the len is {length} but the index is {min(index, U64_MAX)}")


def cmul(a, b):
    (p, q), (u, v) = a, b
    return (p * u - q * v, q * u + p * v)


def expi(x):
    return (math.cos(x), math.sin(x))


def param(ps, i):
    if i >= len(ps):
        index_fault(len(ps), i)
    return ps[i]


def matrix(name, ps):
    zero, one = (0.0, 0.0), (1.0, 0.0)
    table = {
        "h": ((R, 0.0), (R, 0.0), (R, 0.0), (-R, 0.0)),
        "x": (zero, one, one, zero),
        "y": (zero, (0.0, -1.0), (0.0, 1.0), zero),
        "z": (one, zero, zero, (-1.0, 0.0)),
        "s": (one, zero, zero, (0.0, 1.0)),
        "t": (one, zero, zero, (R, SIN_QUARTER_PI)),
    }
    if name in table:
        return table[name]
    if name in ("rx", "ry", "rz"):
        half = param(ps, 0) * 0.5
        c, s = math.cos(half), math.sin(half)
        return {
            "rx": ((c, 0.0), (0.0, -s), (0.0, -s), (c, 0.0)),
            "ry": ((c, 0.0), (-s, 0.0), (s, 0.0), (c, 0.0)),
            "rz": ((c, -s), zero, zero, (c, s)),
        }[name]
    if name == "u":
        theta, phi, lam = param(ps, 0), param(ps, 1), param(ps, 2)
        c, s = math.cos(theta * 0.5), math.sin(theta * 0.5)
        return ((c, 0.0), cmul((-s, -0.0), expi(lam)), cmul((s, 0.0), expi(phi)), cmul((c, 0.0), expi(phi + lam)))
    raise Invalid(f"'{name}' is not a single-qubit gate")


def model(instructions, n, zero_start=False):
    size = 1 << n
    amp = [(0.0, 0.0)] * size
    if not zero_start:
        amp[0] = (1.0, 0.0)
    for name, qs, ps in instructions:
        if not qs:
            index_fault(0, 0)
        if len(qs) == 1:
            m00, m01, m10, m11 = matrix(name, ps)
            q = qs[0]
            h = 1 << q
            for block in range(0, size, 2 * h):
                for i0 in range(block, block + h):
                    i1 = i0 | h
                    if i1 >= size:
                        index_fault(size, i1)
                    x, y = amp[i0], amp[i1]
                    a0, a1, b0, b1 = cmul(m00, x), cmul(m01, y), cmul(m10, x), cmul(m11, y)
                    amp[i0] = (a0[0] + a1[0], a0[1] + a1[1])
                    amp[i1] = (b0[0] + b1[0], b0[1] + b1[1])
            continue
        a, b = qs[0], qs[1]
        if name not in ("cx", "swap", "cz"):
            raise Invalid(f"'{name}' is not a supported two-qubit gate")
        A, B = 1 << a, 1 << b
        for i in range(size):
            if name == "cz":
                if i & A and i & B:
                    amp[i] = (-amp[i][0], -amp[i][1])
            elif i & A and not i & B:
                j = i | B if name == "cx" else (i & ~A) | B
                if j >= size:
                    index_fault(size, j)
                amp[i], amp[j] = amp[j], amp[i]
    return amp


def bits(x):
    return struct.pack("<d", x)


def outcome(fn, *args):
    """('ok', amplitude bits) or (error kind, message)."""
    try:
        result = fn(*args)
    except BaseException as e:
        if isinstance(e, Fault) or type(e).__name__ == "PanicException":
            return ("panic", str(e))
        if isinstance(e, (Invalid, ValueError)):
            return ("value", str(e))
        raise
    return ("ok", [(bits(re), bits(im)) for re, im in result])


def check(instructions, n):
    got, want = outcome(run, instructions, n), outcome(model, instructions, n)
    if got[0] == want[0] == "ok":
        assert_same_sequence(got[1], want[1])
    else:
        assert got == want


# --- strategies --------------------------------------------------------------

SINGLE = ["h", "x", "y", "z", "s", "t", "rx", "ry", "rz", "u"]
DOUBLE = ["cx", "swap", "cz"]
angles = st.one_of(
    st.sampled_from([0.0, -0.0, math.pi, -math.pi, math.pi / 2, 2 * math.pi, 1e-300]),
    st.floats(-50.0, 50.0, allow_nan=False),
)


@st.composite
def instruction(draw, n, gates=None, bad=False):
    wide = max(n, 1)
    qubit = st.integers(0, wide - 1)
    if bad:
        qubit = st.one_of(qubit, st.integers(0, wide + 2), st.sampled_from([63, 64, 70]))
    if gates is None:
        name = draw(st.sampled_from(SINGLE + DOUBLE + (["H", "cnot", "", "cx\x00"] if bad else [])))
    else:
        name = draw(st.sampled_from(gates))
    if name in DOUBLE or (bad and draw(st.integers(0, 9)) == 0):
        a = draw(qubit)
        b = draw(qubit if bad else qubit.filter(lambda q: q != a)) if wide > 1 or bad else a
        qs = [a, b] + draw(st.lists(qubit, max_size=1))
    else:
        qs = [draw(qubit)]
    if bad and draw(st.integers(0, 19)) == 0:
        qs = []
    n_params = 3 if name == "u" else 1 if name in ("rx", "ry", "rz") else 0
    if bad:
        n_params = draw(st.integers(0, 4))
    else:
        n_params += draw(st.integers(0, 1))
    return (name, qs, draw(st.lists(angles, min_size=n_params, max_size=n_params)))


@st.composite
def circuit(draw, min_n=1, max_n=8, max_gates=30, bad=False):
    n = draw(st.integers(min_n, max_n))
    return draw(st.lists(instruction(n, bad=bad), max_size=max_gates)), n


# --- tests -------------------------------------------------------------------


@settings(max_examples=150, deadline=None, phases=NO_SHRINK)
@given(circuit())
def test_random_circuits_match_model_bit_for_bit(c):
    check(*c)


@settings(max_examples=100, deadline=None)
@given(circuit(min_n=0, max_n=4, max_gates=8, bad=True))
def test_bad_instructions_fail_like_model(c):
    check(*c)


@st.composite
def wide_circuit(draw):
    # Gates spread over all qubits of a register larger than one cache block,
    # so consecutive gates are grouped, split and applied block by block.
    n = draw(st.integers(13, 14))
    low = st.integers(0, 5)
    any_qubit = st.integers(0, n - 1)
    out = []
    for _ in range(draw(st.integers(10, 30))):
        pick = draw(st.sampled_from([low, any_qubit, st.integers(n - 3, n - 1)]))
        out.append(draw(instruction(n)) if draw(st.booleans()) else
                   (draw(st.sampled_from(SINGLE[:6])), [draw(pick)], []))
    # Start from a spread-out state so every amplitude is exercised.
    return [("h", [q], []) for q in range(n)] + out, n


@settings(max_examples=6, deadline=None, phases=NO_SHRINK,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(wide_circuit())
def test_circuits_wider_than_a_block_match_model(c):
    check(*c)


def test_u_gates_on_upper_qubits_of_a_complex_state():
    # Every amplitude and both parts of every matrix entry are non-zero, on
    # qubits >= 1 of registers of 3 to 6 qubits (the kernels that do several
    # pairs at once): each real and imaginary sum has four live terms, so only
    # the stated order gives the model's bits.
    for n in range(3, 7):
        prep = [("u", [q], [0.3 + q, 1.1 + 0.5 * q, 0.2 + 0.7 * q]) for q in range(n)]
        gates = [("u", [q], [1.3 + 0.1 * q, 0.4 + 0.3 * q, 2.2 - 0.2 * q]) for q in range(1, n)]
        check(prep + gates + gates[::-1], n)


def test_known_states():
    assert repr(run([], 0)) == repr([(1.0, 0.0)])
    assert repr(run([], 2)) == repr([(1.0, 0.0), (0.0, 0.0), (0.0, 0.0), (0.0, 0.0)])
    assert repr(run([("x", [1], [])], 2)) == repr([(0.0, 0.0), (0.0, 0.0), (1.0, 0.0), (0.0, 0.0)])
    assert repr(run([("h", [0], [])], 1)) == repr([(R, 0.0), (R, 0.0)])
    assert repr(run([("h", [0], []), ("cx", [0, 1], [])], 2)) == repr([(R, 0.0), (0.0, 0.0), (0.0, 0.0), (R, 0.0)])
    (re, im), _ = run([("rz", [0], [math.pi])], 1)
    assert 0 < re < 1e-16 and im == -1.0
    # cz on a repeated qubit is z; cx with its control outside changes nothing.
    plus = [("h", [1], [])]
    assert run(plus + [("cz", [1, 1], [])], 2) == run(plus + [("z", [1], [])], 2)
    assert run(plus + [("cx", [3, 0], [])], 2) == run(plus, 2)
    assert run([("u", [0], [0.1, 0.2, 0.3, 9.0])], 1) == run([("u", [0], [0.1, 0.2, 0.3])], 1)
    # Keyword arguments and any sequence of tuples.
    assert repr(run(instructions=(("x", (0,), ()),), n_qubits=1)) == repr([(0.0, 0.0), (1.0, 0.0)])


def test_angles_follow_the_platform_maths_library():
    # Gate angles go through the same maths library as Python's math module. A
    # build that brings its own sin and cos (a compiler runtime's, say) differs
    # in the last bit for a few percent of angles, so sweep a few thousand.
    rng = random.Random(1208)
    spans = [4.0] * 1500 + [1e3] * 300 + [1e6] * 200
    for span in spans:
        gate = ("u", [0], [rng.uniform(-span, span) for _ in range(3)])
        check([gate], 1)


def test_negation_leaves_negative_zeros():
    out = run([("x", [0], []), ("x", [1], []), ("cz", [0, 1], [])], 2)
    assert [bits(v) for v in out[3]] == [bits(-1.0), bits(-0.0)]
    assert [bits(v) for v in out[0]] == [bits(0.0), bits(0.0)]


def test_u_gate_keeps_the_sign_of_an_exact_zero():
    # y turns |0> into i|1>; u(2 pi, 0, 0) then gives amplitude 0 the entry
    # -(sin(pi) + 0i) times i: its real part is an exact zero whose sign comes
    # from that entry's zero imaginary part, negated. Random angles never
    # produce it.
    circuit = [("y", [0], []), ("u", [0], [2 * math.pi, 0.0, 0.0])]
    check(circuit, 1)
    assert [bits(v) for v in run(circuit, 1)[0]] == [bits(0.0), bits(-1.2246467991473532e-16)]


def test_phase_gates_keep_signed_zeros_beyond_a_block():
    # s, z and y on registers wider than one block, where half the amplitudes
    # are exact zeros: s turns (0, 0) into (-0, 0), z into (-0, -0), y mixes
    # both; the blocked kernels must give every zero the model's sign.
    n = 13
    gates = [("h", [q], []) for q in range(0, n, 2)]
    for q in (0, 1, 6, n - 2, n - 1):
        gates += [("s", [q], []), ("z", [n - 1 - q], []), ("s", [q], []), ("y", [q], []), ("cz", [q, n - 1], [])]
    check(gates, n)


def test_non_finite_angle_spreads_nan():
    # Every amplitude the gate touches is NaN afterwards, zeros included.
    out = run([("rx", [0], [math.inf])], 2)
    assert all(math.isnan(v) for pair in out for v in pair)


# Index faults: instructions, register size, the fault's message.
INDEX_FAULTS = [
    ([("h", [0], [])], 0, "index out of bounds: the len is 1 but the index is 1"),
    ([("h", [], [])], 2, "index out of bounds: the len is 0 but the index is 0"),
    ([("rz", [0], [])], 1, "index out of bounds: the len is 0 but the index is 0"),
    ([("u", [0], [0.1, 0.2])], 1, "index out of bounds: the len is 2 but the index is 2"),
    ([("u", [5], [0.1])], 1, "index out of bounds: the len is 1 but the index is 1"),
    ([("cx", [0, 3], [])], 2, "index out of bounds: the len is 4 but the index is 9"),
    ([("swap", [1, 3], [])], 2, "index out of bounds: the len is 4 but the index is 8"),
    ([("h", [70], [])], 3, f"index out of bounds: the len is 8 but the index is {U64_MAX}"),
    ([("cx", [0, 64], [])], 3, f"index out of bounds: the len is 8 but the index is {U64_MAX}"),
]


@pytest.mark.parametrize("instructions, n, message", INDEX_FAULTS)
def test_index_faults(instructions, n, message):
    with pytest.raises(BaseException) as info:
        run(instructions, n)
    assert type(info.value).__name__ == "PanicException"
    assert not isinstance(info.value, Exception)
    assert str(info.value) == message


def test_out_of_register_gates_that_touch_nothing():
    plus = [("h", [0], []), ("h", [1], [])]
    ref = run(plus, 2)
    for gate in [("cx", [5, 0], []), ("swap", [70, 1], []), ("cx", [1, 1], []), ("cz", [0, 9], []), ("cz", [64, 0], [])]:
        assert run(plus + [gate], 2) == ref


def test_errors_come_in_list_order_and_name_checks_first():
    with pytest.raises(ValueError, match=r"^'H' is not a single-qubit gate$"):
        run([("x", [0], []), ("H", [0], []), ("h", [], [])], 1)
    with pytest.raises(ValueError, match=r"^'h' is not a supported two-qubit gate$"):
        run([("h", [0, 1], [])], 2)
    with pytest.raises(ValueError, match=r"^'cx' is not a single-qubit gate$"):
        run([("cx", [9], [])], 2)
    with pytest.raises(ValueError) as info:
        run([("a\x00é", [0], [])], 1)
    assert str(info.value) == "'a\x00é' is not a single-qubit gate"


def test_size_limit_and_conversion_errors():
    with pytest.raises(SizeViolation) as info:
        run([("bogus", [], [])], 25)
    assert info.value.args == ("SizeViolation: run_statevector requires n_qubits <= 24",)
    with pytest.raises(TypeError, match=r"^argument 'instructions': 'list' object cannot be converted to 'PyTuple'$"):
        run([["h", [0], []]], 1)
    with pytest.raises(ValueError, match="expected tuple of length 3, but got tuple of length 2"):
        run([("h", [0])], 1)
    with pytest.raises(TypeError, match=r"^argument 'n_qubits': "):
        run([], 1.0)
    with pytest.raises(OverflowError):
        run([], -1)


def test_register_the_machine_can_hold_is_not_refused():
    # 21 qubits are weighed against the machine's available memory (the state
    # and the result objects come to about 256 MiB) and fit on any test machine.
    state = talvo_core.run_statevector([("x", [20], [])], 21)
    assert len(state) == 1 << 21 and state[1 << 20] == (1.0, 0.0) and state[0] == (0.0, 0.0)


def test_qudit_simulator():
    QuditSimulator = talvo_core.sim.QuditSimulator
    sim = QuditSimulator(3, 4)
    first, second = sim.simulate(), sim.simulate()
    assert first == second == [0, 0, 0, 0] and first is not second
    assert QuditSimulator(0, 0).simulate() == []
    assert QuditSimulator(levels=2, num_sites=1).simulate() == [0]
    assert QuditSimulator.__text_signature__ == "(levels, num_sites)"
    assert QuditSimulator.simulate.__text_signature__ == "($self)"
    # 2^60 sites would need 2^63 bytes: refused before any allocation, while one
    # site fewer is only more than the machine holds.
    for sites in (2**60, 2**64 - 1):
        with pytest.raises(BaseException, match="^capacity overflow$") as e:
            QuditSimulator(2, sites).simulate()
        assert type(e.value).__name__ == "PanicException"
    with pytest.raises(MemoryError):
        QuditSimulator(2, 2**60 - 1).simulate()
    with pytest.raises(OverflowError):
        QuditSimulator(-1, 2)
    with pytest.raises(TypeError, match=r"^argument 'num_sites': "):
        QuditSimulator(1, "2")
    with pytest.raises(TypeError, match=r"^QuditSimulator.simulate\(\) takes 0 positional arguments but 1 was given$"):
        sim.simulate(1)
    for sites in (2**60, 2**64 - 1):
        with pytest.raises(BaseException) as info:
            QuditSimulator(1, sites).simulate()
        assert type(info.value).__name__ == "PanicException" and str(info.value) == "capacity overflow"
    with pytest.raises(MemoryError):
        QuditSimulator(1, 2**60 - 1).simulate()
    with pytest.raises(AttributeError):
        sim.levels
