#!/usr/bin/env bash
# Installs the named Debian packages that are not installed yet. Several
# checks may run at once (.ci/run runs the portability check beside the
# others), so apt runs under one lock at a time.
#
# Usage: scripts/apt_install.sh PACKAGE...
set -euo pipefail
missing=()
for pkg in "$@"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
exec 9>"${TMPDIR:-/tmp}/talvo-apt.lock"
flock 9
echo "apt: installing ${missing[*]}"
$sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
