"""The raw layer: the library's exports exactly as C declares them."""

from __future__ import annotations

import ctypes
from pathlib import Path
from typing import Any, Callable, Optional, Tuple, Union

from ._errors import LibraryError
from ._exports import CARD_EXPORTS, EXPORTS, declare_all
from ._loader import CARD, SIMULATED, load, load_file
from ._values import CountConversion
from .simulator import VirtualController


class Library:
    """The library's exports, called exactly as C declares them.

    ``Library()`` loads the library for the card, ``Library(simulated=True)``
    the virtual-controller build, ``Library(path)`` exactly the file at path.
    Each export is an attribute under its own name (``MA`` ... ``RT``) with
    its argument and result types declared: the axis code is a signed char,
    values are single-precision floats, results are ints except TP's float.
    The card API is there too (``orvex_open`` ... ``orvex_card_holder``): a
    card is the handle orvex_open returns, an int. Nothing is checked and
    nothing is logged at this layer.
    """

    MA: Callable[[int, float], int]
    MR: Callable[[int, float], int]
    SV: Callable[[int, float], int]
    ST: Callable[[int], int]
    DH: Callable[[int], int]
    GH: Callable[[int], int]
    TP: Callable[[int], float]
    OK: Callable[[], int]
    MT: Callable[[int], int]
    WS: Callable[[int], int]
    RT: Callable[[int], int]
    orvex_error_message: Callable[[int], Optional[bytes]]
    orvex_base_conflict: Callable[[int], Optional[bytes]]
    orvex_default_base: Callable[[Any], int]
    orvex_open: Callable[[int, Any], Optional[int]]
    orvex_close: Callable[[Optional[int]], None]
    orvex_card_base: Callable[[Optional[int]], int]
    orvex_count_of: Callable[[float, Any], int]
    orvex_value_for_count: Callable[[int, Any], int]
    orvex_ma: Callable[[Optional[int], int, float], int]
    orvex_mr: Callable[[Optional[int], int, float], int]
    orvex_sv: Callable[[Optional[int], int, float], int]
    orvex_st: Callable[[Optional[int], int], int]
    orvex_dh: Callable[[Optional[int], int], int]
    orvex_gh: Callable[[Optional[int], int], int]
    orvex_tp: Callable[[Optional[int], int, Any], int]
    orvex_ok: Callable[[Optional[int]], int]
    orvex_mt: Callable[[Optional[int], int, Any], int]
    orvex_ws: Callable[[Optional[int], int], int]
    orvex_rt: Callable[[Optional[int], int], int]
    orvex_card_holder: Callable[[Optional[int], Any], int]

    def __init__(self, path: Optional[Union[str, Path]] = None, *,
                 simulated: bool = False) -> None:
        if path is not None:
            self.path = str(path)
            self.cdll = load_file(Path(path))
        else:
            self.cdll, self.path = load(SIMULATED if simulated else CARD)
        try:
            functions = declare_all(self.cdll, {**EXPORTS, **CARD_EXPORTS})
        except AttributeError as error:
            raise LibraryError(f"{self.path} is not an orvexportio library: {error}") from None
        for name, function in functions.items():
            setattr(self, name, function)
        #: Which float gives which count, as the library itself reckons.
        self.conversion = CountConversion(self)
        self.virtual_controller: Optional[VirtualController]
        try:
            self.virtual_controller = VirtualController(self.cdll)
        except AttributeError:
            self.virtual_controller = None

    def error_message(self, error: int) -> str:
        """The library's sentence for an ORVEX_ERROR_ code."""
        return (self.orvex_error_message(error) or b"").decode("ascii", "replace")

    def base_conflict(self, base: int) -> Optional[str]:
        """What a card at `base` would hit (a standard PC device, or leaving
        the ports left to add-in cards), or None when a card may sit there."""
        conflict = self.orvex_base_conflict(base)
        return None if conflict is None else bytes(conflict).decode("ascii", "replace")

    def default_base(self) -> Tuple[int, int]:
        """(ORVEX_SUCCESS or why the eleven reach no card, their base)."""
        base = ctypes.c_uint()
        error = self.orvex_default_base(ctypes.byref(base))
        return int(error), base.value

    @property
    def build(self) -> str:
        """Which build this is: "virtual controller" or "card"."""
        return "virtual controller" if self.virtual_controller is not None else "card"

    def __repr__(self) -> str:
        return f"<orvexportio.Library {self.build} build from {self.path!r}>"


def library_build(library: object) -> str:
    """The build of any object standing for the raw layer."""
    return "virtual controller" if getattr(library, "virtual_controller", None) else "card"

