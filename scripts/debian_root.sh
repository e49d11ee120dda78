#!/usr/bin/env bash
# A Debian root with the newest CPython: Debian trixie plus the development
# suite (sid), holding CPython 3.14 and 3.15 (each with -dev and -venv) and
# 3.15's debug build (python3.15-dbg), with the suite's test tools installed.
# It is made once with debootstrap, in a cache folder outside the checkout,
# and reused from there: a later call only checks its recipe stamp.
#
# Usage:
#   scripts/debian_root.sh              make the root (or reuse it); print its path
#   scripts/debian_root.sh run CMD...   run CMD inside the root, in a mount
#                                       namespace of its own with /proc and the
#                                       checkout (at /src) mounted; the root's
#                                       /tmp is private to the call
#   TALVO_DEBIAN_ROOT  the folder (default /var/cache/talvo-debian-root as root,
#                      else $XDG_CACHE_HOME/talvo-debian-root)
#   TALVO_DEBIAN_MIRROR  default http://deb.debian.org/debian
#
# Two quirks of the development suite as reached from here: its release file
# is past its validity date, so apt is told not to check it; and pip inside the
# root cannot verify the package index's certificate, so the wheels it needs
# are downloaded on the host (pip download --python-version 3.X
# --only-binary=:all:) into the root's /wheels and installed there with
# --no-index. Needs root (debootstrap, chroot, mount).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
if [ "$(id -u)" -eq 0 ]; then default_root=/var/cache/talvo-debian-root
else default_root="${XDG_CACHE_HOME:-$HOME/.cache}/talvo-debian-root"; fi
root="${TALVO_DEBIAN_ROOT:-$default_root}"
mirror="${TALVO_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
apt_opts=(-o Acquire::Check-Valid-Until=false -o APT::Install-Recommends=false -o DPkg::Lock::Timeout=600)
packages=(python3.14 python3.14-dev python3.14-venv python3.15 python3.15-dev python3.15-venv python3.15-dbg
          g++ binutils)
# The suite's tools, and the abi3t build's (scikit-build-core, CMake, Ninja,
# zig as the compiler, as for every release wheel).
test_tools=(pytest hypothesis networkx)
build_tools=("scikit-build-core>=0.11" cmake ninja "ziglang>=0.17,<0.18")
# A change of any of these makes the root anew.
recipe="trixie+sid ${packages[*]} | ${test_tools[*]} | ${build_tools[*]} | v1"

# Runs "$@" inside the root: a private mount namespace, so that the mounts
# vanish with the call and calls side by side do not meet.
in_root() {
  # shellcheck disable=SC2016  # the inner script's own variables
  unshare --mount --propagation private bash -c '
    set -e
    r=$1; src=$2; shift 2
    mount -t proc proc "$r/proc"
    mkdir -p "$r/src" "$r/tmp"
    mount --bind "$src" "$r/src"
    mount -t tmpfs tmpfs "$r/tmp"
    mount --bind /dev "$r/dev"
    exec chroot "$r" /usr/bin/env -i HOME=/root PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 "$@"
  ' in_root "$root" "$here" "$@"
}

make_root() {
  local stage="$root.new"
  echo "debian root: making $root (debootstrap trixie, then sid's CPython 3.14 and 3.15)" >&2
  "$here/scripts/apt_install.sh" debootstrap
  rm -rf --one-file-system "$stage"
  mkdir -p "$(dirname "$root")"
  debootstrap --variant=minbase --include=ca-certificates trixie "$stage" "$mirror" >"$stage.log" 2>&1 \
    || { tail -30 "$stage.log" >&2; exit 1; }
  cat >"$stage/etc/apt/sources.list" <<EOF
deb $mirror trixie main
deb $mirror sid main
EOF
  # trixie first: only what trixie lacks comes from sid.
  cat >"$stage/etc/apt/preferences.d/sid" <<'EOF'
Package: *
Pin: release n=sid
Pin-Priority: 100
EOF
  local r_save=$root
  root=$stage
  in_root apt-get "${apt_opts[@]}" update -qq
  in_root env DEBIAN_FRONTEND=noninteractive apt-get "${apt_opts[@]}" install -y -qq -t sid "${packages[@]}" >/dev/null
  in_root apt-get clean
  # The wheels, fetched on the host for each interpreter, installed offline.
  mkdir -p "$stage/wheels"
  local v
  for v in 3.14 3.15; do
    python3 -m pip download -q --disable-pip-version-check --dest "$stage/wheels" --python-version "$v" --only-binary=:all: \
      "${test_tools[@]}" "${build_tools[@]}" pip
  done
  # Debian's interpreters carry no pip of their own: the downloaded one runs
  # from its wheel and installs the tools into each interpreter's site folder
  # (3.15's debug build shares it).
  local pip_wheels=("$stage"/wheels/pip-*.whl)
  local pip_wheel
  pip_wheel="$(basename "${pip_wheels[0]}")"
  for v in 3.14 3.15; do
    in_root "python$v" "/wheels/$pip_wheel/pip" install -q --no-index --find-links /wheels \
      --break-system-packages --root-user-action=ignore "${test_tools[@]}" "${build_tools[@]}"
  done
  root=$r_save
  echo "$recipe" >"$stage/.talvo-recipe"
  rm -rf "$root"
  mv "$stage" "$root"
  rm -f "$stage.log"
}

mkdir -p "$(dirname "$root")"
# One maker at a time; the others wait and then reuse its root.
exec 8>"$root.lock"
flock 8
if [ "$(cat "$root/.talvo-recipe" 2>/dev/null)" != "$recipe" ]; then
  make_root
fi
flock -u 8

if [ "${1:-}" = run ]; then
  shift
  in_root "$@"
else
  echo "$root"
fi
