"""Circuit cutting: reconstruct the expectation value of a cut circuit from the
counts of its two sub-circuits and the coefficients of the QPD samples.

    python examples/cutting.py
"""
import random

from talvo_core import cutting


def main():
    rng = random.Random(11)
    labels = ["A", "B"]
    coefficients = [cutting.SampleCoefficient(k, c) for k, c in enumerate([0.5, 0.5, -0.5, 0.5])]
    records = []
    for sample in coefficients:
        for label in labels:
            shots = 1000
            ones = rng.randint(100, 400)  # shots with an odd number of 1s
            counts = {"00": shots - ones - 50, "01": ones, "11": 50}
            records.append(cutting.SubcircuitSampleCounts(sample.sample_index, label, counts, shots))
    print(f"{len(coefficients)} samples x {len(labels)} sub-circuits; e.g. {records[0]}")
    value = cutting.reconstruct_expectation(records, coefficients, labels)
    print(f"reconstructed expectation value: {value:.6f}")

    # A missing histogram is an error, never a silent zero.
    try:
        cutting.reconstruct_expectation(records[:-1], coefficients, labels)
    except ValueError as e:
        print("refused:", e)


if __name__ == "__main__":
    main()
