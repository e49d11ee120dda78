"""The pages as a reader sees them: code lines that fit the site's text column,
headline figures that are the recorded ones, and install commands that exist."""
import ast
import importlib.util
import json
import re
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
# bench/headline.py (pure Python, imports the module only to measure), loaded by
# its path: bench/ on the import path would let its case files (bench/ecc.py)
# stand in for modules of those names, such as the bare "ecc" that pickle tries
# to import for a submodule's function.
_spec = importlib.util.spec_from_file_location("headline", ROOT / "bench" / "headline.py")
headline = importlib.util.module_from_spec(_spec)
sys.modules["headline"] = headline
_spec.loader.exec_module(headline)

# The characters a code line of the site shows without a scrollbar: 92 in the
# widest usual code font at the theme settings of docs/conf.py (measured in
# Chromium), less a margin for other fonts' rounding.
CODE_COLUMNS = 88
PAGES = sorted([ROOT / "README.md", *(ROOT / "docs").glob("*.md")])
STUBS = sorted((ROOT / "stubs" / "talvo_core-stubs").glob("*.pyi"))


def fenced_code(text):
    """(first line number, lines) of each fenced code block of a Markdown page;
    MyST directives ({figure} and the like) are not code."""
    blocks, lines, k = [], text.splitlines(), 0
    while k < len(lines):
        m = re.match(r"^(\s*)(`{3,})(.*)$", lines[k])
        if not m:
            k += 1
            continue
        fence, info, start, k = m.group(2), m.group(3).strip(), k + 1, k + 1
        while k < len(lines) and not lines[k].strip().startswith(fence):
            k += 1
        if not info.startswith("{"):
            blocks.append((start + 1, [line[len(m.group(1)):] for line in lines[start:k]]))
        k += 1
    return blocks


def docstring_examples(source):
    """(line number, lines) of the literal blocks (after a line ending in '::')
    of every docstring in a stub."""
    out = []
    for node in ast.walk(ast.parse(source)):
        if not isinstance(node, (ast.Module, ast.ClassDef, ast.FunctionDef)):
            continue
        doc = ast.get_docstring(node, clean=True)
        if not doc:
            continue
        lines, k = doc.splitlines(), 0
        while k < len(lines):
            if lines[k].rstrip().endswith("::"):
                indent = len(lines[k]) - len(lines[k].lstrip())
                k += 1
                block = []
                while k < len(lines) and (not lines[k].strip() or len(lines[k]) - len(lines[k].lstrip()) > indent):
                    block.append(lines[k])
                    k += 1
                body = [line for line in block if line.strip()]
                if body:
                    cut = min(len(line) - len(line.lstrip()) for line in body)
                    out.append((node.body[0].lineno, [line[cut:] for line in block]))
            else:
                k += 1
    return out


def too_wide(blocks):
    return [(n + i, len(line), line) for n, lines in blocks for i, line in enumerate(lines)
            if len(line) > CODE_COLUMNS]


@pytest.mark.parametrize("page", PAGES, ids=lambda p: p.name)
def test_code_lines_fit_the_text_column(page):
    assert too_wide(fenced_code(page.read_text(encoding="utf-8"))) == []


@pytest.mark.parametrize("stub", STUBS, ids=lambda p: p.name)
def test_stub_examples_fit_the_text_column(stub):
    blocks = docstring_examples(stub.read_text(encoding="utf-8"))
    if stub.name == "__init__.pyi":
        assert blocks, "the module docstring's PanicException example is found"
    assert too_wide(blocks) == []


def test_width_check_sees_code_and_only_code():
    text = ("x" * 100 + "\n```python\nok\n" + "y" * 89 + "\n```\n"
            "```{figure} a.png\n" + "z" * 100 + "\n```\n  ````sh\n  " + "w" * 88 + "\n  ````\n")
    assert [(n, width) for n, width, _ in too_wide(fenced_code(text))] == [(4, 89)]
    stub = 'def f():\n    """Doc::\n\n        ' + "v" * 89 + '\n\n    Prose ' + "p" * 100 + '\n    """\n'
    assert [width for _, width, _ in too_wide(docstring_examples(stub))] == [89]


# ---- headline figures --------------------------------------------------------------

