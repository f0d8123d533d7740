"""The export tables the Python package and the C# declarations bind from,
and the constants they mirror, against the lists the libraries are built
from (cmake/Exports.cmake, passed in by CTest) and the public header.
orvexctl's own table is checked in its tests (orvexctl_arguments_test).

usage: check_export_tables.py PACKAGE_DIR CSHARP_FILE HEADER NAME=LIST...
where each LIST is the CMake list (names joined by commas) of ORVEX_EXPORTS,
ORVEX_CARD_EXPORTS, ORVEX_SIM_BUS_FUNCTIONS, ORVEX_SIM_CARD_FUNCTIONS and
ORVEX_DIAGNOSIS_EXPORTS. Prints one line per check and "N passed, N failed".
"""

import re
import sys
from pathlib import Path

results = []


def check(passed, what):
    results.append(passed)
    print(f"[{'  OK  ' if passed else 'FAILED'}] {what}")


def same(found, expected, what):
    check(list(found) == list(expected),
          f"{what}: {list(found)} is {list(expected)}" if list(found) != list(expected) else what)


def within(found, allowed, what):
    stray = sorted(set(found) - set(allowed))
    check(bool(found) and not stray, f"{what}" + (f": not exported: {stray}" if stray else ""))


def header_constants(header):
    """#define ORVEX_NAME value, for the integer and float constants."""
    text = Path(header).read_text()
    return {name: float(value) for name, value in
            re.findall(r"^#define (ORVEX_\w+) +\(?(-?[0-9.e]+)f?\)?$", text, re.M)}


def csharp_externs(source):
    """{class of the namespace: [extern function names in order]}."""
    classes = {}
    current = None
    for line in source.splitlines():
        declared = re.match(r"    public (?:static |sealed )?class (\w+)", line)
        if declared:
            current = declared.group(1)
        extern = re.search(r"static extern [\w\[\]]+ (\w+)\(", line)
        if extern:
            classes.setdefault(current, []).append(extern.group(1))
    return classes


def snake(camel):
    return re.sub(r"(?<!^)(?=[A-Z])", "_", camel).upper()


def main(arguments):
    package, csharp, header = arguments[:3]
    lists = dict(argument.split("=", 1) for argument in arguments[3:])
    listed = {name: [item for item in value.split(",") if item] for name, value in lists.items()}
    eleven, card = listed["ORVEX_EXPORTS"], listed["ORVEX_CARD_EXPORTS"]
    bus = ["orvexsim_" + name for name in listed["ORVEX_SIM_BUS_FUNCTIONS"]]
    first_card = ["orvexsim_" + name for name in listed["ORVEX_SIM_CARD_FUNCTIONS"]]
    any_card = ["orvexsim_card_" + name for name in listed["ORVEX_SIM_CARD_FUNCTIONS"]]

    sys.path.insert(0, package)
    from orvexportio import _exports  # the source's own table, no library loaded

    same(_exports.EXPORTS, eleven, "Python binds the eleven")
    same(sorted(_exports.CARD_EXPORTS), sorted(card), "Python binds the card API")
    same(sorted(_exports.SIMULATOR_BUS_EXPORTS), sorted(bus), "Python binds the bus's functions")
    same(sorted(_exports.SIMULATOR_FIRST_CARD_EXPORTS), sorted(first_card),
         "Python binds the first card's functions")
    same(sorted(_exports.SIMULATOR_CARD_EXPORTS), sorted(any_card),
         "Python binds the functions of the card at a base")
    same(sorted(_exports.DIAGNOSIS_EXPORTS), sorted(listed["ORVEX_DIAGNOSIS_EXPORTS"]),
         "Python binds the diagnosis")

    source = Path(csharp).read_text()
    externs = csharp_externs(source)
    same(externs.get("Controller", []), eleven, "C# Controller declares the eleven")
    within(externs.get("Card", []), card, "C# Card declares functions of the card API")
    within(externs.get("VirtualController", []), bus + first_card + any_card,
           "C# VirtualController declares functions of the virtual-controller build")

    constants = header_constants(header)
    for name, value in re.findall(r"public const (?:int|float) (\w+) = (-?[0-9.e]+)f?;", source):
        defined = constants.get("ORVEX_" + snake(name))
        check(defined == float(value), f"C# {name} = {value} is the header's ({defined})")

    failed = results.count(False)
    print(f"{results.count(True)} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
