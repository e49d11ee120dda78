"""Docstrings, text signatures and help() for every member, and the shipped
type stubs (stubs/talvo_core-stubs) checked against the module itself."""
import ast
import inspect
import pydoc
import re
from pathlib import Path

import pytest

import fuzzing
import talvo_core

STUBS = Path(__file__).resolve().parents[1] / "stubs" / "talvo_core-stubs"
SUBMODULES = ("sim", "analog", "ecc", "cutting")


class Doc:
    """What the prose after the text signature must hold: it starts with `start`
    and contains every string of `has`; `empty` means there is no prose at all,
    `None` for both means only that some prose is present."""

    def __init__(self, start=None, *has, empty=False):
        self.start, self.has, self.empty = start, has, empty

    def check(self, doc):
        if self.empty:
            assert not doc, doc
            return
        assert doc, "no docstring"
        if self.start is not None:
            assert doc.startswith(self.start), doc
        for piece in self.has:
            assert piece in doc, piece


EMPTY = Doc(empty=True)
ANY = None  # the prose is free

# (module, qualified name, text signature or None, docstring rule), in member-table order;
# every function, class and method of the module has a row.
MEMBERS = [
    ("", "StackelbergSolver", "(target_kappa, max_iterations, learning_rate)", Doc(None, "Stackelberg", "κ")),
    ("", "StackelbergSolver.solve",
     "($self, confidences, best_energies, second_best_energies, chain_break_fractions, current_chain_strength)",
     Doc(None, "stability_penalty = (kappa_std * 5.0).clamp(0.0, 0.9)",
         "effective_lr      = learning_rate * (1.0 - stability_penalty)", "target_kappa")),
    ("", "EquilibriumScore", None, Doc("Equilibrium score for a single Stackelberg iteration.")),
    ("", "apply_detuning_correction", "(detunings, offsets)", Doc(None, "detunings", "offset_mhz")),
    ("", "apply_coupling_correction", "(couplings, errors)", Doc(None, "couplings", "fractional_error")),
    ("", "apply_rabi_correction", "(rabi_frequency, global_rabi_error)",
     Doc(None, "rabi_frequency", "(1.0 + global_rabi_error)")),
    ("", "qubo_criticality", "(qubo, n_vars)",
     Doc("Rank QUBO variables by criticality for ECC patch-budget allocation.", "# Arguments", "# Returns")),
    ("", "exact_ising_norm", "(dh, dj, n_sites)", ANY),
    ("", "qubo_energy_spectrum", "(qubo, n_vars)", ANY),
    ("", "run_statevector", "(instructions, n_qubits)", Doc(None, "# Arguments", "# Errors", "SizeViolation")),
    ("", "simulate_qubo_runs", "(qubo, base_bits, n_runs, noise_level, seed)", ANY),
    ("", "vrp_qubo_terms", "(dist, penalty_a, penalty_b)", Doc(None, "penalty_a", "penalty_b")),
    ("", "build_ecc_lookup_table", "(n_data, z_stabilizers)",
     Doc(None, "talvo.ecc.decoder.LookupDecoder", "# Arguments", "# Returns", "# Errors", "SizeViolation")),
    ("", "logical_failure_probability", "(n_data, z_stabilizers, logical_z, physical_error_rate)",
     Doc(None, "talvo.ecc.certificate.certify_logical_qubit", "# Arguments", "# Errors", "SizeViolation")),
    ("", "stoer_wagner_bisect", "(edges, n_nodes)", Doc(None, "Stoer-Wagner", "n_nodes", "ValueError")),
    ("sim", "IsingSimulator", "()", EMPTY),
    ("sim", "IsingSimulator.solve_exact", "($self, graph)", EMPTY),
    ("sim", "LogicalGraph", "(variables, interactions)", EMPTY),
    ("sim", "Variable", "(name, domain)", EMPTY),
    ("sim", "Interaction", "(i, j, weight)", EMPTY),
    ("sim", "QuditSimulator", "(levels, num_sites)", EMPTY),
    ("sim", "QuditSimulator.simulate", "($self)", EMPTY),
    ("analog", "ContinuousFieldIR", None, EMPTY),
    ("analog", "HardwareDeltaModel", None, EMPTY),
    ("analog", "RydbergControlParameters", "(omega, delta, atom_positions)", EMPTY),
    ("analog", "SpatialCoordinates", None, EMPTY),
    ("analog", "NeutralAtomCompiler", "()", EMPTY),
    ("analog", "NeutralAtomCompiler.map_to_spatial_geometry", "($self, graph)", EMPTY),
    ("analog", "NeutralAtomCompiler.generate_rydberg_controls", "($self, graph, coords)", ANY),
    ("analog", "PhotonicGBSParameters", "(adjacency_matrix, phases)", EMPTY),
    ("analog", "PhotonicCompiler", "()", EMPTY),
    ("analog", "PhotonicCompiler.build_arrazola_bromley_encoding", "($self, graph)", EMPTY),
    ("ecc", "SurfaceCodePatch", None,
     Doc("One logical qubit encoded in a rotated surface code patch.", "talvo.ecc.surface_code.SurfaceCodePatch")),
    ("ecc", "build_surface_code", "(distance=3)",
     Doc("Build a rotated surface code patch encoding one logical qubit.", "talvo.ecc.surface_code.build_surface_code")),
    ("ecc", "PatchAssignment", None, Doc("A QEC patch allocation for one logical variable.", "physical_start")),
    ("ecc", "select_patches", "(ranked, physical_qubit_budget, distance)", Doc(None, "distance * distance")),
    ("ecc", "remap_circuit", "(circuit, assignments)",
     Doc("Rewrite gate operand indices from logical to physical qubits.")),
    ("cutting", "SubcircuitSampleCounts", "(sample_index, subcircuit_label, counts, shots)",
     Doc(None, "qpd_measurements", "qiskit_addon_cutting.reconstruct_expectation_values")),
    ("cutting", "SampleCoefficient", "(sample_index, coefficient)",
     Doc(None, "qiskit_addon_cutting.generate_cutting_experiments")),
    ("cutting", "reconstruct_expectation", "(counts, coefficients, subcircuit_labels)",
     Doc(None, "subcircuit_labels", "ValueError")),
]

