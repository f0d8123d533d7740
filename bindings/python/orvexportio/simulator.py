"""The virtual-controller build's own functions (``orvexsim_``): what its
controllers received, as a list and as it arrives; the bus's clock; where
their axes are; faults on demand; the bus as a waveform.

The virtual controller is a bus of virtual cards. ``VirtualController(cdll)``
stands for the first card, the one of the eleven functions (0x340 unless
ORVEXPORTIO_BASE moves it); ``VirtualController(cdll, base=0x300)`` for the
card at 0x300, which it puts on the bus when none is there yet
(``controller.card(0x300)`` does the same). The clock, ``share`` and
``first_card`` are the bus's, the same from every card.

``include/orvexportio_sim.h`` describes each function; the methods here are
the same functions with Python's types, and check their arguments before
anything reaches the controller (TypeError for a wrong type, ValueError for a
value out of range).
"""

from __future__ import annotations

import ctypes
import os
import re
from typing import Any, Callable, List, Optional, Tuple, Union

from ._errors import OrvexError
from ._exports import (CARD_PREFIX, FIRST_CARD_PREFIX, LINE_CALLBACK, SIMULATOR_EXPORTS,
                       SIMULATOR_FIRST_CARD_EXPORTS, declare_all)
from ._values import ONE_AXIS, axis_code, base_address, integer

__all__ = ["LINE_CALLBACK", "REAL_CLOCK", "VIRTUAL_CLOCK", "LineCallback", "VirtualController"]

#: The clocks the controller runs on (orvexsim_set_clock): the machine's
#: steady clock, as the card does, or the exact virtual clock.
REAL_CLOCK = "real"
VIRTUAL_CLOCK = "virtual"
_CLOCK_CODES = {REAL_CLOCK: 0, VIRTUAL_CLOCK: 1}

#: The most bytes orvexsim_queue_reply takes.
QUEUED_REPLY_CAPACITY = 2048

_INT_MAX = 2**31 - 1


def _whole_number(value: object, what: str, highest: int = _INT_MAX) -> int:
    """`value` as an int from 0 to `highest`: TypeError for anything but an
    integer (bool included), ValueError outside the range."""
    number = integer(value, what)
    if not 0 <= number <= highest:
        raise ValueError(f"{what} {number} is not between 0 and {highest}")
    return number

#: What `VirtualController.on_line` calls: (text with its carriage return, seconds).
LineCallback = Callable[[str, float], None]

#: The name of a shared bus: 1 to 32 letters, digits, '-' and '_'.
_SHARED_BUS_NAME = re.compile(r"[A-Za-z0-9_-]{1,32}")


