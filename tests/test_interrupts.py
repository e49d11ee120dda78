"""A pending Ctrl-C ends a long call promptly with KeyboardInterrupt."""
import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

CHILD = textwrap.dedent(
    """
    import sys, time
    import talvo_core
    {setup}
    t0 = time.perf_counter()
    try:
        print("ready", flush=True)
        {call}
        print("finished", flush=True)
    except KeyboardInterrupt:
        print("interrupted", time.perf_counter() - t0, flush=True)
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
}


@pytest.mark.native_only  # measures latency
@pytest.mark.parametrize("name", sorted(LONG_CALLS))
def test_long_call_notices_ctrl_c(name):
    setup, call = LONG_CALLS[name]
    code = CHILD.format(setup=setup, call=call)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True, env=env)
    assert child.stdout.readline().strip() == "ready"
    time.sleep(0.3)
    sent = time.perf_counter()
    child.send_signal(signal.SIGINT)
    out = child.stdout.readline().split()
    latency = time.perf_counter() - sent
    child.wait(timeout=30)
    assert out and out[0] == "interrupted", out
    assert float(out[1]) >= 0.25  # the call was under way when the signal came
    assert latency < 2.0  # tens of milliseconds in practice; generous for a loaded machine
