"""Drive the two-axis motion controller at I/O ports 0x340/0x341 from Python.

The package loads the orvexportio library with ctypes and needs nothing else.
It has two layers:

``Library``
    The library's eleven functions exactly as exported, with their C argument
    and result types declared: ``lib.MA(1, 2.5)`` returns 1 or 0, ``lib.TP(1)``
    a position or ``POSITION_ERROR``. For the virtual-controller build it also
    offers ``lib.virtual_controller`` (see ``orvexportio.simulator``), the
    lines that controller received.

``Controller``
    The same functions under readable names, on the card of the eleven
    functions (``Controller()``) or on the card at another base
    (``Controller(base=0x300)``, through the library's card API). A method raises ``TypeError``
    for an argument of the wrong type and ``ValueError`` for an axis code or
    value it does not accept, before anything is sent, and
    ``ControllerTimeout`` where the library reports a time-out. Values go to
    the controller as the nearest hundredth (``move_to(1, 0.29)`` sends 29
    counts, where ``Library.MA(1, 0.29)`` sends the 28 the library makes of
    the float), and positions come back to the nearest hundredth.
    ``diagnose()`` tells why the card cannot be reached.

Example, against the virtual controller::

    import orvexportio
    with orvexportio.Controller(simulated=True) as controller:
        controller.set_up(orvexportio.BOTH_AXES)
        controller.move_to(1, 2.5)
        controller.wait_until_at_rest(1)
        print(controller.position(1))   # 2.5

A second card, strapped to 0x300, beside the first (on the virtual
controller it is put on the bus)::

    second = orvexportio.Controller(simulated=True, base=0x300)
    second.move_to(2, -1.0)

Which library file is loaded: the path given to ``Library``; else the one
named by the environment variable ORVEXPORTIO_LIBRARY (ORVEXPORTIO_SIM_LIBRARY
for the virtual-controller build); else one beside the package, in
``<package>/../../bin``, in the install or the build tree the package came
with; else the system loader looks the file up by name. An error names the
variable and every place looked at.

Calls are logged on the logger "orvexportio" (a NullHandler keeps it quiet
until the application configures logging).
"""

from . import simulator
from ._constants import AXIS_1, AXIS_2, BOTH_AXES, COUNTS_PER_UNIT, POSITION_ERROR
from ._card import CardHolder
from ._controller import Controller
from ._errors import ControllerTimeout, LibraryError, OrvexError
from ._library import Library
from ._version import __version__
from .simulator import VirtualController

__all__ = [
    "AXIS_1",
    "AXIS_2",
    "BOTH_AXES",
    "COUNTS_PER_UNIT",
    "POSITION_ERROR",
    "CardHolder",
    "Controller",
    "ControllerTimeout",
    "Library",
    "LibraryError",
    "OrvexError",
    "VirtualController",
    "simulator",
]
