"""Hostile-input fuzzing of every entry: functions, constructors, methods,
getters and setters. Each call must end in a value or an ordinary exception:
never a crash, never SystemError (which is also how the interpreter reports
a result returned with a stale error set)."""
import copy
import inspect
import math
import random
import sys

import talvo_core

sim, analog, ecc, cutting = talvo_core.sim, talvo_core.analog, talvo_core.ecc, talvo_core.cutting


# ---------------------------------------------------------------------------
# The members, read from the module itself. Every table below must cover
# them all: a member without an entry fails the tests that use the tables.

def members():
    """(kind, path) of every exported member: "function" and "class" paths are
    qualified by submodule ("ecc.select_patches"), "method" and "attribute"
    paths by class ("StackelbergSolver.solve", "Variable.name")."""
    out = []

    def walk(module, prefix):
        for name, obj in vars(module).items():
            if name.startswith("_"):
                continue
            if isinstance(obj, type(talvo_core)):
                walk(obj, prefix + name + ".")
            elif isinstance(obj, type):
                out.append(("class", prefix + name))
                for attr, value in vars(obj).items():
                    if attr.startswith("_"):
                        continue
                    kind = "attribute" if inspect.isgetsetdescriptor(value) else "method"
                    out.append((kind, f"{name}.{attr}"))
            else:
                assert callable(obj), f"{prefix}{name} is neither a function, a class nor a submodule"
                out.append(("function", prefix + name))

    walk(talvo_core, "")
    return out


def _constructible(path):
    try:
        _resolve(path)()
    except TypeError as e:
        return not str(e).startswith("No constructor defined")
    return True


def coverage_gaps():
    """Members no table exercises, and table entries that name no member."""
    have = {kind: {path for k, path in members() if k == kind} for kind in ("function", "class", "method", "attribute")}
    classes_with_attributes = {path.split(".")[0] for path in have["attribute"]}
    unreachable = {path.split(".")[-1] for path in UNREACHABLE}
    gaps = [f"class {p} listed as unreachable can be constructed" for p in sorted(UNREACHABLE)
            if _constructible(p)]
    classes_with_attributes -= unreachable
    tables = {
        "function": (have["function"], set(FUNCTIONS)),
        "class": (have["class"], set(CONSTRUCTORS)),
        "method": (have["method"], set(METHODS)),
        "attribute": (classes_with_attributes, set(INSTANCES)),
    }
    pickled = {path.split(".")[-1] for path in have["class"] if "__reduce__" in vars(_resolve(path))}
    tables["pickled class"] = (pickled, set(PICKLED))
    for kind, (exported, table) in tables.items():
        gaps += [f"{kind} {p} is not exercised" for p in sorted(exported - table)]
        gaps += [f"{kind} table entry {p} names no member" for p in sorted(table - exported)]
    return gaps


# ---------------------------------------------------------------------------
# Valid arguments for every entry; the fuzzer mutates them at every depth.

def _graph():
    v = [sim.Variable("a", "spin"), sim.Variable("b", "spin"), sim.Variable("c", "spin")]
    i = [sim.Interaction("a", "b", 0.5), sim.Interaction("b", "c", -1.0), sim.Interaction("c", "c", 0.25)]
    return sim.LogicalGraph(v, i)


def _coords():
    return analog.NeutralAtomCompiler().map_to_spatial_geometry(_graph())


def _assignments():
    return ecc.select_patches([(0, 2.0), (1, 1.0)], 100, 3)


def _counts():
    return [cutting.SubcircuitSampleCounts(0, "A", {"01": 3, "11": 1}, 4),
            cutting.SubcircuitSampleCounts(0, "B", {"0": 2}, 2)]


def _solver():
    return talvo_core.StackelbergSolver(0.8, 10, 0.1)


QUBO = [((0, 1), 1.0), ((0, 0), -1.0), ((1, 1), -0.5), ((2, 0), 0.25)]

