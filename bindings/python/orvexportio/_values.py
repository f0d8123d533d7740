"""Checking and converting what a caller hands the Controller, each value
exactly once, before anything is sent."""

from __future__ import annotations

import ctypes
import math
import numbers
import operator
from typing import Optional, Sequence

from ._constants import AXIS_1, AXIS_2, BOTH_AXES, COUNTS_PER_UNIT

ANY_AXES = (BOTH_AXES, AXIS_1, AXIS_2)
ONE_AXIS = (AXIS_1, AXIS_2)


def _type_name(value: object) -> str:
    return type(value).__name__


def integer(value: object, what: str) -> int:
    """`value` as a plain int, taken from it once: TypeError for anything but
    an integer, bool included."""
    if isinstance(value, bool):
        raise TypeError(f"{what} must be an integer, not bool ({value!r})")
    try:
        return operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{what} must be an integer, not {_type_name(value)} ({value!r})") \
            from None


def axis_code(axis: object, accepted: Sequence[int]) -> int:
    """The axis code as a plain int, taken from `axis` once: TypeError for
    anything but an integer (bool included), ValueError for a code not
    accepted."""
    code = integer(axis, "axis code")
    if code not in accepted:
        raise ValueError(f"axis code {code} is not accepted here; "
                         f"it takes {' or '.join(map(str, accepted))}")
    return code


def _real(value: object, what: str) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{what} must be a real number, not {_type_name(value)} ({value!r})")
    try:
        return float(value)
    except OverflowError:
        positive: bool = value > 0  # type: ignore[operator]
        return math.inf if positive else -math.inf


def single(value: object, what: str) -> float:
    """`value` rounded to single precision, as the library receives it."""
    number = _real(value, what)
    try:
        rounded = ctypes.c_float(number).value
    except OverflowError:
        rounded = math.inf
    if not math.isfinite(rounded):
        raise ValueError(f"{what} {value!r} is not a finite single-precision number")
    return rounded


def position_value(value: object, what: str) -> float:
    """A target or distance whose count fits the controller's signed 32 bits."""
    rounded = single(value, what)
    if not -2**31 <= math.trunc(rounded * COUNTS_PER_UNIT) < 2**31:
        raise ValueError(f"{what} {value!r} is beyond the controller's signed 32-bit count")
    return rounded


def speed_value(value: object) -> float:
    """A speed whose count is neither negative nor beyond 32 bits."""
    rounded = single(value, "speed")
    count = math.trunc(rounded * COUNTS_PER_UNIT)
    if count < 0:
        raise ValueError(f"speed {value!r} must not be negative")
    if count >= 2**32:
        raise ValueError(f"speed {value!r} is beyond the controller's 32-bit count")
    return rounded


def timeout_seconds(timeout: object) -> Optional[float]:
    """None (wait as long as it takes) or a number of seconds, not negative."""
    if timeout is None:
        return None
    seconds = _real(timeout, "timeout")
    if math.isnan(seconds) or seconds < 0:
        raise ValueError(f"timeout {timeout!r} must be a number of seconds, not negative")
    return None if math.isinf(seconds) else seconds