ATTRIBUTE_DOCS = {
    "StackelbergSolver.target_kappa": "Convergence target for κ.",
    "StackelbergSolver.max_iterations": "Maximum number of iterations before stopping.",
    "StackelbergSolver.learning_rate": "Base multiplicative step size for chain-strength adjustment.",
    "EquilibriumScore.kappa": "Calibration margin κ ∈ [0.0, 1.0]. Higher is more trustworthy.",
    "EquilibriumScore.confidence": "Raw confidence from the validator.",
    "EquilibriumScore.energy_gap": "Absolute energy gap between best and second-best solution.",
    "EquilibriumScore.iterations": "Number of solver iterations taken to reach this score.",
    "EquilibriumScore.kappa_std": "Standard deviation of κ across all scored iterations (0.0 if < 2).",
}


def module(name):
    return getattr(talvo_core, name) if name else talvo_core


def lookup(mod, qualname):
    obj = module(mod)
    for part in qualname.split("."):
        obj = getattr(obj, part)
    return obj


def expected_all(mod):
    return [q for m, q, _, _ in MEMBERS if m == mod and "." not in q]


def test_every_member_is_built():
    assert talvo_core.__all__ == expected_all("") + list(SUBMODULES)
    for sub in SUBMODULES:
        assert getattr(module(sub), "__all__", []) == expected_all(sub), sub


def test_every_member_has_a_row():
    rows = {q if "." in q else (f"{m}.{q}" if m else q) for m, q, _, _ in MEMBERS}
    exported = {path for kind, path in fuzzing.members() if kind != "attribute"}
    assert rows == exported


@pytest.mark.parametrize("mod, qualname, sig, doc", MEMBERS, ids=[q for _, q, _, _ in MEMBERS])
def test_text_signature_and_docstring(mod, qualname, sig, doc):
    obj = lookup(mod, qualname)
    assert obj.__text_signature__ == sig
    if doc is not None:
        doc.check(obj.__doc__)
    if sig is None:
        return
    # inspect.signature shows every parameter as positional-or-keyword; the
    # only default in the module is distance=3.
    params = list(inspect.signature(obj).parameters.values())
    if sig.startswith("($self"):
        assert params[0].name == "self"
        params = params[1:]
    assert "(" + ", ".join(map(str, params)) + ")" == sig.replace("$self, ", "").replace("$self", "")
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in params)


