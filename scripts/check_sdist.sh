#!/usr/bin/env bash
# Builds the source distribution and checks it:
#   - it carries the license file, named in its metadata (License-File), and
#     leaves out what only this repository's CI runs (.ci/ and the CI scripts);
#   - pip builds and installs it, with the test extras, into one fresh virtual
#     environment, and the suite's quick stage and its module checks, taken
#     from the unpacked sdist, pass there against the installed module. (The
#     whole suite has already run against this build, the same compiler and
#     flags from the same sources, in the README's test command; TALVO_SDIST_FULL=1
#     runs it here too.)
#
# Usage: scripts/check_sdist.sh        (PYTHON=python3.12 to pick the interpreter)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
py="${PYTHON:-python3}"
unset PYTHONPATH
tmp="$(mktemp -d "${TMPDIR:-/tmp}/talvo-sdist.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT

"$py" -m venv "$tmp/venv"
venv_py="$tmp/venv/bin/python"
"$venv_py" -m pip install -q build
"$venv_py" -m build --sdist -o "$tmp/dist" .
sdists=("$tmp"/dist/talvo_core-*.tar.gz)
[ -f "${sdists[0]}" ] || { echo "no sdist was built" >&2; exit 1; }
sdist="${sdists[0]}"
echo "sdist: $(basename "$sdist")"

"$venv_py" - "$sdist" <<'PY'
import sys, tarfile
with tarfile.open(sys.argv[1]) as tar:
    names = {n.split("/", 1)[1] for n in tar.getnames() if "/" in n}
    top = tar.getnames()[0].split("/", 1)[0]
    pkg_info = tar.extractfile(f"{top}/PKG-INFO").read().decode()
problems = []
for need in ("LICENSE", "CHANGELOG.md", "README.md", "CMakeLists.txt", "pyproject.toml", "src/module.cpp",
             "stubs/talvo_core-stubs/__init__.pyi", "tests/conftest.py", "examples/ecc_failure_rates.py"):
    if need not in names:
        problems.append(f"missing: {need}")
ci_only = [n for n in names if n.startswith(".ci/") or n in (
    "scripts/check_wheel.sh", "scripts/check_sdist.sh", "scripts/test_other_pythons.sh",
    "scripts/run_stubtest.py", "scripts/stubtest_allowlist.txt")]
problems += [f"CI-only file shipped: {n}" for n in sorted(ci_only)]
headers = dict(line.split(": ", 1) for line in pkg_info.split("\n\n", 1)[0].splitlines() if ": " in line)
if "LICENSE" not in [line.split(": ", 1)[1] for line in pkg_info.splitlines() if line.startswith("License-File: ")]:
    problems.append("PKG-INFO names no License-File: LICENSE")
if headers.get("License-Expression") != "LicenseRef-Proprietary":
    problems.append(f"License-Expression is {headers.get('License-Expression')!r}")
if problems:
    sys.exit("\n".join(problems))
print(f"contents: {len(names)} files, license file present, no CI-only files")
PY

echo "== install the sdist with its test extras and run its tests"
"$venv_py" -m pip install -q "$sdist[test]"
mkdir "$tmp/src"
tar -xzf "$sdist" -C "$tmp/src"
tests=("$tmp"/src/talvo_core-*/tests)
# From outside the unpacked tree, so that only the installed module can be imported.
cd "$tmp"
if [ "${TALVO_SDIST_FULL:-}" = 1 ]; then
  "$venv_py" -m pytest -q -p no:cacheprovider "${tests[0]}"
else
  "$venv_py" -m pytest -q -p no:cacheprovider "${tests[0]}/test_quick.py" "${tests[0]}/test_frame.py" \
    "${tests[0]}/test_example.py" "${tests[0]}/test_docs.py"
fi
echo "check_sdist: all checks passed"
