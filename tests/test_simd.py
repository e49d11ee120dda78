"""Instruction sets: TALVO_CORE_SIMD picks one at import, and every set the
machine offers gives the same bits as the pure-Python models."""
import functools
import math
import os
import random
import subprocess
import sys

import pytest

import models
import talvo_core
from talvo_core import sim

NAMES = ["generic", "avx2", "avx512"]
HERE = os.path.dirname(os.path.abspath(__file__))


def environment(value):
    # The child finds the same module (a development build on PYTHONPATH, say)
    # from any working directory.
    path = os.pathsep.join(os.path.abspath(p) for p in sys.path if p)
    return dict(os.environ, TALVO_CORE_SIMD=value, PYTHONPATH=path)


def import_with(value, code="import talvo_core"):
    return subprocess.run([sys.executable, "-c", code], env=environment(value), cwd=HERE, capture_output=True,
                          text=True)


@functools.lru_cache(maxsize=None)
def offered():
    return tuple(name for name in NAMES if import_with(name).returncode == 0)


def import_error(value):
    done = import_with(value)
    assert done.returncode != 0
    return done.stderr.strip().splitlines()[-1]


def test_offered_sets_start_with_generic_and_unset_means_the_best():
    sets = offered()
    assert list(sets) == NAMES[:len(sets)] and sets[0] == "generic"
    assert import_with("").returncode == 0


def test_unknown_value_fails_at_import():
    sets = ", ".join(offered())
    for value in ["sse9", "AVX2", "generic "]:
        assert import_error(value) == (
            f"ImportError: TALVO_CORE_SIMD='{value}' is not an instruction set: use generic, avx2 or avx512 "
            f"(this machine offers {sets})")


def test_unavailable_value_fails_at_import():
    sets = offered()
    missing = [name for name in NAMES if name not in sets]
    if not missing:
        pytest.skip("this machine offers every instruction set")
    for value in missing:
        assert import_error(value) == (
            f"ImportError: TALVO_CORE_SIMD='{value}' is not available on this machine, which offers {', '.join(sets)}")


def test_value_is_read_once_at_import():
    code = ("import os, talvo_core; os.environ['TALVO_CORE_SIMD'] = 'bogus'; "
            "print(talvo_core.qubo_energy_spectrum([((0, 1), 1.0)], 2)[1])")
    done = import_with("generic", code)
    assert done.returncode == 0 and done.stdout.split() == ["0.0"]


# --- the bit-for-bit comparisons, on whichever set this process runs ----------

# Ties, signed zeros, energies on halves of the 1e-9 grid, and magnitudes on
# both sides of where the vector rounding of keys hands over to the exact
# scalar rule (|E| * 1e9 = 2^51, E about 2.2518e6).
SPECIAL = [0.0, -0.0, 0.1, 0.2, 0.3, -1.0, 1e-10, 5e-10, -5e-10, 1.5e-9, -2.5e-9, 1e16, -1e16, 3.0,
           2251799.8, -2251799.8, 2251799.9, 1125899.9]
NON_FINITE = [math.inf, -math.inf, math.nan]


def weight(rng, pool):
    return rng.choice(pool) if rng.random() < 0.4 else rng.uniform(-4, 4)


def qubo_terms(rng, n, count, pool):
    return [((rng.randrange(n), rng.randrange(n)), weight(rng, pool)) for _ in range(count)]


def assert_same_spectrum(got, want):
    __tracebackhide__ = True
    assert got[0] == want[0] and models.bits_of(got[1]) == models.bits_of(want[1])
    models.assert_same_sequence(got[2], want[2], key=models.bits_of)


