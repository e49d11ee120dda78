#!/usr/bin/env bash
# The one cp310-abi3 wheel must serve every CPython from 3.10 on: build it
# once, then install it into a fresh virtual environment of each other
# interpreter found on this machine and run the whole suite there, the
# interpreters side by side.
# WHEEL=path tests that wheel (the release wheel, say) instead of building one.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
unset PYTHONPATH
tmp="$(mktemp -d "${TMPDIR:-/tmp}/talvo-pythons.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
if [ -n "${WHEEL:-}" ]; then
  wheel=("$(cd "$(dirname "$WHEEL")" && pwd)/$(basename "$WHEEL")")
else
  python3 -m pip wheel . -w "$tmp/wheel" --no-deps -q
  wheel=("$tmp"/wheel/talvo_core-*-cp310-abi3-*.whl)
fi
# An interpreter of version v: pythonV on the PATH, or one that pyenv keeps.
find_python() {
  local v=$1 py
  if "python$v" -c "" >/dev/null 2>&1; then echo "python$v"; return; fi
  for py in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$v".*/bin/python"$v"; do
    [ -x "$py" ] && { echo "$py"; return; }
  done
  return 0  # none: an empty answer
}
self="$(python3 -c 'import sys; print(sys.version_info[:2])')"
# The interpreters run side by side (the suite is mostly one thread); each one's
# output is printed when it is done.
pids=()
versions=()
for v in 3.10 3.11 3.12 3.13 3.14; do
  py="$(find_python "$v")"
  [ -n "$py" ] || continue
  [ "$("$py" -c 'import sys; print(sys.version_info[:2])')" = "$self" ] && continue
  (
    echo "== CPython $v ($py)"
    "$py" -m venv "$tmp/venv$v"
    "$tmp/venv$v/bin/python" -m pip install -q "${wheel[0]}" pytest hypothesis networkx
    "$tmp/venv$v/bin/python" -m pytest -q -p no:cacheprovider tests
  ) >"$tmp/log$v" 2>&1 &
  pids+=($!)
  versions+=("$v")
done
failed=0
for k in "${!pids[@]}"; do
  status=0
  wait "${pids[$k]}" || status=$?
  cat "$tmp/log${versions[$k]}"
  if [ "$status" -ne 0 ]; then
    echo "CPython ${versions[$k]}: the suite failed (exit $status)"
    failed=1
  fi
done
[ "$failed" -eq 0 ] || exit 1
echo "the abi3 wheel passed the suite on ${#pids[@]} other interpreter(s)"
