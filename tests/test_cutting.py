"""cutting records and reconstruct_expectation against a pure-Python model."""
import os
import shutil
import struct
import subprocess
import sys
from decimal import Decimal

import pytest
from hypothesis import given, settings, strategies as st

from talvo_core import cutting
from models import model_quote, model_reconstruct

Coef, Counts, reconstruct_expectation = cutting.SampleCoefficient, cutting.SubcircuitSampleCounts, \
    cutting.reconstruct_expectation


def model_float(x):
    if x != x:
        return "NaN"
    if x in (float("inf"), float("-inf")):
        return "inf" if x > 0 else "-inf"
    text = format(Decimal(repr(x)), "f")
    return text[:-2] if text.endswith(".0") else text


def fbits(x):
    return "nan" if x != x else struct.pack("<d", x)


# Labels over characters whose printability the interpreter judges the same way.
label_text = st.text(st.sampled_from('AB"\\\'\t\r\n\0\x01\x1f\x7f\x85 é中😀\u200b\u2028x1'), max_size=4)
coefficients = st.one_of(st.floats(width=64), st.sampled_from([0.0, -0.0, 1.0, 0.5, -2.0]))


@st.composite
def cases(draw):
    labels = draw(st.lists(st.sampled_from(["A", "B", 'q"1', "é"]), min_size=1, max_size=3))
    # dense sample indices (the usual 0..N-1) or scattered ones
    index = st.integers(0, 6) if draw(st.booleans()) else st.sampled_from([0, 3, 999, 2**33, 10**12 + 7, 2**64 - 1])
    samples = draw(st.lists(index, max_size=6))
    bits = st.text(st.sampled_from("01 x\u00e91"), max_size=19)
    big = draw(st.booleans())
    records = []
    for s in sorted(set(samples)) + draw(st.lists(index, max_size=2)):
        for label in dict.fromkeys(labels + draw(st.lists(st.sampled_from(["A", "C"]), max_size=1))):
            hist = draw(st.dictionaries(bits, st.integers(0, (1 << 64) - 1 if big else 1000), max_size=6))
            records.append((s, label, hist, draw(st.integers(1 if draw(st.integers(0, 30)) else 0, 5000))))
    records = draw(st.permutations(records))
    if records and draw(st.integers(0, 9)) == 0:
        records = records[1:]
    if records and draw(st.integers(0, 9)) == 0:
        records.insert(draw(st.integers(0, len(records))), draw(st.sampled_from(records)))
    return records, [(s, draw(coefficients)) for s in samples], labels


@settings(max_examples=200, deadline=None)
@given(cases())
def test_matches_model(case):
    check(*case)


def check(records, coefs, labels):
    """The module against the model: the same value to the bit, or the same error."""
    args = ([Counts(*r) for r in records], [Coef(*c) for c in coefs], labels)
    try:
        want = model_reconstruct(records, coefs, labels)
    except ValueError as e:
        with pytest.raises(ValueError) as got:
            reconstruct_expectation(*args)
        assert got.value.args == e.args
        return
    assert fbits(reconstruct_expectation(*args)) == fbits(want)


def test_documented_reconstructions():
    hist = {"00": 60, "11": 30, "01": 10}
    a0 = Counts(0, "A", hist, 100)
    assert reconstruct_expectation([a0], [Coef(0, 0.5)], ["A"]) == 0.4
    assert reconstruct_expectation([Counts(0, "A", hist, 200)], [Coef(0, 0.5)], ["A"]) == 0.2
    odd_free = Counts(0, "A", {"1 1": 5, "x": 3, "": 2}, 10)
    assert reconstruct_expectation([odd_free], [Coef(0, 1.0)], ["A"]) == 1.0
    b0 = Counts(0, "B", {"1": 1, "0": 3}, 4)
    assert reconstruct_expectation([b0, a0], [Coef(0, 2.0)], ["A", "B"]) == 2.0 * 0.8 * 0.5
    assert reconstruct_expectation([a0], [Coef(0, 1.0)], ["A", "A"]) == 0.8 * 0.8
    zero = Counts(5, "A", {}, 0)  # never used: not reported
    assert fbits(reconstruct_expectation([a0, zero], [], ["A"])) == fbits(-0.0)
    assert reconstruct_expectation([a0, Counts(1, "A", {}, 3)], [Coef(0, 1.0), Coef(1, 1.0), Coef(0, 1.0)], ["A"]) == 1.6