FUNCTIONS = {
    "qubo_energy_spectrum": lambda: (QUBO, 3),
    "exact_ising_norm": lambda: ([(0, 0.5), (1, -0.25)], [((0, 1), 1.0), ((1, 2), 0.5)], 3),
    "simulate_qubo_runs": lambda: (QUBO, [1, 0, 1], 4, 0.3, 7),
    "run_statevector": lambda: ([("h", [0], []), ("cx", [0, 1], []), ("u", [1], [0.1, 0.2, 0.3]),
                                 ("rz", [2], [0.5])], 3),
    "build_ecc_lookup_table": lambda: (4, [[0, 1], [1, 2], [2, 3]]),
    "logical_failure_probability": lambda: (4, [[0, 1], [1, 2], [2, 3]], [0, 1, 2, 3], 0.01),
    "qubo_criticality": lambda: (QUBO, 3),
    "vrp_qubo_terms": lambda: ([[0.0, 1.0, 2.0], [1.0, 0.0, 1.5], [2.0, 1.5, 0.0]], 4.0, 2.0),
    "stoer_wagner_bisect": lambda: ([(0, 1, 1.0), (1, 2, 2.0), (2, 3, 1.0), (3, 0, 0.5)], 4),
    "apply_coupling_correction": lambda: ([((0, 1), 1.0), ((1, 2), 2.0)], [((0, 1), 0.1)]),
    "apply_detuning_correction": lambda: ([1.0, 2.0, 3.0], [(0, 0.5), (2, -0.25)]),
    "apply_rabi_correction": lambda: (1.0, 0.05),
    "ecc.build_surface_code": lambda: (3,),
    "ecc.select_patches": lambda: ([(0, 2.0), (1, 1.0)], 100, 3),
    "ecc.remap_circuit": lambda: ([("cx", [0, 1]), ("h", [5])], _assignments()),
    "cutting.reconstruct_expectation": lambda: (_counts(), [cutting.SampleCoefficient(0, 0.5)], ["A", "B"]),
}

CONSTRUCTORS = {
    "StackelbergSolver": lambda: (0.8, 10, 0.1),
    "sim.IsingSimulator": lambda: (),
    "sim.LogicalGraph": lambda: ([sim.Variable("a", "spin")], [sim.Interaction("a", "a", 1.0)]),
    "sim.Variable": lambda: ("x", "spin"),
    "sim.Interaction": lambda: ("x", "y", 1.5),
    "sim.QuditSimulator": lambda: (3, 4),
    "analog.RydbergControlParameters": lambda: ([1.0], [0.5], _coords()),
    "analog.PhotonicGBSParameters": lambda: ([[0.0, 1.0], [1.0, 0.0]], [0.1, 0.2]),
    "analog.NeutralAtomCompiler": lambda: (),
    "analog.PhotonicCompiler": lambda: (),
    "cutting.SubcircuitSampleCounts": lambda: (0, "A", {"01": 3}, 4),
    "cutting.SampleCoefficient": lambda: (0, 0.5),
    # Classes without a constructor: any call is refused.
    "EquilibriumScore": lambda: (),
    "analog.ContinuousFieldIR": lambda: (),
    "analog.HardwareDeltaModel": lambda: (),
    "analog.SpatialCoordinates": lambda: (),
    "ecc.SurfaceCodePatch": lambda: (),
    "ecc.PatchAssignment": lambda: (),
}

# (instance factory, method name, valid arguments)
METHODS = {
    "StackelbergSolver.solve": (_solver, "solve", lambda: ([0.9, 0.7], [-1.0, -2.0], [0.0, -1.0], [0.1, 0.0], 2.0)),
    "IsingSimulator.solve_exact": (lambda: sim.IsingSimulator(), "solve_exact", lambda: (_graph(),)),
    "QuditSimulator.simulate": (lambda: sim.QuditSimulator(3, 4), "simulate", lambda: ()),
    "PhotonicCompiler.build_arrazola_bromley_encoding": (
        lambda: analog.PhotonicCompiler(), "build_arrazola_bromley_encoding", lambda: (_graph(),)),
    "NeutralAtomCompiler.map_to_spatial_geometry": (
        lambda: analog.NeutralAtomCompiler(), "map_to_spatial_geometry", lambda: (_graph(),)),
    "NeutralAtomCompiler.generate_rydberg_controls": (
        lambda: analog.NeutralAtomCompiler(), "generate_rydberg_controls", lambda: (_graph(), _coords())),
}

# Classes with attributes that no call can make: they have no constructor and
# no entry returns one. Their attributes are reached by the caller's own code.
UNREACHABLE = {"analog.ContinuousFieldIR", "analog.HardwareDeltaModel"}

# Instances whose attributes are read and, where writable, assigned: one for
# every other class with attributes.
INSTANCES = {
    "Variable": lambda: sim.Variable("x", "spin"),
    "Interaction": lambda: sim.Interaction("x", "y", 1.5),
    "LogicalGraph": _graph,
    "StackelbergSolver": _solver,
    "EquilibriumScore": lambda: _solver().solve([0.9], [-1.0], [0.0], [0.1], 2.0)[1],
    "SurfaceCodePatch": lambda: ecc.build_surface_code(3),
    "PatchAssignment": lambda: _assignments()[0],
    "SampleCoefficient": lambda: cutting.SampleCoefficient(0, 0.5),
    "SubcircuitSampleCounts": lambda: _counts()[0],
    "SpatialCoordinates": lambda: _coords()[0],
    "RydbergControlParameters": lambda: analog.RydbergControlParameters([1.0], [0.5], _coords()),
    "PhotonicGBSParameters": lambda: analog.PhotonicGBSParameters([[0.0]], [0.1]),
}


