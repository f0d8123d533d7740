"""Why no controller answered, told by the diagnosis library that orvexctl uses too."""

from __future__ import annotations

import ctypes
import functools
from typing import Any, Optional

from ._exports import DIAGNOSIS_EXPORTS, declare_all
from ._loader import DIAGNOSIS, load

VIRTUAL_CONTROLLER_SILENT = (
    "the virtual controller did not answer, which it does only when told to misbehave")


def _told(name: str, base: Optional[int]) -> str:
    """The text of orvexdiag_<name> (of the eleven functions' card), or of
    orvexdiag_<name>_card for the card at `base`."""
    cdll, _ = load(DIAGNOSIS)
    functions = declare_all(cdll, DIAGNOSIS_EXPORTS)
    tell: Any = functions["orvexdiag_" + name] if base is None else \
        functools.partial(functions[f"orvexdiag_{name}_card"], base)
    length = tell(None, 0)
    text = ctypes.create_string_buffer(length + 1)
    tell(text, length + 1)
    return str(text.value.decode("utf-8", "replace"))


def explain_unreachable_card(base: Optional[int] = None) -> str:
    """One line naming the likely cause on this machine and what to do about
    it, for the card of the eleven functions or the card at `base`."""
    return _told("explain", base)


def route(base: Optional[int] = None) -> str:
    """How the library reaches the card (of the eleven functions, or at
    `base`) on this machine, and why the better ways are closed."""
    return _told("route", base)
