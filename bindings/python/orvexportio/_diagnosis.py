"""Why no controller answered, told by the diagnosis library that orvexctl uses too."""

from __future__ import annotations

import ctypes

from ._exports import DIAGNOSIS_EXPORTS, declare_all
from ._loader import DIAGNOSIS, load

VIRTUAL_CONTROLLER_SILENT = (
    "the virtual controller did not answer, which it does only when told to misbehave")


def explain_unreachable_card() -> str:
    """One line naming the likely cause on this machine and what to do about it."""
    cdll, _ = load(DIAGNOSIS)
    explain = declare_all(cdll, DIAGNOSIS_EXPORTS)["orvexdiag_explain"]
    length = explain(None, 0)
    text = ctypes.create_string_buffer(length + 1)
    explain(text, length + 1)
    return text.value.decode("utf-8", "replace")
