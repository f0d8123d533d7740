"""The virtual-controller build's own functions (``orvexsim_``): what its
controller received, as a list and as it arrives."""

from __future__ import annotations

import ctypes
from typing import Any, Callable, List, Optional, Tuple

from ._exports import LINE_CALLBACK, SIMULATOR_EXPORTS, declare_all

__all__ = ["LINE_CALLBACK", "LineCallback", "VirtualController"]

#: What `VirtualController.on_line` calls: (text with its carriage return, seconds).
LineCallback = Callable[[str, float], None]


class VirtualController:
    """The controller behind the virtual-controller build's ports.

    ``Library(simulated=True).virtual_controller`` is one; the raw functions
    are its attributes under their own names (``orvexsim_reset`` ...).
    """

    def __init__(self, cdll: ctypes.CDLL) -> None:
        for name, function in declare_all(cdll, SIMULATOR_EXPORTS).items():
            setattr(self, name, function)
        self._callback: Optional[Any] = None  # keeps the ctypes callback alive while registered

    def reset(self) -> None:
        """Healthy and idle again: clock at zero, axes at rest at zero, no lines, no callback."""
        self.orvexsim_reset()
        self._callback = None

    def lines(self) -> List[Tuple[str, float]]:
        """The received lines, oldest first, as (text with its carriage return, seconds)."""
        received = []
        for index in range(self.orvexsim_line_count()):
            when = ctypes.c_double()
            length = self.orvexsim_line(index, None, 0, ctypes.byref(when))
            if length < 0:
                break  # the list moved on under us
            text = ctypes.create_string_buffer(length + 1)
            self.orvexsim_line(index, text, length + 1, ctypes.byref(when))
            received.append((text.raw[:length].decode("latin-1"), when.value))
        return received

    def on_line(self, callback: Optional[LineCallback]) -> None:
        """Calls callback(text, seconds) for every line from now on; None stops it.

        It is called in the middle of the transfer that carried the line, so it
        must not call the library.
        """
        if callback is None:
            self.orvexsim_set_line_callback(LINE_CALLBACK(), None)  # type: ignore[call-overload]
            self._callback = None
            return

        deliver = callback

        def announce(line: Any, length: int, received_at: float, _context: Any) -> None:
            deliver(ctypes.string_at(line, length).decode("latin-1"), received_at)

        self._callback = LINE_CALLBACK(announce)
        self.orvexsim_set_line_callback(self._callback, None)

    # The raw functions, bound from the export table in __init__.
    orvexsim_reset: Callable[[], None]
    orvexsim_line_count: Callable[[], int]
    orvexsim_line: Callable[..., int]
    orvexsim_set_line_callback: Callable[..., None]
