"""The controller's constants, as the library's header states them (a test
compares each with include/orvexportio.h)."""

BOTH_AXES = 0
AXIS_1 = 1
AXIS_2 = 2

#: TP's result when it has no position: 1e10, exact in single precision.
POSITION_ERROR = 1e10

#: Controller units per caller unit (ORVEX_COUNTS_PER_UNIT): values are sent
#: times 100, positions read back divided by 100.
COUNTS_PER_UNIT = 100

#: WS gives up once no status exchange has succeeded for this many seconds
#: (ORVEX_STATUS_SILENCE_SECONDS).
STATUS_SILENCE_SECONDS = 1.0

#: The speed the set-up sequence sets, in counts per second
#: (ORVEX_SETUP_SPEED_COUNTS).
SETUP_SPEED_COUNTS = 1000

#: What the card API's functions return (ORVEX_SUCCESS, ORVEX_ERROR_...).
SUCCESS = 0
ERROR_TIMEOUT = -1
ERROR_AXIS = -2
ERROR_VALUE = -3
ERROR_BASE_RANGE = -4
ERROR_BASE_DEVICE = -5
ERROR_BASE_SETTING = -6
ERROR_CARD = -7
ERROR_REPLY = -8
ERROR_MEMORY = -9
ERROR_NOT_SHARED = -10
