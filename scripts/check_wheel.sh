#!/usr/bin/env bash
# Builds the wheel and checks what we ship:
#   - on Linux the release wheel of scripts/build_release_wheel.sh, repaired to
#     the manylinux tag asserted below and already run against the whole suite;
#     elsewhere the wheel pip builds with the platform's compiler;
#   - the file name carries the stable-ABI tag cp310-abi3;
#   - abi3audit finds no symbol outside the 3.10 limited API;
#   - the type stubs are inside the wheel, mypy resolves them from an install,
#     and stubtest finds them in agreement with the built module.
# The wheel is installed into a throwaway virtual environment, never into the
# interpreter that runs this script.
#
# Usage: scripts/check_wheel.sh        (PYTHON=python3.12 to pick the interpreter)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
py="${PYTHON:-python3}"
unset PYTHONPATH

# The oldest glibc the Linux wheel loads on: glibc 2.12 symbol versions, no
# C++ runtime of the host's (see scripts/zig-c++); 2.12 is the first glibc
# with pthread_setname_np, which names the worker pool's threads.
glibc=2.12
manylinux="manylinux_${glibc/./_}_$(uname -m)"

rm -f dist/talvo_core-*.whl
if [ "$(uname -s)" = Linux ]; then
  PYTHON="$py" TALVO_GLIBC="$glibc" scripts/build_release_wheel.sh
else
  "$py" -m pip wheel . -w dist/ --no-deps
fi
wheels=(dist/talvo_core-*.whl)
if [ "${#wheels[@]}" -ne 1 ] || [ ! -f "${wheels[0]}" ]; then
  echo "expected exactly one talvo_core wheel in dist/, found: ${wheels[*]}" >&2
  exit 1
fi
wheel="$root/${wheels[0]}"
echo "wheel: ${wheels[0]}"

case "$(basename "$wheel")" in
  talvo_core-*-cp310-abi3-*.whl) echo "tag: cp310-abi3 ok" ;;
  *) echo "wheel tag is not cp310-abi3: $(basename "$wheel")" >&2; exit 1 ;;
esac
if [ "$(uname -s)" = Linux ]; then
  case "$(basename "$wheel" .whl)" in
    *-cp310-abi3-*"$manylinux"*) echo "platform: $manylinux ok" ;;
    *) echo "wheel is not $manylinux: $(basename "$wheel")" >&2; exit 1 ;;
  esac
fi

# The extension and its stub package must travel inside the wheel.
"$py" - "$wheel" <<'PY'
import sys, zipfile
names = set(zipfile.ZipFile(sys.argv[1]).namelist())
want = [f"talvo_core-stubs/{m}.pyi" for m in ("__init__", "sim", "analog", "ecc", "cutting")]
missing = [n for n in want if n not in names]
if missing:
    sys.exit(f"stubs missing from the wheel: {missing}")
# Exactly one extension, named for the stable ABI, so abi3audit has something to scan.
modules = [n for n in names if n.endswith(".so")]
if modules != ["talvo_core.abi3.so"]:
    sys.exit(f"expected the one extension talvo_core.abi3.so, found {modules}")
print("contents: talvo_core.abi3.so and its stubs")
PY

tmp="$(mktemp -d "${TMPDIR:-/tmp}/talvo-wheel-check.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
"$py" -m venv "$tmp/venv"
venv_py="$tmp/venv/bin/python"
"$venv_py" -m pip install -q --upgrade pip >/dev/null 2>&1 || true
"$venv_py" -m pip install -q abi3audit mypy "$wheel"

echo "abi3audit:"
"$tmp/venv/bin/abi3audit" --strict --summary --verbose "$wheel"

# Everything below runs outside the source tree, so only the installed wheel
# (and its stubs) can be found.
cd "$tmp"
cat > usage.py <<'PY'
import talvo_core
from talvo_core import ecc, sim

graph: talvo_core.sim.LogicalGraph = sim.LogicalGraph([sim.Variable("a", "spin")], [])
spins: list[int] = sim.IsingSimulator().solve_exact(graph)
patch = ecc.build_surface_code(3)
table: list[tuple[list[int], list[int]]] = talvo_core.build_ecc_lookup_table(9, patch.z_stabilizers)
best, energy, energies = talvo_core.qubo_energy_spectrum([((0, 1), 1.0)], 2)
PY
echo "mypy on an installed-module example:"
"$venv_py" -m mypy --strict --no-incremental usage.py

echo "stubtest:"
"$venv_py" "$root/scripts/run_stubtest.py" talvo_core \
  --allowlist "$root/scripts/stubtest_allowlist.txt"
echo "check_wheel: all checks passed"
