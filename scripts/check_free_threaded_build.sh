#!/usr/bin/env bash
# The build from source on free-threaded CPython 3.14 (cp314t), which has no
# stable ABI: the module's Python-facing part (the boundary and the bindings)
# compiled with the whole C API of 3.14 and Py_GIL_DISABLED, as a
# free-threaded interpreter's pyconfig.h sets it, against Debian's CPython 3.14
# headers inside the root of scripts/debian_root.sh (no free-threaded
# interpreter is packaged there; the headers are the same for both builds but
# for that one macro). The kernels are compiled without Python's include path
# and are the same for every build, so they are left out. Checked:
#   - CMake chose the full API for it (TALVO_ABI=full: no Py_LIMITED_API), and
#     the limited API together with Py_GIL_DISABLED is refused by these
#     headers, as it is by a free-threaded 3.14;
#   - the objects' reference counting is the free-threaded one: they call the
#     interpreter's shared-count functions, which a GIL build's never do.
# Loading and running it needs a free-threaded interpreter: the release
# workflow's runners build the cp314t wheel with cibuildwheel and run the
# suite against it with the GIL off.
#
# Usage: scripts/check_free_threaded_build.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/debian_root.sh >/dev/null
build=build/free-threaded-314
# shellcheck disable=SC2016  # the inner script's own variables
scripts/debian_root.sh run bash -c '
set -euo pipefail
cd /src
build=$1
echo "== the limited API with Py_GIL_DISABLED: refused by the 3.14 headers"
probe=$(printf "#include <Python.h>\n" | g++ -x c++ -fsyntax-only -DPy_GIL_DISABLED=1 -DPy_LIMITED_API=0x030A0000 \
  -I/usr/include/python3.14 - 2>&1 || true)
grep -q "error" <<<"$probe" || { echo "the limited API with Py_GIL_DISABLED compiled: expected an error" >&2; exit 1; }
grep -m1 "error" <<<"$probe"
echo "== configure and build with Py_GIL_DISABLED (full API)"
cmake -S . -B "$build" -G Ninja -DPython_EXECUTABLE=/usr/bin/python3.14 -DTALVO_ABI=full \
  -DCMAKE_CXX_FLAGS=-DPy_GIL_DISABLED=1 >"/tmp/configure.log" 2>&1 || { cat /tmp/configure.log; exit 1; }
grep "talvo_core:" /tmp/configure.log
# The objects of the module target that see Python.h: the boundary and the bindings.
mapfile -t objects < <(ninja -C "$build" -t targets all | sed -n "s|^\(CMakeFiles/talvo_core.dir/src/[^:]*\.o\): .*|\1|p")
[ ${#objects[@]} -gt 10 ] || { echo "found only ${#objects[@]} objects of the module" >&2; exit 1; }
ninja -C "$build" "${objects[@]}"
if grep -q -- "-DPy_LIMITED_API" "$build/build.ninja"; then
  echo "Py_LIMITED_API set in the full-API build" >&2; exit 1
fi
shared=$(cd "$build" && nm --undefined-only "${objects[@]}" | grep -cE " _Py_(DecRefShared|MergeZeroLocalRefcount)$" || true)
[ "$shared" -gt 0 ] || { echo "the objects do not use the free-threaded reference counting" >&2; exit 1; }
echo "${#objects[@]} objects of the module: full API, free-threaded reference counting ($shared references to the shared-count functions)"
' check "$build"
