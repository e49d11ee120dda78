"""Checks a linked extension module for macOS (Mach-O bundle) or Windows
(PE DLL) with the LLVM tools:

  - it exports PyInit_talvo_core and nothing else;
  - it loads only the allowed libraries, and of the interpreter only symbols
    of the stable ABI up to 3.10 (everything else is the C library's, the C
    and C++ runtimes' or the maths library's);
  - every maths function its objects call is imported from the platform's
    maths library, none is carried in;
  - not one fused multiply-add instruction.

Also writes the text stub of the system's C++ library that the macOS link
takes its C++ runtime from (the module is linked against the system's
libc++.1.dylib there, as the wheel built on macOS is).

  check_binary.py macho BUNDLE OBJDIR STABLE_ABI_NAMES
  check_binary.py pe PYD OBJDIR PYTHON3_DEF
  check_binary.py libcxx-tbd ARCH OBJDIR > libc++.tbd
  check_binary.py maths OBJDIR           the maths functions the objects call
"""
import re
import subprocess
import sys
from pathlib import Path

MATHS = {
    "sin", "cos", "tan", "asin", "acos", "atan", "atan2", "sinh", "cosh", "tanh", "exp", "exp2",
    "expm1", "log", "log2", "log10", "log1p", "pow", "sqrt", "cbrt", "hypot", "fmod", "fma", "erf",
    "erfc", "lgamma", "tgamma", "ceil", "floor", "trunc", "round", "nearbyint", "rint", "sincos",
    "__sincos_stret", "ceilf", "floorf", "sqrtf", "truncf", "sinf", "cosf", "atanf",
}
# The C++ runtime, by its mangled names: namespace std (libc++'s std::__1
# included), the ABI library's type-info classes, operators new and delete,
# and the exception-handling entry points.
CXX_RUNTIME = re.compile(r"^(_Z(N|NK)?St|_ZT[IVS](N?St|N10__cxxabiv1)|_Z(nw|na|dl|da)|__cxa_|__gxx_personality_v0$)")
# Fused multiply-add: x86-64 (FMA3, FMA4) and arm64 (scalar and vector forms).
FUSED = re.compile(r"\t(vfn?m(add|sub)\w*|fn?madd|fn?msub|fml[as])(\.\w+)?\s")
INIT = "PyInit_talvo_core"


def run(*cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


def undefined_in_objects(objdir, prefix):
    """The external names the objects use but do not define, without the
    platform's symbol prefix."""
    objects = sorted(str(p) for p in Path(objdir).glob("*.o"))
    used, defined = set(), set()
    for line in run("llvm-nm", "--extern-only", *objects).splitlines():
        parts = line.split()
        if len(parts) == 2 and parts[0] == "U":
            used.add(parts[1])
        elif len(parts) == 3:
            defined.add(parts[2])
    return {n[len(prefix):] if n.startswith(prefix) else n for n in used - defined}


def fail(message):
    sys.exit(f"check_binary: {message}")


def fused_count(binary):
    return sum(1 for line in run("llvm-objdump", "-d", "--no-show-raw-insn", binary).splitlines()
               if FUSED.search(line))


def check_macho(bundle, objdir, names_file):
    stable = set(Path(names_file).read_text().split())
    name = Path(bundle).name
    exports = run("llvm-nm", "--extern-only", "--defined-only", bundle).split()[2::3]
    if exports != ["_" + INIT]:
        fail(f"{name} exports {exports}")
    libraries = set(run("llvm-objdump", "--macho", "--dylibs-used", bundle).split("\n", 1)[1].split("\n"))
    libraries = {line.split(" (")[0].strip() for line in libraries if line.strip()}
    allowed = {"/usr/lib/libSystem.B.dylib", "/usr/lib/libc++.1.dylib"}
    if libraries != allowed:
        fail(f"{name} loads {sorted(libraries)}, expected {sorted(allowed)}")
    bound = {}
    for line in run("llvm-nm", "-m", "--undefined-only", bundle).splitlines():
        m = re.match(r"\s*\(undefined\) (?:weak )?external (\S+) \((.*)\)$", line)
        if not m:
            fail(f"unexpected line in the symbol table of {name}: {line}")
        bound[m.group(1)[1:]] = m.group(2)
    looked_up = sorted(s for s, where in bound.items() if where == "dynamically looked up")
    stray = [s for s in looked_up if s not in stable]
    if stray:
        fail(f"{name} leaves symbols outside the 3.10 stable ABI to the interpreter: {stray}")
    maths = sorted(undefined_in_objects(objdir, "_") & MATHS)
    # On arm64 and x86-64 the compiler emits sin and cos of one angle as one
    # __sincos_stret call; the objects name what the bundle then imports.
    not_system = [f for f in maths if bound.get(f) != "from libSystem"]
    if not_system:
        fail(f"{name}: maths functions not imported from libSystem: {not_system}")
    defined = {n.lstrip("_") for n in run("llvm-nm", "--defined-only", "-j", bundle).split()}
    carried = sorted(defined & MATHS)
    if carried:
        fail(f"{name} carries maths functions of its own: {carried}")
    fused = fused_count(bundle)
    if fused:
        fail(f"{name} contains {fused} fused multiply-add instructions")
    runtime = sorted(s for s, where in bound.items() if where == "from libc++")
    print(f"{name}: exports {INIT} only; loads {', '.join(sorted(allowed))} only; "
          f"{len(looked_up)} interpreter symbols, all in the 3.10 stable ABI; "
          f"{len(runtime)} C++ runtime symbols from libc++; "
          f"maths from libSystem: {' '.join(maths)}; no fused multiply-add")


def pe_imports(pyd):
    imports, dll = {}, None
    text = run("llvm-objdump", "-p", pyd)
    table = text.split("The Import Tables:", 1)[1].split("Export Table", 1)[0]
    for line in table.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1)
            imports.setdefault(dll, set())
            continue
        parts = line.split()
        if dll and len(parts) == 2 and parts[0].isdigit():
            imports[dll].add(parts[1])
    return imports


