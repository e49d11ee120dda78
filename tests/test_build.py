"""What the built shared object shows the system: on Linux it exports the
module's init function alone (the abi3t module its export hook beside it), and it takes its trigonometry from the system's
libm, loaded dynamically; the calling package's Python fallback uses that same
libm, and any other sin or cos would differ from it in the last bit."""
import os
import struct
import sys

import pytest

import talvo_core

MATHS = {"sin", "cos", "sincos", "atan"}


def expected_exports(path):
    """The init function; for the abi3t module (talvo_core.abi3t.so) also the
    export hook that CPython 3.15 and later call instead."""
    if ".abi3t." in os.path.basename(path):
        return {"PyInit_talvo_core", "PyModExport_talvo_core"}
    return {"PyInit_talvo_core"}


def elf_dynamic(path):
    """(needed libraries, defined global symbols, undefined symbols) of a
    64-bit little-endian ELF shared object, read from its dynamic section and
    dynamic symbol table."""
    data = open(path, "rb").read()
    assert data[:4] == b"\x7fELF" and data[4] == 2 and data[5] == 1, "not a 64-bit little-endian ELF file"
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum = struct.unpack_from("<HH", data, 0x3A)
    sections = [struct.unpack_from("<IIQQQQIIQQ", data, shoff + k * shentsize) for k in range(shnum)]

    def string(table, offset):
        start = sections[table][4] + offset
        return data[start:data.index(b"\0", start)].decode()

    needed, defined, undefined = [], set(), set()
    for _, kind, _, _, offset, size, link, _, _, entsize in sections:
        if kind == 6:  # SHT_DYNAMIC
            for k in range(0, size, entsize):
                tag, value = struct.unpack_from("<qQ", data, offset + k)
                if tag == 1:  # DT_NEEDED
                    needed.append(string(link, value))
        elif kind == 11:  # SHT_DYNSYM
            for k in range(entsize, size, entsize):  # entry 0 is the null symbol
                name, info, _, shndx = struct.unpack_from("<IBBH", data, offset + k)
                bind = info >> 4
                if bind not in (1, 2):  # only GLOBAL and WEAK symbols are visible
                    continue
                (undefined if shndx == 0 else defined).add(string(link, name))
    return needed, defined, undefined


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads an ELF shared object")
@pytest.mark.skipif(bool(os.environ.get("TALVO_SANITIZED")), reason="sanitized builds keep the default exports")
def test_exports_init_only_and_uses_the_system_libm():
    needed, defined, undefined = elf_dynamic(talvo_core.__file__)
    assert defined == expected_exports(talvo_core.__file__)
    assert any(name.startswith("libm.so") for name in needed), needed
    # gate angles (sin and cos, or sincos) and photonic phases (atan) come from it
    assert {"atan"} <= undefined and ({"sin", "cos"} <= undefined or "sincos" in undefined), undefined & MATHS


def test_init_function_called_again_returns_the_one_module():
    # As an embedding application or an older import path would call it: the
    # exported init function, called directly, hands out the module already
    # made (the abi3t module's export hook hands out the same one).
    import ctypes

    init = ctypes.PyDLL(talvo_core.__file__).PyInit_talvo_core
    init.restype = ctypes.py_object
    assert init() is talvo_core
    assert init() is talvo_core
