"""StackelbergSolver.solve and EquilibriumScore against a plain-Python model."""
import math
import struct

import pytest
from hypothesis import given, settings, strategies as st

import talvo_core
from talvo_core import EquilibriumScore, StackelbergSolver


def panic_class():
    """The module's PanicException, caught from a call that must fault."""
    try:
        StackelbergSolver(0.5, 1, 0.1).solve([], [], [], [], 1.0)
    except BaseException as e:  # noqa: BLE001
        return type(e)
    raise AssertionError("an empty history must fault")


PANIC = panic_class()


class ModelFault(Exception):
    pass


def clamp(x, lo, hi):
    if x < lo:
        x = lo
    if x > hi:
        x = hi
    return x


def model_solve(target, lr, conf, best, second, breaks, current):
    scores = []
    for i in range(len(conf)):
        for lst in (best, second, breaks):
            if i >= len(lst):
                raise ModelFault(f"index out of bounds: the len is {len(lst)} but the index is {i}")
        c = conf[i]
        gap = abs(second[i] - best[i])
        b = clamp(breaks[i], 0.0, 1.0)
        g = (10.0 if math.isnan(gap) else min(gap, 10.0)) / 10.0
        kappa = clamp((0.5 * c + 0.3 * g) + 0.2 * (1.0 - b), 0.0, 1.0)
        scores.append([kappa, c, gap, i])
    n = len(scores)
    if n == 0:
        raise ModelFault("index out of bounds: the len is 0 but the index is 0")
    std, top = 0.0, 0
    if n >= 2:
        total = 0.0
        for s in scores:
            total += s[0]
        mean = total / n
        sq = 0.0
        for s in scores:
            sq += (s[0] - mean) * (s[0] - mean)
        std = math.sqrt(sq / n)
        for k in range(1, n):
            a, b = scores[k][0], scores[top][0]
            if math.isnan(a) or math.isnan(b):
                raise ModelFault(None)
            if a >= b:
                top = k
    lr_eff = lr * (1.0 - clamp(std * 5.0, 0.0, 0.9))
    kappa = scores[top][0]
    rec = current if kappa >= target else current * ((1.0 - kappa) * lr_eff + 1.0)
    return rec, (kappa, scores[top][1], scores[top][2], top, std)


def fixed4(x):
    if math.isnan(x):
        return "NaN"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    return f"{x:.4f}"


def same(a, b):
    return (math.isnan(a) and math.isnan(b)) or struct.pack("<d", a) == struct.pack("<d", b)


specials = st.sampled_from([0.0, -0.0, 1.0, 10.0, -10.0, 0.5, math.nan, math.inf, -math.inf])
values = st.one_of(st.floats(-20, 20), specials)


SOLVE_ARGS = (
    st.lists(st.tuples(values, values, values, values), max_size=8),
    st.integers(0, 2),
    st.floats(-1, 2) | specials,
    st.floats(-1, 1) | specials,
    values,
)


@settings(max_examples=200, deadline=None)
@given(*SOLVE_ARGS)
def test_solve_matches_model(rows, extra, target, lr, current):
    conf = [r[0] for r in rows]
    best = [r[1] for r in rows] + [1.0] * extra
    second = [r[2] for r in rows] + [2.0] * extra
    breaks = [r[3] for r in rows] + [0.5] * extra
    solver = StackelbergSolver(target, 7, lr)
    try:
        want = model_solve(target, lr, conf, best, second, breaks, current)
    except ModelFault as fault:
        with pytest.raises(BaseException) as info:
            solver.solve(conf, best, second, breaks, current)
        assert type(info.value) is PANIC and not isinstance(info.value, Exception)
        if fault.args[0] is not None:
            assert str(info.value) == fault.args[0]
        return
    rec, score = solver.solve(conf, best, second, breaks, current)
    assert same(rec, want[0])
    kappa, c, gap, idx, std = want[1]
    assert type(score) is EquilibriumScore
    for got, exp in ((score.kappa, kappa), (score.confidence, c), (score.energy_gap, gap), (score.kappa_std, std)):
        assert same(got, exp)
    assert score.iterations == idx
    assert repr(score) == (
        f"EquilibriumScore(kappa={fixed4(kappa)}, confidence={fixed4(c)}, energy_gap={fixed4(gap)}, "
        f"kappa_std={fixed4(std)}, iterations={idx})"
    )


