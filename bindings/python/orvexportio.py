"""Drive the two-axis motion controller at I/O ports 0x340/0x341 from Python.

The module loads the orvexportio library with ctypes and needs nothing else.
It has two layers:

``Library``
    The library's eleven functions exactly as exported, with their C argument
    and result types declared: ``lib.MA(1, 2.5)`` returns 1 or 0, ``lib.TP(1)``
    a position or ``POSITION_ERROR``. For the virtual-controller build it also
    offers ``lib.virtual_controller``, the lines that controller received.

``Controller``
    The same functions under readable names. A method raises ``ValueError``
    for an axis code or value it does not accept, before anything is sent,
    and ``TimeoutError`` where the library reports a time-out; positions come
    back as floats.

Example, against the virtual controller::

    import orvexportio
    controller = orvexportio.Controller(simulated=True)
    controller.set_up(orvexportio.BOTH_AXES)
    controller.move_to(1, 2.5)
    controller.wait_until_at_rest(1)
    print(controller.position(1))   # 2.5

Which library file is loaded: the path given; else the one named by the
environment variable ORVEXPORTIO_LIBRARY (ORVEXPORTIO_SIM_LIBRARY for the
virtual-controller build); else a copy beside this module; else the system
loader looks the file up by name (LD_LIBRARY_PATH, the installed libraries).
"""

import ctypes
import math
import numbers
import os
import sys
from pathlib import Path

__all__ = [
    "AXIS_1",
    "AXIS_2",
    "BOTH_AXES",
    "POSITION_ERROR",
    "Controller",
    "Library",
    "VirtualController",
]

BOTH_AXES = 0
AXIS_1 = 1
AXIS_2 = 2

#: TP's result when it has no position: 1e10, exact in single precision.
POSITION_ERROR = 1e10

#: Controller units per caller unit.
COUNTS_PER_UNIT = 100

if sys.platform == "win32":
    _LIBRARY_NAMES = {False: ("orvexportio.dll", "liborvexportio.dll"),
                      True: ("orvexportio-sim.dll", "liborvexportio-sim.dll")}
else:
    _LIBRARY_NAMES = {False: ("liborvexportio.so.1",), True: ("liborvexportio-sim.so.1",)}

_ENVIRONMENT = {False: "ORVEXPORTIO_LIBRARY", True: "ORVEXPORTIO_SIM_LIBRARY"}

_AXIS = ctypes.c_byte  # signed char: only the low byte of the slot is read
_VALUE = ctypes.c_float
_FLAG = ctypes.c_int

# name: (result type, argument types)
_EXPORTS = {
    "MA": (_FLAG, [_AXIS, _VALUE]),
    "MR": (_FLAG, [_AXIS, _VALUE]),
    "SV": (_FLAG, [_AXIS, _VALUE]),
    "ST": (_FLAG, [_AXIS]),
    "DH": (_FLAG, [_AXIS]),
    "GH": (_FLAG, [_AXIS]),
    "TP": (ctypes.c_float, [_AXIS]),
    "OK": (_FLAG, []),
    "MT": (_FLAG, [_AXIS]),
    "WS": (_FLAG, [_AXIS]),
    "RT": (_FLAG, [_AXIS]),
}

#: The type of a line callback: line (not NUL-safe, use the length), length,
#: virtual time in seconds, context.
LINE_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.POINTER(ctypes.c_char), ctypes.c_int,
                                 ctypes.c_double, ctypes.c_void_p)

_SIMULATOR_EXPORTS = {
    "orvexsim_reset": (None, []),
    "orvexsim_line_count": (ctypes.c_int, []),
    "orvexsim_line": (ctypes.c_int, [ctypes.c_int, ctypes.c_char_p, ctypes.c_int,
                                     ctypes.POINTER(ctypes.c_double)]),
    "orvexsim_set_line_callback": (None, [LINE_CALLBACK, ctypes.c_void_p]),
}


def _declared(cdll, name, signature):
    function = cdll[name]
    function.restype, function.argtypes = signature
    return function


