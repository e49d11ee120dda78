"""Compact pure-Python models of the reference routines, and bit-level helpers."""
import math
import struct


def bits_of(x):
    """The exact bit pattern of a float, so -0.0 != 0.0 and NaN == NaN."""
    return struct.pack("<d", x)


def same_floats(a, b):
    return len(a) == len(b) and all(bits_of(x) == bits_of(y) for x, y in zip(a, b))


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
