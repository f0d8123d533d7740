"""The package as cmake --install put it in place, found through PYTHONPATH
as the README says: it loads the installed libraries (not the build tree's),
has the project's version, and the README's Python example runs as written
from a folder of its own.

Environment: PYTHONPATH (the installed package's folder), ORVEX_TEST_PREFIX,
ORVEX_TEST_PROJECT_VERSION, ORVEX_TEST_README.
"""

import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

import orvexportio
from orvexportio import _loader

PREFIX = Path(os.environ["ORVEX_TEST_PREFIX"]).resolve()


def expect(condition, message):
    if not condition:
        sys.exit(f"check_installed: {message}")


def inside_prefix(path):
    return Path(path).resolve().is_relative_to(PREFIX)


def readme_python_example(readme):
    """The first Python block of the README's Python section."""
    section = readme.split("## Calling the library from Python", 1)[1]
    match = re.search(r"```python\n(.*?)```", section, re.S)
    expect(match is not None, "the README's Python section has no Python example")
    return match.group(1)


expect(inside_prefix(orvexportio.__file__), f"imported {orvexportio.__file__}, not the install")
expect(orvexportio.__version__ == os.environ["ORVEX_TEST_PROJECT_VERSION"],
       f"version {orvexportio.__version__}")
expect((Path(orvexportio.__file__).parent / "py.typed").is_file(), "no py.typed")

simulated = orvexportio.Library(simulated=True)
expect(inside_prefix(simulated.path), f"loaded {simulated.path}, not the installed library")
card = orvexportio.Library()
expect(inside_prefix(card.path), f"loaded {card.path}, not the installed library")
diagnosis, _ = _loader.locate(_loader.DIAGNOSIS)
expect(diagnosis is not None and inside_prefix(diagnosis), f"diagnosis library {diagnosis}")
cause = orvexportio.Controller(card).diagnose()
expect(cause and "\n" not in cause, f"diagnose() gave {cause!r}")

example = readme_python_example(Path(os.environ["ORVEX_TEST_README"]).read_text())
with tempfile.TemporaryDirectory() as folder:
    run = subprocess.run([sys.executable, "-c", example], cwd=folder, capture_output=True,
                         text=True, timeout=60, check=False)
expect(run.returncode == 0, f"the README's example failed:\n{run.stdout}{run.stderr}")
printed = run.stdout.splitlines()
expect(printed[:1] == ["2.5"], f"the README's example printed:\n{run.stdout}")
print(run.stdout, end="")
print("the installed package works")
