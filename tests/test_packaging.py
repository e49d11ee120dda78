"""What the release ships: the wheel targets of the cibuildwheel configuration,
the release workflow that builds them, and the version the installed metadata
reports."""
import importlib.metadata
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

import talvo_core

ROOT = Path(__file__).resolve().parents[1]

# Per platform and architecture (glibc and musl on Linux) three wheels: the
# cp310-abi3 wheel for every GIL-enabled CPython from 3.10 on, the cp314t wheel
# (free-threaded 3.14 has no stable ABI) and the abi3.abi3t wheel built on
# cp315t for 3.15 and later, free-threaded or not. No other CPython: the two
# stable-ABI wheels serve them.
PLATFORMS = {
    "linux": ["manylinux_x86_64", "manylinux_aarch64", "musllinux_x86_64", "musllinux_aarch64"],
    "macos": ["macosx_x86_64", "macosx_arm64"],
    "windows": ["win_amd64"],
}
TARGETS = {p: [f"{py}-{plat}" for py in ("cp310", "cp314t", "cp315t") for plat in plats]
           for p, plats in PLATFORMS.items()}


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
def test_cibuildwheel_builds_the_three_wheels_per_target(platform):
    assert identifiers(platform) == sorted(TARGETS[platform])


def test_free_threaded_identifiers_are_not_skipped_for_any_cpython():
    every = identifiers("linux", CIBW_BUILD="cp3*")
    assert len(every) > 4 and all(i.startswith("cp3") for i in every)
    # Nothing of the configuration removes a free-threaded build any more.
    assert {"cp314t", "cp315t"} <= {i.split("-")[0] for i in every}
    assert {i.split("-")[1] for i in every} == set(PLATFORMS["linux"])


def scikit_build_setting(key):
    text = (ROOT / "pyproject.toml").read_text(encoding="utf-8")
    section = text.split("[tool.scikit-build]", 1)[1].split("\n[", 1)[0]
    return re.search(rf'^{re.escape(key)} = "([^"]*)"$', section, re.M).group(1)


def test_python_api_tags_match_the_built_identifiers():
    # wheel.py-api names the stable ABIs: abi3 of the oldest GIL-enabled build
    # and abi3t of the free-threaded build that gives the abi3.abi3t wheel; a
    # free-threaded CPython older than that builds the full API (cp314t).
    classic, free = scikit_build_setting("wheel.py-api").split(".")
    built = {i.split("-")[0] for ids in TARGETS.values() for i in ids}
    assert {classic, free} <= built
    assert classic == "cp310" and free == "cp315t"
    assert sorted(built) == ["cp310", "cp314t", "cp315t"] and int(free[3:-1]) > 14


WORKFLOW = ROOT / ".github" / "workflows" / "wheels.yml"


def workflow():
    yaml = pytest.importorskip(
        "yaml", reason="pyyaml is not installed (the test extra leaves it out; pip install pyyaml)")
    return yaml.safe_load(WORKFLOW.read_text(encoding="utf-8"))


def test_workflow_builds_and_tests_every_cibuildwheel_target():
    jobs = workflow()["jobs"]
    built = {(m["platform"], m["arch"]) for m in jobs["wheels"]["strategy"]["matrix"]["include"]}
    # Every architecture of every platform's identifiers ("cp310-musllinux_x86_64",
    # "cp310-win_amd64"), in cibuildwheel's spelling, each on its own runner.
    def arch(platform, identifier):
        name = identifier.split("-", 1)[1].split("_", 1)[1]
        return name.upper() if platform == "windows" else name
    assert built == {(p, arch(p, i)) for p, ids in TARGETS.items() for i in ids}
    newest = {(m["platform"], m["arch"]) for m in jobs["newest-python"]["strategy"]["matrix"]["include"]}
    assert newest == built
    # The free-threaded wheels again on each platform's free-threaded CPython,
    # with the GIL off; the abi3t wheel again on GIL-enabled 3.15.
    free = jobs["free-threaded"]
    assert {(m["platform"], m["arch"]) for m in free["strategy"]["matrix"]["include"]} == built
    assert free["strategy"]["matrix"]["python"] == ["3.14t", "3.15t"]
    assert free["env"]["PYTHON_GIL"] == "0"
    text = WORKFLOW.read_text(encoding="utf-8")
    assert "bench/threads.py" in text and "cp314-cp314t" in text
    assert any(s.get("with", {}).get("python-version") == "3.15" for s in jobs["newest-python"]["steps"])
    # The same runner for a platform and architecture in every job.
    runners = {(m["platform"], m["arch"]): m["os"] for m in jobs["wheels"]["strategy"]["matrix"]["include"]}
    for job in ("newest-python", "free-threaded"):
        assert {(m["platform"], m["arch"]): m["os"] for m in jobs[job]["strategy"]["matrix"]["include"]} == runners
    musl = {m["arch"] for m in jobs["newest-python-musl"]["strategy"]["matrix"]["include"]}
    assert musl == {arch("linux", i) for i in TARGETS["linux"] if "musllinux" in i} == {"x86_64", "aarch64"}


