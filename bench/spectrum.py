"""qubo_energy_spectrum at n = 20 with all 210 upper-triangular terms: end to
end against dimod's ExactSolver and against building a list of as many floats
(array('d').tolist()), and phase by phase against each phase's floor on this
machine (kernel phases from the C++ harness bench/exhaustive_kernel.cpp)."""
import array
import random
import resource
import sys

import _common
import talvo_core


def problem(n=20, seed=1):
    rng = random.Random(seed)
    return [((i, j), rng.uniform(-1.0, 1.0)) for i in range(n) for j in range(i, n)], n


def numpy_reference(qubo, n, energies):
    """The sort phase's work done by numpy's own sort (vectorized where the
    CPU allows) on the same keys: sort, drop repeats, divide by 1e9. Returns
    its least CPU time of 9 and whether it gives the module's energies bit for
    bit, or None without numpy."""
    try:
        import numpy as np
    except ImportError:
        return None
    # Every assignment's energy, term by term in list order, then its key:
    # round(E * 1e9), halves away from zero.
    v = np.arange(1 << n, dtype=np.uint32)
    bits = [((v >> k) & 1).astype(np.float64) for k in range(n)]
    e = np.zeros(1 << n)
    for (i, j), w in qubo:
        e = e + (bits[i] * w) * bits[j]
    s = e * 1e9
    whole = np.trunc(s)
    keys = (whole + np.where(np.abs(s - whole) >= 0.5, np.sign(s), 0.0)).astype(np.int64)

    def sort_unique_energies():
        k = np.sort(keys, kind="quicksort")
        return k[np.concatenate(([True], k[1:] != k[:-1]))].astype(np.float64) / 1e9

    same = np.array_equal(sort_unique_energies().view(np.int64), np.array(energies).view(np.int64))
    return _common.best_interleaved([sort_unique_energies], 9)[0], same


def run():
    qubo, n = problem()
    rss0 = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    energies = talvo_core.qubo_energy_spectrum(qubo, n)[2]
    growth_mib = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - rss0) / 1024
    distinct = len(energies)
    result_mib = (sys.getsizeof(energies) + distinct * sys.getsizeof(1.0)) / 2**20
    reference = numpy_reference(qubo, n, energies)
    del energies
    # The floor of building the result: a list of as many new floats, timed
    # in turn with the call itself (CPU time, medians).
    floats = array.array("d", (random.random() for _ in range(distinct)))
    t, tolist = _common.median_interleaved([lambda: talvo_core.qubo_energy_spectrum(qubo, n), floats.tolist], 11)
    conversion = _common.median_interleaved([lambda: talvo_core.qubo_energy_spectrum(qubo, 0)], 51)[0]
    base, note = None, ""
    try:
        import dimod

        bqm = dimod.BinaryQuadraticModel.from_qubo({ij: w for ij, w in qubo})
        base = _common.median_time(lambda: dimod.ExactSolver().sample(bqm), repeat=3, warmup=0)
    except ImportError:
        note = "dimod not installed; "
    ratio = base / t if base else None
    case = "spectrum n=20, 210 terms"
    met = t <= 1.5 * tolist and (ratio is None or ratio >= 20)
    rows = [
        _common.row(case, t, base, "dimod ExactSolver" if base else "", "<= 1.5x tolist; >= 20x dimod", met,
                    note + f"{t / tolist:.2f}x the tolist of {distinct:,} floats ({_common.fmt_value(tolist)})"),
        _common.row(f"{case}: memory beyond the result", growth_mib - result_mib, unit="MiB", target="<= 64 MiB",
                    met=growth_mib - result_mib <= 64,
                    note=f"peak RSS growth {growth_mib:.0f} MiB, result {result_mib:.0f} MiB"),
    ]
    k = _common.exhaustive_phases(qubo, n)
    if not isinstance(k, dict):
        rows.append(_common.row(f"{case}: phases", None, note=k or "no harness"))
        return rows
    dense_floor = k["dense_adds"] / k["lane_adds_per_s"]
    active_floor = k["active_adds"] / k["lane_adds_per_s"]
    result = max(t - conversion - k["spectrum_s"], 0.0)
    rows += [
        _common.row(f"{case}: argument conversion", conversion, target="report", note="call with n_vars = 0"),
        _common.row(f"{case}: evaluation, keys and best (one pass)", k["scan_s"], dense_floor,
                    "floor: every term added", "report", None,
                    f"{k['lane_adds_per_s'] / 1e9:.1f}e9 lane additions/s measured; floor counting only the "
                    f"additions that change a sum {_common.fmt_value(active_floor)}; writing the keys "
                    f"{_common.fmt_value(k['write_pass_s'])}"),
        _common.row(f"{case}: sort, unique and energies of the keys", k["sort_unique_s"],
                    k["deal_pass_s"] + k["copy_pass_s"], "floor: one deal into buckets + one read+write pass",
                    "report", None,
                    f"{distinct:,} distinct of {2 ** n:,}; kernel total {_common.fmt_value(k['spectrum_s'])} "
                    f"(with the buffers' allocation)"),
    ]
    if reference:
        import numpy

        rows.append(_common.row(f"{case}: sort, unique and energies of the keys", k["sort_unique_s"], reference[0],
                                f"numpy {numpy.__version__} sort + unique + divide", "report", None,
                                f"the same keys; numpy's result equals the module's bit for bit: {reference[1]}"))
    rows += [
        _common.row(f"{case}: result building", result, tolist, "floor: array('d').tolist()", "report", None,
                    "end to end minus conversion and kernel"),
    ]
    return rows


if __name__ == "__main__":
    _common.print_rows(run())
