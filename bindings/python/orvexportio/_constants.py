"""The controller's constants, as the library's header states them."""

BOTH_AXES = 0
AXIS_1 = 1
AXIS_2 = 2

#: TP's result when it has no position: 1e10, exact in single precision.
POSITION_ERROR = 1e10

#: Controller units per caller unit.
COUNTS_PER_UNIT = 100
