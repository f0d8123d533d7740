"""What each library exports, with its C types: the one table the package
binds from. A test compares its names with cmake/Exports.cmake, the list the
libraries are built from."""

from __future__ import annotations

import ctypes
from typing import Any, Dict, List, Optional, Tuple, Type

Signature = Tuple[Optional[Type[ctypes._SimpleCData]], List[type]]

AXIS = ctypes.c_byte  # signed char: only the low byte of the argument slot is read
VALUE = ctypes.c_float
FLAG = ctypes.c_int

#: The eleven functions of every build: name -> (result type, argument types).
EXPORTS: Dict[str, Signature] = {
    "MA": (FLAG, [AXIS, VALUE]),
    "MR": (FLAG, [AXIS, VALUE]),
    "SV": (FLAG, [AXIS, VALUE]),
    "ST": (FLAG, [AXIS]),
    "DH": (FLAG, [AXIS]),
    "GH": (FLAG, [AXIS]),
    "TP": (ctypes.c_float, [AXIS]),
    "OK": (FLAG, []),
    "MT": (FLAG, [AXIS]),
    "WS": (FLAG, [AXIS]),
    "RT": (FLAG, [AXIS]),
}

#: The type of the virtual controller's line callback: line (not NUL-safe, use
#: the length), length, the controller's time in seconds, context.
LINE_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.POINTER(ctypes.c_char), ctypes.c_int,
                                 ctypes.c_double, ctypes.c_void_p)

#: The card API beside the eleven: any card, by the handle orvex_open gives.
CARD = ctypes.c_void_p


class Holder(ctypes.Structure):
    """orvex_holder: who holds a card, as orvexportio.h declares it."""

    _fields_ = [("process", ctypes.c_int), ("program", ctypes.c_char * 16),
                ("seconds", ctypes.c_double), ("line", ctypes.c_char * 80)]


ERROR = ctypes.c_int  # ORVEX_SUCCESS or one of the ORVEX_ERROR_ codes

CARD_EXPORTS: Dict[str, Signature] = {
    "orvex_error_message": (ctypes.c_char_p, [ctypes.c_int]),
    "orvex_base_conflict": (ctypes.c_char_p, [ctypes.c_uint]),
    "orvex_default_base": (ERROR, [ctypes.POINTER(ctypes.c_uint)]),
    "orvex_open": (CARD, [ctypes.c_uint, ctypes.POINTER(ctypes.c_int)]),
    "orvex_close": (None, [CARD]),
    "orvex_card_base": (ctypes.c_uint, [CARD]),
    "orvex_count_of": (ERROR, [VALUE, ctypes.POINTER(ctypes.c_longlong)]),
    "orvex_value_for_count": (ERROR, [ctypes.c_longlong, ctypes.POINTER(VALUE)]),
    "orvex_ma": (ERROR, [CARD, ctypes.c_int, VALUE]),
    "orvex_mr": (ERROR, [CARD, ctypes.c_int, VALUE]),
    "orvex_sv": (ERROR, [CARD, ctypes.c_int, VALUE]),
    "orvex_st": (ERROR, [CARD, ctypes.c_int]),
    "orvex_dh": (ERROR, [CARD, ctypes.c_int]),
    "orvex_gh": (ERROR, [CARD, ctypes.c_int]),
    "orvex_tp": (ERROR, [CARD, ctypes.c_int, ctypes.POINTER(VALUE)]),
    "orvex_ok": (ERROR, [CARD]),
    "orvex_mt": (ERROR, [CARD, ctypes.c_int, ctypes.POINTER(ctypes.c_int)]),
    "orvex_ws": (ERROR, [CARD, ctypes.c_int]),
    "orvex_rt": (ERROR, [CARD, ctypes.c_int]),
    "orvex_card_holder": (ERROR, [CARD, ctypes.POINTER(Holder)]),
}

#: The virtual-controller build's functions of the whole bus.
SIMULATOR_BUS_EXPORTS: Dict[str, Signature] = {
    "orvexsim_set_clock": (ctypes.c_int, [ctypes.c_int]),
    "orvexsim_clock": (ctypes.c_int, []),
    "orvexsim_time": (ctypes.c_double, []),
    "orvexsim_add_card": (ctypes.c_int, [ctypes.c_uint]),
    "orvexsim_first_card": (ctypes.c_uint, []),
    "orvexsim_share": (ctypes.c_int, [ctypes.c_char_p]),
}

