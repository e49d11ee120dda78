#!/usr/bin/env bash
# Proves on this x86-64 Linux machine that the module builds and gives the
# same results on the other platforms it supports:
#   layers    no architecture- or OS-specific call outside the SIMD and OS layers;
#   clang     `CXX=clang++ pip install .` and the whole suite;
#   aarch64   a cross build with Debian's aarch64 g++, its suite run by Debian's
#             arm64 CPython under qemu-aarch64, and a digest of representative
#             results compared bit for bit with the x86-64 build;
#   nehalem   under qemu-x86_64 -cpu Nehalem (no AVX): the tests of the kernels
#             that depend on the instruction set, and the digest;
#   cross     every source file compiled for macOS arm64 and x86-64 and for
#             Windows x64 (zig's clang as the cross compiler), then linked: the
#             two macOS extension bundles (LLVM's Mach-O linker) and the Windows
#             DLL (zig's MinGW-w64 link, an import library of python3.dll made
#             from the stable ABI's symbol list); each checked for its one
#             export, the libraries and interpreter symbols it needs, maths
#             from the system and no fused multiply-add
#             (scripts/portability/check_binary.py).
# Its tools come from apt (clang, lld, llvm, the aarch64 cross compiler,
# qemu-user) and pip (in a virtual environment under build/: cmake, ninja,
# ziglang, abi3info and the test tools); the arm64
# interpreter is Debian's, fetched with `apt-get download` into a private apt
# state and unpacked with `dpkg -x`. Nothing is installed into the
# interpreter that runs this script.
#
# Usage: scripts/check_portability.sh [step ...]   (default: every step, in the order above)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
unset PYTHONPATH
here="$root/scripts/portability"
work="$root/build/portability"
mkdir -p "$work"
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(layers clang aarch64 nehalem cross)
summary=()

# ---------------------------------------------------------------------------
# Tools.

apt_install() { "$root/scripts/apt_install.sh" "$@"; }

venv="$work/venv"
vpy="$venv/bin/python"
tools_venv() {
  if [ ! -x "$vpy" ]; then
    python3 -m venv "$venv"
    "$vpy" -m pip install -q --upgrade pip >/dev/null 2>&1 || true
  fi
  "$vpy" -m pip install -q cmake ninja "ziglang>=0.17,<0.18" abi3info pytest hypothesis networkx
}