class VirtualController:
    """A virtual card behind the virtual-controller build's ports.

    ``Library(simulated=True).virtual_controller`` is the first card;
    ``VirtualController(cdll, base=0x300)`` the card at 0x300, put on the bus
    when none is there (ValueError when none may be: a base that overlaps a
    standard PC device or another card, or a full bus). The raw functions are
    its attributes under their own names (``orvexsim_reset`` ...,
    ``orvexsim_card_reset`` ...).
    """

    def __init__(self, cdll: ctypes.CDLL, base: Optional[int] = None) -> None:
        for name, function in declare_all(cdll, SIMULATOR_EXPORTS).items():
            setattr(self, name, function)
        self._cdll = cdll
        self._base = None if base is None else base_address(base)
        self._callback: Optional[Any] = None  # keeps the ctypes callback alive while registered
        if self._base is not None and self.orvexsim_add_card(self._base) != 1:
            raise ValueError(f"no virtual card may sit at 0x{self._base:X}: it overlaps a "
                             "standard PC device or another card, leaves 0x100-0x3FF, or the "
                             "bus holds 16 cards already")

    @property
    def base(self) -> int:
        """The base of this card (the first card's as the bus has it now)."""
        return self._base if self._base is not None else int(self.orvexsim_first_card())

    def card(self, base: int) -> "VirtualController":
        """The card at `base` on the same bus, put there when none is."""
        return VirtualController(self._cdll, base)

    def _call(self, name: str, *arguments: Any) -> Any:
        """orvexsim_<name> on the first card, or orvexsim_card_<name> on this one."""
        if self._base is None:
            return getattr(self, FIRST_CARD_PREFIX + name)(*arguments)
        result = getattr(self, CARD_PREFIX + name)(self._base, *arguments)
        if SIMULATOR_FIRST_CARD_EXPORTS[FIRST_CARD_PREFIX + name][0] is None and result == 0:
            raise OrvexError(f"no virtual card at 0x{self._base:X} on this bus")
        return result

    def reset(self) -> None:
        """Healthy and idle again: axes at rest at zero, no faults, no lines,
        no callback; for the first card the clock at zero, for another card
        the clock runs on. The choice of clock and a recording of the bus
        carry on."""
        self._call("reset")
        self._callback = None

    def entries(self) -> List[Tuple[str, float, int, float]]:
        """The received lines, oldest first, as the controller keeps them: a
        run of one line received again and again in a row (a poll while a
        host waits) is one entry. Each is (text with its carriage return,
        seconds of its first, how many in a row, seconds of its last)."""
        kept = []
        for index in range(self._call("line_count")):
            when = ctypes.c_double()
            last = ctypes.c_double()
            length = self._call("line", index, None, 0, ctypes.byref(when))
            repeats = self._call("line_repeats", index, ctypes.byref(last))
            if length < 0 or repeats < 1:
                break  # the list moved on under us
            text = ctypes.create_string_buffer(length + 1)
            self._call("line", index, text, length + 1, ctypes.byref(when))
            kept.append((text.raw[:length].decode("latin-1"), when.value, repeats, last.value))
        return kept

    def lines(self) -> List[Tuple[str, float]]:
        """The received lines, oldest first, as (text with its carriage return,
        seconds): each of a run of one line in a row on its own (the first at
        its own time, the others at the time of the last)."""
        received = []
        for text, first, repeats, last in self.entries():
            received.append((text, first))
            received.extend([(text, last)] * (repeats - 1))
        return received

    def on_line(self, callback: Optional[LineCallback]) -> None:
        """Calls callback(text, seconds) for every line from now on; None stops it.

        It is called in the middle of the transfer that carried the line, so it
        must not call the library.
        """
        if callback is None:
            self._call("set_line_callback", LINE_CALLBACK(), None)  # type: ignore[call-overload]
            self._callback = None
            return

        deliver = callback

        def announce(line: Any, length: int, received_at: float, _context: Any) -> None:
            deliver(ctypes.string_at(line, length).decode("latin-1"), received_at)

        self._callback = LINE_CALLBACK(announce)
        self._call("set_line_callback", self._callback, None)

    # The bus ------------------------------------------------------------------------

    def first_card(self) -> int:
        """The base of the bus's first card, the one of the eleven functions."""
        return int(self.orvexsim_first_card())

    def share(self, name: str) -> None:
        """Moves this process onto the virtual bus shared between processes
        under `name` (1 to 32 letters, digits, '-' and '_'), made when there is
        none yet; every card of the process is on it from now on. OrvexError
        when it can be neither made nor opened."""
        if not isinstance(name, str):
            raise TypeError(f"a shared bus's name must be a str, not {type(name).__name__}")
        if _SHARED_BUS_NAME.fullmatch(name) is None:
            raise ValueError(f"{name!r} is not the name of a shared bus: 1 to 32 letters, "
                             "digits, '-' and '_'")
        if self.orvexsim_share(name.encode("ascii")) != 1:
            raise OrvexError(f"the shared bus {name!r} can be neither made nor opened "
                             "(standard error may say why)")

    # The clock ------------------------------------------------------------------

    def set_clock(self, clock: str) -> None:
        """Runs the controller on REAL_CLOCK or VIRTUAL_CLOCK from now on."""
        if clock not in _CLOCK_CODES:
            raise ValueError(f"clock {clock!r} is neither {REAL_CLOCK!r} nor {VIRTUAL_CLOCK!r}")
        self.orvexsim_set_clock(_CLOCK_CODES[clock])

    def clock(self) -> str:
        """The clock the controller runs on: REAL_CLOCK or VIRTUAL_CLOCK."""
        return VIRTUAL_CLOCK if self.orvexsim_clock() == _CLOCK_CODES[VIRTUAL_CLOCK] \
            else REAL_CLOCK

    def time(self) -> float:
        """The controller's time, in seconds since the last reset."""
        return float(self.orvexsim_time())

    # The axes -------------------------------------------------------------------
    # Axis 1 or 2, in controller counts (the caller's units times 100), as
    # they stand at the controller's present time.

    def axis_position(self, axis: int) -> float:
        """Where the axis is, in controller counts."""
        return float(self._call("axis_position", axis_code(axis, ONE_AXIS)))

    def axis_target(self, axis: int) -> float:
        """Where the axis was last told to go (where it stands once stopped), in counts."""
        return float(self._call("axis_target", axis_code(axis, ONE_AXIS)))

    def axis_moving(self, axis: int) -> bool:
        """Whether the axis moves."""
        return bool(self._call("axis_moving", axis_code(axis, ONE_AXIS)) == 1)

    # Faults on demand ---------------------------------------------------------------
    # Each adds its fault to those already set; clear_faults() and reset()
    # take them all away. Byte numbers count the command bytes the controller
    # takes from the moment the fault is set: 0 is the next one.

    def fault_silent(self) -> None:
        """The controller goes silent: it shows neither READY nor a byte pending."""
        self._call("fault_silent")

    def fault_stuck_handshake(self, value: int) -> None:
        """The handshake register reads `value` (0 to 255) whatever happens."""
        self._call("fault_stuck_handshake", _whole_number(value, "handshake value", 255))

    def fault_readiness_delay(self, byte: int, microseconds: int) -> None:
        """Before command byte `byte`, READY comes `microseconds` late (past
        9000 the library's readiness window runs out)."""
        self._call("fault_readiness_delay", _whole_number(byte, "byte number"),
                                            _whole_number(microseconds, "delay"))

    def fault_dies_after_bytes(self, count: int) -> None:
        """The controller dies after taking `count` more command bytes."""
        self._call("fault_dies_after_bytes", _whole_number(count, "byte count"))

    def fault_never_acknowledges_byte(self, byte: int) -> None:
        """The strobe of command byte `byte` is taken but never acknowledged."""
        self._call("fault_never_acknowledges_byte", _whole_number(byte, "byte number"))

    def fault_reply_stops_after(self, count: int) -> None:
        """Replies stop after `count` bytes, before their line feed."""
        self._call("fault_reply_stops_after", _whole_number(count, "byte count"))

    def fault_garbled_reply(self) -> None:
        """Every reply is NUL, 0x80, 0xFF, 0xC3, a carriage return and a line feed."""
        self._call("fault_garbled_reply")

    def fault_overlong_reply(self) -> None:
        """Every reply carries 300 extra '7's before its line feed."""
        self._call("fault_overlong_reply")

    def fault_endless_reply(self) -> None:
        """Replies never end: after their first byte come '9's and never a line feed."""
        self._call("fault_endless_reply")

    def clear_faults(self) -> None:
        """Takes every fault away; the clock, the axes and the received lines stay."""
        self._call("clear_faults")

    def queue_reply(self, reply: Union[bytes, bytearray, str]) -> None:
        """The next query is answered with exactly these bytes (a str is taken
        as Latin-1), at most QUEUED_REPLY_CAPACITY of them."""
        if isinstance(reply, str):
            reply = reply.encode("latin-1")
        if not isinstance(reply, (bytes, bytearray)):
            raise TypeError(f"reply must be bytes or str, not {type(reply).__name__}")
        if len(reply) > QUEUED_REPLY_CAPACITY:
            raise ValueError(f"a reply of {len(reply)} bytes is longer than the "
                             f"{QUEUED_REPLY_CAPACITY} the controller queues")
        self._call("queue_reply", bytes(reply), len(reply))

    def bytes_taken(self) -> int:
        """Command bytes the controller took since the reset."""
        return int(self._call("bytes_taken"))

    def protocol_errors(self) -> int:
        """Strobes and releases the controller saw out of turn since the reset."""
        return int(self._call("protocol_errors"))

    # The bus as a waveform ------------------------------------------------------------

    def record_vcd(self, path: Union[str, "os.PathLike[str]"]) -> None:
        """Records every port access from now on into a Value Change Dump at
        `path`, with a GTKWave save file beside it; OSError when it cannot be
        written."""
        name = os.fsencode(path)
        if self._call("record_vcd", name) != 1:
            raise OSError(f"cannot record the bus into {os.fsdecode(name)!r}")

    def stop_vcd(self) -> None:
        """Ends the recording and closes its file."""
        self._call("stop_vcd")

    # The raw functions, bound from the export table in __init__ (the
    # orvexsim_card_ ones too, under their own names).
    orvexsim_add_card: Callable[[int], int]
    orvexsim_first_card: Callable[[], int]
    orvexsim_share: Callable[[bytes], int]
    orvexsim_reset: Callable[[], None]
    orvexsim_line_repeats: Callable[[int, Any], int]
    orvexsim_line_count: Callable[[], int]
    orvexsim_line: Callable[..., int]
    orvexsim_set_line_callback: Callable[..., None]
    orvexsim_set_clock: Callable[[int], int]
    orvexsim_clock: Callable[[], int]
    orvexsim_time: Callable[[], float]
    orvexsim_axis_position: Callable[[int], float]
    orvexsim_axis_target: Callable[[int], float]
    orvexsim_axis_moving: Callable[[int], int]
    orvexsim_fault_silent: Callable[[], None]
    orvexsim_fault_stuck_handshake: Callable[[int], None]
    orvexsim_fault_readiness_delay: Callable[[int, int], None]
    orvexsim_fault_dies_after_bytes: Callable[[int], None]
    orvexsim_fault_never_acknowledges_byte: Callable[[int], None]
    orvexsim_fault_reply_stops_after: Callable[[int], None]
    orvexsim_fault_garbled_reply: Callable[[], None]
    orvexsim_fault_overlong_reply: Callable[[], None]
    orvexsim_fault_endless_reply: Callable[[], None]
    orvexsim_clear_faults: Callable[[], None]
    orvexsim_queue_reply: Callable[[bytes, int], None]
    orvexsim_bytes_taken: Callable[[], int]
    orvexsim_protocol_errors: Callable[[], int]
    orvexsim_record_vcd: Callable[[bytes], int]
    orvexsim_stop_vcd: Callable[[], None]