def test_workflow_runs_bash_everywhere_and_lints_itself_as_ci_does():
    flow = workflow()
    # One shell on every runner, so that scripts/check_workflow.sh can check
    # every run block with shellcheck; its lint job runs that same script.
    assert flow["defaults"] == {"run": {"shell": "bash"}}
    assert not [s for job in flow["jobs"].values() for s in job["steps"] if "shell" in s]
    assert "scripts/check_workflow.sh" in [s.get("run") for s in flow["jobs"]["lint"]["steps"]]


def test_workflow_publishes_on_a_version_tag_by_trusted_publishing_only():
    flow = workflow()
    publish = flow["jobs"]["publish"]
    assert "refs/tags/v" in publish["if"]
    assert set(publish["needs"]) == set(flow["jobs"]) - {"publish"}
    assert publish["permissions"] == {"id-token": "write"}
    assert flow["permissions"] == {"contents": "read"}
    # No stored token: the publishing action is given no password.
    text = WORKFLOW.read_text(encoding="utf-8")
    assert "secrets." not in text and "password" not in text


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
    assert talvo_core.__version__ == importlib.metadata.version("talvo_core")


def test_module_version_is_the_project_version_outside_all():
    # Set by the build from pyproject.toml; the member list (__all__) is fixed.
    assert talvo_core.__version__ == project_version()
    assert type(talvo_core.__version__) is str
    assert "__version__" not in talvo_core.__all__


@pytest.mark.skipif(shutil.which("cmake") is None, reason="cmake is not installed")
def test_pip_builds_keep_their_objects_across_build_environments(tmp_path):
    # cmake/keep_objects.cmake: after a build the targets' object folders are
    # saved beside CMakeFiles/ (timestamps kept, so Ninja sees them up to
    # date); when scikit-build-core has cleared CMakeFiles/ they are put back,
    # but never over objects that are there.
    script = ROOT / "cmake" / "keep_objects.cmake"

    def keep(action):
        done = subprocess.run(["cmake", f"-DTALVO_KEEP={action}", f"-DTALVO_BUILD_DIR={tmp_path}", "-P", str(script)],
                              capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
        return done

    def obj(base, target, name="src/a.cpp.o"):
        return base / f"{target}.dir" / name

    files = tmp_path / "CMakeFiles"
    for target in ("talvo_kernels", "talvo_core", "bench_runs_kernel"):
        path = obj(files, target)
        path.parent.mkdir(parents=True)
        path.write_bytes(target.encode())
        os.utime(path, (1_000_000_000, 1_000_000_000))
    keep("save")
    kept = tmp_path / "kept-objects"
    assert sorted(p.name for p in kept.iterdir()) == ["talvo_core.dir", "talvo_kernels.dir"]
    shutil.rmtree(files)  # what a new build environment does
    (files / "talvo_core.dir").mkdir(parents=True)  # already regenerated: left alone
    keep("restore")
    restored = obj(files, "talvo_kernels")
    assert restored.read_bytes() == b"talvo_kernels" and restored.stat().st_mtime == 1_000_000_000
    assert not obj(files, "talvo_core").exists()
    # A rebuilt object replaces the kept one at the next save.
    restored.write_bytes(b"new")
    keep("save")
    assert obj(kept, "talvo_kernels").read_bytes() == b"new"
    done = subprocess.run(["cmake", "-DTALVO_KEEP=other", "-P", str(script)], capture_output=True, text=True)
    assert done.returncode != 0 and "save or restore" in done.stderr


def retired_runner_labels():
    lines = (ROOT / "scripts" / "retired_runners.txt").read_text(encoding="utf-8").splitlines()
    return {line.split()[0] for line in lines if line.strip() and not line.startswith("#")}


def test_workflow_asks_for_no_retired_runner():
    retired = retired_runner_labels()
    assert {"macos-13", "ubuntu-20.04", "windows-2019"} <= retired
    labels = set()
    for job in workflow()["jobs"].values():
        labels.add(job["runs-on"])
        for entry in job.get("strategy", {}).get("matrix", {}).get("include", []):
            labels.add(entry.get("os"))
    assert not labels & retired
    # Intel macOS on its supported image, arm64 macOS beside it.
    assert {"macos-15-intel", "macos-14"} <= labels