def test_this_set_matches_the_models():
    rng = random.Random(13)
    # Sizes on both sides of every block width (32 and 64 lanes) and of the
    # lanes of one vector; dense term lists reach every variable pair.
    for n in [1, 2, 3, 4, 5, 6, 7, 8, 11]:
        for pool, count in [(SPECIAL, 3 * n), (SPECIAL + NON_FINITE, n), (SPECIAL, n * (n + 1) // 2)]:
            if count == n * (n + 1) // 2:
                terms = [((i, j), weight(rng, pool)) for i in range(n) for j in range(i, n)]
                rng.shuffle(terms)
            else:
                terms = qubo_terms(rng, n, count, pool)
            got = talvo_core.qubo_energy_spectrum(terms, n)
            assert_same_spectrum(got, models.qubo_energy_spectrum(terms, n))

        dh = [(rng.randrange(n), weight(rng, SPECIAL)) for _ in range(rng.randrange(n + 1))]
        dj = qubo_terms(rng, n, 2 * n, SPECIAL + NON_FINITE[:1] * (n % 3 == 0))
        got = talvo_core.exact_ising_norm(dh, dj, n)
        assert models.bits_of(got) == models.bits_of(models.model_norm(dh, dj, n)), (n, dh, dj)

        names = [f"v{k}" for k in range(n)] + ["v0"] * (n % 2)
        inter = [(rng.choice(names + ["x"]), rng.choice(names), float(rng.randint(-2, 2)) or rng.uniform(-1, 1))
                 for _ in range(2 * n)]
        graph = sim.LogicalGraph([sim.Variable(v, "spin") for v in names],
                                 [sim.Interaction(i, j, w) for i, j, w in inter])
        assert sim.IsingSimulator().solve_exact(graph) == models.model_solve(names, inter), (names, inter)


def test_this_set_matches_the_models_on_larger_cases():
    rng = random.Random(17)
    # Many terms (several 64-term words of the per-block term set), and a
    # spectrum whose keys span the whole 64-bit range over enough assignments
    # to be dealt into several buckets.
    n = 9
    terms = qubo_terms(rng, n, 150, SPECIAL)
    assert_same_spectrum(talvo_core.qubo_energy_spectrum(terms, n), models.qubo_energy_spectrum(terms, n))
    n = 13
    terms = qubo_terms(rng, n, 12, SPECIAL) + [((3, 11), math.inf), ((12, 12), -math.inf), ((5, 5), 1.0)]
    assert_same_spectrum(talvo_core.qubo_energy_spectrum(terms, n), models.qubo_energy_spectrum(terms, n))
    n = 14  # several buckets whose keys differ in fewer than 32 bits
    terms = [((rng.randrange(n), rng.randrange(n)), rng.uniform(-0.5, 0.5)) for _ in range(20)]
    assert_same_spectrum(talvo_core.qubo_energy_spectrum(terms, n), models.qubo_energy_spectrum(terms, n))
    # Couplings only: a configuration and its complement have the same sum, so
    # the first lowest one lies in the lower half; small integer weights make
    # many ties across that boundary.
    for n in [6, 9, 12]:
        names = [f"v{k}" for k in range(n)]
        inter = [(rng.choice(names), rng.choice(names), float(rng.randint(-2, 2))) for _ in range(3 * n)]
        inter = [(i, j, w) for i, j, w in inter if i != j]
        graph = sim.LogicalGraph([sim.Variable(v, "spin") for v in names],
                                 [sim.Interaction(i, j, w) for i, j, w in inter])
        assert sim.IsingSimulator().solve_exact(graph) == models.model_solve(names, inter), inter
        dj = [((names.index(i), names.index(j)), w + 0.25) for i, j, w in inter]
        assert models.bits_of(talvo_core.exact_ising_norm([], dj, n)) == models.bits_of(models.model_norm([], dj, n))


def test_this_set_runs_circuits_like_the_model():
    import test_statevector as sv

    rng = random.Random(29)
    for n in [1, 2, 3, 5, 7]:
        circuit = []
        for _ in range(40):
            name = rng.choice(sv.SINGLE + sv.DOUBLE)
            if name in sv.DOUBLE and n >= 2:
                circuit.append((name, rng.sample(range(n), 2), []))
            elif name not in sv.DOUBLE:
                circuit.append((name, [rng.randrange(n)], [rng.uniform(-4, 4) for _ in range(3)]))
        sv.check(circuit, n)
    # Registers wider than one cache block, with the two-qubit gates on the
    # top qubits: the blocks are then gathered from several strides.
    n = 13
    spread = [("h", [q], []) for q in range(n)] + [("t", [q], []) for q in range(0, n, 2)]
    for a, b in [(12, 0), (1, 12), (11, 12), (12, 7)]:
        sv.check(spread + [(name, [a, b], []) for name in sv.DOUBLE] + [("u", [12], [0.5, 1.5, 2.5])], n)


def test_every_offered_set_matches_the_models():
    for value in offered():
        done = subprocess.run(
            [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", os.path.join(HERE, "test_simd.py"),
             "-k", "this_set"],
            env=environment(value), cwd=HERE, capture_output=True, text=True)
        assert done.returncode == 0, f"TALVO_CORE_SIMD={value}:\n{done.stdout[-3000:]}"
