"""Reads the processor width of built DLLs the way the Python package does on
Windows, and fails unless each is the width expected.

Usage: check_dll_width.py 32|64 DLL...  (the package's folder on PYTHONPATH)
"""

import sys
from pathlib import Path

from orvexportio import _loader

MACHINES = {"32": 0x014C, "64": 0x8664}

expected = MACHINES[sys.argv[1]]
wrong = [f"{dll}: {_loader.machine_name(_loader.file_pe_machine(Path(dll)))}"
         for dll in sys.argv[2:] if _loader.file_pe_machine(Path(dll)) != expected]
if wrong:
    sys.exit("not " + _loader.machine_name(expected) + ":\n" + "\n".join(wrong))
print(f"{len(sys.argv) - 2} DLLs are {_loader.machine_name(expected)}")