# Every class whose instances pickle: a valid instance, whose pickled state
# the fuzzer hands to the reconstructor mutated like any arguments.
PICKLED = dict(INSTANCES, IsingSimulator=lambda: sim.IsingSimulator(), QuditSimulator=lambda: sim.QuditSimulator(3, 4),
               NeutralAtomCompiler=lambda: analog.NeutralAtomCompiler(),
               PhotonicCompiler=lambda: analog.PhotonicCompiler())


def _resolve(path):
    obj = talvo_core
    for part in path.split("."):
        obj = getattr(obj, part, None)
        if obj is None:
            return None
    return obj


# ---------------------------------------------------------------------------
# Hostile values.

class RaisingIndex:
    def __index__(self):
        raise ValueError("index hook failed")


class LyingIndex:
    def __index__(self):
        return "not an int"


class RaisingFloat:
    def __float__(self):
        raise ArithmeticError("float hook failed")


class LyingFloat:
    def __float__(self):
        return 1  # an int, not a float


class RaisingIter:
    def __len__(self):
        return 3

    def __getitem__(self, k):
        raise KeyError(k)


class LyingLen:
    def __init__(self, items):
        self.items = items

    def __len__(self):
        return 10**9

    def __getitem__(self, k):
        return self.items[k]


class BadLen(LyingLen):
    def __len__(self):
        raise OverflowError("length hook failed")


class Growing:
    """A sequence that grows while it is being iterated, up to a bound."""

    def __init__(self, items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, k):
        if k < len(self.items):
            if len(self.items) < 50 and self.items:
                self.items.append(self.items[0])
            return self.items[k]
        raise IndexError(k)


class Mutator:
    """Converts fine but clears the container being converted on the way."""

    def __init__(self, target, value):
        self.target, self.value = target, value

    def _mutate(self):
        t = self.target
        if isinstance(t, list):
            t.clear()
        elif isinstance(t, dict):
            t.clear()
            t["new"] = 1

    def __index__(self):
        self._mutate()
        return int(self.value) if isinstance(self.value, (int, float)) and math.isfinite(self.value) else 0

    def __float__(self):
        self._mutate()
        return float(self.value) if isinstance(self.value, (int, float)) else 0.0


class Reentrant:
    """A conversion hook that touches an instance while it is being used."""

    def __init__(self, instance):
        self.instance = instance

    def _touch(self):
        inst = self.instance
        for name in dir(type(inst)):
            if name.startswith("_"):
                continue
            try:
                value = getattr(inst, name)
                if not callable(value):
                    setattr(inst, name, value)
            except Exception:
                pass

    def __index__(self):
        self._touch()
        return 1

    def __float__(self):
        self._touch()
        return 0.5


SCALARS = [None, True, False, -1, 0, 1, 2, 3, 2**31, 2**32, 2**63 - 1, 2**63, 2**64 - 1, 2**64, -(2**63),
           10**30, -(10**30), 0.5, -0.0, 1e308, math.nan, math.inf, -math.inf, "", "x", "\ud800", "\x00",
           "é\u2028", b"", b"\x00\x01", bytearray(b"\x02"), 1j, object(), set(), frozenset([1]), {}, [], (),
           [1, 2], (1, 2), (1, 2, 3), ((0, 1), 1.0), {"a": 1}, range(3)]
FRESH = [lambda: (x for x in ()), lambda: iter([1]), lambda: [[0, 1], 1.0], lambda: {(0, 1): 1.0}]


def hostile(rng, original, container, instance):
    roll = rng.random()
    if roll < 0.55:
        return rng.choice(FRESH)() if rng.random() < 0.1 else copy.deepcopy(rng.choice(SCALARS))
    if roll < 0.8:
        cls = rng.choice([RaisingIndex, LyingIndex, RaisingFloat, LyingFloat, RaisingIter])
        return cls()
    if roll < 0.9:
        items = list(original) if isinstance(original, (list, tuple)) else [original]
        return rng.choice([LyingLen, BadLen, Growing])(items)
    if roll < 0.95 and container is not None:
        return Mutator(container, original)
    if instance is not None:
        return Reentrant(instance)
    return rng.choice(SCALARS)