def test_scoring_examples():
    s = StackelbergSolver(0.9, 100, 0.5)
    # One iteration: no std, no penalty; kappa 0.7 below target.
    rec, score = s.solve([1.0], [3.0], [3.0], [0.0], 2.0)
    assert (score.kappa, score.energy_gap, score.kappa_std, score.iterations) == (0.7, 0.0, 0.0, 0)
    assert rec == 2.0 * ((1.0 - 0.7) * 0.5 + 1.0)
    # A gap of 25 saturates at 0.3 but is reported whole; kappa exactly 1.0.
    rec, score = s.solve([1.0], [0.0], [25.0], [0.0], 2.0)
    assert (score.kappa, score.energy_gap, rec) == (1.0, 25.0, 2.0)
    # The score adds its three parts left to right: 0.5 c + (0.3 g + 0.2 (1 - b)) would give 0.32.
    assert s.solve([0.1], [0.0], [3.0], [0.1], 1.0)[1].kappa == 0.32000000000000006
    # Confidence 2.0 is reported unclamped; kappa is clamped.
    _, score = s.solve([2.0], [0.0], [0.0], [1.0], 1.0)
    assert (score.kappa, score.confidence) == (1.0, 2.0)
    # Chain-break fractions are clamped to [0, 1].
    assert s.solve([0.0], [0.0], [0.0], [-0.5], 1.0)[1].kappa == 0.2
    assert s.solve([0.0], [0.0], [0.0], [1.7], 1.0)[1].kappa == 0.0
    # Equal maxima: the later one wins; extra chain-break entries are ignored.
    _, score = s.solve([0.4, 1.0, 1.0, 0.1], [0.0] * 4, [0.0] * 4, [0.0] * 6, 1.0)
    assert score.iterations == 2
    # Best kappa equal to the target: unchanged (the comparison is >=).
    assert StackelbergSolver(0.7, 1, 0.5).solve([1.0], [0.0], [0.0], [0.0], 3.5)[0] == 3.5
    # A NaN target or kappa never meets the target: the strength is scaled.
    assert StackelbergSolver(math.nan, 1, 0.5).solve([1.0], [0.0], [0.0], [0.0], 2.0)[0] == 2.0 * (0.3 * 0.5 + 1.0)
    assert math.isnan(s.solve([math.nan], [0.0], [0.0], [0.0], 2.0)[0])


def test_oscillation_penalty():
    # kappas 0.2 and 0.8: mean 0.5, population std 0.3, 5 * std clamped to 0.9.
    s = StackelbergSolver(0.95, 1, 0.5)
    rec, score = s.solve([0.4, 1.6], [0.0, 0.0], [0.0, 0.0], [1.0, 1.0], 2.0)
    assert (score.kappa, score.iterations) == (0.8, 1)
    assert abs(score.kappa_std - 0.3) < 1e-15
    assert rec == 2.0 * ((1.0 - 0.8) * (0.5 * (1.0 - 0.9)) + 1.0)


def test_faults():
    s = StackelbergSolver(0.5, 1, 0.1)
    with pytest.raises(PANIC, match=r"^index out of bounds: the len is 0 but the index is 0$"):
        s.solve([], [], [], [], 1.0)
    with pytest.raises(PANIC, match=r"^index out of bounds: the len is 1 but the index is 1$"):
        s.solve([0.5, 0.5], [0.0, 0.0], [0.0], [0.0, 0.0], 1.0)
    with pytest.raises(PANIC):
        s.solve([math.nan, 0.5], [0.0, 0.0], [0.0, 0.0], [0.0, 0.0], 1.0)
    # A single NaN iteration is never compared.
    assert math.isnan(s.solve([math.nan], [0.0], [0.0], [0.0], 1.0)[1].kappa)