def _library_path(simulated):
    from_environment = os.environ.get(_ENVIRONMENT[simulated])
    if from_environment:
        return from_environment
    for name in _LIBRARY_NAMES[simulated]:
        beside = Path(__file__).resolve().parent / name
        if beside.is_file():
            return str(beside)
    return _LIBRARY_NAMES[simulated][0]


class VirtualController:
    """What the virtual-controller build's controller received (orvexsim_ exports)."""

    def __init__(self, cdll):
        for name, signature in _SIMULATOR_EXPORTS.items():
            setattr(self, name, _declared(cdll, name, signature))
        self._callback = None  # keeps the ctypes callback alive while registered

    def reset(self):
        """Healthy and idle again: clock at zero, axes at rest at zero, no lines, no callback."""
        self.orvexsim_reset()
        self._callback = None

    def lines(self):
        """The received lines, oldest first, as (text with its carriage return, seconds)."""
        received = []
        for index in range(self.orvexsim_line_count()):
            when = ctypes.c_double()
            length = self.orvexsim_line(index, None, 0, ctypes.byref(when))
            text = ctypes.create_string_buffer(length + 1)
            self.orvexsim_line(index, text, length + 1, ctypes.byref(when))
            received.append((text.raw[:length].decode("latin-1"), when.value))
        return received

    def on_line(self, callback):
        """Calls callback(text, seconds) for every line from now on; None stops it.

        It is called in the middle of the transfer that carried the line, so it
        must not call the library.
        """
        if callback is None:
            self.orvexsim_set_line_callback(LINE_CALLBACK(), None)
            self._callback = None
            return

        def announce(line, length, received_at, _context):
            callback(ctypes.string_at(line, length).decode("latin-1"), received_at)

        self._callback = LINE_CALLBACK(announce)
        self.orvexsim_set_line_callback(self._callback, None)


class Library:
    """The library's exports, called exactly as C declares them.

    ``Library()`` loads the library for the card, ``Library(simulated=True)``
    the virtual-controller build, ``Library(path)`` exactly the file at path.
    Each export is an attribute under its own name (``MA`` ... ``RT``) with
    its argument and result types declared: the axis code is a signed char,
    values are single-precision floats, results are ints except TP's float.
    """

    def __init__(self, path=None, *, simulated=False):
        self.path = str(path) if path is not None else _library_path(simulated)
        self.cdll = ctypes.CDLL(self.path)
        for name, signature in _EXPORTS.items():
            setattr(self, name, _declared(self.cdll, name, signature))
        try:
            self.virtual_controller = VirtualController(self.cdll)
        except AttributeError:
            self.virtual_controller = None


def _axis_code(axis, accepted):
    is_integer = isinstance(axis, numbers.Integral) and not isinstance(axis, bool)
    if not is_integer or int(axis) not in accepted:
        raise ValueError(f"axis code {axis!r} is not accepted here; "
                         f"it takes {' or '.join(map(str, accepted))}")
    return int(axis)


def _single(value, what):
    if not isinstance(value, numbers.Real) or isinstance(value, bool):
        raise ValueError(f"{what} {value!r} is not a number")
    try:
        single = ctypes.c_float(float(value)).value
    except OverflowError:
        single = math.inf
    if not math.isfinite(single):
        raise ValueError(f"{what} {value!r} is not a finite single-precision number")
    return single


def _position_value(value, what):
    single = _single(value, what)
    if not -2**31 <= math.trunc(single * COUNTS_PER_UNIT) < 2**31:
        raise ValueError(f"{what} {value!r} is beyond the controller's signed 32-bit count")
    return single


def _speed_value(value):
    single = _single(value, "speed")
    count = math.trunc(single * COUNTS_PER_UNIT)
    if count < 0:
        raise ValueError(f"speed {value!r} must not be negative")
    if count >= 2**32:
        raise ValueError(f"speed {value!r} is beyond the controller's 32-bit count")
    return single


