"""The raw layer: the library's exports exactly as C declares them."""

from __future__ import annotations

from pathlib import Path
from typing import Callable, Optional, Union

from ._errors import LibraryError
from ._exports import EXPORTS, declare_all
from ._loader import CARD, SIMULATED, load, load_file
from .simulator import VirtualController


class Library:
    """The library's exports, called exactly as C declares them.

    ``Library()`` loads the library for the card, ``Library(simulated=True)``
    the virtual-controller build, ``Library(path)`` exactly the file at path.
    Each export is an attribute under its own name (``MA`` ... ``RT``) with
    its argument and result types declared: the axis code is a signed char,
    values are single-precision floats, results are ints except TP's float.
    Nothing is checked and nothing is logged at this layer.
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

    def __init__(self, path: Optional[Union[str, Path]] = None, *,
                 simulated: bool = False) -> None:
        if path is not None:
            self.path = str(path)
            self.cdll = load_file(Path(path))
        else:
            self.cdll, self.path = load(SIMULATED if simulated else CARD)
        try:
            functions = declare_all(self.cdll, EXPORTS)
        except AttributeError as error:
            raise LibraryError(f"{self.path} is not an orvexportio library: {error}") from None
        for name, function in functions.items():
            setattr(self, name, function)
        self.virtual_controller: Optional[VirtualController]
        try:
            self.virtual_controller = VirtualController(self.cdll)
        except AttributeError:
            self.virtual_controller = None

    @property
    def build(self) -> str:
        """Which build this is: "virtual controller" or "card"."""
        return "virtual controller" if self.virtual_controller is not None else "card"

    def __repr__(self) -> str:
        return f"<orvexportio.Library {self.build} build from {self.path!r}>"


def library_build(library: object) -> str:
    """The build of any object standing for the raw layer."""
    return "virtual controller" if getattr(library, "virtual_controller", None) else "card"

