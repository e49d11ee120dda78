#!/usr/bin/env bash
# Builds the module and the C++ tests with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs the C++ tests, then the whole test suite
# against that build. Any report fails the run.
#
# With TALVO_COVERAGE=1 the same build (build/asan-cov instead of build/asan)
# also counts lines and branches, from fresh counters, and can run the 8-lane
# kernels: scripts/check_wide_simd.sh build/asan-cov adds their run to the
# counts, and scripts/coverage_report.py build/asan-cov prints them.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/asan
options=()
if [ "${TALVO_COVERAGE:-}" = 1 ]; then
  build=build/asan-cov
  options=(-DTALVO_COVERAGE=ON -DTALVO_SIMD_TEST_WIDE=ON)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVO_SANITIZE=ON -DTALVO_TESTS=ON \
  "${options[@]}" -DPython_EXECUTABLE="$(command -v python3)" >/dev/null
cmake --build "$build" -j2
find "$build" -name '*.gcda' -delete
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$build" --output-on-failure
asan="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
# libstdc++ is preloaded too, so the sanitizer finds the real __cxa_throw.
# CPython itself is not built with the sanitizers: its own allocations at exit
# are not ours to report, so leak detection stays off here (the leak check is a
# separate script); every other report aborts the run.
TALVO_SANITIZED=1 LD_PRELOAD="$asan" \
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_init_order=1:allocator_may_return_null=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
PYTHONPATH="$build" \
  python3 -m pytest -q -p no:cacheprovider tests "$@"
