"""A pending Ctrl-C ends a long call promptly with KeyboardInterrupt, and a
request the machine cannot hold ends with MemoryError before any work."""
import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

CHILD = textwrap.dedent(
    """
    import signal, sys, time
    import talvo_core
    # Ctrl-C raises KeyboardInterrupt even when this child was started with
    # SIGINT ignored (from a background job, say).
    signal.signal(signal.SIGINT, signal.default_int_handler)
    {setup}
    # The profiler says when the call starts, and whether it ended with the
    # exception (it polled) or returned, the interrupt coming only afterwards.
    ends = []
    def profile(frame, event, arg):
        if event == "c_call" and not ends:
            ends.append("started")
            print("ready", flush=True)
        elif event in ("c_return", "c_exception") and ends:
            ends.append(event)
    t0 = time.perf_counter()
    try:
        sys.setprofile(profile)
        {call}
        sys.setprofile(None)
        print("finished", flush=True)
    except KeyboardInterrupt:
        sys.setprofile(None)
        print("interrupted", time.perf_counter() - t0, ends[-1] if ends else "none", flush=True)
    """
)

LONG_CALLS = {
    "spectrum": ("q = [((i % 20, (i * 7) % 20), 0.5) for i in range(40000)]",
                 "talvo_core.qubo_energy_spectrum(q, 20)"),
    "ising_norm": ("dj = [((i % 20, (i * 7) % 20), 0.5) for i in range(40000)]",
                   "talvo_core.exact_ising_norm([], dj, 20)"),
    "solve_exact": (
        "from talvo_core import sim\n"
        "vs = [sim.Variable(f'v{k}', 'spin') for k in range(20)]\n"
        "its = [sim.Interaction(f'v{i % 20}', f'v{(i * 7) % 20}', 0.5) for i in range(40000)]\n"
        "g = sim.LogicalGraph(vs, its)",
        "sim.IsingSimulator().solve_exact(g)"),
    "decoder": ("import random\nr = random.Random(3)\n"
                "st = [[q for q in range(26) if r.random() < 0.5] for _ in range(26)]",
                "talvo_core.logical_failure_probability(26, st, [0, 1, 2], 0.01)"),
    "statevector": ("c = [(g, [q % 23], []) for q in range(3000) for g in ('h', 'x')]",
                    "talvo_core.run_statevector(c, 23)"),
    # each takes several seconds when it does not poll
    "vrp": ("d = [[1.0] * 130 for _ in range(130)]", "talvo_core.vrp_qubo_terms(d, 1.0, 1.0)"),
    "bisect": ("", "talvo_core.stoer_wagner_bisect([(0, 1, 1.0)], 2500)"),
    # the energies, on the pool, are the long part
    "runs": ("q = [((0, 0), 0.5)] * 100000", "talvo_core.simulate_qubo_runs(q, [1], 20000, 0.1, 1)"),
    "reconstruct": ("from talvo_core import cutting\n"
                    "c = [cutting.SampleCoefficient(0, 1.0)] * 10000\n"
                    "r = [cutting.SubcircuitSampleCounts(0, 'A', {'0': 1}, 1)]",
                    "cutting.reconstruct_expectation(r, c, ['A'] * 15000)"),
    # building the result list is the long part
    "criticality": ("", "talvo_core.qubo_criticality([], 6 * 10**6)"),
}


@pytest.mark.parametrize("name", sorted(LONG_CALLS))
def test_long_call_notices_ctrl_c(name):
    setup, call = LONG_CALLS[name]
    code = CHILD.format(setup=setup, call=call)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True, env=env)
    assert child.stdout.readline().strip() == "ready"
    time.sleep(0.3)
    child.send_signal(signal.SIGINT)
    out = child.stdout.readline().split()
    child.wait(timeout=60)
    assert out and out[0] == "interrupted", out
    assert float(out[1]) >= 0.25  # the call was under way when the signal came
    assert out[2] == "c_exception", out  # and the call itself ended with it


HUGE_CALLS = {
    # 2 N^3 contributions for N = 2000; the rows are one shared list
    "vrp": ("d = [[0.0] * 2000] * 2000", "talvo_core.vrp_qubo_terms(d, 1.0, 1.0)"),
    # an n x n matrix from n variables
    "photonic": ("from talvo_core import sim, analog\n"
                 "g = sim.LogicalGraph([sim.Variable(f'v{k}', 'spin') for k in range(60000)], [])",
                 "analog.PhotonicCompiler().build_arrazola_bromley_encoding(g)"),
    # coefficients x labels lookups
    "reconstruct": ("from talvo_core import cutting\n"
                    "c = [cutting.SampleCoefficient(0, 1.0)] * 100000\n"
                    "r = [cutting.SubcircuitSampleCounts(0, 'A', {'0': 1}, 1)]\n"
                    "labels = ['A'] * 1000000",
                    "cutting.reconstruct_expectation(r, c, labels)"),
}

MEMORY_CHILD = textwrap.dedent(
    """
    import os, resource
    import talvo_core
    {setup}
    if not os.environ.get("TALVO_SANITIZED"):  # a bound, so that a call that does build cannot take the machine
        vm = int(next(l for l in open("/proc/self/status") if l.startswith("VmSize")).split()[1]) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (vm + (3 << 30), resource.RLIM_INFINITY))
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    try:
        {call}
        print("finished")
    except MemoryError:
        print("refused", resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)
    """
)


@pytest.mark.parametrize("name", sorted(HUGE_CALLS))
def test_impossible_size_is_refused_up_front(name):
    setup, call = HUGE_CALLS[name]
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", MEMORY_CHILD.format(setup=setup, call=call)], env=env,
                         capture_output=True, text=True, timeout=300).stdout.split()
    assert out and out[0] == "refused", out
    # Only the converted arguments were built: the peak grew by well under 100 MiB.
    assert int(out[1]) < 100 * 1024
