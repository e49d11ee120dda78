"""Compact pure-Python models of the reference routines, and bit-level helpers."""
import math
import struct

from hypothesis import Phase

# For property tests whose model is slow: a failing example is reported as soon
# as it is found (it is printed either way) rather than after minutes of
# shrinking, every step of which reruns the model.
NO_SHRINK = (Phase.explicit, Phase.reuse, Phase.generate)


def bits_of(x):
    """The exact bit pattern of a float, so -0.0 != 0.0 and NaN == NaN."""
    return struct.pack("<d", x)


def qubo_energy(qubo, x, start=0.0):
    e = start
    for (i, j), w in qubo:
        e += (float(x[i]) * w) * float(x[j])
    return e


def energy_key(e):
    s = e * 1e9
    if math.isnan(s):
        return 0
    if math.isinf(s):
        return 2**63 - 1 if s > 0 else -(2**63)
    r = math.floor(abs(s) + 0.5) if abs(s) - math.floor(abs(s)) >= 0.5 else math.floor(abs(s))
    r = int(r) if s >= 0 else -int(r)
    return max(-(2**63), min(2**63 - 1, r))


def qubo_energy_spectrum(qubo, n):
    if n > 20:
        raise OverflowError("size")
    if n == 0:
        return [], 0.0, [0.0]
    best, best_e, keys = [0] * n, math.inf, set()
    for v in range(1 << n):
        x = [(v >> k) & 1 for k in range(n)]
        e = 0.0
        for (i, j), w in qubo:
            if i >= n:
                raise IndexError(f"index out of bounds: the len is {n} but the index is {i}")
            if j >= n:
                raise IndexError(f"index out of bounds: the len is {n} but the index is {j}")
            e += (float(x[i]) * w) * float(x[j])
        if best_e > e:
            best, best_e = x, e
        keys.add(energy_key(e))
    return best, best_e, sorted(k / 1e9 for k in keys)


ESCAPES = {'"': '\\"', "\\": "\\\\", "\t": "\\t", "\r": "\\r", "\n": "\\n", "\0": "\\0"}


def model_quote(s):
    return '"' + "".join(ESCAPES.get(c) or (c if c.isprintable() else "\\u{%x}" % ord(c)) for c in s) + '"'


def model_reconstruct(counts, coefficients, labels):
    """counts: (sample, label, histogram dict, shots) tuples; coefficients: (sample, coefficient)."""
    if not labels:
        raise ValueError("subcircuit_labels must not be empty")
    table = {}
    for sample, label, hist, shots in counts:
        if (sample, label) in table:
            raise ValueError(f"duplicate SubcircuitSampleCounts for sample {sample} / subcircuit {model_quote(label)}")
        table[sample, label] = (hist, shots)
    for sample, _ in coefficients:
        for label in labels:
            if (sample, label) not in table:
                raise ValueError(f"missing SubcircuitSampleCounts for sample {sample} / subcircuit {model_quote(label)}")
    total = -0.0
    for sample, coefficient in coefficients:
        product = 1.0
        for label in labels:
            hist, shots = table[sample, label]
            if shots == 0:
                raise ValueError(
                    f"SubcircuitSampleCounts for sample {sample} / subcircuit {model_quote(label)} has shots == 0")
            acc = 0.0
            for bits, n in hist.items():
                acc += (-1.0 if bits.count("1") % 2 else 1.0) * float(n)
            product = product * (acc / float(shots))
        total += coefficient * product
    return total


def model_norm(dh, dj, n):
    if n > 20:
        from talvo.exceptions import SizeViolation

        raise SizeViolation("SizeViolation: exact_ising_norm requires n_sites <= 20")
    if n == 0 or (not dh and not dj):
        return 0.0
    for i, _ in dh:
        if i >= n:
            raise IndexError(i)
    for (i, j), _ in dj:
        if i >= n:
            raise IndexError(i)
        if j >= n:
            raise IndexError(j)
    best = 0.0
    for v in range(1 << n):
        s = [1.0 if (v >> k) & 1 else -1.0 for k in range(n)]
        e = 0.0
        for i, h in dh:
            e += s[i] * h
        for (i, j), w in dj:
            e += (w * s[i]) * s[j]
        if abs(e) > best:
            best = abs(e)
    return best


def model_solve(names, interactions):
    n = len(names)
    if n == 0:
        return []
    index = {name: k for k, name in enumerate(names)}
    best, best_e = [-1] * n, math.inf
    if not interactions:
        return best
    for c in range(1 << n):
        s = [1 if (c >> k) & 1 else -1 for k in range(n)]
        e = 0.0
        for i, j, w in interactions:
            if i not in index or j not in index:
                continue
            a, b = index[i], index[j]
            e += s[a] * w if a == b else s[b] * (s[a] * w)
        if best_e > e:
            best, best_e = s, e
    return best


def model_vrp(dist, a, b):
    n = len(dist)
    if any(len(row) != n for row in dist):
        raise ValueError("distance matrix must be square")
    names = [f"x_{i}_{t}" for i in range(n) for t in range(n)]
    rank = [0] * (n * n)
    for r, v in enumerate(sorted(range(n * n), key=names.__getitem__)):
        rank[v] = r
    acc = {}

    def add(p, q, delta):
        key = (p, q) if rank[p] <= rank[q] else (q, p)
        acc[key] = acc.get(key, 0.0) + delta

    for i in range(n):
        for t in range(n):
            acc[(i * n + t, i * n + t)] = acc.get((i * n + t, i * n + t), 0.0) - a
            for s in range(t + 1, n):
                add(i * n + t, i * n + s, 2.0 * a)
    for t in range(n):
        for i in range(n):
            acc[(i * n + t, i * n + t)] = acc.get((i * n + t, i * n + t), 0.0) - a
            for j in range(i + 1, n):
                add(i * n + t, j * n + t, 2.0 * a)
    for u in range(n):
        for v in range(n):
            if v != u:
                for t in range(n):
                    add(u * n + t, v * n + (t + 1) % n, dist[u][v] * b)
    return [((names[f], names[s]), w) for (f, s), w in sorted(acc.items())]


def _short(x, width=100):
    text = repr(x)
    return text if len(text) <= width else text[:width - 3] + "..."


def assert_same_sequence(got, want, key=None):
    """Asserts that two sequences are equal element by element, compared through
    `key` (bits_of for floats, say). A difference is reported as its first index
    with a short excerpt around it: pytest's own diff of two long lists can take
    minutes to render, and a hypothesis test renders one at every shrinking step."""
    __tracebackhide__ = True
    got, want = list(got), list(want)
    if key is not None:
        got, want = [key(x) for x in got], [key(x) for x in want]
    if got == want:
        return
    k = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
    lo, hi = max(0, k - 2), k + 3
    raise AssertionError(f"first difference at index {k} (lengths {len(got)} and {len(want)}): "
                         f"got[{lo}:{hi}] = [{', '.join(map(_short, got[lo:hi]))}], "
                         f"want[{lo}:{hi}] = [{', '.join(map(_short, want[lo:hi]))}]")
