"""The Python module over the built libraries: both layers, the lines that
reach the virtual controller, and the failure paths.

Needs ORVEXPORTIO_SIM_LIBRARY (the virtual-controller build) and
ORVEXPORTIO_LIBRARY (the build for the card) in the environment, and the
module's folder on PYTHONPATH.
"""

import ctypes
import errno
import math
import os
import unittest

import orvexportio


def ports_out_of_reach():
    """True where the card build can only see an empty bus, as on a machine
    without port I/O or without the right to it."""
    libc = ctypes.CDLL(None, use_errno=True)
    ioperm = getattr(libc, "ioperm", None)
    if ioperm is not None and ioperm(0x340, 2, 1) == 0:
        return False
    try:
        os.close(os.open("/dev/port", os.O_RDWR))
        return False
    except OSError:
        return True


class SimulatedTest(unittest.TestCase):
    library = None

    @classmethod
    def setUpClass(cls):
        cls.library = orvexportio.Library(simulated=True)

    def setUp(self):
        self.simulator = self.library.virtual_controller
        self.simulator.reset()

    def lines(self):
        return [text for text, _ in self.simulator.lines()]


class RawLayerTest(SimulatedTest):
    def test_exports_are_declared_with_their_c_types(self):
        signed_char, single, integer = ctypes.c_byte, ctypes.c_float, ctypes.c_int
        for name in ("MA", "MR", "SV"):
            function = getattr(self.library, name)
            self.assertEqual(function.argtypes, [signed_char, single], name)
            self.assertIs(function.restype, integer, name)
        for name in ("ST", "DH", "GH", "MT", "WS", "RT"):
            function = getattr(self.library, name)
            self.assertEqual(function.argtypes, [signed_char], name)
            self.assertIs(function.restype, integer, name)
        self.assertEqual(self.library.TP.argtypes, [signed_char])
        self.assertIs(self.library.TP.restype, single)
        self.assertEqual(self.library.OK.argtypes, [])

    def test_raw_calls_put_exact_lines_on_the_wire(self):
        self.assertEqual(self.library.MA(1, 2.5), 1)
        self.assertEqual(self.library.MA(2, 0.29), 1)
        self.assertEqual(self.library.SV(1, -1.0), 1)  # the raw layer passes anything on
        self.assertEqual(self.library.MR(0, -0.019), 1)
        self.assertEqual(self.library.OK(), 1)
        self.assertEqual(self.lines(), ["1PA 250\r", "2PA 28\r", "1VA4294967196\r",
                                        "1PR -1\r", "2PR -1\r", "1TP\r"])

    def test_raw_results_are_the_library_values(self):
        self.assertEqual(self.library.TP(0), orvexportio.POSITION_ERROR)
        self.assertEqual(self.library.GH(5), 5)
        self.assertEqual(self.library.ST(-1), -1)
        self.assertEqual(self.lines(), [])
        self.assertIsInstance(self.library.TP(1), float)

    def test_axis_code_257_through_a_32_bit_int_reaches_axis_1(self):
        move_to = self.library.cdll["MA"]  # a prototype of its own, as an int-typed host has
        move_to.argtypes = [ctypes.c_int32, ctypes.c_float]
        move_to.restype = ctypes.c_int
        self.assertEqual(move_to(257, 1.0), 1)
        self.assertEqual(move_to(256, 2.0), 1)  # low byte 0: both axes
        self.assertEqual(move_to(0x7FFFFF03, 3.0), 3)  # low byte 3: nothing sent
        self.assertEqual(self.library.MA(257, 4.0), 1)  # signed char prototype: ctypes keeps the low byte
        self.assertEqual(self.lines(), ["1PA 100\r", "1PA 200\r", "2PA 200\r", "1PA 400\r"])

    def test_received_lines_carry_their_virtual_times(self):
        self.assertEqual(self.library.RT(2), 1)
        received = self.simulator.lines()
        self.assertEqual([text for text, _ in received],
                         ["2FI11\r", "2VA1000;AC50000\r", "2FM3\r", "2DH\r"])
        times = [when for _, when in received]
        self.assertLess(times[1] - times[0], 0.001)
        self.assertGreaterEqual(times[2] - times[1], 0.050)
        self.assertGreaterEqual(times[3] - times[2], 0.050)

    def test_line_callback_sees_each_line_as_it_arrives(self):
        seen = []
        self.simulator.on_line(lambda text, when: seen.append((text, when)))
        self.library.DH(0)
        self.library.TP(2)
        self.assertEqual(seen, self.simulator.lines())
        self.simulator.on_line(None)
        self.library.ST(1)
        self.assertEqual(len(seen), 3)

    def test_card_build_exports_the_eleven_and_nothing_for_the_simulator(self):
        card = orvexportio.Library(os.environ["ORVEXPORTIO_LIBRARY"])
        self.assertIsNone(card.virtual_controller)
        for name in ("MA", "MR", "SV", "ST", "DH", "GH", "TP", "OK", "MT", "WS", "RT"):
            self.assertTrue(callable(getattr(card, name)), name)


