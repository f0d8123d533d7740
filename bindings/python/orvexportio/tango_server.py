"""The controller as Tango Controls devices: the device server ``orvexportio-tango``.

One device of class ``OrvexAxis`` per axis. One server process may serve
several cards, each with its two axes: the devices of one card share one
``Controller``, and its calls go through one lock, so that the card is read
once for all its devices; two cards never wait for each other.

Device properties:

``Axis``
    1 or 2. When it is not set (as when the server runs without a database),
    the last field of the device name is taken: ``lab/orvex/1`` drives axis 1.
``Simulated``
    True for the virtual-controller build of the library.
``Library``
    The path of the library file to load; when empty, the file is found as
    the Python package finds it.
``Base``
    The card's base address, the port its switches select: hexadecimal text
    with 0x, as ORVEXPORTIO_BASE takes it (``0x300``), or a decimal number
    (``768``). When it is not set, the device drives the card of the
    library's eleven functions: 0x340, or where ORVEXPORTIO_BASE puts it. On
    the virtual controller a card is put on the bus at that base when none is
    there. A base where no card may sit puts the device in FAULT, its status
    naming the device the card's registers would hit.

Without a database the properties cannot be set; ``--simulated`` and
``--library PATH`` on the command line set what unset properties default to.

The interface follows the conventions of Tango motor servers: the attribute
``Position`` (read: where the axis is, with the quality ``ATTR_CHANGING``
while it moves; write: move there), ``Velocity``, the state ``ON`` at rest,
``MOVING`` while the axis moves and ``FAULT`` when the controller does not
answer (the status tells an operator why), and the command ``Stop``. Values
are in the library's units, sent to the nearest hundredth (100 counts a
unit), and positions read back to the nearest hundredth.

Each axis is read at most once per ``READING_MAX_AGE`` (a position query and
a status query), however many clients ask: every read of state, status and
position within that time is served from the same reading. Tango polls only
the expert attribute ``Readings``, every ``READING_PERIOD``, which keeps
readings coming when no client asks; ``State`` and ``Position`` are not
polled by Tango, so a client never reads a value from before its own last
write. A change of state (one MOVING event per move), and a change of
position by half a count or more or of its quality, is pushed as a change
event.
"""

from __future__ import annotations

import sys
import threading
import time
from typing import Any, Callable, Dict, List, NoReturn, Optional, Sequence, Tuple, TypeVar, Union

# PyTango carries no type hints: its names are Any to the type checker.
from tango import (AttrQuality, AttrWriteType, DevLong64, DevState,  # type: ignore[import]
                   DispLevel, Except)
from tango.server import (Device, attribute, command, device_property,  # type: ignore[import]
                          run)

from . import Controller, Library, OrvexError
from ._constants import COUNTS_PER_UNIT, SETUP_SPEED_COUNTS
from ._values import base_from_text, hundredths

_Result = TypeVar("_Result")

__all__ = ["OrvexAxis", "main"]

#: The name under which the server registers in a Tango database.
SERVER_NAME = "orvexportio-tango"

#: How often Tango reads the expert attribute Readings, which renews the
#: readings of the axis when no client asks.
READING_PERIOD = 0.05

#: How old a reading of an axis may be before the controller is asked again:
#: a little less than READING_PERIOD, so that every poll renews it however
#: the polling timer jitters, and at most about 20 readings a second (22)
#: however many clients ask.
READING_MAX_AGE = 0.045

#: The calls on the card of the library's eleven functions go through this
#: lock (other code of the process that calls those functions holds it too);
#: a card opened by its base has a lock of its own.
BUS_LOCK = threading.RLock()

#: The speed the set-up sequence sets, in the caller's units per second.
SET_UP_VELOCITY = SETUP_SPEED_COUNTS / COUNTS_PER_UNIT

#: A position change of half a count or more is pushed as a change event.
POSITION_CHANGE = 0.5 / COUNTS_PER_UNIT

_AXES = (1, 2)