#: Those that act on the first card (orvexsim_<name>).
SIMULATOR_FIRST_CARD_EXPORTS: Dict[str, Signature] = {
    "orvexsim_reset": (None, []),
    "orvexsim_line_count": (ctypes.c_int, []),
    "orvexsim_line_repeats": (ctypes.c_int, [ctypes.c_int, ctypes.POINTER(ctypes.c_double)]),
    "orvexsim_line": (ctypes.c_int, [ctypes.c_int, ctypes.c_char_p, ctypes.c_int,
                                     ctypes.POINTER(ctypes.c_double)]),
    "orvexsim_set_line_callback": (None, [LINE_CALLBACK, ctypes.c_void_p]),
    "orvexsim_axis_position": (ctypes.c_double, [ctypes.c_int]),
    "orvexsim_axis_target": (ctypes.c_double, [ctypes.c_int]),
    "orvexsim_axis_moving": (ctypes.c_int, [ctypes.c_int]),
    "orvexsim_fault_silent": (None, []),
    "orvexsim_fault_stuck_handshake": (None, [ctypes.c_int]),
    "orvexsim_fault_readiness_delay": (None, [ctypes.c_int, ctypes.c_int]),
    "orvexsim_fault_dies_after_bytes": (None, [ctypes.c_int]),
    "orvexsim_fault_never_acknowledges_byte": (None, [ctypes.c_int]),
    "orvexsim_fault_reply_stops_after": (None, [ctypes.c_int]),
    "orvexsim_fault_garbled_reply": (None, []),
    "orvexsim_fault_overlong_reply": (None, []),
    "orvexsim_fault_endless_reply": (None, []),
    "orvexsim_clear_faults": (None, []),
    "orvexsim_queue_reply": (None, [ctypes.c_char_p, ctypes.c_int]),
    "orvexsim_bytes_taken": (ctypes.c_int, []),
    "orvexsim_protocol_errors": (ctypes.c_int, []),
    "orvexsim_record_vcd": (ctypes.c_int, [ctypes.c_char_p]),
    "orvexsim_stop_vcd": (None, []),
}

FIRST_CARD_PREFIX = "orvexsim_"
CARD_PREFIX = "orvexsim_card_"


def card_function_name(first_card_name: str) -> str:
    """orvexsim_<name> -> orvexsim_card_<name>."""
    return CARD_PREFIX + first_card_name[len(FIRST_CARD_PREFIX):]


#: The same on the card at a base (orvexsim_card_<name>): the base first, and
#: 1 or 0 (no card there) where the first card's function returns nothing.
SIMULATOR_CARD_EXPORTS: Dict[str, Signature] = {
    card_function_name(name): (ctypes.c_int if result is None else result,
                               [ctypes.c_uint] + arguments)
    for name, (result, arguments) in SIMULATOR_FIRST_CARD_EXPORTS.items()
}

#: Everything the virtual-controller build exports besides the library's own.
SIMULATOR_EXPORTS: Dict[str, Signature] = {
    **SIMULATOR_BUS_EXPORTS, **SIMULATOR_FIRST_CARD_EXPORTS, **SIMULATOR_CARD_EXPORTS}

#: The diagnosis library's functions.
DIAGNOSIS_EXPORTS: Dict[str, Signature] = {
    "orvexdiag_explain": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_int]),
    "orvexdiag_explain_card": (ctypes.c_int, [ctypes.c_uint, ctypes.c_char_p, ctypes.c_int]),
    "orvexdiag_route": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_int]),
    "orvexdiag_route_card": (ctypes.c_int, [ctypes.c_uint, ctypes.c_char_p, ctypes.c_int]),
}


def declared(cdll: ctypes.CDLL, name: str, signature: Signature) -> Any:
    """The export `name` of `cdll` with its result and argument types set."""
    function = cdll[name]
    function.restype, function.argtypes = signature
    return function


def declare_all(cdll: ctypes.CDLL, table: Dict[str, Signature]) -> Dict[str, Any]:
    """Every export of `table`; AttributeError when `cdll` lacks one."""
    return {name: declared(cdll, name, signature) for name, signature in table.items()}