def mutate(rng, value, instance=None, depth=0):
    """Replaces one randomly chosen part of `value`, at any depth."""
    if isinstance(value, (list, tuple, dict)) and value and rng.random() < 0.75 and depth < 6:
        if isinstance(value, dict):
            keys = list(value)
            k = rng.choice(keys)
            out = dict(value)
            if rng.random() < 0.3:
                new_key = hostile(rng, k, out, instance) if rng.random() < 0.5 else k
                try:
                    hash(new_key)
                except TypeError:
                    new_key = repr(new_key)
                out[new_key] = out.pop(k)
            else:
                out[k] = mutate(rng, value[k], instance, depth + 1)
            return out
        items = list(value)
        k = rng.randrange(len(items))
        items[k] = mutate(rng, items[k], instance, depth + 1)
        if rng.random() < 0.15:
            items.append(items[0] if rng.random() < 0.5 else hostile(rng, items[0], items, instance))
        if rng.random() < 0.1:
            items[k] = Mutator(items, items[k])
        if rng.random() < 0.1:
            del items[rng.randrange(len(items))]
        return tuple(items) if isinstance(value, tuple) else items
    return hostile(rng, value, None, instance)


def call_shapes(rng, args, names=None, instance=None):
    """Positional and keyword variations of a mutated argument tuple."""
    args = list(args)
    if args and rng.random() < 0.9:
        k = rng.randrange(len(args))
        args[k] = mutate(rng, args[k], instance)
    roll = rng.random()
    if roll < 0.05:
        return args + [1], {}
    if roll < 0.1 and args:
        return args[:-1], {}
    if roll < 0.15:
        return args, {"bogus": 1}
    return args, {}


# ---------------------------------------------------------------------------
# The run.

class Failure(Exception):
    pass


def _check(label, fn, args, kwargs, stats):
    stats["calls"] += 1
    try:
        fn(*args, **kwargs)
        stats["ok"] += 1
    except SystemError as e:
        raise Failure(f"{label}: SystemError {e!r} for args={args!r} kwargs={kwargs!r}") from e
    except (KeyboardInterrupt, GeneratorExit):
        raise
    except BaseException as e:  # PanicException derives from BaseException
        name = type(e).__name__
        stats["errors"][name] = stats["errors"].get(name, 0) + 1


def targets():
    """Every callable entry, as (label, callable factory, args factory, instance
    factory). Raises LookupError when the tables and the module disagree."""
    gaps = coverage_gaps()
    if gaps:
        raise LookupError("; ".join(gaps))
    out = []
    for path, args in FUNCTIONS.items():
        out.append((path, lambda p=path: _resolve(p), args, None))
    for path, args in CONSTRUCTORS.items():
        out.append((path + "()", lambda p=path: _resolve(p), args, None))
    for label, (make, method, args) in METHODS.items():
        out.append((label, None, args, (make, method)))
    for name, make in PICKLED.items():
        out.append((f"_reconstruct[{name}]", lambda: talvo_core._reconstruct, lambda m=make: m().__reduce__()[1],
                    None))
    return out


def run(calls, seed=0, out=sys.stdout):
    rng = random.Random(seed)
    stats = {"calls": 0, "ok": 0, "errors": {}}
    tgts = targets()
    instances = list(INSTANCES.items())
    while stats["calls"] < calls:
        if rng.random() < 0.2 and instances:
            name, make = rng.choice(instances)
            try:
                inst = make()
            except Exception:
                continue
            attrs = [a for a in dir(type(inst)) if not a.startswith("_") and not callable(getattr(inst, a, None))]
            if not attrs:
                continue
            attr = rng.choice(attrs)
            _check(f"{name}.{attr} get", getattr, (inst, attr), {}, stats)
            try:
                current = getattr(inst, attr)
            except Exception:
                continue
            value = mutate(rng, current, inst) if rng.random() < 0.9 else current
            _check(f"{name}.{attr} set", setattr, (inst, attr, value), {}, stats)
            if rng.random() < 0.05:
                _check(f"{name}.{attr} del", delattr, (inst, attr), {}, stats)
            continue
        label, get, args, inst_spec = rng.choice(tgts)
        try:
            valid = args()
        except Exception:
            continue
        instance = None
        if inst_spec is not None:
            make, method = inst_spec
            try:
                instance = make()
            except Exception:
                continue
            fn = getattr(instance, method)
        else:
            fn = get()
        a, kw = call_shapes(rng, valid, instance=instance)
        _check(label, fn, a, kw, stats)
    return stats


if __name__ == "__main__":
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 200_000
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    import time

    t0 = time.perf_counter()
    s = run(n, seed)
    dt = time.perf_counter() - t0
    print(f"{s['calls']} calls in {dt:.1f} s: {s['ok']} returned a value, "
          f"{sum(s['errors'].values())} raised; 0 crashes, 0 SystemError")
    for name, count in sorted(s["errors"].items(), key=lambda kv: -kv[1]):
        print(f"  {name:<24} {count}")
