"""The examples run to the end, and the failure-rate figure shows what it says.

Every script in examples/ has a row in AREA_EXAMPLES or a test of its own."""
import importlib.util
import os
import subprocess
import sys

import pytest

import talvo_core
from talvo_core import ecc

EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples")
EXAMPLE = os.path.join(EXAMPLES, "codesign_loop.py")
FAILURE_RATES = os.path.join(EXAMPLES, "ecc_failure_rates.py")
SWEEP = os.path.join(EXAMPLES, "sweep.py")


def run_example(*args):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    return subprocess.run([sys.executable, *args], capture_output=True, text=True, env=env, timeout=300)


# One short script per area of the guide, and a line its output must hold.
AREA_EXAMPLES = {
    "qubo_ising.py": "ground state: {'a': 1, 'b': -1, 'c': -1}",
    "noisy_runs.py": "reproducible: True",
    "simulators.py": "QAOA ring of 4: 20 gates",
    "error_correction.py": "remapped circuit: [('cx', [0, 9]), ('h', [18]), ('cx', [27, 4])]",
    "codesign_solver.py": "target kappa 0.8 reached",
    "frontends.py": "minimum cut 1.5: [4, 5, 6, 7] | [0, 1, 2, 3]",
    "cutting.py": "refused: missing SubcircuitSampleCounts for sample 3",
    "analog.py": "atom positions: {'a': (0.0, 0.0), 'b': (5.0, 0.0), 'c': (10.0, 0.0)",
}


def test_every_example_is_run():
    scripts = {name for name in os.listdir(EXAMPLES) if name.endswith(".py")}
    assert scripts == set(AREA_EXAMPLES) | {os.path.basename(p) for p in (EXAMPLE, FAILURE_RATES, SWEEP)}


@pytest.mark.parametrize("name", sorted(AREA_EXAMPLES))
def test_area_example_runs(name):
    out = run_example(os.path.join(EXAMPLES, name))
    assert out.returncode == 0, out.stderr
    assert out.stderr == ""
    assert AREA_EXAMPLES[name] in out.stdout, out.stdout


def test_codesign_walkthrough_runs():
    out = run_example(EXAMPLE)
    assert out.returncode == 0, out.stderr
    assert "7. Circuit-cutting reconstruction" in out.stdout and "Total time" in out.stdout


def load(path, name):
    """An example script as a module, without running its main part."""
    spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.fixture(scope="module")
def rates():
    return load(FAILURE_RATES, "ecc_failure_rates")


def test_failure_rate_figure_is_written(tmp_path):
    pytest.importorskip("matplotlib", reason="the figure example draws with matplotlib (the plot extra)")
    png = tmp_path / "figure.png"
    out = run_example(FAILURE_RATES, "--shots", "200", "--out", str(png))
    assert out.returncode == 0, out.stderr
    assert f"wrote {png}" in out.stdout
    data = png.read_bytes()
    assert data.startswith(b"\x89PNG\r\n\x1a\n") and len(data) > 10_000


def test_failure_rate_figure_goes_to_the_current_directory_by_default(rates):
    # A bare file name: the default never points into the repository, at a tracked figure.
    assert rates.arguments().get_default("out") == "ecc_failure_rates.png"


@pytest.mark.parametrize("script, missing, hint", [
    (FAILURE_RATES, ["matplotlib"], "pip install matplotlib"),
    (SWEEP, ["distributed", "dask"], 'pip install "dask[distributed]"'),
])
def test_example_without_its_extra_says_how_to_install_it(script, missing, hint):
    blocked = ("import runpy, sys; " + "".join(f"sys.modules[{m!r}] = " for m in missing) + "None; "
               "sys.argv = [sys.argv[1]]; runpy.run_path(sys.argv[0], run_name='__main__')")
    out = run_example("-c", blocked, script)
    assert out.returncode == 2
    assert hint in out.stderr
    assert out.stdout == ""


def test_sampled_decoder_is_the_exact_one(rates):
    from talvo_core import ecc

    # Distance 3, every pattern: the failures per weight are those the exact
    # sum counts, so the sampler decodes exactly as the enumeration does.
    decoder = rates.LookupDecoder(ecc.build_surface_code(3))
    per_weight = [0] * 10
    for error in range(1 << 9):
        per_weight[bin(error).count("1")] += decoder.fails(error)
    assert per_weight == [0, 0, 18, 56, 57, 69, 28, 18, 9, 1]
    # Distance 5, sampled: within a generous 5 standard errors of the exact rate.
    decoder = rates.LookupDecoder(ecc.build_surface_code(5))
    rng = rates.random.Random(7)
    for p, shots in ((0.05, 3000), (0.12, 2000)):
        exact = decoder.exact(p)
        sampled = decoder.sample(p, shots, rng) / shots
        assert abs(sampled - exact) <= 5 * (exact * (1 - exact) / shots) ** 0.5, (p, sampled, exact)


def test_wilson_interval(rates):
    lo, hi = rates.wilson(0, 100)
    assert lo < 1e-15 and 0.03 < hi < 0.04
    lo, hi = rates.wilson(50, 100)
    assert abs((lo + hi) / 2 - 0.5) < 1e-12 and 0.40 < lo < 0.41
    lo, hi = rates.wilson(100, 100)
    assert hi == 1.0 and 0.96 < lo < 0.97


@pytest.fixture(scope="module")
def sweep():
    return load(SWEEP, "sweep_example")


def test_sweep_threshold_serially(sweep):
    # The example's own functions, called in this process: the crossing of the
    # two curves, interpolated between the sampled rates, and a QUBO summary.
    rates = [0.05, 0.1]  # the two sampled rates on either side of the crossing
    d3 = [sweep.failure_rate(3, p) for p in rates]
    d5 = [sweep.failure_rate(5, p) for p in rates]
    assert d3[0] == talvo_core.logical_failure_probability(9, ecc.build_surface_code(3).z_stabilizers, [0, 3, 6], 0.05)
    assert f"{sweep.crossing(rates, d5, d3):.4f}" == "0.0862"
    assert sweep.crossing(rates, d3, d5) is None and sweep.crossing(rates[:1], d5, d3) is None
    best, gap, levels = sweep.spectrum_summary(0, 3)
    _, expected_best, energies = talvo_core.qubo_energy_spectrum(sweep.random_qubo(0, 3), 3)
    assert (best, gap, levels) == (expected_best, energies[1] - energies[0], len(energies))


def test_sweep_example_runs_on_a_local_cluster():
    pytest.importorskip("distributed", reason="the sweep example needs Dask (the cluster extra: "
                                              "pip install 'dask[distributed]')")
    # A short study: 6 rates, 4 small QUBOs; the same code as the full one.
    out = run_example(SWEEP, "--rates", "6", "--qubos", "4", "--variables", "10")
    assert out.returncode == 0, out.stderr
    lines = out.stdout.splitlines()
    at = lines.index("exact logical failure rates on 2 worker processes")
    assert lines[at + 2].split() == ["0.0500", "0.0368644", "0.0245324"]
    assert "distance 5 beats distance 3 below p = 0.0862" in lines
    assert "4 random 10-variable QUBOs" in out.stdout and "distinct levels 1024 to 1024" in out.stdout