def test_empty_and_many_labels():
    # The empty label is a label like any other, also as the first one seen.
    plus, minus = Counts(0, "", {"0": 3, "1": 1}, 4), Counts(0, "a", {"1": 3, "0": 1}, 4)
    for records, coefs, labels in [
        ([(0, "", {"0": 3, "1": 1}, 4), (0, "a", {"1": 3, "0": 1}, 4)], [(0, 1.0)], ["", "a"]),
        ([(0, "", {"0": 3, "1": 1}, 4)], [(0, 1.0), (0, -2.0)], [""]),
        ([(0, "a", {"0": 3, "1": 1}, 4), (0, "", {"1": 3}, 4)], [(0, 1.0)], ["", "a", ""]),
        # More labels than the sample range has room for in a dense table:
        # 100 records over 10 samples, each with a label of its own.
        ([(k % 10, f"L{k}", {"0": k + 1, "1": 7}, k + 8) for k in range(100)],
         [(0, 0.5), (0, -1.5)], ["L0", "L10", "L90"]),
        ([(k % 10, f"L{k}", {"0": k + 1, "1": 7}, k + 8) for k in range(100)] + [(3, "L3", {}, 1)],
         [(3, 2.0)], ["L3"]),
        ([(k % 10, f"L{k}", {"0": k + 1, "1": 7}, k + 8) for k in range(100)],
         [(0, 0.5), (3, 0.25), (4, 1.0)], ["L0", "L3"]),
    ]:
        check(records, coefs, labels)
    assert reconstruct_expectation([plus, minus], [Coef(0, 1.0)], ["", "a"]) == 0.5 * -0.5
    assert reconstruct_expectation([plus], [Coef(0, 2.0)], [""]) == 1.0
    with pytest.raises(ValueError, match=r'^missing SubcircuitSampleCounts for sample 0 / subcircuit ""$'):
        reconstruct_expectation([minus], [Coef(0, 1.0)], ["a", ""])


def test_long_label_lists():
    # Past about four million label steps, coefficients reach the pool one by
    # one: each term must still land in its place, and the first failure in
    # coefficient order is still the one named.
    labels = ["A"] * (2**21 + 1)  # an odd count: sample 1's product is -1.0
    plus, minus = Counts(0, "A", {"0": 1}, 1), Counts(1, "A", {"1": 1}, 1)
    assert reconstruct_expectation([plus, minus], [Coef(0, 2.0), Coef(1, 3.0), Coef(0, 5.0)], labels) == 4.0
    zero = [Counts(s, "A", {}, 0) for s in (2, 3)]
    with pytest.raises(ValueError, match=r"^SubcircuitSampleCounts for sample 3 / subcircuit \"A\" has shots == 0$"):
        reconstruct_expectation([plus] + zero, [Coef(0, 1.0), Coef(3, 1.0), Coef(2, 1.0)], labels)


def test_errors_in_order():
    a1 = Counts(1, "A", {}, 1)
    with pytest.raises(ValueError, match=r"^subcircuit_labels must not be empty$"):
        reconstruct_expectation([a1, a1], [Coef(7, 1.0)], [])
    with pytest.raises(ValueError, match=r'^duplicate SubcircuitSampleCounts for sample 1 / subcircuit "A"$'):
        reconstruct_expectation([a1, Counts(1, "Z", {}, 0), a1], [Coef(3, 1.0)], ["B"])
    with pytest.raises(ValueError, match=r'^missing SubcircuitSampleCounts for sample 3 / subcircuit "B"$'):
        reconstruct_expectation([Counts(3, "A", {}, 0), a1, Counts(1, "B", {}, 0)], [Coef(1, 1.0), Coef(3, 1.0)],
                                ["A", "B"])
    for sample in (2**64 - 1, 0, 4):
        with pytest.raises(ValueError, match=rf'^missing SubcircuitSampleCounts for sample {sample} / subcircuit "A"$'):
            reconstruct_expectation([Counts(3, "A", {}, 1), Counts(5, "A", {}, 1)], [Coef(sample, 1.0)], ["A"])
    with pytest.raises(ValueError, match=r'^SubcircuitSampleCounts for sample 2 / subcircuit "B\\"" has shots == 0$'):
        reconstruct_expectation([Counts(2, 'B"', {"1": 3}, 0)], [Coef(2, 1.0)], ['B"'])
    # a failing element on a worker leaves the pool usable
    many = [Counts(s, "A", {"0": 1}, 0 if s == 4321 else 1) for s in range(10000)]
    with pytest.raises(ValueError, match="sample 4321 .* has shots == 0"):
        reconstruct_expectation(many, [Coef(s, 1.0) for s in range(10000)], ["A"])
    assert reconstruct_expectation(many[:4000], [Coef(s, 1.0) for s in range(4000)], ["A"]) == 4000.0
    with pytest.raises(TypeError, match=r"^argument 'counts': 'SampleCoefficient' object cannot be converted to "
                                        r"'SubcircuitSampleCounts'$"):
        reconstruct_expectation([Coef(0, 1.0)], [], ["A"])
    with pytest.raises(TypeError, match=r"^argument 'subcircuit_labels': Can't extract `str` to `Vec`$"):
        reconstruct_expectation([], [], "A")
    with pytest.raises(TypeError, match=r"missing 1 required positional argument: 'subcircuit_labels'"):
        reconstruct_expectation([], [])


