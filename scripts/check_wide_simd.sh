#!/usr/bin/env bash
# Runs the 8-lane kernels of the AVX-512 variant on any machine with AVX2: a
# build configured with -DTALVO_SIMD_TEST_WIDE=ON runs them in place of the
# 4-lane AVX2 kernels when TALVO_SIMD_TEST_WIDE=1 is set, and this script runs
# the C++ test and the bit-for-bit model comparisons of the exhaustive scans
# (the only kernels with 8-lane variants) against them.
#
#   scripts/check_wide_simd.sh             # builds build/wide (Release) first
#   scripts/check_wide_simd.sh BUILD_DIR   # an existing build with the option,
#                                          # e.g. the sanitizer build of .ci/run
#
# On a machine with AVX-512 the ordinary test command runs these kernels
# natively; this check is for the machines without it.
set -euo pipefail
cd "$(dirname "$0")/.."
py="$(command -v python3)"
if [ $# -eq 0 ]; then
  build=build/wide
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALVO_TESTS=ON -DTALVO_SIMD_TEST_WIDE=ON \
    -DPython_EXECUTABLE="$py" >/dev/null
  cmake --build "$build" -j2
else
  build=$1
fi
if ! grep -q '^TALVO_SIMD_TEST_WIDE:BOOL=ON$' "$build/CMakeCache.txt"; then
  echo "check_wide_simd: $build was not configured with -DTALVO_SIMD_TEST_WIDE=ON" >&2
  exit 1
fi
env=(TALVO_SIMD_TEST_WIDE=1 TALVO_CORE_SIMD=avx2)
python_env=()
if grep -q '^TALVO_SANITIZE:BOOL=ON$' "$build/CMakeCache.txt"; then
  # As in scripts/sanitize.sh: every report fatal, and the runtimes preloaded
  # into the interpreter (the C++ tests link them themselves).
  env+=(ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1)
  python_env+=(LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
               TALVO_SANITIZED=1)
fi
if ! env "${env[@]}" "${python_env[@]}" PYTHONPATH="$build" "$py" -c 'import talvo_core'; then
  echo "check_wide_simd: the module does not load with TALVO_CORE_SIMD=avx2 (no AVX2 here?)" >&2
  exit 1
fi

# The C++ test of the scans (ising_test checks them on every offered set, the
# AVX2 one now 8 lanes wide; no other C++ test reaches an 8-lane kernel), then
# the model comparisons of the spectrum, the Ising norm and the exact solver.
env "${env[@]}" ctest --test-dir "$build" --output-on-failure -R '^ising_test$'
env "${env[@]}" "${python_env[@]}" PYTHONPATH="$build" "$py" -m pytest -q -p no:cacheprovider \
  tests/test_spectrum.py tests/test_ising.py tests/test_simd.py -k "not every_offered_set"