def check_pe(pyd, objdir, def_file):
    stable = {line.split()[0] for line in Path(def_file).read_text().splitlines()[2:] if line.strip()}
    name = Path(pyd).name
    exports = re.findall(r"^\s*Name: (\S+)", run("llvm-readobj", "--coff-exports", pyd), re.M)
    if exports != [INIT]:
        fail(f"{name} exports {exports}")
    imports = pe_imports(pyd)
    # The interpreter's stable ABI, the system's kernel32 and the universal C
    # runtime (its API sets: heap, stdio, strings, maths, ...); the C++
    # runtime is linked in.
    allowed = re.compile(r"^(python3\.dll|KERNEL32\.dll|api-ms-win-crt-[a-z]+-l1-1-0\.dll)$", re.I)
    others = sorted(d for d in imports if not allowed.match(d))
    if others:
        fail(f"{name} loads libraries beyond the allowed ones: {others}")
    if "python3.dll" not in imports:
        fail(f"{name} does not import from python3.dll")
    stray = sorted(imports["python3.dll"] - stable)
    if stray:
        fail(f"{name} imports symbols outside the 3.10 stable ABI: {stray}")
    maths = sorted(undefined_in_objects(objdir, "") & MATHS)
    crt_maths = imports.get("api-ms-win-crt-math-l1-1-0.dll", set())
    missing = [f for f in maths if f not in crt_maths]
    if missing:
        fail(f"{name}: maths functions not imported from the C runtime: {missing}")
    fused = fused_count(pyd)
    if fused:
        fail(f"{name} contains {fused} fused multiply-add instructions")
    print(f"{name}: exports {INIT} only; loads {', '.join(sorted(imports))}; "
          f"{len(imports['python3.dll'])} interpreter symbols, all in the 3.10 stable ABI; "
          f"maths from api-ms-win-crt-math-l1-1-0.dll: {' '.join(maths)}; no fused multiply-add")


def libcxx_tbd(arch, objdir):
    names = sorted("_" + s for s in undefined_in_objects(objdir, "_") if CXX_RUNTIME.match(s))
    target = f"{arch}-macos"
    symbols = ", ".join(f"'{s}'" for s in names)
    print("--- !tapi-tbd")
    print("tbd-version: 4")
    print(f"targets: [ {target} ]")
    print("install-name: '/usr/lib/libc++.1.dylib'")
    print("current-version: 1700")
    print("exports:")
    print(f"  - targets: [ {target} ]")
    print(f"    symbols: [ {symbols} ]")
    print("...")


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    what, args = argv[1], argv[2:]
    if what == "macho":
        check_macho(*args)
    elif what == "pe":
        check_pe(*args)
    elif what == "libcxx-tbd":
        libcxx_tbd(*args)
    elif what == "maths":
        prefix = args[1] if len(args) > 1 else ""
        print("\n".join(sorted(undefined_in_objects(args[0], prefix) & MATHS)))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