def test_headline_record_is_complete():
    rec = headline.load()
    assert re.fullmatch(r"\d{4}-\d\d-\d\d", rec["date"]) and rec["machine"]
    assert rec["runs"] >= headline.MIN_RUNS
    assert set(rec["cases"]) == set(headline.CASES)
    for name, case in rec["cases"].items():
        for key in ("call", "problem", "peer"):
            assert case[key] == headline.CASES[name][key], (name, key)
        for side in ("module_s", "peer_s"):
            d = case[side]
            assert len(d["runs"]) == rec["runs"], (name, side)
            assert d["min"] <= d["median"] <= d["max"], (name, side)
            assert d["median"] == pytest.approx(sorted(d["runs"])[len(d["runs"]) // 2], abs=1e-6)
    assert all(rec["peers"][p] for p in headline.PEERS), rec["peers"]


@pytest.mark.parametrize("rel", sorted(headline.PAGES))
def test_pages_quote_the_headline_record(rel):
    # Written by `bench/run.py --record`; after a new record the pages are
    # rewritten with it, so a hand edit of either shows here.
    rec = headline.load()
    text = (ROOT / rel).read_text(encoding="utf-8")
    assert text.count(headline.BEGIN) == 1 and text.count(headline.END) == 1
    assert headline.page_block(text) == headline.block(rec, headline.PAGES[rel])


def test_headline_block_prints_each_recorded_figure():
    rec = headline.load()
    for page in ("readme", "performance"):
        text = headline.block(rec, page)
        assert f"median of {rec['runs']} runs" in text and rec["date"] in text
        for case in rec["cases"].values():
            m, p = case["module_s"], case["peer_s"]
            for figure in (m["median"], m["min"], m["max"], p["median"], p["min"], p["max"]):
                assert headline.fmt_time(figure) in text
            assert f"{headline.fmt_ratio(p['median'] / m['median'])} faster" in text or \
                f"| {headline.fmt_ratio(p['median'] / m['median'])} |" in text
            assert case["problem"] in text and case["peer"] in text


def test_headline_formats():
    assert [headline.fmt_time(s) for s in (2.345, 1.0, 0.5004, 0.1, 0.04789, 0.01, 0.009634)] == \
        ["2.35 s", "1.00 s", "500 ms", "100 ms", "47.9 ms", "10.0 ms", "9.63 ms"]
    assert [headline.fmt_ratio(r) for r in (1288.4, 100.0, 99.94, 4.84)] == ["1288x", "100x", "99.9x", "4.8x"]
    spread = headline.spread([3.0, 1.0, 2.0, 10.0, 4.0])
    assert (spread["median"], spread["min"], spread["max"]) == (3.0, 1.0, 10.0)


def test_record_round_trip_rewrites_only_the_blocks(tmp_path):
    results = {c: {"module_s": headline.spread([0.01, 0.02, 0.03, 0.04, 0.05]),
                   "peer_s": headline.spread([1.0, 2.0, 3.0, 4.0, 5.0])} for c in headline.CASES}
    rec = headline.record(results, "a machine", 5)
    for rel in headline.PAGES:
        (tmp_path / rel).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / rel).write_text(f"before\n{headline.BEGIN}\nold\n{headline.END}\nafter\n", encoding="utf-8")
    headline.write_pages(rec, root=str(tmp_path))
    for rel, page in headline.PAGES.items():
        text = (tmp_path / rel).read_text(encoding="utf-8")
        assert text == f"before\n{headline.block(rec, page)}\nafter\n"
    assert "100x faster" in headline.block(rec, "readme")  # 3 s / 30 ms
    json.dumps(rec)


# ---- install commands ----------------------------------------------------------------

def docs_extra():
    text = (ROOT / "pyproject.toml").read_text(encoding="utf-8")
    return re.findall(r'"([^"]+)"', re.search(r"(?m)^docs = \[(.*)\]$", text).group(1))


@pytest.mark.parametrize("rel", ["README.md", "docs/development.md"])
def test_docs_command_installs_the_docs_tools_not_the_module(rel):
    text = (ROOT / rel).read_text(encoding="utf-8")
    block = next(lines for _, lines in fenced_code(text) if any("sphinx -W" in line for line in lines))
    install = block[0].split("#")[0].split()
    assert install[:2] == ["pip", "install"]
    assert [arg.strip('"') for arg in install[2:]] == docs_extra()


def test_no_page_installs_from_an_index_that_is_not_there():
    for page in [*PAGES, *(ROOT / "examples").glob("*.py")]:
        text = page.read_text(encoding="utf-8")
        assert not re.search(r"pip install \"?talvo_core\[", text), page.name