class Reading:
    """What the controller said about one axis, and when."""

    __slots__ = ("state", "position", "status", "taken_at")

    def __init__(self, state: Any, position: Optional[float], status: str,
                 taken_at: float) -> None:
        self.state = state
        self.position = position
        self.status = status
        self.taken_at = taken_at


class Card:
    """One controller shared by the devices of its axes.

    ``lock`` serialises the calls on this card. Readings of an axis are kept
    for ``READING_MAX_AGE``, so that however many clients read state and
    position, the controller is asked about an axis at most once in that
    time.
    """

    def __init__(self, controller: Controller,
                 lock: Union["threading.Lock", "threading.RLock"]) -> None:
        self.controller = controller
        self._lock = lock
        self._readings: Dict[int, Reading] = {}
        self._readings_taken = {axis: 0 for axis in _AXES}
        self._velocities = {axis: SET_UP_VELOCITY for axis in _AXES}

    def reading(self, axis: int) -> Reading:
        """The axis's reading, taken anew when the last one is too old."""
        with self._lock:
            return self._fresh_reading(axis)

    def readings_taken(self, axis: int) -> int:
        with self._lock:
            return self._readings_taken[axis]

    def velocity(self, axis: int) -> float:
        with self._lock:
            return self._velocities[axis]

    def act(self, axis: int, action: Callable[[Controller], _Result], *, moves: bool = False,
            allowed_in_fault: bool = True) -> _Result:
        """Runs action(controller) for the axis under the lock.

        A motion (moves=True) shows MOVING at once, before the next reading,
        so a client that reads the state right after starting a move never
        sees the ON of before it. Anything else makes the next read ask the
        controller again.
        """
        with self._lock:
            if not allowed_in_fault:
                reading = self._fresh_reading(axis)
                if reading.state == DevState.FAULT:
                    raise AxisInFault(reading.status)
            previous = self._readings.get(axis)
            try:
                result = action(self.controller)
            except OrvexError:
                self._readings.pop(axis, None)  # the next read finds out how things stand
                raise
            if moves:
                # Where the axis stood when the move began is still where it is.
                position = previous.position if previous is not None else None
                self._readings[axis] = Reading(DevState.MOVING, position,
                                               f"Axis {axis} is moving.", time.monotonic())
            else:
                self._readings.pop(axis, None)
            return result

    def position(self, axis: int) -> float:
        """The axis's position, asked now; for a reading that has none."""
        with self._lock:
            return self.controller.position(axis)

    def set_velocity(self, axis: int, velocity: float) -> None:
        with self._lock:
            self.controller.set_speed(axis, velocity)
            self._velocities[axis] = hundredths(velocity)  # what was sent

    def set_up(self, axis: int) -> None:
        with self._lock:
            self._readings.pop(axis, None)
            self.controller.set_up(axis)
            self._velocities[axis] = SET_UP_VELOCITY

    def _fresh_reading(self, axis: int) -> Reading:
        last = self._readings.get(axis)
        now = time.monotonic()
        if last is not None and now - last.taken_at < READING_MAX_AGE:
            return last
        reading = self._take_reading(axis, last)
        self._readings[axis] = reading
        self._readings_taken[axis] += 1
        return reading

    def _take_reading(self, axis: int, last: Optional[Reading]) -> Reading:
        try:
            position = self.controller.position(axis)
            at_rest = self.controller.is_at_rest(axis)
        except OrvexError:  # a time-out, or an answer that makes no sense
            return Reading(DevState.FAULT, None, self._fault_status(axis, last), time.monotonic())
        if at_rest:
            return Reading(DevState.ON, position, f"Axis {axis} is at rest.", time.monotonic())
        return Reading(DevState.MOVING, position, f"Axis {axis} is moving.", time.monotonic())

    def _fault_status(self, axis: int, last: Optional[Reading]) -> str:
        # The diagnosis may take a while; it is made once when the fault
        # begins, not on every reading while it lasts.
        if last is not None and last.state == DevState.FAULT:
            return last.status
        return (f"Axis {axis}: the controller does not answer when asked where the axis is "
                f"and whether it moves. Likely cause: {self.diagnosis()}.")

    def diagnosis(self) -> str:
        """Why the controller may not answer, in words for an operator."""
        try:
            return str(self.controller.diagnose()).rstrip(".")
        except Exception as failure:  # the diagnosis is a courtesy; the fault stands
            return f"unknown (the diagnosis failed: {failure})"


