"""Every Python example of the documentation runs, and prints exactly what it shows.

The pages are docs/*.md and README.md. An example is a fenced block whose language is
`python`. The convention for shown output, kept simple and strict:

- the output a block prints is written inside the block, one line per printed line, as a
  comment line `# -> ` followed by the text (a bare `# ->` is an empty line);
- the block's standard output must equal those lines exactly, in order; a block without such
  lines must print nothing.

The blocks of one page run in order in one namespace, as one interactive session would; each
page starts afresh. Fences marked `py`, `pycon`, `python3` or `ipython`, and MyST code
directives, are refused, so that no example escapes the check. The test suite's stand-in of
the calling package (tests/talvo) is on the path, as for every other test.
"""
import contextlib
import io
import re
import textwrap
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
PAGES = sorted((ROOT / "docs").glob("*.md")) + [ROOT / "README.md"]
FENCE = re.compile(r"^(?P<indent>[ \t]*)(?P<fence>`{3,}|~{3,})[ \t]*(?P<info>[^\n`]*)$")
SHOWN = re.compile(r"^[ \t]*# ->(?: (?P<text>.*))?$")
REFUSED = {"py", "pycon", "python3", "ipython", "{code-block}", "{code}", "{code-cell}"}


def blocks(path):
    """(first line number, language, code) of each fenced block of a Markdown page."""
    lines = path.read_text(encoding="utf-8").splitlines()
    out, k = [], 0
    while k < len(lines):
        m = FENCE.match(lines[k])
        if not m:
            k += 1
            continue
        indent, fence, info = m["indent"], m["fence"], m["info"].strip()
        body, k = [], k + 1
        start = k + 1  # 1-based number of the block's first line
        while k < len(lines) and not (lines[k].strip().startswith(fence[0] * len(fence))
                                      and not lines[k].strip().strip(fence[0])):
            body.append(lines[k][len(indent):] if lines[k].startswith(indent) else lines[k].lstrip())
            k += 1
        k += 1
        out.append((start, info, "\n".join(body) + "\n"))
    return out


def python_blocks(path):
    found = []
    for start, info, code in blocks(path):
        words = info.split()
        language = words[0] if words else ""
        assert language not in REFUSED and not (language.startswith("{") and "python" in info), (
            f"{path.name}:{start - 1}: write Python examples as ```python blocks, not {info!r}")
        if language == "python":
            found.append((start, code))
    return found


def expected_output(code):
    return [m["text"] or "" for line in code.splitlines() if (m := SHOWN.match(line))]


@pytest.mark.parametrize("page", PAGES, ids=[p.relative_to(ROOT).as_posix() for p in PAGES])
def test_examples_run_and_print_what_they_show(page, capfd):
    namespace = {"__name__": "__doc_example__"}
    for start, code in python_blocks(page):
        out = io.StringIO()
        # Line numbers in a traceback are the page's own.
        compiled = compile("\n" * (start - 1) + textwrap.dedent(code), str(page), "exec")
        with contextlib.redirect_stdout(out):
            exec(compiled, namespace)
        printed = out.getvalue().splitlines()
        assert printed == expected_output(code), f"{page.name}, block at line {start}"
    capfd.readouterr()  # fault reports the examples provoke on purpose go to standard error


def test_every_page_is_read():
    # The pages of the toctree are the files this test reads (a page in a subfolder would be missed).
    assert {p.name for p in (ROOT / "docs").rglob("*.md")} == {p.name for p in PAGES if p.parent.name == "docs"}
    assert sum(len(python_blocks(p)) for p in PAGES) > 20


def test_the_block_reader(tmp_path):
    page = tmp_path / "page.md"
    page.write_text(textwrap.dedent("""\
        text
        ```python
        print(1)
        # -> 1
        ```
        - a list item

          ```python
          print("a")
          print()
          # -> a
          # ->
          ```
        ```sh
        echo not python
        ```
        """))
    found = python_blocks(page)
    assert [s for s, _ in found] == [3, 9]
    assert [expected_output(c) for _, c in found] == [["1"], ["a", ""]]
    page.write_text("```pycon\n>>> 1\n```\n")
    with pytest.raises(AssertionError, match="write Python examples as"):
        python_blocks(page)
