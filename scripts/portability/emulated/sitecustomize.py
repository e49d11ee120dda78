"""Loaded by an interpreter that runs under a user-mode emulator (this folder
is put on PYTHONPATH by scripts/check_portability.sh). sys.executable names
the emulated interpreter, which the host cannot start by itself; the tests
that start a child interpreter start it through the emulator instead."""
import os
import sys

_launcher = os.environ.get("TALVO_EMULATOR_PYTHON")
if _launcher:
    sys.executable = _launcher
