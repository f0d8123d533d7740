"""The two ways a Controller reaches its card: the eleven functions, on the
card of the factory base (or ORVEXPORTIO_BASE), and the card API, on a card
opened by its base. Both answer in the card API's terms (ORVEX_SUCCESS or an
ORVEX_ERROR_ code), which the Controller turns into exceptions."""

from __future__ import annotations

import ctypes
from dataclasses import dataclass
from typing import Any, Dict, Optional, Tuple

from ._constants import (AXIS_1, AXIS_2, BOTH_AXES, ERROR_BASE_DEVICE, ERROR_BASE_RANGE,
                         ERROR_MEMORY, ERROR_TIMEOUT, POSITION_ERROR, SUCCESS)
from ._diagnosis import VIRTUAL_CONTROLLER_SILENT, explain_unreachable_card
from ._errors import OrvexError
from ._exports import Holder

#: An axis code MT serves by returning the first four bytes of the status
#: reply (0 when the exchange failed), so that one exchange tells both whether
#: the controller answered and which axes move.
STATUS_WORD = 3

_MOVING_BITS = {BOTH_AXES: 0x03, AXIS_1: 0x01, AXIS_2: 0x02}


def is_virtual(library: Any) -> bool:
    return getattr(library, "virtual_controller", None) is not None


@dataclass(frozen=True)
class CardHolder:
    """The process in the middle of an exchange with a card (orvex_card_holder)."""

    process: int
    program: str
    seconds: float
    line: str  # the line in flight, as sent ("1PA 250\r"); "" when none


class ElevenFunctions:
    """The card of the eleven functions, as every host before the card API drove it."""

    base: Optional[int] = None

    def __init__(self, library: Any) -> None:
        self.library = library

    def deliver(self, function: str, code: int, single: Optional[float], call: str) -> int:
        export = getattr(self.library, function)
        result = export(code) if single is None else export(code, single)
        if result == 1:
            return SUCCESS
        if result == 0:
            return ERROR_TIMEOUT
        raise OrvexError(f"{call}: unexpected result {result}")

    def position(self, code: int) -> Tuple[int, float]:
        position = self.library.TP(code)
        return (ERROR_TIMEOUT, position) if position == POSITION_ERROR else (SUCCESS, position)

    def answers(self) -> bool:
        return bool(self.library.OK() == 1)

    def at_rest(self, code: int, call: str) -> Tuple[int, bool]:
        """MT's 0 means moving as well as no answer; after a 0 the controller
        is asked for axis 1's position ("1TP\\r") to tell them apart."""
        result = self.library.MT(code)
        if result not in (0, 1):
            raise OrvexError(f"{call}: unexpected result {result}")
        if result == 0 and self.library.OK() != 1:
            return ERROR_TIMEOUT, False
        return SUCCESS, result == 1

    def status(self, code: int) -> Optional[bool]:
        """True when the addressed axes are at rest, False while one moves,
        None when the controller did not answer."""
        word = self.library.MT(STATUS_WORD)
        if word != 0:
            return bool((word & _MOVING_BITS[code]) == 0)
        # 0 is a failed exchange, or a reply of four NUL bytes, whose status
        # byte says at rest: MT for the axes themselves tells which.
        return True if self.library.MT(code) == 1 else None

    def diagnose(self) -> str:
        return VIRTUAL_CONTROLLER_SILENT if is_virtual(self.library) else explain_unreachable_card()

    def holder(self) -> Tuple[int, Optional[CardHolder]]:
        error, base = self.library.default_base()
        if error != SUCCESS:
            return error, None
        return OpenedCard(self.library, base).holder()

    def close(self) -> None:
        pass


def refused_base(library: Any, base: int) -> Optional[str]:
    """Why no card may sit at `base`, naming the device it would hit; None when one may."""
    conflict = library.base_conflict(base)
    if conflict is None:
        return None
    if conflict.startswith("outside"):
        return f"base 0x{base:X} is refused: {conflict}"
    return f"base 0x{base:X} is refused: the card's registers would overlap {conflict}"


class OpenedCard:
    """A card opened by its base through the card API (orvex_open)."""

    def __init__(self, library: Any, base: int) -> None:
        self.library = library
        self.base = base
        refusal = refused_base(library, base)
        if refusal is not None:
            raise ValueError(refusal)
        if is_virtual(library):
            library.virtual_controller.card(base)  # found, or put on the bus
        error = ctypes.c_int()
        handle = library.orvex_open(base, ctypes.byref(error))
        if not handle:
            message = library.error_message(error.value)
            if error.value in (ERROR_BASE_RANGE, ERROR_BASE_DEVICE):
                raise ValueError(f"base 0x{base:X} is refused: {message}")
            if error.value == ERROR_MEMORY:
                raise MemoryError(message)
            raise OrvexError(f"base 0x{base:X}: {message}")
        self.card: Optional[int] = handle

    def _handle(self) -> Optional[int]:
        if self.card is None:
            raise OrvexError("this Controller is closed")
        return self.card

    def deliver(self, function: str, code: int, single: Optional[float], call: str) -> int:
        export = getattr(self.library, "orvex_" + function.lower())
        if single is None:
            return int(export(self._handle(), code))
        return int(export(self._handle(), code, single))

    def position(self, code: int) -> Tuple[int, float]:
        position = ctypes.c_float()
        error = self.library.orvex_tp(self._handle(), code, ctypes.byref(position))
        return int(error), position.value

    def answers(self) -> bool:
        return bool(self.library.orvex_ok(self._handle()) == SUCCESS)

    def at_rest(self, code: int, call: str) -> Tuple[int, bool]:
        at_rest = ctypes.c_int()
        error = self.library.orvex_mt(self._handle(), code, ctypes.byref(at_rest))
        return int(error), at_rest.value == 1

    def status(self, code: int) -> Optional[bool]:
        error, at_rest = self.at_rest(code, "")
        return at_rest if error == SUCCESS else None

    def diagnose(self) -> str:
        if is_virtual(self.library):
            return VIRTUAL_CONTROLLER_SILENT
        return explain_unreachable_card(self.base)

    def holder(self) -> Tuple[int, Optional[CardHolder]]:
        found = Holder()
        error = int(self.library.orvex_card_holder(self._handle(), ctypes.byref(found)))
        if error != SUCCESS or found.process == 0:
            return error, None
        return SUCCESS, CardHolder(found.process, found.program.decode("utf-8", "replace"),
                                   found.seconds, found.line.decode("latin-1"))

    def close(self) -> None:
        if self.card is not None:
            self.library.orvex_close(self.card)
            self.card = None

