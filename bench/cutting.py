"""reconstruct_expectation against the pure-Python loop it replaces.

20,000 samples x 2 sub-circuit labels, each histogram holding 16 bitstrings.
Reports the module's time, the pure-Python model's time and their ratio.
"""
import random

import _common
from talvo_core import cutting
from models import model_reconstruct

N_SAMPLES, LABELS, N_BITSTRINGS = 20_000, ["A", "B"], 16


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
    ours = _common.best_of(lambda: cutting.reconstruct_expectation(records, coef_records, LABELS), 50)
    model = _common.best_of(lambda: model_reconstruct(raw, coefs, LABELS), 5)
    return [
        _common.row(f"reconstruct_expectation {N_SAMPLES:,} samples x {len(LABELS)} labels, {N_BITSTRINGS} bitstrings",
                    ours, model, "pure-Python model", ">= 30x the model", model / ours >= 30),
    ]


if __name__ == "__main__":
    _common.print_rows(run())