# Repeated calls per case; raise it (TALVO_FAILURE_REPEATS=100) for a longer run.
REPEATS = int(os.environ.get("TALVO_FAILURE_REPEATS", "10"))
N_TERMS = 1_600_000
# Zero-shot samples at the chunk and worker boundaries of the pool, for one and
# for two workers (the work is cut into 8 chunks per worker), and the first
# chunk end with a failure at the start of every later chunk.
FAILURE_PLACES = [(799_999, 800_000), (199_999, 200_000, 400_000, 600_000, 800_000, 1_000_000),
                  (99_999,) + tuple(range(100_000, N_TERMS, 100_000))]


def failing_terms(places):
    """Coefficients of sample 0 (one healthy record), except sample m + 1, whose
    record has zero shots, at the m-th place."""
    coefs = [(0, 1.0)] * N_TERMS
    for m, k in enumerate(places):
        coefs[k] = (m + 1, 1.0)
    records = [(0, "A", {"0": 1}, 1)] + [(m + 1, "A", {"1": 1}, 0) for m in range(len(places))]
    return records, coefs


def as_args(records, coefs):
    made = {}  # one object per distinct coefficient keeps the list cheap to build
    return ([Counts(*r) for r in records], [made.get(c) or made.setdefault(c, Coef(*c)) for c in coefs], ["A"])


@pytest.mark.parametrize("places", FAILURE_PLACES)
def test_first_failing_term_is_reported_every_time(places):
    records, coefs = failing_terms(places)
    with pytest.raises(ValueError) as want:
        model_reconstruct(records, coefs, ["A"])
    args = as_args(records, coefs)
    messages = set()
    for _ in range(REPEATS):
        with pytest.raises(ValueError) as got:
            reconstruct_expectation(*args)
        messages.add(str(got.value))
    assert messages == {str(want.value)}


@pytest.mark.skipif(not shutil.which("taskset"), reason="needs taskset")
def test_first_failing_term_on_one_processor():
    code = (f"import test_cutting as t\n"
            f"for places in t.FAILURE_PLACES[:2]:\n"
            f"    args = t.as_args(*t.failing_terms(places))\n"
            f"    for _ in range(t.REPEATS):\n"
            f"        try:\n"
            f"            t.reconstruct_expectation(*args)\n"
            f"        except ValueError as e:\n"
            f"            print(e)\n")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run(["taskset", "-c", "0", sys.executable, "-c", code], env=env, capture_output=True, text=True,
                         cwd=os.path.dirname(os.path.abspath(__file__)), check=True).stdout.splitlines()
    assert out == ['SubcircuitSampleCounts for sample 1 / subcircuit "A" has shots == 0'] * (2 * REPEATS)


HISTOGRAM_PROGRAM = r"""
#include "cutting/reconstruct.h"
using talvo::cutting::Histogram;
// The parity loop reads 8 bytes at a time past a bitstring's end: every
// histogram a caller can make must carry the padding, and none can be changed.
template <class H>
concept Growable = requires(H h) { h.add("1", 1); };
static_assert(!Growable<Histogram>);
int main() {
    std::vector<std::pair<std::string, std::uint64_t>> entries{{"1", 1}, {"", 2}, {"0110011", 3}};
    for (const Histogram& h : {Histogram(), Histogram(entries)}) {
        const std::size_t end = h.size() ? h.end(h.size() - 1) : 0;
        if (h.text().size() != end + 8 || h.text().substr(end) != std::string(8, '\0')) return 1;
    }
}
"""


