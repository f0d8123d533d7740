"""The controller under readable names, with Python's conventions."""

from __future__ import annotations

import logging
import time
import weakref
from types import TracebackType
from typing import Any, Optional, Type, Union

from ._card import CardHolder, ElevenFunctions, OpenedCard
from ._constants import (ERROR_AXIS, ERROR_NOT_SHARED, ERROR_TIMEOUT, ERROR_VALUE,
                         STATUS_SILENCE_SECONDS, SUCCESS)
from ._errors import ControllerTimeout, OrvexError
from ._library import Library, library_build
from ._values import (ANY_AXES, ONE_AXIS, CountConversion, axis_code, base_address, hundredths,
                      position_value, speed_value, timeout_seconds)

_log = logging.getLogger("orvexportio")
_log.addHandler(logging.NullHandler())

#: How long the wait keeps asking a controller that no longer answers, as WS does.
STATUS_SILENCE_BOUND = STATUS_SILENCE_SECONDS


class Controller:
    """The controller, through the library, under readable names.

    Axis codes: 1 or 2 for one axis, 0 (BOTH_AXES) for both, axis 1 first.
    Values are in caller units and go to the controller as the nearest
    hundredth: 0.29 is sent as 29 counts, 0.01 as 1. (The library multiplies
    the single-precision value it gets by 100 and truncates, which makes 28
    of the float nearest 0.29; the Controller asks the library for the float
    that gives 29. Library calls the exports as they are.) Positions come
    back to the nearest hundredth too: 15.83, not 15.829999923706055.
    Every method checks its arguments before anything is sent: TypeError for
    a wrong type (bool and str included), ValueError for a value or axis code
    it does not accept. A time-out raises ControllerTimeout, which is both an
    OrvexError and a TimeoutError.

    ``Controller()`` drives the card through the library's eleven functions
    (at 0x340, or where ORVEXPORTIO_BASE puts it), ``Controller(base=0x300)``
    the card at 0x300 through the card API, ``Controller(simulated=True)``
    the virtual controller (with a base, the virtual card there, put on the
    bus when none is), ``Controller(library)`` a Library already loaded.
    A base where no card may sit raises ValueError naming the device it
    would hit. Several Controllers may drive several cards, or one card, at
    once, from any threads: lines to one card take turns, and two cards
    never wait for each other.

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

    def __init__(self, library: Optional[Library] = None, *, simulated: bool = False,
                 base: Optional[int] = None) -> None:
        chosen = None if base is None else base_address(base)  # checked before any loading
        self.library: Any = library if library is not None else Library(simulated=simulated)
        self._card: Union[ElevenFunctions, OpenedCard] = \
            ElevenFunctions(self.library) if chosen is None else OpenedCard(self.library, chosen)
        # A Controller dropped without close() gives its handle back all the same.
        self._finalizer = weakref.finalize(self, self._card.close)
        self._closed = False

    @property
    def base(self) -> Optional[int]:
        """The base of the card given to the constructor; None for the card of
        the eleven functions."""
        return self._card.base

    # Life cycle ---------------------------------------------------------------

    def close(self) -> None:
        """Ends the use of this controller; calling it again does nothing."""
        self._closed = True
        self._finalizer()

    @property
    def closed(self) -> bool:
        return self._closed

    def __enter__(self) -> "Controller":
        self._open_card()
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], error: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()

    def __repr__(self) -> str:
        path = getattr(self.library, "path", None)
        where = f" from {path!r}" if path is not None else ""
        card = f", card at 0x{self.base:X}" if self.base is not None else ""
        state = ", closed" if self._closed else ""
        return f"<orvexportio.Controller {library_build(self.library)} build{where}{card}{state}>"

    def diagnose(self) -> str:
        """Why no controller answers, in one line: for the card, what this
        machine allows (permission and CAP_SYS_RAWIO, kernel lockdown, port
        I/O in the kernel, /dev/port; on Windows the port driver library), the
        same causes orvexctl names; or, when the ports are reachable, what to
        check on the card."""
        return self._card.diagnose()

    def holder(self) -> Optional[CardHolder]:
        """Who holds the card at this moment: the process on this machine in
        the middle of an exchange with it (its id, program, for how long, the
        line in flight), or None. A process stopped in the middle of an
        exchange (a debugger, Ctrl-Z) makes every other process's calls time
        out; this names it. OrvexError when processes are not kept apart on
        this card (its machine-wide record cannot be had)."""
        error, holder = self._open_card().holder()
        if error == ERROR_NOT_SHARED:
            raise OrvexError(f"holder(): {self.library.error_message(error)}")
        self._check(error, "holder()")
        return holder

    # Motion -------------------------------------------------------------------

    def move_to(self, axis: int, target: float) -> None:
        """Moves to an absolute target (MA: "1PA <count>\\r")."""
        code = axis_code(axis, ANY_AXES)
        value = position_value(target, "target", self._conversion())
        self._deliver("MA", code, value.single, f"move_to({code}, {value})")

    def move_by(self, axis: int, distance: float) -> None:
        """Moves by a distance from where the axis stands (MR: "1PR <count>\\r")."""
        code = axis_code(axis, ANY_AXES)
        value = position_value(distance, "distance", self._conversion())
        self._deliver("MR", code, value.single, f"move_by({code}, {value})")

    def set_speed(self, axis: int, speed: float) -> None:
        """Sets the speed for the next moves (SV: "1VA<count>\\r"), in caller units
        per second; not negative, and above 0 at least 0.01 (one count)."""
        code = axis_code(axis, ANY_AXES)
        value = speed_value(speed, self._conversion())
        self._deliver("SV", code, value.single, f"set_speed({code}, {value})")

    def stop(self, axis: int) -> None:
        """Stops the axis or axes (ST: "1ST\\r")."""
        code = axis_code(axis, ANY_AXES)
        self._deliver("ST", code, None, f"stop({code})")

    def define_home(self, axis: int) -> None:
        """Makes the present position the zero (DH: "1DH\\r")."""
        code = axis_code(axis, ANY_AXES)
        self._deliver("DH", code, None, f"define_home({code})")

    def go_home(self, axis: int) -> None:
        """Moves to the zero (GH: "1PA 0\\r")."""
        code = axis_code(axis, ANY_AXES)
        self._deliver("GH", code, None, f"go_home({code})")

    def set_up(self, axis: int) -> None:
        """Runs the set-up sequence after power-up (RT), 100 to 300 ms with its pauses.

        Raises ControllerTimeout when its first line is not delivered; the
        library does not report later lines.
        """
        code = axis_code(axis, ANY_AXES)
        self._deliver("RT", code, None, f"set_up({code})")

    # Queries ------------------------------------------------------------------

    def position(self, axis: int) -> float:
        """The position of axis 1 or 2 in caller units, to the nearest hundredth
        (TP: "1TP\\r").

        Raises ControllerTimeout when the controller does not answer in time
        (on the card of the eleven functions also when its answer holds no
        number), OrvexError when a card opened by its base answers without one.
        """
        code = axis_code(axis, ONE_AXIS)
        call = f"position({code})"
        error, position = self._open_card().position(code)
        if error == ERROR_TIMEOUT:
            self._timed_out(f"{call}: the controller did not answer with a number in time")
        self._check(error, call)
        meant = hundredths(position)
        _log.debug("%s -> %r", call, meant)
        return meant

    def answers(self) -> bool:
        """Whether a controller answers the axis-1 position query (OK)."""
        answered = self._open_card().answers()
        _log.debug("answers() -> %r", answered)
        return answered

    def is_at_rest(self, axis: int) -> bool:
        """Whether the addressed axes are at rest (MT: "TS\\r").

        Raises ControllerTimeout when the controller does not answer. (MT's 0
        means moving as well as no answer; on the card of the eleven
        functions, after a 0 the controller is asked for axis 1's position
        ("1TP\\r") to tell them apart.)
        """
        code = axis_code(axis, ANY_AXES)
        call = f"is_at_rest({code})"
        error, at_rest = self._open_card().at_rest(code, call)
        if error == ERROR_TIMEOUT:
            self._timed_out(f"{call}: the controller did not answer the status query")
        self._check(error, call)
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
        card = self._open_card()
        call = f"wait_until_at_rest({code})"
        started = last_answer = time.monotonic()
        polls = 0
        while True:
            at_rest = card.status(code)
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

    def _open_card(self) -> Union[ElevenFunctions, OpenedCard]:
        if self._closed:
            raise OrvexError("this Controller is closed")
        # A test may put another raw layer in place after construction.
        self._card.library = self.library
        return self._card

    def _conversion(self) -> CountConversion:
        return CountConversion(self._open_card().library)

    def _deliver(self, function: str, code: int, single: Optional[float], call: str) -> None:
        error = self._open_card().deliver(function, code, single, call)
        if error == ERROR_TIMEOUT:
            self._timed_out(f"{call}: the controller did not take the line in time")
        self._check(error, call)
        _log.debug("%s -> delivered", call)

    def _check(self, error: int, call: str) -> None:
        """Raises what a card API result other than success and time-out stands for."""
        if error == SUCCESS:
            return
        message = f"{call}: {self.library.error_message(error)}"
        if error in (ERROR_AXIS, ERROR_VALUE):
            raise ValueError(message)
        raise OrvexError(message)

    def _timed_out(self, message: str) -> None:
        _log.warning("%s", message)
        if library_build(self.library) == "card":
            message += " (Controller.diagnose() tells why the card may be out of reach)"
        raise ControllerTimeout(message)
