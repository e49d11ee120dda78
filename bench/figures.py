"""Draw the two timing figures of the documentation, measured on this machine:

  docs/_static/spectrum_time.png     qubo_energy_spectrum against n: the module,
                                     dimod's ExactSolver and the pure-Python model
  docs/_static/statevector_time.png  run_statevector against the number of qubits:
                                     the module and qiskit-aer on one thread
  docs/_static/statevector_small_time.png
                                     run_statevector from 1 qubit, small circuits:
                                     the module and the pure-Python model

    pip install ".[bench,plot]" && python bench/figures.py [--quick] [--small] [--out DIR]

--small draws only the third figure.

The problems and the peers' timings come from bench/spectrum.py and
bench/statevector.py. A peer is timed only while one of its calls stays under
a few seconds (PEER_LIMIT); a missing peer is left out of its figure. Each
figure's caption names the processor, the core count and the date of the run.
The measured points are printed as well.
"""
import argparse
import datetime
import os
import sys
import tempfile
import textwrap

import _common
import spectrum
import statevector
import talvo_core
from models import qubo_energy_spectrum as python_spectrum

OUT = os.path.join(_common.ROOT, "docs", "_static")
# A peer stops at the first size whose single call takes longer than this.
PEER_LIMIT = 3.0


def timed(fn, budget=1.0, most=7):
    """Least CPU time of a few calls (the calls are single-threaded, so time
    spent descheduled on a shared machine is not counted): one call to gauge,
    then as many more as fit in `budget` seconds, at most `most` in all."""
    first = _common.best_interleaved([fn], 1)[0]
    repeat = max(0, min(most - 1, int(budget / max(first, 1e-9))))
    return min([first] + (_common.best_interleaved([fn], repeat) if repeat else []))


def spectrum_points(sizes):
    try:
        import dimod
    except ImportError:
        dimod = None
    series = {"talvo_core": [], "dimod ExactSolver": [] if dimod else None, "pure Python": []}
    live = {name for name, s in series.items() if s is not None}
    for n in sizes:
        qubo, _ = spectrum.problem(n)
        runs = {"talvo_core": lambda: talvo_core.qubo_energy_spectrum(qubo, n),
                "pure Python": lambda: python_spectrum(qubo, n)}
        if dimod:
            bqm = dimod.BinaryQuadraticModel.from_qubo({ij: w for ij, w in qubo})
            runs["dimod ExactSolver"] = lambda: dimod.ExactSolver().sample(bqm)
        for name in sorted(live):
            t = timed(runs[name])
            series[name].append((n, t))
            print(f"spectrum n={n:2d} {name:18s} {_common.fmt_value(t)}", file=sys.stderr)
            if name != "talvo_core" and t > PEER_LIMIT:
                live.discard(name)
    return {k: v for k, v in series.items() if v}


def statevector_points(sizes, n_gates):
    series = {"talvo_core, end to end": [], "talvo_core, simulation only": [],
              "qiskit-aer, end to end": [], "qiskit-aer, simulation only": []}
    aer_live, aer_version = True, None
    for n in sizes:
        circuit = statevector.make_circuit(n, n_gates)
        full = timed(lambda: talvo_core.run_statevector(circuit, n), budget=2.0, most=3)
        empty = timed(lambda: talvo_core.run_statevector([], n), budget=1.0, most=3)
        series["talvo_core, end to end"].append((n, full))
        series["talvo_core, simulation only"].append((n, max(full - empty, 1e-6)))
        line = f"statevector {n:2d} qubits: talvo_core {_common.fmt_value(full)} (empty {_common.fmt_value(empty)})"
        if aer_live:
            aer = statevector.aer_time(circuit, n, 3 if n < 20 else 2)
            if aer is None:
                aer_live = False
            else:
                aer_version = aer["version"]
                series["qiskit-aer, end to end"].append((n, aer["cpu_s"]))
                series["qiskit-aer, simulation only"].append((n, aer["sim_s"]))
                line += f", aer {_common.fmt_value(aer['cpu_s'])} (simulation {_common.fmt_value(aer['sim_s'])})"
                aer_live = aer["cpu_s"] <= 4 * PEER_LIMIT
                del aer
        print(line, file=sys.stderr)
    return {k: v for k, v in series.items() if v}, aer_version


def small_statevector_points(sizes, gates_per_qubit):
    """Seconds per call of run_statevector and the tests' Python model on a
    circuit of gates_per_qubit gates a qubit (bench/small.py's circuits), best
    of several batches taken in turn."""
    import random

    import small
    from test_statevector import model

    series = {"talvo_core": [], "pure-Python model": []}
    model_live = True
    for n in sizes:
        c = small.circuit(random.Random(n), n, gates_per_qubit * n)
        fns = [lambda: talvo_core.run_statevector(c, n), (lambda: model(c, n)) if model_live else None]
        ours, theirs = small.best_per_call(fns, 5 if n < 12 else 3)
        series["talvo_core"].append((n, ours))
        line = f"small statevector {n:2d} qubits: talvo_core {_common.fmt_value(ours)}"
        if theirs is not None:
            series["pure-Python model"].append((n, theirs))
            line += f", model {_common.fmt_value(theirs)} ({theirs / ours:.1f}x)"
            model_live = theirs <= PEER_LIMIT / 3
        print(line, file=sys.stderr)
    return series


