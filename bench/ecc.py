"""Benchmark of the error-correction planning entries.

Run with the built module on the path, e.g.
    PYTHONPATH=build/dev python bench/ecc.py

Reports the median time of build_ecc_lookup_table and
logical_failure_probability on a distance-5 patch (25 data qubits,
12 Z-stabilizers), the peak memory those calls add, and the per-pattern cost
against a plain Python loop at distance 3, measured in the same run.
"""
import argparse
import resource

import _common
import talvo_core

ecc = talvo_core.ecc


# Plain Python loops: the table build (bit-reversed counter, first found among
# the lightest) and the failure sum (patterns in increasing order).
def py_table(n, supports):
    masks = [sum(1 << q for q in set(s)) for s in supports]
    table = {}
    for e in range(1 << n):
        p = 0
        for i in range(n):
            if (e >> (n - 1 - i)) & 1:
                p |= 1 << i
        s = 0
        for j, m in enumerate(masks):
            s |= (bin(p & m).count("1") & 1) << j
        w = bin(p).count("1")
        if s not in table or table[s][0] > w:
            table[s] = (w, p)
    return masks, {s: p for s, (w, p) in table.items()}


def py_failure(n, supports, logical_z, rate):
    masks, table = py_table(n, supports)
    lmask = sum(1 << q for q in set(logical_z))
    wp = [rate ** k * (1.0 - rate) ** (n - k) for k in range(n + 1)]
    total = 0.0
    for p in range(1 << n):
        s = 0
        for j, m in enumerate(masks):
            s |= (bin(p & m).count("1") & 1) << j
        if bin((p ^ table[s]) & lmask).count("1") & 1:
            total += wp[bin(p).count("1")]
    return total


def run(repeat=7):
    p5 = ecc.build_surface_code(5)
    p3 = ecc.build_surface_code(3)
    n5, n3 = len(p5.data_qubits), len(p3.data_qubits)

    rss0 = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    talvo_core.build_ecc_lookup_table(n5, p5.z_stabilizers)
    talvo_core.logical_failure_probability(n5, p5.z_stabilizers, p5.logical_z, 0.01)
    rss1 = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss

    t_table5 = _common.median_time(lambda: talvo_core.build_ecc_lookup_table(n5, p5.z_stabilizers), repeat, warmup=0)
    t_fail5 = _common.median_time(
        lambda: talvo_core.logical_failure_probability(n5, p5.z_stabilizers, p5.logical_z, 0.01), repeat, warmup=0)

    t_table3 = _common.median_time(lambda: talvo_core.build_ecc_lookup_table(n3, p3.z_stabilizers), 200, warmup=0)
    t_fail3 = _common.median_time(
        lambda: talvo_core.logical_failure_probability(n3, p3.z_stabilizers, p3.logical_z, 0.01), 200, warmup=0)
    t_py_table3 = _common.median_time(lambda: py_table(n3, p3.z_stabilizers), 20, warmup=0)
    t_py_fail3 = _common.median_time(lambda: py_failure(n3, p3.z_stabilizers, p3.logical_z, 0.01), 20, warmup=0)

    pat5, pat3 = 1 << n5, 1 << n3
    ns = 1e9
    d5 = f"d=5 ({n5} data qubits, {len(p5.z_stabilizers)} Z-stabilizers)"
    d3 = f"d=3 ({n3} data qubits, {pat3} patterns)"
    overhead = "native d=3 time is mostly call overhead at 512 patterns"
    return [
        _common.row(f"build_ecc_lookup_table {d5}", t_table5, None, "", "<= 0.3 s median", t_table5 <= 0.3,
                    f"{t_table5 / pat5 * ns:.2f} ns/pattern; median of {repeat}"),
        _common.row(f"logical_failure_probability {d5}", t_fail5, None, "", "<= 0.5 s median", t_fail5 <= 0.5,
                    f"{t_fail5 / (2 * pat5) * ns:.2f} ns/pattern/pass; median of {repeat}"),
        _common.row("ecc d=5: peak memory added by both calls", (rss1 - rss0) / 1024, None, "", "<= 64 MiB",
                    (rss1 - rss0) / 1024 <= 64, "", unit="MiB"),
        _common.row(f"build_ecc_lookup_table {d3}", t_table3, t_py_table3, "pure-Python model", "report", None,
                    f"per pattern: Python {t_py_table3 / pat3 * ns:.0f} ns vs native d=5 {t_table5 / pat5 * ns:.2f} ns"
                    f" = {(t_py_table3 / pat3) / (t_table5 / pat5):.0f}x; {overhead}"),
        _common.row(f"logical_failure_probability {d3}", t_fail3, t_py_fail3, "pure-Python model", "report", None,
                    f"per pattern: Python {t_py_fail3 / pat3 * ns:.0f} ns vs native d=5 {t_fail5 / pat5 * ns:.2f} ns"
                    f" = {(t_py_fail3 / pat3) / (t_fail5 / pat5):.0f}x; {overhead}"),
    ]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--repeat", type=int, default=7)
    args = ap.parse_args()
    _common.print_rows(run(args.repeat))


if __name__ == "__main__":
    main()