def test_attribute_docstrings():
    seen = set()
    for mod, qualname, _, _ in MEMBERS:
        obj = getattr(module(mod), qualname, None)
        if not isinstance(obj, type):
            continue
        for name, attr in vars(obj).items():
            if inspect.isgetsetdescriptor(attr):
                key = f"{qualname}.{name}"
                assert (attr.__doc__ or "") == ATTRIBUTE_DOCS.get(key, ""), key
                seen.add(key)
    assert seen >= set(ATTRIBUTE_DOCS)


@pytest.mark.parametrize("mod", ("",) + SUBMODULES)
def test_help_renders(mod):
    # Newer pydoc wraps long signatures over several lines: compare without blanks.
    text = re.sub(r"\s+", "", pydoc.render_doc(module(mod), renderer=pydoc.plaintext))
    for _, qualname, sig, _ in (m for m in MEMBERS if m[0] == mod and "." not in m[1]):
        obj = getattr(module(mod), qualname)
        assert (f"class{qualname}" if isinstance(obj, type) else qualname) in text
        if sig not in (None, "()"):  # pydoc leaves out an empty parameter list
            assert re.sub(r"\s+", "", qualname + sig) in text


# ---- the stubs ----------------------------------------------------------------

def stub_tree(mod):
    return ast.parse((STUBS / f"{mod or '__init__'}.pyi").read_text())


def params_of(fn):
    args = fn.args
    assert not (args.posonlyargs or args.kwonlyargs or args.vararg or args.kwarg), fn.name
    names = [a.arg for a in args.args]
    defaults = [ast.literal_eval(d) for d in args.defaults]
    return names, defaults


def decorators(node):
    return {ast.unparse(d) for d in node.decorator_list}


def stub_class(node):
    """(constructor parameters or None, methods, {attribute: writable})."""
    new, methods, attrs = None, {}, {}
    for item in node.body:
        if isinstance(item, ast.AnnAssign):
            attrs[item.target.id] = True
        elif isinstance(item, ast.FunctionDef):
            decs = decorators(item)
            if "property" in decs:
                attrs.setdefault(item.name, False)
            elif any(d.endswith(".setter") for d in decs):
                attrs[item.name] = True
            elif item.name == "__new__":
                new = params_of(item)
            else:
                methods[item.name] = params_of(item)
    return new, methods, attrs


def writable(obj, name):
    try:
        setattr(obj, name, getattr(obj, name))
    except AttributeError:
        return False
    return True


@pytest.mark.parametrize("mod", ("",) + SUBMODULES)
def test_stubs_match_the_module(mod):
    tree = stub_tree(mod)
    exported = next(ast.literal_eval(n.value) for n in tree.body
                    if isinstance(n, ast.Assign) and n.targets[0].id == "__all__")
    assert exported == expected_all(mod) + ([] if mod else list(SUBMODULES))
    runtime = module(mod)
    unreachable = {path.split(".")[-1] for path in fuzzing.UNREACHABLE}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            fn = getattr(runtime, node.name)
            names, defaults = params_of(node)
            sig = inspect.signature(fn).parameters.values()
            assert names == [p.name for p in sig], node.name
            assert defaults == [p.default for p in sig if p.default is not p.empty], node.name
        elif isinstance(node, ast.ClassDef) and not node.name.startswith("_"):  # _: a typing helper
            cls = getattr(runtime, node.name)
            assert "final" in decorators(node), f"{node.name} cannot be subclassed"
            new, methods, attrs = stub_class(node)
            if cls.__text_signature__ is None:
                assert new is None, node.name
            else:
                assert new is not None and new[0][0] == "cls", node.name
                assert new[0][1:] == list(inspect.signature(cls).parameters), node.name
            runtime_methods = {k for k, v in vars(cls).items()
                               if inspect.ismethoddescriptor(v) and not k.startswith("__")}
            assert set(methods) == runtime_methods, node.name
            for name, (names, _) in methods.items():
                assert names == list(inspect.signature(getattr(cls, name)).parameters), name
            runtime_attrs = {k for k, v in vars(cls).items() if inspect.isgetsetdescriptor(v)}
            assert set(attrs) == runtime_attrs, node.name
            if attrs and node.name not in unreachable:
                obj = fuzzing.INSTANCES[node.name]()
                for name, can_write in attrs.items():
                    assert writable(obj, name) == can_write, f"{node.name}.{name}"


