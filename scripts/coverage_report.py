"""Line and branch coverage of src/ from a build configured with
-DTALVO_COVERAGE=ON, after its tests have run: one row per file, then the
total, and a non-zero exit when the lines covered fall below the floor.

    python3 scripts/coverage_report.py BUILD_DIR [--floor PERCENT]

The C++ tests' own sources (and src/testing/) are left out, a line of a
template counts once, covered when any instance ran it, and lines without code
of their own (a closing brace, say) do not count. Branches the compiler adds for
exceptions it may throw, and those it proves unreachable, are not counted.
A line that no input can reach (defensive code) carries a GCOVR_EXCL_LINE
comment, or a GCOVR_EXCL_START / GCOVR_EXCL_STOP pair, with the reason beside
it; the floor is never lowered to make a run pass.
"""
import argparse
import json
import os
import subprocess
import sys

# Set from the measured coverage of the whole suite plus the C++ tests and the
# 8-lane run (.ci/run): see docs/development-checks.md.
FLOOR = 97.0

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", help="the coverage build directory, after the tests have run in it")
    parser.add_argument("--floor", type=float, default=FLOOR, help="least share of lines covered, in percent")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    done = subprocess.run(
        [sys.executable, "-m", "gcovr", "--root", ROOT, "--object-directory", build,
         "--filter", os.path.join(ROOT, "src") + "/", "--exclude", r".*_test\.cpp$",
         "--exclude", r"(.*/)?src/testing/.*", "--merge-lines", "--exclude-noncode-lines",
         "--exclude-throw-branches", "--exclude-unreachable-branches", "--gcov-ignore-parse-errors=negative_hits.warn",
         "--gcov-suspicious-hits-threshold=0",
         "--json-summary", "-", build],
        check=True, capture_output=True, text=True, cwd=ROOT)
    summary = json.loads(done.stdout)

    def pct(covered, total):
        return 100.0 * covered / total if total else 100.0

    rows = sorted(summary["files"], key=lambda f: f["filename"])
    width = max(len(f["filename"]) for f in rows)
    print(f"{'file':<{width}}  {'lines':>11} {'%':>6}  {'branches':>11} {'%':>6}")
    for f in rows:
        print(f"{f['filename']:<{width}}  {f['line_covered']:>5}/{f['line_total']:<5} "
              f"{pct(f['line_covered'], f['line_total']):>6.1f}  "
              f"{f['branch_covered']:>5}/{f['branch_total']:<5} {pct(f['branch_covered'], f['branch_total']):>6.1f}")
    lines = pct(summary["line_covered"], summary["line_total"])
    branches = pct(summary["branch_covered"], summary["branch_total"])
    print(f"{'total':<{width}}  {summary['line_covered']:>5}/{summary['line_total']:<5} {lines:>6.1f}  "
          f"{summary['branch_covered']:>5}/{summary['branch_total']:<5} {branches:>6.1f}")
    if lines < args.floor:
        print(f"coverage: {lines:.2f}% of the lines of src/ run, under the floor of {args.floor}%", file=sys.stderr)
        return 1
    print(f"coverage: {lines:.2f}% of the lines of src/ run (floor {args.floor}%)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
