"""Writes every `run:` block of the GitHub Actions workflows given into its
own file in OUTDIR, for shellcheck, and prints one line per file: the shell
it runs under (sh or bash), the file, and where the block comes from.

Each `${{ ... }}` expression is replaced by a row of underscores of the same
length, so that shellcheck sees a plain word where the runner substitutes a
value and its line and column numbers still point into the block. A step's
shell is its own `shell:`, else the job's or the workflow's
`defaults.run.shell`, else bash; a block for any other shell (pwsh, cmd,
python) is reported as skipped, and so is a job whose runner may be Windows
without a bash default (PowerShell would run it there).

  workflow_scripts.py OUTDIR WORKFLOW...
"""
import re
import sys
from pathlib import Path

import yaml

EXPRESSION = re.compile(r"\$\{\{.*?\}\}", re.S)


def default_shell(*scopes):
    for scope in scopes:
        shell = ((scope or {}).get("defaults") or {}).get("run", {}).get("shell")
        if shell:
            return shell
    return None


def may_run_on_windows(job):
    runs_on = str(job.get("runs-on", ""))
    if "windows" in runs_on.lower():
        return True
    matrix = (job.get("strategy") or {}).get("matrix") or {}
    return "matrix." in runs_on and "windows" in yaml.safe_dump(matrix).lower()


def main(outdir, *workflows):
    out = Path(outdir)
    out.mkdir(parents=True, exist_ok=True)
    count = 0
    for workflow in workflows:
        flow = yaml.safe_load(Path(workflow).read_text(encoding="utf-8"))
        for job_id, job in (flow.get("jobs") or {}).items():
            for index, step in enumerate(job.get("steps") or []):
                if "run" not in step:
                    continue
                where = f"{workflow}: jobs.{job_id}.steps[{index}]"
                if step.get("name"):
                    where += f" ({step['name']})"
                shell = step.get("shell") or default_shell(job, flow)
                if shell is None:
                    if may_run_on_windows(job):
                        print(f"skipped - {where}: no shell named, and PowerShell runs it on Windows")
                        continue
                    shell = "bash"
                name = shell.split()[0]
                if name not in ("bash", "sh"):
                    print(f"skipped - {where}: shell {shell}")
                    continue
                body = EXPRESSION.sub(lambda m: "_" * len(m.group(0)), step["run"])
                count += 1
                path = out / f"{Path(workflow).stem}-{job_id}-{index}.{name}"
                path.write_text(body, encoding="utf-8")
                print(f"{name} {path} {where}")
    if count == 0:
        sys.exit("workflow_scripts: no run block found")


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