def test_classes():
    s = StackelbergSolver(target_kappa=0.8, max_iterations=True, learning_rate=3)
    assert (s.target_kappa, s.max_iterations, s.learning_rate) == (0.8, 1, 3.0)
    assert StackelbergSolver.__text_signature__ == "(target_kappa, max_iterations, learning_rate)"
    assert StackelbergSolver.solve.__text_signature__ == (
        "($self, confidences, best_energies, second_best_energies, chain_break_fractions, current_chain_strength)"
    )
    assert StackelbergSolver.target_kappa.__doc__ == "Convergence target for κ."
    assert StackelbergSolver.max_iterations.__doc__ == "Maximum number of iterations before stopping."
    assert EquilibriumScore.__doc__ == "Equilibrium score for a single Stackelberg iteration."
    assert EquilibriumScore.kappa_std.__doc__ == "Standard deviation of κ across all scored iterations (0.0 if < 2)."
    assert talvo_core.__all__[:2] == ["StackelbergSolver", "EquilibriumScore"]
    with pytest.raises(TypeError, match="^No constructor defined for EquilibriumScore$"):
        EquilibriumScore()
    with pytest.raises(AttributeError):
        s.target_kappa = 1.0
    score = s.solve([1.0], [0.0], [0.0], [0.0], 1.0)[1]
    with pytest.raises(AttributeError):
        score.kappa = 0.0
    assert repr(s).startswith("<StackelbergSolver object at ")


def test_repr_rounding():
    s = StackelbergSolver(2.0, 1, 0.0)
    for conf, text in ((0.5, "0.5000"), (250, "250.0000"), (0.00005, "0.0001"), (0.00015, "0.0001"),
                       (0.12345, "0.1235"), (-0.0, "-0.0000"), (1e20, "100000000000000000000.0000"),
                       (math.inf, "inf"), (-math.inf, "-inf")):
        assert fixed4(conf) == text
        score = s.solve([conf], [0.0], [0.0], [0.0], 1.0)[1]
        assert repr(score).startswith(f"EquilibriumScore(kappa={fixed4(score.kappa)}, confidence={text}, ")
    score = s.solve([1.0] * 4, [2.0] * 4, [2.0] * 4, [0.0] * 4, 1.0)[1]
    assert repr(score) == (
        "EquilibriumScore(kappa=0.7000, confidence=1.0000, energy_gap=0.0000, kappa_std=0.0000, iterations=3)"
    )
    score = s.solve([1.0, 0.0, 0.4, 1.0], [0.0] * 4, [0.0] * 4, [0.0] * 4, 1.0)[1]
    assert repr(score) == (
        "EquilibriumScore(kappa=0.7000, confidence=1.0000, energy_gap=0.0000, kappa_std=0.2121, iterations=3)"
    )


def test_conversion_errors():
    s = StackelbergSolver(0.5, 1, 0.1)
    with pytest.raises(TypeError, match="^argument 'confidences': Can't extract `str` to `Vec`$"):
        s.solve("0.5", [], [], [], 1.0)
    with pytest.raises(TypeError, match="^argument 'best_energies': "):
        s.solve([0.5], ["x"], [0.0], [0.0], 1.0)
    with pytest.raises(OverflowError):
        StackelbergSolver(0.5, -1, 0.1)
    with pytest.raises(TypeError, match=r"^StackelbergSolver.__new__\(\) missing 1 required positional argument: "
                                        r"'learning_rate'$"):
        StackelbergSolver(0.5, 1)
    with pytest.raises(TypeError, match=r"^StackelbergSolver.solve\(\) missing 1 required positional argument: "
                                        r"'current_chain_strength'$"):
        s.solve([], [], [], [])
    # Tuples and bytes are sequences too.
    assert s.solve((1.0,), (0.0,), (0.0,), b"\x00", 1.0)[1].kappa == 0.7
    # A keyword that is not a string is refused before any name is matched.
    with pytest.raises(TypeError, match=r"^StackelbergSolver.__new__\(\) keywords must be strings$"):
        StackelbergSolver(**{1: 2})
