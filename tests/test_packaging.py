"""What the release ships: the wheel targets of the cibuildwheel configuration
and the version the installed metadata reports."""
import importlib.metadata
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

import talvo_core

ROOT = Path(__file__).resolve().parents[1]

# One stable-ABI wheel per platform and architecture; nothing free-threaded,
# nothing for musl, no later CPython (the cp310-abi3 wheel serves them).
TARGETS = {
    "linux": ["cp310-manylinux_x86_64", "cp310-manylinux_aarch64"],
    "macos": ["cp310-macosx_x86_64", "cp310-macosx_arm64"],
    "windows": ["cp310-win_amd64"],
}


def cibuildwheel():
    exe = shutil.which("cibuildwheel")
    if exe is None:
        pytest.skip("cibuildwheel is not installed (the test extra leaves it out; pip install cibuildwheel)")
    return exe


def identifiers(platform, **env):
    # Settings from the environment would override the configuration under test.
    env = {k: v for k, v in os.environ.items() if not k.startswith("CIBW_")} | env
    out = subprocess.run([cibuildwheel(), "--print-build-identifiers", "--platform", platform, str(ROOT)],
                         capture_output=True, text=True, env=env, cwd=ROOT, timeout=120)
    assert out.returncode == 0, out.stderr
    return sorted(out.stdout.split())


@pytest.mark.parametrize("platform", sorted(TARGETS))
def test_cibuildwheel_builds_exactly_one_abi3_wheel_per_target(platform):
    assert identifiers(platform) == sorted(TARGETS[platform])


def test_no_free_threaded_or_musl_wheel_even_for_every_cpython():
    every = identifiers("linux", CIBW_BUILD="cp3*")
    assert len(every) > 2 and all(i.startswith("cp3") for i in every)
    assert not [i for i in every if i.split("-")[0].endswith("t") or "musllinux" in i]


def project_version():
    text = (ROOT / "pyproject.toml").read_text(encoding="utf-8")
    project = text.split("[project]", 1)[1].split("\n[", 1)[0]
    return re.search(r'^version = "([^"]+)"$', project, re.M).group(1)


def test_installed_metadata_reports_the_project_version():
    try:
        dist = importlib.metadata.distribution("talvo_core")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("talvo_core is not installed (a development build)")
    imported = Path(talvo_core.__file__).resolve()
    if not any(Path(dist.locate_file(f)).resolve() == imported for f in dist.files or []):
        pytest.skip("the imported module is not the installed distribution's")
    assert importlib.metadata.version("talvo_core") == project_version()
    meta = dist.metadata
    assert meta["License-Expression"] == "LicenseRef-Proprietary"
    assert "LICENSE" in (meta.get_all("License-File") or [])
    assert any(Path(f).name == "LICENSE" for f in dist.files)
    # The module's member list is fixed: the version lives in the metadata only.
    assert not hasattr(talvo_core, "__version__")