# Debian's arm64 CPython 3.11 and the libraries it and the suite need, from a
# private apt state (the machine's own apt configuration is left alone).
sysroot="$work/sysroot-arm64"
arm64_sysroot() {
  [ -x "$sysroot/usr/bin/python3.11" ] && [ -f "$sysroot/usr/include/python3.11/Python.h" ] && return 0
  local state="$work/apt-arm64"
  mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/debs"
  touch "$state/status"
  local opts=(-o APT::Architecture=arm64 -o APT::Architectures::=arm64 -o "Dir::State::Lists=$state/lists"
              -o "Dir::State::status=$state/status" -o "Dir::Cache=$state/cache")
  apt-get "${opts[@]}" update -qq
  rm -f "$state/debs"/*.deb
  (cd "$state/debs" && apt-get "${opts[@]}" download -qq \
    python3.11-minimal libpython3.11-minimal libpython3.11-stdlib libpython3.11-dev \
    libc6 libgcc-s1 zlib1g libexpat1 libffi8 libbz2-1.0 liblzma5 libuuid1 libssl3 libsqlite3-0 \
    libncursesw6 libtinfo6 libreadline8 libcrypt1 2>&1 | grep -v "unsandboxed" || true)
  rm -rf "$sysroot"
  mkdir -p "$sysroot"
  local deb
  for deb in "$state/debs"/*.deb; do dpkg -x "$deb" "$sysroot"; done
  [ -x "$sysroot/usr/bin/python3.11" ] || { echo "arm64 sysroot: no interpreter after unpacking" >&2; return 1; }
}

# The test tools for the emulated interpreter, as wheels for arm64 CPython
# 3.11 (some carry native code) in one folder put on its PYTHONPATH.
pylib="$work/pylib-arm64"
arm64_pylib() {
  [ -d "$pylib/hypothesis" ] && [ -d "$pylib/pytest" ] && [ -d "$pylib/networkx" ] && return 0
  rm -rf "$pylib"
  "$vpy" -m pip install -q --target "$pylib" --no-compile --only-binary=:all: \
    --platform manylinux2014_aarch64 --python-version 3.11 --implementation cp --abi cp311 \
    pytest hypothesis networkx
}

# A launcher for an interpreter under an emulator, usable as sys.executable.
launcher() {  # launcher FILE COMMAND...
  local file=$1
  shift
  printf '#!/bin/sh\nexec %s "$@"\n' "$*" >"$file"
  chmod +x "$file"
}

# `CXX=clang++ pip install .` into the tools environment, as a user would (in
# a build folder of its own, so the g++ build of the README's command is left
# alone). The x86-64 side of every comparison below is this build.
build_clang() {
  apt_install clang lld
  tools_venv
  rm -f "$work/clang.built"
  CXX=clang++ "$vpy" -m pip install -q --force-reinstall --no-deps . \
    --config-settings=build-dir="$work/clang-build"
  grep -q "CMAKE_CXX_COMPILER:.*clang++" "$work/clang-build/CMakeCache.txt" \
    || { echo "the clang build did not use clang++" >&2; return 1; }
  touch "$work/clang.built"
}
clang_built() { [ -f "$work/clang.built" ] && "$vpy" -c "import talvo_core" >/dev/null 2>&1; }

# ---------------------------------------------------------------------------
# Steps.

step_layers() {
  # Only the SIMD layer (src/simd.*) and the OS layer (src/os.*) may name
  # instruction sets, CPU features, or calls, headers and files of one system.
  local pattern='immintrin|x86intrin|[a-z]mmintrin|arm_neon|arm_sve|__m(64|128|256|512)|_mm(256|512)?_[a-z]|vld1q|vst1q|float64x2_t|__builtin_cpu_(supports|init|is)|__cpuid|target_clones|__attribute__\(\(target|\[\[gnu::target|__builtin_shuffle|__builtin_ia32|__x86_64__|__aarch64__|__AVX|__SSE|__ARM_NEON|_M_X64|_M_ARM64|sched_[a-z]|pthread_|<pthread\.h>|<sched\.h>|<signal\.h>|<csignal>|sigset|sig(fill|empty|add)set|<unistd\.h>|sysconf|<sys/|mmap|munmap|madvise|MAP_ANON|/proc/|sysctl|<mach/|host_statistics|<windows\.h>|VirtualAlloc|GlobalMemoryStatus|GetActiveProcessorCount|__linux__|__APPLE__|_WIN32|__FreeBSD__'
  local hits
  hits="$(grep -rnE "$pattern" src --include='*.cpp' --include='*.h' \
            | grep -vE '^src/(simd|os)\.(h|cpp):' || true)"
  if [ -n "$hits" ]; then
    echo "architecture- or OS-specific code outside src/simd.* and src/os.*:" >&2
    echo "$hits" >&2
    return 1
  fi
  echo "layers: no architecture- or OS-specific call outside src/simd.* and src/os.*"
}

step_clang() {
  build_clang
  local so
  so="$("$vpy" -c 'import talvo_core; print(talvo_core.__file__)')"
  check_elf "$so" nm readelf objdump
  "$vpy" -m pytest -q -p no:cacheprovider tests
}

# The shared object exports PyInit_talvo_core alone, takes its maths from the
# system's libm, dynamically, and has no fused multiply-add.
check_elf() {  # check_elf FILE NM READELF OBJDUMP
  # (Outputs are read whole before grep: an early exit of grep -q would fail
  # the pipeline under pipefail.)
  local so=$1 nm=$2 readelf=$3 objdump=$4 exports dynamic imports
  exports="$("$nm" -D --defined-only "$so" | awk '{print $3}' | sort | tr '\n' ' ')"
  [ "$exports" = "PyInit_talvo_core " ] || { echo "$so exports: $exports" >&2; return 1; }
  dynamic="$("$readelf" -d "$so")"
  grep -q 'NEEDED.*\[libm\.so\.6\]' <<<"$dynamic" || { echo "$so does not load libm.so.6" >&2; return 1; }
  imports="$("$nm" -D --undefined-only "$so")"
  grep -qE ' (sincos|sin|cos)@' <<<"$imports" \
    || { echo "$so does not take sin/cos from the system's libm" >&2; return 1; }
  # No fused multiply-add anywhere in the module: contraction is off on every
  # compiler (GCC on arm64 would otherwise fuse a*b+c in the statevector kernel).
  local fused
  fused="$("$objdump" -d "$so" | grep -cE $'\t(v?f(n)?m(add|sub)|vfn?m(add|sub)[0-9]{3})' || true)"
  [ "$fused" -eq 0 ] || { echo "$so contains $fused fused multiply-add instructions" >&2; return 1; }
  echo "$(basename "$so"): exports PyInit_talvo_core only; sin/cos from the system's libm.so.6; no fused multiply-add"
}

step_aarch64() {
  apt_install g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user
  tools_venv
  arm64_sysroot
  arm64_pylib
  local build="$work/aarch64"
  PATH="$venv/bin:$PATH" cmake -S . -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/aarch64-linux-gnu.cmake" -DTALVO_SYSROOT="$sysroot" \
    -DPython_EXECUTABLE="$vpy" >/dev/null
  PATH="$venv/bin:$PATH" cmake --build "$build" -j2
  check_elf "$build/talvo_core.abi3.so" aarch64-linux-gnu-nm aarch64-linux-gnu-readelf aarch64-linux-gnu-objdump
  local py="$work/python-arm64"
  launcher "$py" qemu-aarch64 -L "$sysroot" "$sysroot/usr/bin/python3.11"
  local env=(env TALVO_EMULATED=qemu-aarch64 TALVO_EMULATOR_PYTHON="$py"
             PYTHONPATH="$build:$pylib:$here/emulated" PYTHONDONTWRITEBYTECODE=1)
  "${env[@]}" "$py" -c 'import platform, talvo_core; print("emulated:", platform.machine(), platform.python_version())'
  "${env[@]}" "$py" -m pytest -q -p no:cacheprovider tests
  # The same representative results, bit for bit, as the x86-64 build.
  clang_built || build_clang
  "${env[@]}" "$py" "$here/digest.py" >"$work/digest-arm64.txt"
  "$vpy" "$here/digest.py" >"$work/digest-x86_64.txt"
  if ! diff "$work/digest-x86_64.txt" "$work/digest-arm64.txt"; then
    echo "arm64 results differ from x86-64 (lines above)" >&2
    return 1
  fi
  echo "arm64 == x86-64 on all $(wc -l <"$work/digest-arm64.txt") representative computations"
}

step_nehalem() {
  apt_install qemu-user
  tools_venv
  clang_built || build_clang
  # A processor without AVX: the kernels must choose their generic path.
  local py="$work/python-nehalem"
  launcher "$py" qemu-x86_64 -cpu Nehalem "$vpy"
  local env=(env TALVO_EMULATED=qemu-x86_64-nehalem TALVO_EMULATOR_PYTHON="$py"
             PYTHONPATH="$here/emulated" PYTHONDONTWRITEBYTECODE=1)
  "${env[@]}" "$py" -c 'import talvo_core; print("emulated: Nehalem, no AVX")'
  # The tests of the kernels whose code depends on the instruction set (each
  # compares with the Python models bit for bit); NEHALEM_TESTS=tests runs the
  # whole suite, which passes too but doubles the time of this step.
  # shellcheck disable=SC2086
  "${env[@]}" "$py" -m pytest -q -p no:cacheprovider \
    ${NEHALEM_TESTS:-tests/test_simd.py tests/test_spectrum.py tests/test_ising.py tests/test_statevector.py}
  "${env[@]}" "$py" "$here/digest.py" >"$work/digest-nehalem.txt"
  # glibc's libm has variants for processors with and without FMA that differ
  # in the last bit of a few sin and cos values (the Python fallback follows
  # the same libm, so each machine agrees with itself). The native run below
  # uses the variant without FMA, so only the module's own code is compared:
  # its best instruction set here against the generic one there.
  GLIBC_TUNABLES=glibc.cpu.hwcaps=-FMA,-FMA4,-AVX2 "$vpy" "$here/digest.py" >"$work/digest-x86_64-nofma.txt"
  diff "$work/digest-x86_64-nofma.txt" "$work/digest-nehalem.txt" \
    || { echo "results without AVX differ from the native ones (lines above)" >&2; return 1; }
  echo "Nehalem == native on all $(wc -l <"$work/digest-nehalem.txt") representative computations"
  # An instruction set the processor lacks is refused at import.
  if "${env[@]}" TALVO_CORE_SIMD=avx2 "$py" -c 'import talvo_core' 2>"$work/nehalem-avx2.txt"; then
    echo "TALVO_CORE_SIMD=avx2 was accepted on a processor without AVX" >&2
    return 1
  fi
  echo "TALVO_CORE_SIMD=avx2 refused: $(tail -1 "$work/nehalem-avx2.txt")"
}

# Every module source compiled for one cross target into $work/cross-NAME.
cross_targets=(macos-arm64:aarch64-macos.13.3 macos-x86_64:x86_64-macos.13.3 windows-x64:x86_64-windows-gnu)
step_cross() {
  apt_install llvm lld
  tools_venv
  local entry name target inc cfg sources jobs=()
  # The module's sources (C++ tests beside them embed a full interpreter).
  mapfile -t sources < <(find src -name '*.cpp' ! -name '*_test.cpp' | sort)
  for entry in "${cross_targets[@]}"; do
    name=${entry%%:*} target=${entry#*:}
    case "$name" in
      macos*) inc="$work/pyinclude-macos"; cfg="$here/pyconfig-macos" ;;
      windows*) inc="$work/pyinclude-windows"; cfg="$here/pyconfig-windows" ;;
    esac
    # The host's stable-ABI headers with the target's configuration header.
    if [ ! -f "$inc/.made" ]; then
      rm -rf "$inc"
      mkdir -p "$inc"
      cp -r "$(python3 -c 'import sysconfig; print(sysconfig.get_paths()["include"])')"/. "$inc"/
      cp "$cfg/pyconfig.h" "$inc/pyconfig.h"
      touch "$inc/.made"
    fi
    rm -rf "$work/cross-$name"
    mkdir -p "$work/cross-$name"
    local source
    for source in "${sources[@]}"; do jobs+=("$name $target $inc $source"); done
  done
  # The distribution's version, as CMakeLists.txt passes it to module.cpp.
  local version
  version="$("$vpy" -c 'import tomllib; print(tomllib.load(open("pyproject.toml", "rb"))["project"]["version"])')"
  # The compile flags of CMakeLists.txt for GCC and Clang; macOS at the wheels'
  # deployment target. All three targets share one pool of two jobs.
  echo "cross: compiling ${#sources[@]} files for ${#cross_targets[@]} targets"
  if ! printf '%s\n' "${jobs[@]}" | OUT="$work" VPY="$vpy" VERSION="$version" xargs -P2 -L1 sh -c \
      '"$VPY" -m ziglang c++ -target "$1" -std=c++20 -O2 -ffp-contract=off -fno-fast-math \
         -fvisibility=hidden -fvisibility-inlines-hidden -Wall -Wextra -Wno-missing-field-initializers \
         -Werror -DPy_LIMITED_API=0x030A0000 -DNDEBUG "-DTALVO_VERSION=\"$VERSION\"" -I"$2" -Isrc \
         -c "$3" -o "$OUT/cross-$0/$(echo "$3" | tr / _).o"'; then
    echo "cross: compile errors (above)" >&2
    return 1
  fi
  # Python's init macro marks PyInit_talvo_core for export from the DLL.
  local directives
  directives="$(llvm-readobj --coff-directives "$work/cross-windows-x64/src_module.cpp.o")"
  grep -qi 'export:PyInit_talvo_core' <<<"$directives" \
    || { echo "the Windows object does not export PyInit_talvo_core" >&2; return 1; }
  link_macos arm64 macos-arm64
  link_macos x86_64 macos-x86_64
  link_windows
  echo "cross: every source compiles for macOS arm64 and x86-64 (13.3) and Windows x64;" \
       "the linked bundles and DLL are in $work/linked"
}

# The symbol lists the links and checks below take from the stable ABI.
stable_abi() {
  "$vpy" "$here/stable_abi.py" names >"$work/linked/stable-abi-3.10.txt"
  "$vpy" "$here/stable_abi.py" def >"$work/linked/python3.def"
}

# A macOS extension bundle as the wheel's CMake link makes it (-bundle, the
# interpreter's symbols looked up at load time, the exported-symbols list),
# by LLVM's Mach-O linker against zig's text stub of libSystem and one of the
# system's libc++ (the C++ runtime symbols the objects call); then checked.
link_macos() {  # link_macos ARCH NAME
  local arch=$1 name=$2 out="$work/linked/$2" ld64
  mkdir -p "$out"
  [ -f "$work/linked/stable-abi-3.10.txt" ] || stable_abi
  ld64="$(command -v ld64.lld || ls /usr/bin/ld64.lld-* 2>/dev/null | sort -V | tail -1)"
  [ -n "$ld64" ] || { echo "no ld64.lld (Debian's lld)" >&2; return 1; }
  local zig_lib
  zig_lib="$("$vpy" -c 'import ziglang, os; print(os.path.dirname(ziglang.__file__))')/lib"
  # lld 14 knows neither arm64e.x1 nor arm64e as a stand-in for arm64.
  sed -E 's/arm64e\.x1-[a-z]+(, *)?//g; s/arm64e-/arm64-/g' "$zig_lib/libc/darwin/libSystem.tbd" >"$out/libSystem.tbd"
  "$vpy" "$here/check_binary.py" libcxx-tbd "$arch" "$work/cross-$name" >"$out/libc++.tbd"
  "$ld64" -arch "$arch" -platform_version macos 13.3 13.3 -bundle -undefined dynamic_lookup \
    -exported_symbols_list src/exports.txt "$work/cross-$name"/*.o "$out/libSystem.tbd" "$out/libc++.tbd" \
    -o "$out/talvo_core.abi3.so"
  "$vpy" "$here/check_binary.py" macho "$out/talvo_core.abi3.so" "$work/cross-$name" "$work/linked/stable-abi-3.10.txt"
}

# The Windows x64 module: zig's MinGW-w64 link (its libc++ linked in
# statically) against an import library of python3.dll made from the stable
# ABI's symbol list, with the maths functions the objects call taken from the
# universal C runtime's import library first (zig's compiler runtime carries
# sin, cos, ceil, sqrt and trunc of its own); then checked.
link_windows() {
  local out="$work/linked/windows-x64" objs="$work/cross-windows-x64" f
  mkdir -p "$out"
  [ -f "$work/linked/python3.def" ] || stable_abi
  "$vpy" -m ziglang dlltool -d "$work/linked/python3.def" -l "$out/libpython3.a" -m i386:x86-64
  {
    echo "LIBRARY api-ms-win-crt-math-l1-1-0.dll"
    echo "EXPORTS"
    for f in $("$vpy" "$here/check_binary.py" maths "$objs"); do echo "  $f"; done
  } >"$out/ucrt-maths.def"
  "$vpy" -m ziglang dlltool -d "$out/ucrt-maths.def" -l "$out/libucrt-maths.a" -m i386:x86-64
  "$vpy" -m ziglang c++ -target x86_64-windows-gnu -shared "$objs"/*.o "$out/libucrt-maths.a" \
    "$out/libpython3.a" -o "$out/talvo_core.pyd"
  "$vpy" "$here/check_binary.py" pe "$out/talvo_core.pyd" "$objs" "$work/linked/python3.def"
}

# ---------------------------------------------------------------------------

status=0
for step in "${steps[@]}"; do
  declare -F "step_$step" >/dev/null || { echo "unknown step: $step" >&2; exit 2; }
  echo "== portability: $step"
  start=$(date +%s)
  # A subshell of its own with errexit on: the first failing command ends the step.
  set +e
  (set -e; "step_$step")
  rc=$?
  set -e
  if [ $rc -eq 0 ]; then result=passed; else result=FAILED; status=1; fi
  summary+=("$(printf '%-8s %-6s %4ds' "$step" "$result" $(($(date +%s) - start)))")
done
echo "== portability summary"
printf '%s\n' "${summary[@]}"
exit $status
