#!/usr/bin/env bash
# The shipped wheels on the newest CPython, inside the Debian root of
# scripts/debian_root.sh (made once, then reused from its cache folder):
#   py314  the whole suite, the cp310-abi3 wheel, CPython 3.14
#   py315  the whole suite, the cp310-abi3 wheel, CPython 3.15
#   abi3t  the whole suite, the cp315-abi3.abi3t wheel, CPython 3.15
#   leak   tests/leakcheck.py --blocks on 3.15's debug build (python3.15d), the
#          cp310-abi3 wheel: every entry called repeatedly on good and on bad
#          input, sys.getallocatedblocks() flat. (The debug build's total
#          reference count, sys.gettotalrefcount(), is not usable here: an abi3
#          module built against release headers changes reference counts
#          inline, without telling that total.)
# The jobs run side by side (each is mostly one thread), each in a fresh
# virtual environment inside the root that sees the root's test tools; each
# one's output and duration are printed when it is done.
#
# Usage: scripts/test_debian_pythons.sh [JOB...]   (default: all four)
#   WHEEL        the cp310-abi3 wheel (default: the manylinux one in dist/)
#   ABI3T_WHEEL  the abi3t wheel (default: the one in dist/)
#   LEAK_CALLS   calls per entry of the leak check (default 300)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs=("$@")
[ ${#jobs[@]} -gt 0 ] || jobs=(py314 py315 abi3t leak)

# A path under the checkout, as the root sees it (/src).
in_src() {
  local abs
  abs="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
  case "$abs" in
    "$root"/*) echo "/src/${abs#"$root"/}" ;;
    *) echo "$1 is outside the checkout, which is all the root sees" >&2; return 1 ;;
  esac
}
pick() {  # the one file matching a pattern, or an error naming it
  local found=("$@")
  [ -f "${found[0]}" ] || { echo "no wheel matches $*" >&2; return 1; }
  echo "${found[0]}"
}
need_abi3=0 need_abi3t=0
for job in "${jobs[@]}"; do
  case "$job" in
    py314 | py315 | leak) need_abi3=1 ;;
    abi3t) need_abi3t=1 ;;
    *) echo "unknown job $job (py314, py315, abi3t, leak)" >&2; exit 2 ;;
  esac
done
[ "$need_abi3" = 0 ] || abi3_wheel="$(in_src "${WHEEL:-$(pick dist/talvo_core-*-cp310-abi3-manylinux*.whl)}")"
[ "$need_abi3t" = 0 ] || abi3t_wheel="$(in_src "${ABI3T_WHEEL:-$(pick dist/talvo_core-*-cp315-abi3.abi3t-*.whl)}")"

scripts/debian_root.sh >/dev/null

# Inside the root: a virtual environment of interpreter $1 with wheel $2
# installed (by the pip wheel the root keeps: Debian's interpreters have none),
# then the command that follows, run from the root's private /tmp.
# shellcheck disable=SC2016
inside='set -e
py=$1 wheel=$2; shift 2
"$py" -m venv --without-pip --system-site-packages /tmp/venv
pip_wheel=$(ls /wheels/pip-*.whl | head -1)
/tmp/venv/bin/python "$pip_wheel/pip" install -q --no-index --no-deps --disable-pip-version-check "$wheel"
cd /tmp
/tmp/venv/bin/python -c "import sys, talvo_core; print(sys.version.split()[0], sys.abiflags or \"-\", talvo_core.__file__)"
exec /tmp/venv/bin/python "$@"'

tmp="$(mktemp -d "${TMPDIR:-/tmp}/talvo-debian.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
suite=(-m pytest -q -p no:cacheprovider /src/tests)
pids=()
for job in "${jobs[@]}"; do
  case "$job" in
    py314) args=(python3.14 "$abi3_wheel" "${suite[@]}") ;;
    py315) args=(python3.15 "$abi3_wheel" "${suite[@]}") ;;
    abi3t) args=(python3.15 "$abi3t_wheel" "${suite[@]}") ;;
    leak) args=(python3.15d "$abi3_wheel" /src/tests/leakcheck.py --blocks "${LEAK_CALLS:-300}") ;;
  esac
  (
    begun=$SECONDS
    status=0
    scripts/debian_root.sh run bash -c "$inside" inside "${args[@]}" >"$tmp/$job.log" 2>&1 || status=$?
    echo "$status $((SECONDS - begun))" >"$tmp/$job.status"
  ) &
  pids+=($!)
done
wait "${pids[@]}"
failed=()
for job in "${jobs[@]}"; do
  read -r status seconds <"$tmp/$job.status"
  echo "== $job (took $seconds s)"
  cat "$tmp/$job.log"
  [ "$status" -eq 0 ] || failed+=("$job")
done
[ ${#failed[@]} -eq 0 ] || { echo "failed in the Debian root: ${failed[*]}" >&2; exit 1; }
echo "passed in the Debian root: ${jobs[*]}"
