"""The symbols of CPython's stable ABI up to a given version, from the
abi3info package's copy of CPython's own list.

  stable_abi.py names [3.10]     one name a line, functions and data, as a
                                 POSIX interpreter exports them
  stable_abi.py def [3.10]       a module-definition file for the python3.dll
                                 of a release build of Windows (data marked DATA)
"""
import sys

import abi3info


def symbols(version, windows):
    major, minor = (int(p) for p in version.split("."))
    for table, data in ((abi3info.FUNCTIONS, False), (abi3info.DATAS, True)):
        for symbol, entry in table.items():
            if (entry.added.major, entry.added.minor) > (major, minor):
                continue
            # Symbols of one kind of platform (fork, Windows errors) or of a
            # debug build (reference totals) only where such an interpreter has them.
            macro = entry.ifdef.name if entry.ifdef else None
            if macro == "Py_REF_DEBUG" or (macro == "MS_WINDOWS" and not windows) \
                    or (macro == "HAVE_FORK" and windows):
                continue
            yield symbol.name, data


def main(argv):
    what = argv[1]
    version = argv[2] if len(argv) > 2 else "3.10"
    if what == "names":
        print("\n".join(sorted(name for name, _ in symbols(version, windows=False))))
    elif what == "def":
        print("LIBRARY python3.dll")
        print("EXPORTS")
        for name, data in sorted(symbols(version, windows=True)):
            print(f"  {name} DATA" if data else f"  {name}")
    else:
        sys.exit(f"unknown request {what!r}")


if __name__ == "__main__":
    main(sys.argv)
