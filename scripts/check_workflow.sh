#!/usr/bin/env bash
# Checks the GitHub Actions workflows under .github/workflows before they run:
#   1. each file against the workflow schema (check-jsonschema's built-in
#      copy, vendor.github-workflows): unknown keys, wrong types, misspelt
#      events, a `needs` or `runs-on` of the wrong shape;
#   2. every `run:` block with shellcheck, under the shell the runner gives it,
#      each `${{ ... }}` expression replaced by a placeholder word of the same
#      length (scripts/workflow_scripts.py);
#   3. zizmor, offline: injection of expressions into scripts, credentials
#      left in the checkout, over-broad permissions and the like;
#   4. no job asks for a runner label whose image is retired (the list is
#      scripts/retired_runners.txt): such a job queues until it times out;
#   5. actionlint too, where it is on PATH (a developer's machine, the
#      workflow's own lint job). It is not installed here: its Python package
#      ships no wheel and fetches the program at install time from a host this
#      machine does not reach, and no Debian package has it; 1 to 4 cover its
#      schema, shell, expression-safety and runner-label checks, not its type
#      checking of expressions and contexts.
# Its tools: shellcheck from apt, check-jsonschema, pyyaml and zizmor in a
# virtual environment under build/workflow-check. Nothing is installed into
# the interpreter that runs this script.
#
# Usage: scripts/check_workflow.sh [WORKFLOW...]   (default: .github/workflows/*.yml)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
unset PYTHONPATH
work="$root/build/workflow-check"
mkdir -p "$work"
if [ $# -gt 0 ]; then flows=("$@"); else flows=(.github/workflows/*.yml); fi
[ -f "${flows[0]}" ] || { echo "no workflow found" >&2; exit 1; }

scripts/apt_install.sh shellcheck
venv="$work/venv"
[ -x "$venv/bin/python" ] || python3 -m venv "$venv"
"$venv/bin/python" -m pip install -q "check-jsonschema>=0.29" "pyyaml>=6" "zizmor>=1.9"

echo "== workflow schema (check-jsonschema $("$venv/bin/check-jsonschema" --version | awk '{print $NF}'))"
"$venv/bin/check-jsonschema" --builtin-schema vendor.github-workflows "${flows[@]}"

echo "== runner labels (none retired: scripts/retired_runners.txt)"
# Every string of a workflow that is a retired label, wherever it stands: in
# runs-on itself or in a matrix entry that runs-on reads.
"$venv/bin/python" - scripts/retired_runners.txt "${flows[@]}" <<'PY'
import sys
import yaml
retired = {}
for line in open(sys.argv[1], encoding="utf-8"):
    if line.strip() and not line.startswith("#"):
        label, since = line.split()
        retired[label] = since
found = []
def walk(node, where):
    if isinstance(node, dict):
        for k, v in node.items():
            walk(v, f"{where}.{k}")
    elif isinstance(node, list):
        for k, v in enumerate(node):
            walk(v, f"{where}[{k}]")
    elif isinstance(node, str) and node.strip() in retired:
        found.append(f"{where}: {node.strip()} (retired {retired[node.strip()]})")
for path in sys.argv[2:]:
    with open(path, encoding="utf-8") as f:
        walk(yaml.safe_load(f), path)
if found:
    sys.exit("retired runner labels:\n  " + "\n  ".join(found))
print(f"no retired runner label among {len(retired)} known")
PY

echo "== run blocks ($(shellcheck --version | sed -n 's/^version: //p'))"
rm -rf "$work/scripts"
listing="$("$venv/bin/python" scripts/workflow_scripts.py "$work/scripts" "${flows[@]}")"
checked=0 skipped=0 failed=0
while read -r shell file where; do
  if [ "$shell" = skipped ]; then
    echo "skipped: $where"
    skipped=$((skipped + 1))
    continue
  fi
  # Not flagged, as they are artefacts of the extraction: variables that the
  # step's env: or the runner sets (SC2154), constant words where an
  # expression stood (SC2050, SC2157, SC2194), files sourced from the
  # checkout (SC1091).
  if shellcheck --norc --shell="$shell" --exclude=SC1091,SC2050,SC2154,SC2157,SC2194 "$file"; then
    checked=$((checked + 1))
  else
    echo "in $where" >&2
    failed=$((failed + 1))
  fi
done <<<"$listing"
echo "shellcheck: $checked run blocks clean, $failed with findings, $skipped not shell"
[ "$failed" = 0 ]

echo "== zizmor (offline audits, $("$venv/bin/zizmor" --version))"
"$venv/bin/zizmor" --offline --no-progress --config .github/zizmor.yml "${flows[@]}"

if command -v actionlint >/dev/null; then
  echo "== actionlint $(actionlint -version | head -1)"
  actionlint "${flows[@]}"
else
  echo "== actionlint: not on PATH, not run (see the head of this script)"
fi
echo "workflows checked: ${flows[*]}"