def draw(path, series, title, xlabel, note, styles, caption_size=9.5, ylabel="CPU time per call (s, log scale)"):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    # The pages show the figure about 7.5 inches wide at 100 pixels an inch
    # or less: the caption's 9.5 points stay readable there.
    lines = [textwrap.fill(part, 95) for part in note.split("\n")]
    caption = "\n".join(lines)
    rows = caption.count("\n") + 1
    fig, ax = plt.subplots(figsize=(7.5, 4.6 + 0.19 * rows), dpi=120)
    for name, points in series.items():
        xs, ts = zip(*points)
        ax.plot(xs, ts, label=name, marker="o", markersize=4, **styles.get(name, {}))
    ax.set_yscale("log")
    ax.set_xlabel(xlabel)
    ax.set_ylabel(ylabel)
    ax.set_xticks(sorted({x for points in series.values() for x, _ in points}))
    ax.grid(True, which="major", alpha=0.4)
    ax.grid(True, which="minor", alpha=0.15)
    ax.legend(fontsize=10)
    ax.set_title(title, fontsize=12)
    fig.text(0.01, 0.01, caption, fontsize=caption_size, color="0.25", va="bottom")
    fig.tight_layout(rect=(0, (0.19 * rows + 0.1) / (4.6 + 0.19 * rows), 1, 1))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    fig.savefig(path)
    plt.close(fig)
    print(f"wrote {path}", file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help="small sizes only, to try the script out (written to a temporary folder)")
    parser.add_argument("--out", help=f"folder for the PNGs (default {os.path.relpath(OUT, _common.ROOT)})")
    parser.add_argument("--small", action="store_true", help="draw only the small-circuit statevector figure")
    args = parser.parse_args()
    out = args.out or (tempfile.mkdtemp(prefix="figures-") if args.quick else OUT)
    stamp = f"{_common.machine()}; measured {datetime.date.today().isoformat()}"

    per_qubit = 5
    series = small_statevector_points(range(1, 9 if args.quick else 17), per_qubit)
    draw(os.path.join(out, "statevector_small_time.png"), series,
         f"run_statevector on small registers: {per_qubit} random gates per qubit", "number of qubits",
         f"Best wall time per call of several batches, module and model in turn (bench/small.py's circuits: "
         f"h, x, t, rz, u, cx, cz, swap). The model is the tests' pure-Python loop; it stops past "
         f"{PEER_LIMIT / 3:g} s a call.\n{stamp}",
         {"talvo_core": {"color": "C0"}, "pure-Python model": {"color": "C2"}}, caption_size=9,
         ylabel="time per call (s, log scale)")
    if args.small:
        return
    spectrum_sizes = range(4, 13, 2) if args.quick else range(4, 21)
    qubit_sizes = range(4, 15, 2) if args.quick else range(4, 25)
    n_gates = 200

    series = spectrum_points(spectrum_sizes)
    draw(os.path.join(out, "spectrum_time.png"), series,
         "qubo_energy_spectrum: every assignment of a dense QUBO", "number of variables n",
         f"Least CPU time of a few single-threaded calls; all n(n+1)/2 upper-triangular terms, random weights "
         f"(bench/spectrum.py). Peers stop past {PEER_LIMIT:g} s a call.\n{stamp}",
         {"talvo_core": {"color": "C0"}, "dimod ExactSolver": {"color": "C1"},
          "pure Python": {"color": "C2"}})

    series, aer_version = statevector_points(qubit_sizes, n_gates)
    aer = f"qiskit-aer {aer_version} (statevector method, 1 thread)" if aer_version else "qiskit-aer not installed"
    draw(os.path.join(out, "statevector_time.png"), series,
         f"run_statevector: {n_gates} random h, rz, u, cx, cz, swap gates", "number of qubits",
         f"Least CPU time of a few runs of the same circuit (bench/statevector.py); {aer}. End to end: "
         f"the Python call with its result (a list of (re, im) tuples for talvo_core, aer's result object); "
         f"simulation only: minus an empty circuit's call for talvo_core, aer's own reported (wall) time."
         f"\n{stamp}",
         {"talvo_core, end to end": {"color": "C0"},
          "talvo_core, simulation only": {"color": "C0", "linestyle": "--"},
          "qiskit-aer, end to end": {"color": "C3"},
          "qiskit-aer, simulation only": {"color": "C3", "linestyle": "--"}})


if __name__ == "__main__":
    main()
