"""The controller under readable names, with Python's conventions."""

from __future__ import annotations

import logging
import time
from types import TracebackType
from typing import Any, Optional, Type

from ._constants import AXIS_1, AXIS_2, BOTH_AXES, POSITION_ERROR, STATUS_SILENCE_SECONDS
from ._diagnosis import VIRTUAL_CONTROLLER_SILENT, explain_unreachable_card
from ._errors import ControllerTimeout, OrvexError
from ._library import Library, library_build
from ._values import (ANY_AXES, ONE_AXIS, axis_code, hundredths, position_value, speed_value,
                      timeout_seconds)

_log = logging.getLogger("orvexportio")
_log.addHandler(logging.NullHandler())

#: How long the wait keeps asking a controller that no longer answers, as WS does.
STATUS_SILENCE_BOUND = STATUS_SILENCE_SECONDS

#: An axis code MT serves by returning the first four bytes of the status
#: reply (0 when the exchange failed), so that one exchange tells both whether
#: the controller answered and which axes move.
STATUS_WORD = 3

_MOVING_BITS = {BOTH_AXES: 0x03, AXIS_1: 0x01, AXIS_2: 0x02}


class Controller:
    """The controller, through the library, under readable names.

    Axis codes: 1 or 2 for one axis, 0 (BOTH_AXES) for both, axis 1 first.
    Values are in caller units and go to the controller as the nearest
    hundredth: 0.29 is sent as 29 counts, 0.01 as 1. (The library multiplies
    the single-precision value it gets by 100 and truncates, which makes 28
    of the float nearest 0.29; the Controller hands it the float that gives
    29. Library calls the exports as they are.) Positions come back to the
    nearest hundredth too: 15.83, not 15.829999923706055.
    Every method checks its arguments before anything is sent: TypeError for
    a wrong type (bool and str included), ValueError for a value or axis code
    it does not accept. A time-out raises ControllerTimeout, which is both an
    OrvexError and a TimeoutError.

    ``Controller()`` drives the card, ``Controller(simulated=True)`` the
    virtual controller, ``Controller(library)`` a Library already loaded.
    It is a context manager; close() (or leaving the ``with`` block) ends its
    use, after which every method raises OrvexError. Closing neither stops
    the axes nor unloads the library, which other objects may share.

    Each call is logged at DEBUG with its result on the logger "orvexportio",
    time-outs at WARNING.
    """

    #: Seconds between two status queries of wait_until_at_rest: short against
    #: the 0.1 s in which Ctrl-C is to take effect, long enough to leave the
    #: processor free. 0 polls without pause, as WS does: worth it on the
    #: virtual controller's fast clock, which advances only as it is asked.
    poll_pause: float = 0.001

    def __init__(self, library: Optional[Library] = None, *, simulated: bool = False) -> None:
        self.library: Any = library if library is not None else Library(simulated=simulated)
        self._closed = False

    # Life cycle ---------------------------------------------------------------

    def close(self) -> None:
        """Ends the use of this controller; calling it again does nothing."""
        self._closed = True

    @property
    def closed(self) -> bool:
        return self._closed

    def __enter__(self) -> "Controller":
        self._open_library()
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], error: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()

    def __repr__(self) -> str:
        path = getattr(self.library, "path", None)
        where = f" from {path!r}" if path is not None else ""
        state = ", closed" if self._closed else ""
        return f"<orvexportio.Controller {library_build(self.library)} build{where}{state}>"

    def diagnose(self) -> str:
        """Why no controller answers, in one line: for the card, what this
        machine allows (permission and CAP_SYS_RAWIO, kernel lockdown, port
        I/O in the kernel, /dev/port; on Windows the port driver library), the
        same causes orvexctl names; or, when the ports are reachable, what to
        check on the card."""
        if library_build(self.library) == "virtual controller":
            return VIRTUAL_CONTROLLER_SILENT
        return explain_unreachable_card()

    # Motion -------------------------------------------------------------------

    def move_to(self, axis: int, target: float) -> None:
        """Moves to an absolute target (MA: "1PA <count>\\r")."""
        code = axis_code(axis, ANY_AXES)
        value = position_value(target, "target")
        self._delivered(self._open_library().MA(code, value.single), f"move_to({code}, {value})")

    def move_by(self, axis: int, distance: float) -> None:
        """Moves by a distance from where the axis stands (MR: "1PR <count>\\r")."""
        code = axis_code(axis, ANY_AXES)
        value = position_value(distance, "distance")
        self._delivered(self._open_library().MR(code, value.single), f"move_by({code}, {value})")

    def set_speed(self, axis: int, speed: float) -> None:
        """Sets the speed for the next moves (SV: "1VA<count>\\r"), in caller units
        per second; not negative, and above 0 at least 0.01 (one count)."""
        code = axis_code(axis, ANY_AXES)
        value = speed_value(speed)
        self._delivered(self._open_library().SV(code, value.single), f"set_speed({code}, {value})")

    def stop(self, axis: int) -> None:
        """Stops the axis or axes (ST: "1ST\\r")."""
        code = axis_code(axis, ANY_AXES)
        self._delivered(self._open_library().ST(code), f"stop({code})")

    def define_home(self, axis: int) -> None:
        """Makes the present position the zero (DH: "1DH\\r")."""
        code = axis_code(axis, ANY_AXES)
        self._delivered(self._open_library().DH(code), f"define_home({code})")

    def go_home(self, axis: int) -> None:
        """Moves to the zero (GH: "1PA 0\\r")."""
        code = axis_code(axis, ANY_AXES)
        self._delivered(self._open_library().GH(code), f"go_home({code})")

    def set_up(self, axis: int) -> None:
        """Runs the set-up sequence after power-up (RT), 100 to 300 ms with its pauses.

        Raises ControllerTimeout when its first line is not delivered; the
        library does not report later lines.
        """
        code = axis_code(axis, ANY_AXES)
        self._delivered(self._open_library().RT(code), f"set_up({code})")

    # Queries ------------------------------------------------------------------

    def position(self, axis: int) -> float:
        """The position of axis 1 or 2 in caller units, to the nearest hundredth
        (TP: "1TP\\r").

        Raises ControllerTimeout when the controller does not answer with a number.
        """
        code = axis_code(axis, ONE_AXIS)
        position = self._open_library().TP(code)
        call = f"position({code})"
        if position == POSITION_ERROR:
            self._timed_out(f"{call}: the controller did not answer with a number in time")
        meant = hundredths(position)
        _log.debug("%s -> %r", call, meant)
        return meant

    def answers(self) -> bool:
        """Whether a controller answers the axis-1 position query (OK)."""
        answered = bool(self._open_library().OK() == 1)
        _log.debug("answers() -> %r", answered)
        return answered

    def is_at_rest(self, axis: int) -> bool:
        """Whether the addressed axes are at rest (MT: "TS\\r").

        MT's 0 means moving as well as no answer; after a 0 the controller is
        asked for axis 1's position ("1TP\\r") to tell them apart, and
        ControllerTimeout is raised when it does not answer.
        """
        code = axis_code(axis, ANY_AXES)
        library = self._open_library()
        call = f"is_at_rest({code})"
        result = library.MT(code)
        if result not in (0, 1):
            raise OrvexError(f"{call}: unexpected result {result}")
        if result == 0 and library.OK() != 1:
            self._timed_out(f"{call}: the controller did not answer the status query")
        at_rest = bool(result == 1)
        _log.debug("%s -> %r", call, at_rest)
        return at_rest

    def wait_until_at_rest(self, axis: int, timeout: Optional[float] = None) -> None:
        """Returns once the addressed axes are at rest, asking "TS\\r" again and again.

        `timeout` is in seconds; None waits as long as the controller keeps
        answering. ControllerTimeout is raised when the axes still move after
        `timeout`, and once the controller has been silent for a second.
        Ctrl-C (KeyboardInterrupt) ends the wait as soon as the status query
        under way has ended, within milliseconds: the library's own WS, which
        blocks until the axes stop, is not used.

        A wait that ends without the axes at rest, by its timeout, by Ctrl-C
        or by any other exception, does not stop them: they keep moving
        towards their targets. Call stop() to halt them.
        """
        code = axis_code(axis, ANY_AXES)
        limit = timeout_seconds(timeout)
        library = self._open_library()
        call = f"wait_until_at_rest({code})"
        started = last_answer = time.monotonic()
        polls = 0
        while True:
            at_rest = self._status(library, code)
            polls += 1
            now = time.monotonic()
            if at_rest:
                _log.debug("%s -> at rest after %.3f s, %d status queries",
                           call, now - started, polls)
                return
            if at_rest is not None:
                last_answer = now
            elif now - last_answer >= STATUS_SILENCE_BOUND:
                self._timed_out(f"{call}: the controller stopped answering")
            if limit is not None and now - started >= limit:
                state = "still move" if at_rest is not None else "are not known to be at rest"
                self._timed_out(f"{call}: the axes {state} after {limit} s")
            pause = self.poll_pause
            if limit is not None:
                pause = max(0.0, min(pause, started + limit - now))
            time.sleep(pause)

    # Internals ----------------------------------------------------------------

    @staticmethod
    def _status(library: Any, code: int) -> Optional[bool]:
        """True when the addressed axes are at rest, False while one moves,
        None when the controller did not answer."""
        word = library.MT(STATUS_WORD)
        if word != 0:
            return bool((word & _MOVING_BITS[code]) == 0)
        # 0 is a failed exchange, or a reply of four NUL bytes, whose status
        # byte says at rest: MT for the axes themselves tells which.
        return True if library.MT(code) == 1 else None

    def _open_library(self) -> Any:
        if self._closed:
            raise OrvexError("this Controller is closed")
        return self.library

    def _delivered(self, result: int, call: str) -> None:
        if result == 1:
            _log.debug("%s -> delivered", call)
            return
        if result == 0:
            self._timed_out(f"{call}: the controller did not take the line in time")
        raise OrvexError(f"{call}: unexpected result {result}")

    def _timed_out(self, message: str) -> None:
        _log.warning("%s", message)
        if library_build(self.library) == "card":
            message += " (Controller.diagnose() tells why the card may be out of reach)"
        raise ControllerTimeout(message)
