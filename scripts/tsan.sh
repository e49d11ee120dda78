#!/usr/bin/env bash
# Builds the C++ tests where threads meet with ThreadSanitizer and runs them:
# the pool (several submitters at once, a fault in one), every kernel called
# by several threads at once (threads_test), and the borrows of an instance
# shared by threads (boundary_test, with an embedded interpreter). Any
# report of a data race, a lock-order inversion or a misused lock fails the
# run. Only these test targets are built, not the module.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/tsan
tests=(pool_test threads_test boundary_test)
scripts/apt_install.sh libtsan2
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVO_TSAN=ON -DTALVO_TESTS=ON \
  -DPython_EXECUTABLE="$(command -v python3)" >/dev/null
cmake --build "$build" -j2 --target "${tests[@]}"
# The kernels' own threads (the pool's workers) are ours; the embedded
# interpreter is not instrumented, so only our code's accesses are checked.
export TSAN_OPTIONS="halt_on_error=1:abort_on_error=1:second_deadlock_stack=1:report_signal_unsafe=0"
for t in "${tests[@]}"; do
  "$build/$t"
done
