"""Checking and converting what a caller hands the Controller, each value
exactly once, before anything is sent."""

from __future__ import annotations

import ctypes
import math
import numbers
import operator
import struct
from dataclasses import dataclass
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


@dataclass(frozen=True)
class Units:
    """A value as it goes to the controller: the count, and the
    single-precision value the library turns into that count (it multiplies
    by COUNTS_PER_UNIT and truncates toward zero). Written as the count in
    caller units: 0.29."""

    count: int
    single: float

    def __str__(self) -> str:
        return repr(self.count / COUNTS_PER_UNIT)


def nearest_count(value: float) -> int:
    """The count nearest value x COUNTS_PER_UNIT (the hundredth meant),
    halves away from zero."""
    scaled = abs(value) * COUNTS_PER_UNIT
    if math.isinf(scaled):  # beyond every count, on the side of its sign
        scaled = float(2**64)
    count = math.floor(scaled)
    if scaled - count >= 0.5:
        count += 1
    return -count if value < 0 else count


def hundredths(position: float) -> float:
    """A position read back, to the nearest hundredth: TP's single-precision
    15.829999923706055 is 15.83."""
    return nearest_count(position) / COUNTS_PER_UNIT


def _library_count(single_value: float) -> int:
    # 24 significant bits times 100's 7 fit in a double: the product is exact.
    return math.trunc(single_value * COUNTS_PER_UNIT)


def _next_single(value: float, upward: bool) -> float:
    """The single-precision neighbour of `value` (itself single) above or below it."""
    if value == 0.0:
        bits = 0x00000001 if upward else 0x80000001
    else:
        bits = struct.unpack("<I", struct.pack("<f", value))[0]
        bits += 1 if (value > 0) == upward else -1
    return float(struct.unpack("<f", struct.pack("<I", bits))[0])


def _single_for_count(count: int, what: str, value: object) -> float:
    """The single-precision value nearest count / COUNTS_PER_UNIT that the
    library turns into `count`. Beyond 131072 units floats lie farther apart
    than a hundredth, and some counts have none: ValueError, naming the
    nearest that do."""
    candidate = ctypes.c_float(count / COUNTS_PER_UNIT).value
    # The library's count grows with the float: step towards `count` until
    # it is reached or stepped over.
    while _library_count(candidate) < count:
        candidate = _next_single(candidate, upward=True)
    while _library_count(candidate) > count:
        candidate = _next_single(candidate, upward=False)
    if _library_count(candidate) == count:
        return candidate
    below = _library_count(candidate)
    above = _library_count(_next_single(candidate, upward=True))
    raise ValueError(f"{what} {value!r} is {count} counts, which no single-precision value "
                     f"gives; the nearest that do are {below / COUNTS_PER_UNIT!r} and "
                     f"{above / COUNTS_PER_UNIT!r}")


def _finite(value: object, what: str) -> float:
    number = _real(value, what)
    if not math.isfinite(number):
        raise ValueError(f"{what} {value!r} is not a finite number")
    return number


def position_value(value: object, what: str) -> Units:
    """A target or distance to the nearest hundredth, whose count fits the
    controller's signed 32 bits."""
    count = nearest_count(_finite(value, what))
    if not -2**31 <= count < 2**31:
        raise ValueError(f"{what} {value!r} is beyond the controller's signed 32-bit count")
    return Units(count, _single_for_count(count, what, value))


def speed_value(value: object) -> Units:
    """A speed to the nearest hundredth: not negative, within 32 bits, and,
    when not zero, at least one count, so that the axis moves."""
    number = _finite(value, "speed")
    if number < 0:
        raise ValueError(f"speed {value!r} must not be negative")
    count = nearest_count(number)
    if count >= 2**32:
        raise ValueError(f"speed {value!r} is beyond the controller's 32-bit count")
    if count == 0 and number != 0:
        raise ValueError(f"speed {value!r} is 0 counts to the nearest hundredth, at which the "
                         f"axis does not move; the least speed is {1 / COUNTS_PER_UNIT!r}")
    return Units(count, _single_for_count(count, "speed", value))


def timeout_seconds(timeout: object) -> Optional[float]:
    """None (wait as long as it takes) or a number of seconds, not negative."""
    if timeout is None:
        return None
    seconds = _real(timeout, "timeout")
    if math.isnan(seconds) or seconds < 0:
        raise ValueError(f"timeout {timeout!r} must be a number of seconds, not negative")
    return None if math.isinf(seconds) else seconds