class AxisInFault(Exception):
    """An axis in FAULT was told to move."""


def _position_quality(reading: Reading) -> Any:
    """What Tango motor clients expect: ATTR_CHANGING while the axis moves."""
    return AttrQuality.ATTR_CHANGING if reading.state == DevState.MOVING else \
        AttrQuality.ATTR_VALID


def card_base(text: str) -> Optional[int]:
    """The property Base as a base address: None when empty (the card of the
    eleven functions), hexadecimal with 0x ("0x300") or a decimal number ("768")."""
    text = text.strip()
    if not text:
        return None
    if text.isdigit():
        return int(text)
    return base_from_text(text)


class _Cards:
    """The cards of this process, one per library and base, made when first
    needed and kept while the process runs (a velocity set stays known across
    Init)."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._cards: Dict[Tuple[bool, str, Optional[int]], Card] = {}

    def card(self, simulated: bool, library_path: str, base: Optional[int] = None) -> Card:
        key = (bool(simulated), library_path or "", base)
        with self._lock:
            if key not in self._cards:
                lock = BUS_LOCK if base is None else threading.RLock()
                self._cards[key] = Card(_controller(simulated, library_path, base), lock)
            return self._cards[key]


def _controller(simulated: bool, library_path: str, base: Optional[int]) -> Controller:
    if library_path:
        return Controller(Library(library_path), base=base)
    return Controller(simulated=simulated, base=base)


_cards = _Cards()

#: What unset properties default to; main() sets them from its options.
_defaults: Dict[str, Any] = {"Simulated": False, "Library": ""}


def _throw(reason: str, description: str, origin: str) -> NoReturn:
    """Raises a Tango error (DevFailed) with the reason and the description a client sees."""
    Except.throw_exception(reason, description, origin)
    raise AssertionError("Except.throw_exception returned")


class OrvexAxis(Device):  # type: ignore[misc]  # Device is Any to the type checker
    """One axis of the two-axis motion controller."""

    Axis = device_property(dtype=int, doc="The axis, 1 or 2; when unset, the last field of the "
                                          "device name (lab/orvex/1 is axis 1).")
    Simulated = device_property(dtype=bool, doc="Drive the virtual controller instead of the card.")
    Library = device_property(dtype=str, doc="Path of the library file to load (optional).")
    Base = device_property(dtype=str, doc="The card's base address: 0x300, or a decimal number; "
                                          "when unset, the card of the library's eleven "
                                          "functions (0x340, or ORVEXPORTIO_BASE).")

    def init_device(self) -> None:
        super().init_device()
        self._axis = 0
        self._card: Optional[Card] = None
        self._configuration_fault = ""
        self._shown_state: Any = None
        self._shown_position: Optional[float] = None
        self._shown_quality: Any = None
        self.set_change_event("State", True, False)
        self.set_change_event("Position", True, False)
        try:
            self._axis = self._configured_axis()
            self._card = _cards.card(self._property("Simulated"), self._property("Library"),
                                     card_base(self._property("Base")))
        except Exception as failure:  # shown as FAULT, with the cause, on every read
            self._configuration_fault = f"{self.get_name()} cannot drive an axis: {failure}"
            self.set_state(DevState.FAULT)
            self.set_status(self._configuration_fault)

    def _property(self, name: str) -> Any:
        value = getattr(self, name)
        return _defaults.get(name, "") if value is None else value

    def _configured_axis(self) -> int:
        axis = self.Axis
        if axis is None:
            last_field = self.get_name().rsplit("/", 1)[-1]
            if last_field not in ("1", "2"):
                raise ValueError("the property Axis is not set and the device name does not end "
                                 "in /1 or /2")
            return int(last_field)
        if axis not in _AXES:
            raise ValueError(f"the property Axis is {axis}; it must be 1 or 2")
        return int(axis)

    # ---- State and status ---------------------------------------------------

    def _reading(self) -> Reading:
        if self._card is None:
            return Reading(DevState.FAULT, None, self._configuration_fault, 0.0)
        reading = self._card.reading(self._axis)
        self._show(reading)
        return reading

    def _show(self, reading: Reading) -> None:
        """Shows a reading as the device's state, and pushes what changed:
        the state once per change (one MOVING per move), the position when it
        moved by half a count or more, or when its quality changed."""
        self.set_state(reading.state)
        self.set_status(reading.status)
        if reading.state != self._shown_state:
            self._shown_state = reading.state
            self.push_change_event("State", reading.state)
        position = reading.position
        if position is None:
            return
        quality = _position_quality(reading)
        shown = self._shown_position
        if shown is None or abs(position - shown) >= POSITION_CHANGE \
                or quality != self._shown_quality:
            self._shown_position, self._shown_quality = position, quality
            self.push_change_event("Position", position, time.time(), quality)

    def dev_state(self) -> Any:
        return self._reading().state

    def dev_status(self) -> str:
        return self._reading().status

    # ---- Attributes -----------------------------------------------------------

    Position = attribute(
        dtype=float, access=AttrWriteType.READ_WRITE, unit="unit", format="%.2f",
        doc="Where the axis is, in the caller's units (100 controller counts each). "
            "Writing it starts a move to that position.")

    Velocity = attribute(
        dtype=float, access=AttrWriteType.READ_WRITE, unit="unit/s", format="%.2f",
        doc="The speed of the next moves, in the caller's units per second: the last "
            "value set, or the set-up sequence's speed.")

    Readings = attribute(
        dtype=DevLong64, display_level=DispLevel.EXPERT,
        polling_period=int(READING_PERIOD * 1000),
        doc="How many times the server has read the axis from the controller since it "
            "started. Tango polls it, which keeps the readings, and with them the change "
            "events of State and Position, coming when no client asks.")

    def read_Readings(self) -> int:
        if self._card is None:
            return 0
        self._reading()
        return self._card.readings_taken(self._axis)

    def read_Position(self) -> Tuple[float, float, Any]:
        """The position with its quality: ATTR_CHANGING while the axis moves."""
        reading = self._reading()
        card = self._usable("Position")
        if reading.state == DevState.FAULT:
            _throw("ORVEX_NoAnswer", reading.status, "OrvexAxis.read_Position")
        position = reading.position
        if position is None:  # a move began before any reading was taken
            position = self._guarded("Position", lambda: card.position(self._axis))
        return position, time.time(), _position_quality(reading)

    def write_Position(self, target: float) -> None:
        self._act("Position", lambda controller: controller.move_to(self._axis, target),
                  moves=True)

    def read_Velocity(self) -> float:
        return self._usable("Velocity").velocity(self._axis)

    def write_Velocity(self, velocity: float) -> None:
        card = self._usable("Velocity")
        self._guarded("Velocity", lambda: card.set_velocity(self._axis, velocity))

    # ---- Commands ---------------------------------------------------------------

    @command(doc_in="Stops the axis (ST). Sent whatever the state.")  # type: ignore[misc]
    def Stop(self) -> None:
        self._act("Stop", lambda controller: controller.stop(self._axis))

    @command(doc_in="Moves the axis to its zero (GH).")  # type: ignore[misc]
    def Home(self) -> None:
        self._act("Home", lambda controller: controller.go_home(self._axis), moves=True)

    @command(doc_in="Makes the present position the axis's zero (DH).")  # type: ignore[misc]
    def SetHome(self) -> None:
        self._act("SetHome", lambda controller: controller.define_home(self._axis))

    @command(dtype_in=float,  # type: ignore[misc]
             doc_in="Moves the axis by this distance, in the caller's units (MR).")
    def MoveRelative(self, distance: float) -> None:
        self._act("MoveRelative", lambda controller: controller.move_by(self._axis, distance),
                  moves=True)

    @command(doc_in="Runs the set-up sequence for this axis (RT): 150 ms; it ends by "  # type: ignore[misc]
                    "making the present position the zero and leaves the speed at 10 units/s.")
    def SetUp(self) -> None:
        card = self._usable("SetUp")
        self._guarded("SetUp", lambda: card.set_up(self._axis))
        self._reading()

    # ---- Helpers --------------------------------------------------------------

    def _usable(self, what: str) -> Card:
        """The card, or a Tango error naming what is wrong with the configuration."""
        if self._card is None:
            _throw("ORVEX_NotConfigured", self._configuration_fault, f"OrvexAxis.{what}")
        return self._card

    def _act(self, what: str, action: Callable[[Controller], None], *,
             moves: bool = False) -> None:
        card = self._usable(what)
        self._guarded(what, lambda: card.act(self._axis, action, moves=moves,
                                             allowed_in_fault=not moves))
        self._reading()

    def _guarded(self, what: str, step: Callable[[], _Result]) -> _Result:
        """Runs step, turning the package's refusals and time-outs into Tango
        errors whose descriptions speak to an operator."""
        origin = f"OrvexAxis.{what}"
        axis = f"axis {self._axis}"
        try:
            return step()
        except AxisInFault as fault:
            _throw("ORVEX_AxisInFault", f"Axis {self._axis} is in FAULT, so it is not moved: "
                                        f"{fault}", origin)
        except (ValueError, TypeError) as refused:
            _throw("ORVEX_InvalidValue", f"{what}: {refused}; nothing was sent", origin)
        except TimeoutError:
            cause = self._card.diagnosis() if self._card is not None else "unknown"
            _throw("ORVEX_NoAnswer", f"{what} on {axis}: the controller did not answer in "
                                     f"time. Likely cause: {cause}.", origin)
        except OrvexError:
            _throw("ORVEX_Error", f"{what} on {axis}: the controller answered, but not as it "
                                  f"should; check the controller and its cable.", origin)


def _split_options(arguments: Sequence[str]) -> Tuple[Dict[str, Any], List[str]]:
    """Takes this server's own options out of the command line; the rest is Tango's."""
    remaining: List[str] = []
    options = dict(_defaults)
    walk = iter(arguments)
    for argument in walk:
        if argument == "--simulated":
            options["Simulated"] = True
        elif argument == "--library":
            options["Library"] = next(walk, "")
        elif argument.startswith("--library="):
            options["Library"] = argument.split("=", 1)[1]
        else:
            remaining.append(argument)
    return options, remaining


USAGE = f"""usage: {SERVER_NAME} INSTANCE [--simulated] [--library PATH] [Tango's options]

Serves one OrvexAxis device per axis of the card (see the device properties
Axis, Simulated and Library). Without a database:
  {SERVER_NAME} demo --simulated -nodb -dlist test/orvex/1,test/orvex/2 \\
      -ORBendPoint giop:tcp:127.0.0.1:45450

  --simulated     drive the virtual controller where the property Simulated is unset
  --library PATH  load PATH where the property Library is unset
Tango's own options (-v, -nodb, -dlist, -file=, -ORBendPoint ...) follow.
"""


def main(arguments: Optional[Sequence[str]] = None) -> int:
    """Runs the server: orvexportio-tango INSTANCE [--simulated] [--library PATH] [Tango's
    options]. Returns the exit status."""
    arguments = sys.argv[1:] if arguments is None else list(arguments)
    if any(argument in ("-h", "--help") for argument in arguments):
        print(USAGE, end="")
        return 0
    options, tango_arguments = _split_options(arguments)
    _defaults.update(options)
    run((OrvexAxis,), args=[SERVER_NAME] + tango_arguments)
    return 0


if __name__ == "__main__":
    sys.exit(main())