def documented_members(tree, prefix=""):
    """(dotted name, docstring) of every public function, class, method,
    property and attribute of a stub; constructors and setters are documented
    by their class and their getter."""
    body = tree.body
    for k, node in enumerate(body):
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and not node.name.startswith("_"):
            if isinstance(node, ast.FunctionDef) and any(d.endswith(".setter") for d in decorators(node)):
                continue
            yield prefix + node.name, ast.get_docstring(node)
            if isinstance(node, ast.ClassDef):
                yield from documented_members(node, prefix + node.name + ".")
        elif isinstance(node, ast.AnnAssign) and prefix:
            after = body[k + 1] if k + 1 < len(body) else None
            text = after.value.value if isinstance(after, ast.Expr) and isinstance(after.value, ast.Constant) else None
            yield prefix + node.target.id, text


@pytest.mark.parametrize("mod", ("",) + SUBMODULES)
def test_stubs_document_every_member(mod):
    tree = stub_tree(mod)
    assert ast.get_docstring(tree), "module docstring"
    members = dict(documented_members(tree))
    assert [name for name, doc in members.items() if not doc] == []
    # Where the module can raise SizeViolation, the stub quotes the message and
    # points at the class raised when the calling package is missing.
    for name in SIZE_LIMITED[mod]:
        assert "SizeViolation: " in members[name] and "fallback class" in members[name], name


SIZE_LIMITED = {"": ["exact_ising_norm", "qubo_energy_spectrum", "run_statevector", "build_ecc_lookup_table",
                     "logical_failure_probability"],
                "sim": ["IsingSimulator.solve_exact"], "analog": [], "ecc": [], "cutting": []}


# ---- the README and the documentation pages ------------------------------------

ROOT = Path(__file__).resolve().parents[1]
README = (ROOT / "README.md").read_text()
PAGES = {p.name: p.read_text() for p in sorted((ROOT / "docs").glob("*.md"))}

# What users must read about the two Stackelberg attributes whose runtime
# docstrings keep the calling package's wording: said in the stubs and in the
# co-design solver's page.
ATTRIBUTE_MEANINGS = {
    ("__init__", "EquilibriumScore", "iterations"): "0-based position",
    ("__init__", "StackelbergSolver", "max_iterations"): "not a stopping limit",
}


# The qualified names of the two exception classes the module creates but does not export.
NOT_ATTRIBUTES = {"talvo_core.PanicException", "talvo_core.SizeViolation"}


@pytest.mark.parametrize("name", ["README.md", *PAGES])
def test_docs_name_only_what_exists(name):
    text = README if name == "README.md" else PAGES[name]
    for dotted in set(re.findall(r"\btalvo_core(?:\.\w+)+", text)) - NOT_ATTRIBUTES:
        obj = talvo_core
        for part in dotted.split(".")[1:]:
            assert hasattr(obj, part), dotted
            obj = getattr(obj, part)


def test_layout_paragraph_names_the_source_folders():
    # The area folders the layout paragraph of the development page lists are folders of src/.
    layout = next(p for p in PAGES["development.md"].split("\n\n") if p.startswith("Layout"))
    areas = re.findall(r"`(\w+)`", re.search(r"own folder\s*\(([^)]*)\)", layout).group(1))
    assert areas
    for name in areas:
        assert (STUBS.parents[1] / "src" / name).is_dir(), name


def test_readme_examples_run(capsys):
    blocks = re.findall(r"```python\n(.*?)```", README, re.S)
    assert blocks
    for block in blocks:
        exec(compile(inspect.cleandoc("\n" + block), "README.md", "exec"), {"talvo_core": talvo_core})


@pytest.mark.parametrize("stub, cls, attr", ATTRIBUTE_MEANINGS)
def test_attribute_meaning_is_documented(stub, cls, attr):
    phrase = ATTRIBUTE_MEANINGS[stub, cls, attr]
    node = next(n for n in stub_tree("" if stub == "__init__" else stub).body
                if isinstance(n, ast.ClassDef) and n.name == cls)
    prop = next(f for f in node.body if isinstance(f, ast.FunctionDef) and f.name == attr)
    assert phrase in (ast.get_docstring(prop) or ""), f"{cls}.{attr}"
    row = next(line for line in PAGES["codesign.md"].splitlines() if line.startswith(f"| `{cls}.{attr}`"))
    assert phrase in row


def test_bench_scripts_shadow_no_standard_module():
    # `python bench/run.py` puts bench/ first on the import path: a case file
    # named like a standard module would be imported in its place.
    import sys

    bench = STUBS.parents[1] / "bench"
    clashes = sorted(p.name for p in bench.glob("*.py") if p.stem in sys.stdlib_module_names)
    assert not clashes
