"""The headline figures: three calls against the library a user would otherwise
reach for, recorded in bench/headline.json and quoted from it by the README and
the performance page.

    python bench/run.py --record [--runs N]

runs each case N times (at least 5; 7 by default), module and peer in turn,
writes bench/headline.json (the medians and ranges, the machine, the date and
the peers' versions) and rewrites the headline blocks of README.md and
docs/performance.md from it; tests/test_docs.py checks that the blocks match
the file. Every time is wall-clock time of one call, after one untimed call of
each, with the problem built outside the timed region.
"""
import datetime
import importlib.metadata
import json
import os
import random
import re
import statistics
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RECORD = os.path.join(ROOT, "bench", "headline.json")
PAGES = {"README.md": "readme", os.path.join("docs", "performance.md"): "performance"}
BEGIN, END = "<!-- headline figures: written by bench/run.py --record -->", "<!-- end of headline figures -->"
PEERS = ["dimod", "networkx", "qiskit", "qiskit-aer"]
MIN_RUNS = 5

# The cases, exactly as run: the call, the problem and the peer.
CASES = {
    "spectrum": {
        "call": "qubo_energy_spectrum",
        "problem": "20 variables, all 210 upper-triangular terms (20 linear, 190 quadratic), weights uniform "
                   "in [-1, 1) (random.Random(1)): every one of the 2²⁰ assignments",
        "peer": "dimod's `ExactSolver`",
    },
    "statevector": {
        "call": "run_statevector",
        "problem": "22 qubits, 200 random gates (h, rz, u, cx, cz, swap; random.Random(2024)), "
                   "end to end with the result list",
        "peer": "qiskit-aer's statevector method on one thread, end to end",
    },
    "bisection": {
        "call": "stoer_wagner_bisect",
        "problem": "complete graph of 300 nodes (44,850 edges), integer weights uniform in 1 to 100 "
                   "(random.Random(300))",
        "peer": "networkx's `stoer_wagner`",
    },
}


def _spectrum():
    import dimod
    import talvo_core
    rng = random.Random(1)
    qubo = [((i, j), rng.uniform(-1.0, 1.0)) for i in range(20) for j in range(i, 20)]
    bqm = dimod.BinaryQuadraticModel.from_qubo({ij: w for ij, w in qubo})
    return (lambda: talvo_core.qubo_energy_spectrum(qubo, 20)), (lambda: dimod.ExactSolver().sample(bqm))


def _statevector():
    import talvo_core
    from qiskit import QuantumCircuit
    from qiskit_aer import AerSimulator
    rng = random.Random(2024)
    circuit = []
    for _ in range(200):
        name = rng.choice(["h", "rz", "u", "cx", "cz", "swap"])
        if name in ("cx", "cz", "swap"):
            circuit.append((name, rng.sample(range(22), 2), []))
        elif name == "h":
            circuit.append((name, [rng.randrange(22)], []))
        elif name == "rz":
            circuit.append((name, [rng.randrange(22)], [rng.uniform(-3.2, 3.2)]))
        else:
            circuit.append((name, [rng.randrange(22)], [rng.uniform(-3.2, 3.2) for _ in range(3)]))
    qc = QuantumCircuit(22)
    for name, qs, ps in circuit:
        getattr(qc, name)(*ps, *qs)
    qc.save_statevector()
    sim = AerSimulator(method="statevector", max_parallel_threads=1, max_parallel_experiments=1,
                       max_parallel_shots=1, statevector_parallel_threshold=64)
    return (lambda: talvo_core.run_statevector(circuit, 22)), (lambda: sim.run(qc).result().get_statevector(qc))


def _bisection():
    import networkx as nx
    import talvo_core
    rng = random.Random(300)
    edges = [(i, j, float(rng.randint(1, 100))) for i in range(300) for j in range(i + 1, 300)]
    g = nx.Graph()
    g.add_weighted_edges_from(edges)
    return (lambda: talvo_core.stoer_wagner_bisect(edges, 300)), (lambda: nx.stoer_wagner(g))


