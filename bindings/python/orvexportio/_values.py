"""Checking and converting what a caller hands the Controller, each value
exactly once, before anything is sent."""

from __future__ import annotations

import ctypes
import math
import numbers
import operator
import re
import struct
from dataclasses import dataclass
from typing import Any, Optional, Sequence, Tuple

from ._constants import AXIS_1, AXIS_2, BOTH_AXES, COUNTS_PER_UNIT, SUCCESS

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
    by COUNTS_PER_UNIT and truncates toward zero; CountConversion asks it
    which float that is). Written as the count in caller units: 0.29."""

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


class CountConversion:
    """The library's own conversion between single-precision values and
    counts (orvex_count_of, orvex_value_for_count): the one place that says
    which count the library sends for a float."""

    def __init__(self, library: Any) -> None:
        self._count_of = library.orvex_count_of
        self._value_for_count = library.orvex_value_for_count

    def count_of(self, single: float) -> int:
        """The count the library sends for `single`."""
        count = ctypes.c_longlong()
        if self._count_of(single, ctypes.byref(count)) != SUCCESS:
            raise ValueError(f"{single!r} gives no count")
        return count.value

    def single_for(self, count: int) -> Tuple[bool, float]:
        """(True, the float the library turns into `count`), or, when no
        float does, (False, the nearest float below it)."""
        single = ctypes.c_float()
        found = self._value_for_count(count, ctypes.byref(single)) == SUCCESS
        return found, single.value


def _next_single(value: float) -> float:
    """The single-precision value just above `value` (itself single)."""
    if value == 0.0:
        bits = 0x00000001
    else:
        bits = struct.unpack("<I", struct.pack("<f", value))[0]
        bits += 1 if value > 0 else -1
    return float(struct.unpack("<f", struct.pack("<I", bits))[0])


def _single_for_count(count: int, what: str, value: object,
                      conversion: CountConversion) -> float:
    """The single-precision value that the library turns into `count`. Beyond
    131072 units floats lie farther apart than a hundredth, and some counts
    have none: ValueError, naming the nearest that do."""
    found, single = conversion.single_for(count)
    if found:
        return single
    below = conversion.count_of(single)
    above = conversion.count_of(_next_single(single))
    raise ValueError(f"{what} {value!r} is {count} counts, which no single-precision value "
                     f"gives; the nearest that do are {below / COUNTS_PER_UNIT!r} and "
                     f"{above / COUNTS_PER_UNIT!r}")


def _finite(value: object, what: str) -> float:
    number = _real(value, what)
    if not math.isfinite(number):
        raise ValueError(f"{what} {value!r} is not a finite number")
    return number


def position_value(value: object, what: str, conversion: CountConversion) -> Units:
    """A target or distance to the nearest hundredth, whose count fits the
    controller's signed 32 bits."""
    count = nearest_count(_finite(value, what))
    if not -2**31 <= count < 2**31:
        raise ValueError(f"{what} {value!r} is beyond the controller's signed 32-bit count")
    return Units(count, _single_for_count(count, what, value, conversion))


def speed_value(value: object, conversion: CountConversion) -> Units:
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
    return Units(count, _single_for_count(count, "speed", value, conversion))


def timeout_seconds(timeout: object) -> Optional[float]:
    """None (wait as long as it takes) or a number of seconds, not negative."""
    if timeout is None:
        return None
    seconds = _real(timeout, "timeout")
    if math.isnan(seconds) or seconds < 0:
        raise ValueError(f"timeout {timeout!r} must be a number of seconds, not negative")
    return None if math.isinf(seconds) else seconds


#: The most a C unsigned int holds: a base beyond it is no port address at all.
_UNSIGNED_MOST = 2**32 - 1

#: A base written as ORVEXPORTIO_BASE takes it: "0x" and one to four
#: hexadecimal digits (decimal is not taken, so that "300" cannot reach 0x12C
#: when 0x300 was meant).
_BASE_TEXT = re.compile(r"0[xX][0-9A-Fa-f]{1,4}")


def base_address(base: object) -> int:
    """A card's base address as a plain int: TypeError for anything but an
    integer (bool included), ValueError for one that is no port address. Where
    a card may sit is the library's to judge (orvex_base_conflict)."""
    number = integer(base, "base")
    if not 0 <= number <= _UNSIGNED_MOST:
        raise ValueError(f"base {number} is not a port address")
    return number


def base_from_text(text: str) -> int:
    """A base written in hexadecimal with 0x ("0x300"), as ORVEXPORTIO_BASE is."""
    if _BASE_TEXT.fullmatch(text) is None:
        raise ValueError(f"base {text!r} is not written in hexadecimal with 0x, such as 0x300")
    return int(text, 16)