def test_every_histogram_is_padded(tmp_path):
    compiler = next((shutil.which(c) for c in (os.environ.get("CXX"), "g++", "c++") if c and shutil.which(c)), None)
    if compiler is None:
        pytest.skip("needs a C++ compiler")
    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "src")
    (tmp_path / "h.cpp").write_text(HISTOGRAM_PROGRAM)
    subprocess.run([compiler, "-std=c++20", "-I", src, str(tmp_path / "h.cpp"), "-o", str(tmp_path / "h")], check=True)
    subprocess.run([str(tmp_path / "h")], check=True)


RECORD_ARGS = (st.integers(0, (1 << 64) - 1), st.floats(width=64), label_text, st.integers(0, (1 << 64) - 1))


@settings(max_examples=200, deadline=None)
@given(*RECORD_ARGS)
def test_records_and_reprs(index, coefficient, label, shots):
    c = Coef(index, coefficient)
    assert repr(c) == f"SampleCoefficient(sample_index={index}, coefficient={model_float(coefficient)})"
    assert c.sample_index == index and fbits(c.coefficient) == fbits(coefficient)
    r = Counts(subcircuit_label=label, counts={"01": 3, label: shots}, shots=shots, sample_index=index)
    assert repr(r) == f"SubcircuitSampleCounts(sample_index={index}, subcircuit_label={model_quote(label)}, shots={shots})"
    assert (r.subcircuit_label, r.sample_index, r.shots) == (label, index, shots)


def test_record_conventions():
    assert [repr(Coef(2, x)).split("=")[-1] for x in (1.0, -0.0, 1e-7, 0.25, -2.0, float("nan"), float("-inf"))] == [
        "1)", "-0)", "0.0000001)", "0.25)", "-2)", "NaN)", "-inf)"]
    r = Counts(0, "A", {"01": 3}, 0)
    d = r.counts
    assert d == {"01": 3} and d is not r.counts
    d["01"] = 9
    assert r.counts == {"01": 3}
    with pytest.raises(AttributeError):
        r.shots = 1
    assert cutting.__all__ == ["SubcircuitSampleCounts", "SampleCoefficient", "reconstruct_expectation"]
    assert Counts.__text_signature__ == "(sample_index, subcircuit_label, counts, shots)"
    assert Coef.__text_signature__ == "(sample_index, coefficient)"
    assert reconstruct_expectation.__text_signature__ == "(counts, coefficients, subcircuit_labels)"
    with pytest.raises(OverflowError):
        Coef(-1, 1.0)
    with pytest.raises(TypeError, match=r"^argument 'subcircuit_label': 'int' object cannot be converted to 'PyString'$"):
        Counts(0, 5, {}, 1)
    with pytest.raises(TypeError, match=r"^argument 'counts': 'list' object cannot be converted to 'PyDict'$"):
        Counts(0, "A", [], 1)
    with pytest.raises(TypeError, match=r"^argument 'counts': 'int' object cannot be converted to 'PyString'$"):
        Counts(0, "A", {1: 1}, 1)
    with pytest.raises(OverflowError):
        Counts(0, "A", {"1": -1}, 1)
    with pytest.raises(TypeError, match=r"^SubcircuitSampleCounts.__new__\(\) missing 1 required positional argument: 'shots'$"):
        Counts(0, "A", {})


@pytest.mark.skipif(__import__("unicodedata").unidata_version != "14.0.0",
                    reason="the module's table of unprintable characters is from Unicode 14.0.0")
def test_quoted_form_escapes_exactly_the_unprintable_characters():
    # Every code point but the surrogates (which a str passed in cannot hold as UTF-8).
    points = [cp for cp in range(0x110000) if not 0xD800 <= cp <= 0xDFFF]
    for k in range(0, len(points), 4096):
        label = "".join(map(chr, points[k:k + 4096]))
        r = cutting.SubcircuitSampleCounts(0, label, {}, 1)
        assert repr(r) == f"SubcircuitSampleCounts(sample_index=0, subcircuit_label={model_quote(label)}, shots=1)"