SETUPS = {"spectrum": _spectrum, "statevector": _statevector, "bisection": _bisection}


def spread(times):
    return {"median": statistics.median(times), "min": min(times), "max": max(times),
            "runs": [round(t, 6) for t in times]}


def measure(case, runs):
    """`runs` wall times of the module's call and of the peer's, in turn."""
    ours, peer = SETUPS[case]()
    ours(), peer()  # untimed: first-call costs (imports, caches, the worker pool)
    t_ours, t_peer = [], []
    for _ in range(runs):
        for fn, out in ((ours, t_ours), (peer, t_peer)):
            t0 = time.perf_counter()
            result = fn()
            out.append(time.perf_counter() - t0)
            del result
    return {"module_s": spread(t_ours), "peer_s": spread(t_peer)}


def peer_versions():
    out = {}
    for name in PEERS:
        try:
            out[name] = importlib.metadata.version(name)
        except importlib.metadata.PackageNotFoundError:
            out[name] = None
    return out


def record(results, machine, runs, today=None):
    return {"date": (today or datetime.date.today()).isoformat(), "machine": machine, "runs": runs,
            "peers": peer_versions(), "timing": "wall-clock time of one call; median and range of the runs",
            "cases": {c: dict(CASES[c], **results[c]) for c in CASES}}


# ---- the text the pages quote ----------------------------------------------------

def fmt_time(s):
    if s >= 1:
        return f"{s:.2f} s"
    if s >= 0.1:
        return f"{s * 1e3:.0f} ms"
    if s >= 0.01:
        return f"{s * 1e3:.1f} ms"
    return f"{s * 1e3:.2f} ms"


def fmt_range(d):
    return f"{fmt_time(d['min'])} to {fmt_time(d['max'])}"


def ratio(c):
    return c["peer_s"]["median"] / c["module_s"]["median"]


def fmt_ratio(r):
    return f"{r:.0f}x" if r >= 100 else f"{r:.1f}x"


def block(rec, page):
    """The headline block of `page` ("readme" or "performance") from a record."""
    head = (f"Recorded on {rec['date']} by `python bench/run.py --record` (`bench/headline.json`): "
            f"{rec['machine']}; wall-clock time of one call, the median of {rec['runs']} runs and their "
            f"range, the module and its peer in turn; "
            + ", ".join(f"{k} {v}" for k, v in rec["peers"].items() if v) + ".")
    lines = [BEGIN, head, ""]
    for c in rec["cases"].values():
        m, p = c["module_s"], c["peer_s"]
        if page == "readme":
            lines.append(f"- `{c['call']}`, {c['problem']}: {fmt_time(m['median'])} ({fmt_range(m)}), "
                         f"{fmt_ratio(ratio(c))} faster than {c['peer']} ({fmt_time(p['median'])}, "
                         f"{fmt_range(p)});")
    if page == "readme":
        lines[-1] = lines[-1][:-1] + "."
    else:
        lines += ["| call and case | module | peer | peer time | ratio of medians |", "|---|---|---|---|---:|"]
        for c in rec["cases"].values():
            m, p = c["module_s"], c["peer_s"]
            lines.append(f"| `{c['call']}`, {c['problem']} | {fmt_time(m['median'])} ({fmt_range(m)}) | "
                         f"{c['peer']} | {fmt_time(p['median'])} ({fmt_range(p)}) | {fmt_ratio(ratio(c))} |")
    lines.append(END)
    return "\n".join(lines)


def page_block(text):
    """The headline block in a page's text, or None."""
    m = re.search(re.escape(BEGIN) + r".*?" + re.escape(END), text, re.S)
    return m and m.group(0)


def write_pages(rec, root=ROOT):
    for rel, page in PAGES.items():
        path = os.path.join(root, rel)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        old = page_block(text)
        if old is None:
            raise SystemExit(f"{rel}: no headline block ({BEGIN} ... {END}) to rewrite")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace(old, block(rec, page)))


def load(path=RECORD):
    with open(path, encoding="utf-8") as f:
        return json.load(f)
