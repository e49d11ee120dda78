"""reconstruct_expectation against the pure-Python loop it replaces.

20,000 samples x 2 sub-circuit labels, each histogram holding 16 bitstrings.
Reports the module's time, the pure-Python model's time and their ratio.
"""
import random
import time

import _common
from talvo_core import cutting

N_SAMPLES, LABELS, N_BITSTRINGS = 20_000, ["A", "B"], 16


def model_reconstruct(counts, coefficients, labels):
    """counts: (sample, label, histogram, shots) tuples; coefficients: (sample, coefficient) pairs."""
    if not labels:
        raise ValueError("subcircuit_labels must not be empty")
    table = {}
    for sample, label, hist, shots in counts:
        if (sample, label) in table:
            raise ValueError(f"duplicate SubcircuitSampleCounts for sample {sample} / subcircuit {label!r}")
        table[sample, label] = (hist, shots)
    for sample, _ in coefficients:
        for label in labels:
            if (sample, label) not in table:
                raise ValueError(f"missing SubcircuitSampleCounts for sample {sample} / subcircuit {label!r}")
    total = -0.0
    for sample, coefficient in coefficients:
        product = 1.0
        for label in labels:
            hist, shots = table[sample, label]
            if shots == 0:
                raise ValueError(f"SubcircuitSampleCounts for sample {sample} / subcircuit {label!r} has shots == 0")
            acc = 0.0
            for bits, n in hist.items():
                acc += (-1.0 if bits.count("1") % 2 else 1.0) * float(n)
            product = product * (acc / float(shots))
        total += coefficient * product
    return total


def best_of(f, reps):
    best = float("inf")
    for _ in range(reps):
        t0 = time.perf_counter()
        f()
        best = min(best, time.perf_counter() - t0)
    return best


def run():
    rng = random.Random(3)
    keys = [format(k, "04b") for k in range(N_BITSTRINGS)]
    raw = []
    for s in range(N_SAMPLES):
        for label in LABELS:
            hist = {k: rng.randrange(1000) for k in keys}
            raw.append((s, label, hist, sum(hist.values())))
    rng.shuffle(raw)
    coefs = [(s, rng.uniform(-1, 1)) for s in range(N_SAMPLES)]
    records = [cutting.SubcircuitSampleCounts(s, l, h, n) for s, l, h, n in raw]
    coef_records = [cutting.SampleCoefficient(s, c) for s, c in coefs]
    ours_value = cutting.reconstruct_expectation(records, coef_records, LABELS)
    assert ours_value == model_reconstruct(raw, coefs, LABELS)
    ours = best_of(lambda: cutting.reconstruct_expectation(records, coef_records, LABELS), 50)
    model = best_of(lambda: model_reconstruct(raw, coefs, LABELS), 5)
    return [
        _common.row(f"reconstruct_expectation {N_SAMPLES:,} samples x {len(LABELS)} labels, {N_BITSTRINGS} bitstrings",
                    ours, model, "pure-Python model", ">= 30x the model", model / ours >= 30),
    ]


if __name__ == "__main__":
    _common.print_rows(run())
