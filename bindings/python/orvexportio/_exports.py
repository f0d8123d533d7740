"""What each library exports, with its C types: the one table the package
binds from."""

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

#: The virtual-controller build's own functions.
SIMULATOR_EXPORTS: Dict[str, Signature] = {
    "orvexsim_reset": (None, []),
    "orvexsim_line_count": (ctypes.c_int, []),
    "orvexsim_line_repeats": (ctypes.c_int, [ctypes.c_int, ctypes.POINTER(ctypes.c_double)]),
    "orvexsim_line": (ctypes.c_int, [ctypes.c_int, ctypes.c_char_p, ctypes.c_int,
                                     ctypes.POINTER(ctypes.c_double)]),
    "orvexsim_set_line_callback": (None, [LINE_CALLBACK, ctypes.c_void_p]),
    "orvexsim_set_clock": (ctypes.c_int, [ctypes.c_int]),
    "orvexsim_clock": (ctypes.c_int, []),
    "orvexsim_time": (ctypes.c_double, []),
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

#: The diagnosis library's function.
DIAGNOSIS_EXPORTS: Dict[str, Signature] = {
    "orvexdiag_explain": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_int]),
}


def declared(cdll: ctypes.CDLL, name: str, signature: Signature) -> Any:
    """The export `name` of `cdll` with its result and argument types set."""
    function = cdll[name]
    function.restype, function.argtypes = signature
    return function


def declare_all(cdll: ctypes.CDLL, table: Dict[str, Signature]) -> Dict[str, Any]:
    """Every export of `table`; AttributeError when `cdll` lacks one."""
    return {name: declared(cdll, name, signature) for name, signature in table.items()}
