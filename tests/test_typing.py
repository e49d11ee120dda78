"""The stubs type-check the calls users make: mypy runs on tests/typing/ with
the stubs of this checkout (not an installed copy) and must find no error."""
import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")
@pytest.mark.skipif(importlib.util.find_spec("numpy") is None, reason="numpy is not installed")
def test_numpy_arrays_type_check(tmp_path):
    # mypy finds a stub-only package (talvo_core-stubs) in site-packages only;
    # on its search path the checkout's stubs must be named talvo_core.
    (tmp_path / "talvo_core").symlink_to(ROOT / "stubs" / "talvo_core-stubs", target_is_directory=True)
    env = dict(os.environ, MYPYPATH=str(tmp_path))
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--warn-unused-ignores", "--no-incremental",
         "--cache-dir", os.devnull, str(ROOT / "tests" / "typing" / "check_numpy.py")],
        capture_output=True, text=True, env=env, cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr
