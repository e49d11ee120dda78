"""The module frame: layout, argument binding and conversion, error conventions."""
import os
import subprocess
import sys

import pytest

import talvo_core
from talvo.exceptions import SizeViolation

spectrum = talvo_core.qubo_energy_spectrum


def test_module_layout():
    assert talvo_core.__name__ == "talvo_core" and talvo_core.__doc__ == ""
    assert talvo_core.__all__[-4:] == ["sim", "analog", "ecc", "cutting"]
    for name in talvo_core.__all__:
        assert hasattr(talvo_core, name)
    for sub in ("sim", "analog", "ecc", "cutting"):
        mod = getattr(talvo_core, sub)
        assert mod.__name__ == sub and sub not in sys.modules and f"talvo_core.{sub}" not in sys.modules
        assert all(hasattr(mod, n) for n in getattr(mod, "__all__", []))
    with pytest.raises(ModuleNotFoundError):
        __import__("talvo_core.sim")
    from talvo_core import sim  # noqa: F401
    assert not hasattr(talvo_core, "SizeViolation")
    assert spectrum.__module__ == "talvo_core" and spectrum.__self__ is talvo_core
    assert spectrum.__text_signature__ == "(qubo, n_vars)"
    assert spectrum.__doc__.startswith("Enumerate")


def test_second_initialisation_returns_the_same_module():
    import importlib.util

    spec = importlib.util.find_spec("talvo_core")
    again = importlib.util.module_from_spec(spec)
    assert again is talvo_core


def test_subinterpreter_is_refused():
    code = (
        "import talvo_core, _xxsubinterpreters as s\n"
        "i = s.create()\n"
        "try:\n"
        "    s.run_string(i, 'import talvo_core')\n"
        "except Exception as e:\n"
        "    print(type(e).__name__, e)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    if "No module named '_xxsubinterpreters'" in out.stderr:
        pytest.skip("no subinterpreter module in this Python")
    assert "subinterpreters" in out.stdout


# Each binding and conversion error of one entry point: arguments, keywords,
# the exception and its text (None: any text).
BINDING_ERRORS = [
    (("01", 2), {}, TypeError, "argument 'qubo': Can't extract `str` to `Vec`"),
    (([[[0, 1], 1.0]], 2), {}, TypeError, "argument 'qubo': 'list' object cannot be converted to 'PyTuple'"),
    (([((0, 1, 2), 1.0)], 3), {}, ValueError, "expected tuple of length 2, but got tuple of length 3"),
    (({}, 1), {}, TypeError, "argument 'qubo': 'dict' object cannot be converted to 'Sequence'"),
    (({1, 2}, 1), {}, TypeError, "argument 'qubo': 'set' object cannot be converted to 'Sequence'"),
    (([((0, 0), "w")], 1), {}, TypeError, "argument 'qubo': must be real number, not str"),
    (([], 2.0), {}, TypeError, "argument 'n_vars': 'float' object cannot be interpreted as an integer"),
    (([], -1), {}, OverflowError, None),
    (([], 2**64), {}, OverflowError, None),
    (([], 1), {"n_vars": 1}, TypeError, "qubo_energy_spectrum() got multiple values for argument 'n_vars'"),
    (([],), {"x": 1}, TypeError, "qubo_energy_spectrum() got an unexpected keyword argument 'x'"),
    ((), {}, TypeError, "qubo_energy_spectrum() missing 2 required positional arguments: 'qubo' and 'n_vars'"),
    (([],), {}, TypeError, "qubo_energy_spectrum() missing 1 required positional argument: 'n_vars'"),
    (([], 1, 2), {}, TypeError, "qubo_energy_spectrum() takes 2 positional arguments but 3 were given"),
]


@pytest.mark.parametrize("args, kwargs, exc, message", BINDING_ERRORS)
def test_binding_and_conversion_errors(args, kwargs, exc, message):
    with pytest.raises(exc) as info:
        spectrum(*args, **kwargs)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message


def test_three_or_more_missing_arguments_take_a_serial_comma():
    runs = talvo_core.simulate_qubo_runs
    with pytest.raises(TypeError, match=r"^simulate_qubo_runs\(\) missing 3 required positional arguments: "
                                        r"'n_runs', 'noise_level', and 'seed'$"):
        runs([], [1])
    with pytest.raises(TypeError, match=r"^simulate_qubo_runs\(\) missing 4 required positional arguments: "
                                        r"'qubo', 'base_bits', 'n_runs', and 'seed'$"):
        runs(noise_level=0.5)


def test_first_failure_in_parameter_order_wins():
    with pytest.raises(TypeError, match="argument 'qubo'"):
        spectrum("bad", "also bad")


def test_type_error_prefix_keeps_the_cause():
    class Bad:
        def __float__(self):
            try:
                raise KeyError("inner")
            except KeyError as k:
                raise TypeError("no float") from k

    with pytest.raises(TypeError) as info:
        spectrum([((0, 0), Bad())], 1)
    assert str(info.value) == "argument 'qubo': no float"
    assert isinstance(info.value.__cause__, KeyError)


def test_non_type_errors_pass_unchanged():
    class Boom:
        def __index__(self):
            raise ZeroDivisionError("boom")

    with pytest.raises(ZeroDivisionError, match="^boom$"):
        spectrum([], Boom())


def test_accepted_argument_forms():
    class Idx:
        def __index__(self):
            return 1

    class Seq:
        def __len__(self):
            raise RuntimeError("length unknown")

        def __getitem__(self, k):
            if k >= 2:
                raise IndexError
            return ((0, 0), [-1.0, 2][k])

    assert repr(spectrum(qubo=[], n_vars=1)) == repr(([0], 0.0, [0.0]))
    assert repr(spectrum((((0, 0), True),), Idx())) == repr(([0], 0.0, [0.0, 1.0]))  # True -> 1.0
    assert repr(spectrum([((0, 0), 3)], True)) == repr(([0], 0.0, [0.0, 3.0]))
    assert repr(spectrum(Seq(), 1)) == repr(([0], 0.0, [0.0, 1.0]))
    assert spectrum(range(0), 2) == ([0, 0], 0.0, [0.0])
    with pytest.raises(TypeError, match="argument 'qubo': 'generator' object cannot be converted to 'Sequence'"):
        spectrum((t for t in []), 1)


def test_size_violation_and_panic():
    with pytest.raises(SizeViolation) as info:
        spectrum([], 21)
    assert info.value.args == ("SizeViolation: qubo_energy_spectrum requires n_vars <= 20",)
    with pytest.raises(BaseException) as info:
        spectrum([((0, 1), 1.0)], 1)
    assert type(info.value).__name__ == "PanicException"
    assert not isinstance(info.value, Exception)
    assert str(info.value) == "index out of bounds: the len is 1 but the index is 1"


def run_child(code):
    """Runs `code` in a fresh interpreter that sees the same modules as this one."""
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, cwd="/",
                          env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))


def test_size_violation_fetched_lazily_and_kept():
    code = (
        "import sys\n"
        "import talvo_core\n"
        "assert 'talvo.exceptions' not in sys.modules\n"
        "try:\n"
        "    talvo_core.qubo_energy_spectrum([], 21)\n"
        "except Exception as e:\n"
        "    first = type(e)\n"
        "import talvo.exceptions as te\n"
        "te.SizeViolation = KeyError\n"
        "try:\n"
        "    talvo_core.qubo_energy_spectrum([], 21)\n"
        "except Exception as e:\n"
        "    assert type(e) is first, type(e)\n"
        "print('ok', first.__name__)\n"
    )
    out = run_child(code)
    assert out.stdout.strip() == "ok SizeViolation", out.stderr


@pytest.mark.parametrize("stand_in, error", [
    ("5", "TypeError: 'int' object cannot be converted to 'PyType'"),
    ("int", "TypeError: exceptions must derive from BaseException"),
])
def test_size_violation_that_is_no_exception_class(stand_in, error):
    # The calling package's SizeViolation is looked up when first needed; when
    # it is not an exception class, the call fails with a TypeError instead.
    code = (
        "import talvo_core, talvo.exceptions as te\n"
        f"te.SizeViolation = {stand_in}\n"
        "try:\n"
        "    talvo_core.qubo_energy_spectrum([], 21)\n"
        "except TypeError as e:\n"
        "    print('TypeError:', e)\n"
    )
    out = run_child(code)
    assert out.stdout.strip() == error, out.stderr


# Each size limit and a call beyond it, in the child's own words.
SIZE_LIMITS = (
    ("qubo_energy_spectrum([], 21)", "SizeViolation: qubo_energy_spectrum requires n_vars <= 20"),
    ("exact_ising_norm([], [], 21)", "SizeViolation: exact_ising_norm requires n_sites <= 20"),
    ("sim.IsingSimulator().solve_exact(sim.LogicalGraph([sim.Variable(str(k), 'spin') for k in range(21)], []))",
     "SizeViolation: N > 20 is not supported for exact solver"),
    ("run_statevector([], 25)", "SizeViolation: run_statevector requires n_qubits <= 24"),
    ("build_ecc_lookup_table(27, [])", "SizeViolation: lookup decoding requires n_data <= 26"),
    ("logical_failure_probability(9, [[0]] * 33, [0], 0.1)",
     "SizeViolation: lookup decoding requires at most 32 Z-stabilizers"),
)


NO_TALVO_NOTE = "talvo is not installed, so this is talvo_core's own SizeViolation (talvo_core works without talvo)"


