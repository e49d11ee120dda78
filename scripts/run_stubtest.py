"""Run mypy's stubtest on the installed talvo_core against its stubs.

talvo_core keeps its submodules `sim`, `analog`, `ecc` and `cutting` as module
attributes and never enters them in sys.modules, so `import talvo_core.sim`
fails and stubtest could not reach the classes inside them.  Entering the very
same module objects under their dotted names first lets stubtest compare each
submodule with its stub; nothing about the module itself changes.

Usage: python scripts/run_stubtest.py [stubtest arguments...]
       (the module name talvo_core is added when no module is named)
"""

import sys

import talvo_core

for name in ("sim", "analog", "ecc", "cutting"):
    sys.modules[f"talvo_core.{name}"] = getattr(talvo_core, name)

from mypy.stubtest import main  # noqa: E402  (after the submodules are entered)

if not any(arg == "talvo_core" for arg in sys.argv[1:]):
    sys.argv.insert(1, "talvo_core")
sys.exit(main())