_ANY_AXES = (BOTH_AXES, AXIS_1, AXIS_2)
_ONE_AXIS = (AXIS_1, AXIS_2)


class Controller:
    """The controller, through the library, under readable names.

    Axis codes: 1 or 2 for one axis, 0 (BOTH_AXES) for both, axis 1 first.
    Values are in caller units; the library sends them times 100, truncated.
    """

    def __init__(self, library=None, *, simulated=False):
        self.library = library if library is not None else Library(simulated=simulated)

    @staticmethod
    def _delivered(result, what):
        if result == 0:
            raise TimeoutError(f"{what}: the controller did not take the line in time")
        if result != 1:
            raise RuntimeError(f"{what}: unexpected result {result}")

    def move_to(self, axis, target):
        """Moves to an absolute target (MA: "1PA <count>\\r")."""
        axis = _axis_code(axis, _ANY_AXES)
        target = _position_value(target, "target")
        self._delivered(self.library.MA(axis, target), "move_to")

    def move_by(self, axis, distance):
        """Moves by a distance from where the axis stands (MR: "1PR <count>\\r")."""
        axis = _axis_code(axis, _ANY_AXES)
        distance = _position_value(distance, "distance")
        self._delivered(self.library.MR(axis, distance), "move_by")

    def set_speed(self, axis, speed):
        """Sets the speed for the next moves (SV: "1VA<count>\\r"); not negative."""
        axis = _axis_code(axis, _ANY_AXES)
        speed = _speed_value(speed)
        self._delivered(self.library.SV(axis, speed), "set_speed")

    def stop(self, axis):
        """Stops the axis or axes (ST: "1ST\\r")."""
        self._delivered(self.library.ST(_axis_code(axis, _ANY_AXES)), "stop")

    def define_home(self, axis):
        """Makes the present position the zero (DH: "1DH\\r")."""
        self._delivered(self.library.DH(_axis_code(axis, _ANY_AXES)), "define_home")

    def go_home(self, axis):
        """Moves to the zero (GH: "1PA 0\\r")."""
        self._delivered(self.library.GH(_axis_code(axis, _ANY_AXES)), "go_home")

    def position(self, axis):
        """The position of axis 1 or 2 in caller units, as a float (TP: "1TP\\r").

        Raises TimeoutError when the controller does not answer with a number.
        """
        position = self.library.TP(_axis_code(axis, _ONE_AXIS))
        if position == POSITION_ERROR:
            raise TimeoutError("position: the controller did not answer with a number in time")
        return float(position)

    def answers(self):
        """Whether a controller answers the axis-1 position query (OK)."""
        return self.library.OK() == 1

    def is_at_rest(self, axis):
        """Whether the addressed axes are at rest (MT: "TS\\r").

        MT's 0 means moving as well as no answer; after a 0 the controller is
        asked for axis 1's position ("1TP\\r") to tell them apart, and
        TimeoutError is raised when it does not answer.
        """
        result = self.library.MT(_axis_code(axis, _ANY_AXES))
        if result == 1:
            return True
        if result != 0:
            raise RuntimeError(f"is_at_rest: unexpected result {result}")
        if not self.answers():
            raise TimeoutError("is_at_rest: the controller did not answer the status query")
        return False

    def wait_until_at_rest(self, axis):
        """Blocks until the addressed axes are at rest (WS: "TS\\r" again and again).

        Raises TimeoutError once the controller has been silent for a second.
        """
        result = self.library.WS(_axis_code(axis, _ANY_AXES))
        if result == 0:
            raise TimeoutError("wait_until_at_rest: the controller stopped answering")
        if result != 1:
            raise RuntimeError(f"wait_until_at_rest: unexpected result {result}")

    def set_up(self, axis):
        """Runs the set-up sequence after power-up (RT), 100 to 300 ms with its pauses.

        Raises TimeoutError when its first line is not delivered; the library
        does not report later lines.
        """
        self._delivered(self.library.RT(_axis_code(axis, _ANY_AXES)), "set_up")
