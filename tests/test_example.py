"""The walk-through of the quick start runs to the end."""
import os
import subprocess
import sys

EXAMPLE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples", "codesign_loop.py")


def test_codesign_walkthrough_runs():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, EXAMPLE], capture_output=True, text=True, env=env, timeout=120)
    assert out.returncode == 0, out.stderr
    assert "7. Circuit-cutting reconstruction" in out.stdout and "Total time" in out.stdout