# (how the calling package is made unreachable, the import failure, the note)
FALLBACK_CASES = [
    ("sys.path[:] = [p for p in sys.path if not os.path.isdir(os.path.join(p, 'talvo'))]", ModuleNotFoundError,
     NO_TALVO_NOTE),
    ("sys.modules['talvo'] = None", ModuleNotFoundError,
     "talvo.exceptions.SizeViolation could not be imported (ModuleNotFoundError: No module named "
     "'talvo.exceptions'; 'talvo' is not a package), so this is talvo_core's own SizeViolation"),
    ("import types; m = types.ModuleType('talvo.exceptions'); sys.modules['talvo.exceptions'] = m", AttributeError,
     "talvo.exceptions.SizeViolation could not be imported (AttributeError: module 'talvo.exceptions' has no "
     "attribute 'SizeViolation'), so this is talvo_core's own SizeViolation"),
    # A missing dependency of talvo is not a missing talvo: the import failure is named.
    ("import importlib.abc\n"
     "class F(importlib.abc.MetaPathFinder):\n"
     "    def find_spec(self, name, path, target=None):\n"
     "        if name == 'talvo': raise ModuleNotFoundError(\"No module named 'numpy'\", name='numpy')\n"
     "sys.meta_path.insert(0, F())", ModuleNotFoundError,
     "talvo.exceptions.SizeViolation could not be imported (ModuleNotFoundError: No module named 'numpy'), "
     "so this is talvo_core's own SizeViolation"),
]


@pytest.mark.parametrize("broken, cause, note", FALLBACK_CASES)
def test_size_limits_without_the_calling_package(broken, cause, note):
    # Without the calling package a stand-in of the same name carries the
    # whole message; a note says why in one line, and the failed import is
    # kept as the (unprinted) context. Once the package can be imported the
    # next size error uses its class, and keeps it.
    code = (
        "import os, sys, talvo_core\n"
        "from talvo_core import *\n"
        "from talvo_core import sim\n"
        "saved = list(sys.path)\n"
        f"{broken}\n"
        f"calls = {[c for c, _ in SIZE_LIMITS]!r}\n"
        "for c in calls:\n"
        "    try:\n"
        "        eval(c)\n"
        "    except Exception as e:\n"
        "        first = type(e)\n"
        "        print(type(e).__module__, type(e).__name__, type(e).__mro__[1].__name__,\n"
        "              type(e.__context__).__name__, e.__cause__, e.__suppress_context__, repr(e.args), str(e),\n"
        "              e.__notes__, sep='|')\n"
        "sys.meta_path[:] = [f for f in sys.meta_path if type(f).__name__ != 'F']\n"
        "sys.path[:] = saved\n"
        "sys.modules.pop('talvo.exceptions', None)\n"
        "sys.modules.pop('talvo', None)\n"
        "import talvo.exceptions as te\n"
        "for c in calls[:2]:\n"
        "    try:\n"
        "        eval(c)\n"
        "    except te.SizeViolation as e:\n"
        "        print(type(e) is not first, e.__cause__, repr(e.args), sep='|')\n"
    )
    out = run_child(code)
    lines = out.stdout.splitlines()
    assert len(lines) == 8, out.stderr
    for line, (_, message) in zip(lines, SIZE_LIMITS):
        assert line == "|".join(["talvo_core", "SizeViolation", "Exception", cause.__name__, "None", "True",
                                 repr((message,)), message, repr([note])]), out.stderr
    for line, (_, message) in zip(lines[6:], SIZE_LIMITS):
        assert line == f"True|None|{(message,)!r}"


def test_size_error_without_the_calling_package_prints_one_readable_report():
    # Uncaught, it reads as the module's own error, not as a broken install:
    # the message line, then the note, and no import traceback. It keeps the
    # context of an exception being handled out of its chain.
    code = (
        "import os, sys, talvo_core\n"
        "sys.path[:] = [p for p in sys.path if not os.path.isdir(os.path.join(p, 'talvo'))]\n"
        "try:\n"
        "    raise KeyError('k')\n"
        "except KeyError:\n"
        "    try:\n"
        "        talvo_core.qubo_energy_spectrum([], 21)\n"
        "    except Exception as e:\n"
        "        print(type(e.__context__).__name__, e.__context__.name)\n"
        "    talvo_core.qubo_energy_spectrum([], 21)\n"
    )
    out = run_child(code)
    assert out.returncode == 1
    assert out.stdout == "ModuleNotFoundError talvo\n"
    report = ["talvo_core.SizeViolation: SizeViolation: qubo_energy_spectrum requires n_vars <= 20"]
    if sys.version_info >= (3, 11):  # notes are printed from 3.11 on
        report.append(NO_TALVO_NOTE)
    assert out.stderr.strip().splitlines()[-len(report):] == report, out.stderr
    assert "ModuleNotFoundError" not in out.stderr and "KeyError" not in out.stderr
    assert out.stderr.count("Traceback") == 1


def test_arguments_are_not_modified():
    qubo = [((0, 1), 1.5), ((1, 1), -2.0)]
    copy = list(qubo)
    spectrum(qubo, 2)
    assert qubo == copy