class ControllerTest(SimulatedTest):
    def setUp(self):
        super().setUp()
        self.controller = orvexportio.Controller(self.library)

    def test_commissioning_session(self):
        controller = self.controller
        controller.set_up(orvexportio.BOTH_AXES)
        self.assertTrue(controller.answers())
        controller.define_home(0)
        controller.set_speed(0, 25)
        controller.move_to(1, 2.5)
        controller.move_by(2, -0.75)
        self.assertFalse(controller.is_at_rest(1))
        controller.wait_until_at_rest(0)
        self.assertTrue(controller.is_at_rest(0))
        position = controller.position(1)
        self.assertIsInstance(position, float)
        self.assertEqual(position, 2.5)
        self.assertEqual(controller.position(2), -0.75)
        controller.go_home(1)
        controller.stop(0)
        lines = self.lines()
        self.assertEqual(lines[:8], ["1FI11\r", "1VA1000;AC50000\r", "1FM03\r", "1DH\r",
                                     "2FI11\r", "2VA1000;AC50000\r", "2FM03\r", "2DH\r"])
        self.assertEqual(lines[8:16], ["1TP\r", "1DH\r", "2DH\r", "1VA2500\r", "2VA2500\r",
                                       "1PA 250\r", "2PR -75\r", "TS\r"])
        self.assertEqual(lines[16], "1TP\r")  # is_at_rest's 0 is checked for an answer
        self.assertEqual(lines[-6:], ["TS\r", "1TP\r", "2TP\r", "1PA 0\r", "1ST\r", "2ST\r"])

    def test_axis_codes_not_accepted_raise_before_anything_is_sent(self):
        controller = self.controller
        calls = {
            "move_to": lambda axis: controller.move_to(axis, 1.0),
            "move_by": lambda axis: controller.move_by(axis, 1.0),
            "set_speed": lambda axis: controller.set_speed(axis, 1.0),
            "stop": controller.stop,
            "define_home": controller.define_home,
            "go_home": controller.go_home,
            "is_at_rest": controller.is_at_rest,
            "wait_until_at_rest": controller.wait_until_at_rest,
            "set_up": controller.set_up,
            "position": controller.position,
        }
        refused = [3, -1, 255, 256, 257, True, False, 1.0, "1", None]
        for name, call in calls.items():
            for axis in refused + ([0] if name == "position" else []):
                with self.subTest(method=name, axis=axis):
                    with self.assertRaises(ValueError):
                        call(axis)
        self.assertEqual(self.lines(), [])

    def test_values_not_accepted_raise_before_anything_is_sent(self):
        controller = self.controller
        for value in (math.nan, math.inf, -math.inf, 1e39, 10**400, 1e8, -21474838.0,
                      "2.5", None, True):
            with self.subTest(value=value):
                with self.assertRaises(ValueError):
                    controller.move_to(1, value)
                with self.assertRaises(ValueError):
                    controller.move_by(1, value)
        for speed in (-1, -0.02, 42949680.0, math.nan):
            with self.subTest(speed=speed):
                with self.assertRaises(ValueError):
                    controller.set_speed(1, speed)
        self.assertEqual(self.lines(), [])
        controller.move_to(1, 21474836.0)  # the last count that fits
        controller.set_speed(2, 42949672.0)  # sent unsigned
        controller.set_speed(2, -0.001)  # truncates to 0
        self.assertEqual(self.lines(), ["1PA 2147483600\r", "2VA4294967200\r", "2VA0\r"])

    def test_position_without_a_number_raises_timeout(self):
        self.controller.library = FakeLibrary(position=orvexportio.POSITION_ERROR)
        with self.assertRaises(TimeoutError):
            self.controller.position(1)


class FakeLibrary:
    """Stands in for the raw layer where a test needs a particular result."""

    def __init__(self, position):
        self._position = position

    def TP(self, _axis):
        return self._position


@unittest.skipUnless(ports_out_of_reach(), "this machine reaches the ports: the card is not ours")
class CardWithoutPortsTest(unittest.TestCase):
    """The build for the card where it sees an empty bus: every method that
    sends reports the library's time-out as TimeoutError."""

    def test_time_outs_raise(self):
        controller = orvexportio.Controller(
            orvexportio.Library(os.environ["ORVEXPORTIO_LIBRARY"]))
        self.assertFalse(controller.answers())
        for name, call in {
            "move_to": lambda: controller.move_to(1, 2.5),
            "move_by": lambda: controller.move_by(0, 1.0),
            "set_speed": lambda: controller.set_speed(2, 5.0),
            "stop": lambda: controller.stop(0),
            "define_home": lambda: controller.define_home(1),
            "go_home": lambda: controller.go_home(2),
            "position": lambda: controller.position(2),
            "is_at_rest": lambda: controller.is_at_rest(0),
            "wait_until_at_rest": lambda: controller.wait_until_at_rest(1),
            "set_up": lambda: controller.set_up(0),
        }.items():
            with self.subTest(method=name):
                with self.assertRaises(TimeoutError):
                    call()


if __name__ == "__main__":
    unittest.main()
