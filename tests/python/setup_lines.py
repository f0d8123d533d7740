"""The lines RT sends, in order, for axis 1, axis 2 and both axes, written
once for the Python tests that expect them (tests/setup_lines.h is the C++
tests' copy)."""

AXIS_1_SETUP_LINES = ["1FI11\r", "1VA1000;AC50000\r", "1FM3\r", "1DH\r"]
AXIS_2_SETUP_LINES = ["2FI11\r", "2VA1000;AC50000\r", "2FM3\r", "2DH\r"]
BOTH_AXES_SETUP_LINES = ["1FI11\r", "1VA1000;AC50000\r", "1FM03\r", "1DH\r",
                         "2FI11\r", "2VA1000;AC50000\r", "2FM03\r", "2DH\r"]
