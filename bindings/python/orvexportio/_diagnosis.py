"""Why no controller answered, told by the diagnosis library that orvexctl uses too."""

from __future__ import annotations

import ctypes
import functools
from typing import Optional

from ._exports import DIAGNOSIS_EXPORTS, declare_all
from ._loader import DIAGNOSIS, load

VIRTUAL_CONTROLLER_SILENT = (
    "the virtual controller did not answer, which it does only when told to misbehave")


def explain_unreachable_card(base: Optional[int] = None) -> str:
    """One line naming the likely cause on this machine and what to do about
    it, for the card of the eleven functions or the card at `base`."""
    cdll, _ = load(DIAGNOSIS)
    functions = declare_all(cdll, DIAGNOSIS_EXPORTS)
    explain = functions["orvexdiag_explain"] if base is None else \
        functools.partial(functions["orvexdiag_explain_card"], base)
    length = explain(None, 0)
    text = ctypes.create_string_buffer(length + 1)
    explain(text, length + 1)
    return str(text.value.decode("utf-8", "replace"))
