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
    print("ready", flush=True)
    t0 = time.perf_counter()
    try:
        {call}
        print("finished", flush=True)
    except KeyboardInterrupt:
        print("interrupted", time.perf_counter() - t0, flush=True)
    """
)

LONG_CALLS = {
    "spectrum": ("q = [((i % 20, (i * 7) % 20), 0.5) for i in range(40000)]",
                 "talvo_core.qubo_energy_spectrum(q, 20)"),
}


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
    assert latency < 1.0  # about 0.1 s in practice; generous for a loaded machine
