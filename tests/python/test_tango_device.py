"""The OrvexAxis Tango device, run in this process by PyTango's
DeviceTestContext against the virtual controller in real time.

The device and these tests load the same virtual-controller library, so the
tests see every line the device sent. PyTango runs one such context per
process: every case here shares it, and each starts from a reset controller
and a device set up again. The card's readings are also tested on a clock of
the test's own, and the server's command line.

Run by CTest from this folder with an interpreter that imports tango and
the package.
"""

import contextlib
import io
import math
import threading
import time
import unittest
from unittest import mock

import tango
from tango.test_context import DeviceTestContext

import orvexportio
from orvexportio import tango_server
from orvexportio.tango_server import OrvexAxis

from setup_lines import AXIS_1_SETUP_LINES
from tango_support import ChangeEvents, arm_watchdog, wait_for, without_repeats

ON, MOVING, FAULT = tango.DevState.ON, tango.DevState.MOVING, tango.DevState.FAULT
ATTR_VALID, ATTR_CHANGING = tango.AttrQuality.ATTR_VALID, tango.AttrQuality.ATTR_CHANGING

#: What an operator's text must not hold: calls and classes of the Python package.
PYTHON_NAMES = r"\b[a-z_]+\(\d*\)|Controller\b"

#: Lines the device sends to learn state and position; anything else acts.
QUERY_LINES = {"TS\r", "1TP\r", "2TP\r"}

#: Generous: the real clock on a shared machine.
SETTLE = 5.0


def setUpModule():
    arm_watchdog(120)


class OrvexAxisDeviceTest(unittest.TestCase):
    context = None
    proxy = None
    simulator = None

    @classmethod
    def setUpClass(cls):
        cls.simulator = orvexportio.Library(simulated=True).virtual_controller
        cls.context = DeviceTestContext(OrvexAxis, device_name="test/orvex/1",
                                        properties={"Simulated": True}, timeout=20)
        cls.proxy = cls.context.__enter__()
        cls.proxy.set_timeout_millis(10000)

    @classmethod
    def tearDownClass(cls):
        cls.context.__exit__(None, None, None)

    def setUp(self):
        with tango_server.BUS_LOCK:  # not in the middle of one of the device's lines
            self.simulator.reset()
        self.proxy.SetUp()
        self.assertTrue(wait_for(lambda: self.proxy.state() == ON, SETTLE), self.proxy.status())
        self.mark = len(self.simulator.lines())

    # ---- Helpers ----------------------------------------------------------------

    def lines_since_mark(self):
        return [text for text, _ in self.simulator.lines()[self.mark:]]

    def acting_lines_since_mark(self):
        return [line for line in self.lines_since_mark() if line not in QUERY_LINES]

    def wait_for_state(self, state, timeout=SETTLE):
        reached = wait_for(lambda: self.proxy.state() == state, timeout)
        self.assertTrue(reached, f"not {state} after {timeout} s: {self.proxy.status()}")

    def timed_move(self, target):
        started = time.monotonic()
        self.proxy.Position = target
        self.wait_for_state(ON)
        return time.monotonic() - started

    def assert_refused(self, act, reason):
        with self.assertRaises(tango.DevFailed) as refusal:
            act()
        return refusal.exception.args[0]

    # ---- Motion -------------------------------------------------------------------

    def test_a_move_shows_moving_then_on_and_ends_at_the_target(self):
        events = ChangeEvents(self.proxy, "State")
        try:
            self.proxy.Position = 2.5  # 0.27 s at the set-up speed
            self.assertEqual(self.proxy.state(), MOVING)  # at once, not one reading later
            # What Tango motor clients expect of a moving axis's position.
            self.assertEqual(self.proxy.read_attribute("Position").quality, ATTR_CHANGING)
            self.wait_for_state(ON)
            self.assertTrue(wait_for(lambda: events.values()[-2:] == [MOVING, ON], SETTLE),
                            events.values())
            self.assertEqual(events.values().count(MOVING), 1, events.values())
        finally:
            events.close()
        position = self.proxy.read_attribute("Position")
        self.assertEqual((position.value, position.quality), (2.5, ATTR_VALID))
        self.assertEqual(self.acting_lines_since_mark(), ["1PA 250\r"])

    def test_stop_during_a_move_stops_it_short(self):
        self.proxy.Position = 5.0  # half a second
        time.sleep(0.15)
        self.proxy.Stop()
        self.wait_for_state(ON, timeout=1.0)
        stopped_at = self.proxy.Position
        self.assertGreater(stopped_at, 0.0)
        self.assertLess(stopped_at, 4.5)
        time.sleep(0.3)
        self.assertEqual(self.proxy.Position, stopped_at)
        self.assertEqual(self.acting_lines_since_mark(), ["1PA 500\r", "1ST\r"])

    def test_velocity_changes_how_long_a_move_takes(self):
        self.proxy.Velocity = 40.0
        fast = self.timed_move(4.0)  # 0.1 s cruising
        self.proxy.Velocity = 5.0
        slow = self.timed_move(0.0)  # 0.8 s cruising
        self.assertGreater(slow - fast, 0.4, (fast, slow))
        self.assertEqual(self.proxy.Velocity, 5.0)
        self.assertEqual(self.acting_lines_since_mark(),
                         ["1VA4000\r", "1PA 400\r", "1VA500\r", "1PA 0\r"])

    def test_velocity_reads_the_last_value_set_or_the_set_up_speed(self):
        self.assertEqual(self.proxy.Velocity, 10.0)
        self.proxy.Velocity = 25.5
        self.assertEqual(self.proxy.Velocity, 25.5)
        self.proxy.SetUp()
        self.assertEqual(self.proxy.Velocity, 10.0)

    def test_commands_send_their_lines_for_this_axis(self):
        cases = [
            (lambda: self.proxy.MoveRelative(1.5), ["1PR 150\r"]),
            (lambda: self.proxy.Home(), ["1PA 0\r"]),
            (lambda: self.proxy.SetHome(), ["1DH\r"]),
            (lambda: self.proxy.Stop(), ["1ST\r"]),
            (lambda: self.proxy.SetUp(), AXIS_1_SETUP_LINES),
        ]
        for act, lines in cases:
            with self.subTest(lines=lines):
                self.mark = len(self.simulator.lines())
                act()
                self.wait_for_state(ON)
                self.assertEqual(self.acting_lines_since_mark(), lines)

    def test_positions_read_back_as_the_decimals_the_controller_holds(self):
        # Sent as the nearest hundredth, where the library alone would
        # truncate the float nearest 0.29 to 28 counts.
        for target, held in [(0.29, 0.29), (-0.57, -0.57), (0.125, 0.13)]:
            with self.subTest(target=target):
                self.proxy.Position = target
                self.wait_for_state(ON)
                self.assertEqual(self.proxy.Position, held)
        self.assertEqual(self.acting_lines_since_mark(), ["1PA 29\r", "1PA -57\r", "1PA 13\r"])

    def test_move_relative_goes_from_where_the_axis_stands(self):
        self.proxy.Position = 1.0
        self.wait_for_state(ON)
        self.proxy.MoveRelative(-0.25)
        self.wait_for_state(ON)
        self.assertEqual(self.proxy.Position, 0.75)

    # ---- Refusals -------------------------------------------------------------------

    def test_writes_out_of_range_or_non_finite_are_refused_and_nothing_is_sent(self):
        nan, inf = float("nan"), float("inf")

        def write(attribute, value):
            return lambda: self.proxy.write_attribute(attribute, value)

        cases = [
            ("Position", write("Position", 2.2e7)),  # 2.2e9 counts: past 2**31
            ("Position", write("Position", -2.2e7)),
            ("Position", write("Position", nan)),
            ("Position", write("Position", inf)),
            ("Position", write("Position", 1e300)),  # not even a single-precision number
            ("MoveRelative", lambda: self.proxy.MoveRelative(2.2e7)),
            ("MoveRelative", lambda: self.proxy.MoveRelative(nan)),
            ("MoveRelative", lambda: self.proxy.MoveRelative(-inf)),
            ("Velocity", write("Velocity", -1.0)),
            ("Velocity", write("Velocity", 4.3e7)),  # 4.3e9 counts: past 2**32
            ("Velocity", write("Velocity", nan)),
            ("Velocity", write("Velocity", inf)),
        ]
        for what, act in cases:
            with self.subTest(what=what, act=act):
                self.assert_refused(act, what)
        self.assertEqual(self.acting_lines_since_mark(), [])
        self.assertEqual(self.proxy.state(), ON)
        self.assertEqual(self.proxy.Velocity, 10.0)

    def test_a_refusal_says_why(self):
        error = self.assert_refused(lambda: self.proxy.write_attribute("Position", 2.2e7),
                                    "Position")
        self.assertEqual(error.reason, "ORVEX_InvalidValue")
        self.assertIn("32-bit", error.desc)
        self.assertIn("nothing was sent", error.desc)

    def test_the_largest_positions_that_fit_are_sent(self):
        self.proxy.Velocity = 0.0  # the controller does not start at zero speed
        self.proxy.Position = 2.1e7
        self.proxy.Position = -2.1e7
        self.assertEqual(self.acting_lines_since_mark(),
                         ["1VA0\r", "1PA 2100000000\r", "1PA -2100000000\r"])

    # ---- A controller that does not answer ----------------------------------------------

    def test_a_silent_controller_gives_fault_naming_the_cause_and_recovers(self):
        events = ChangeEvents(self.proxy, "State")
        try:
            self.simulator.fault_silent()
            self.wait_for_state(FAULT, timeout=2.0)
            status = self.proxy.status()
            self.assertIn("does not answer", status)
            self.assertIn("Axis 1", status)
            self.assertNotRegex(status, PYTHON_NAMES)  # for an operator
            with self.assertRaises(tango.DevFailed) as unread:
                self.proxy.read_attribute("Position")
            self.assertEqual(unread.exception.args[0].reason, "ORVEX_NoAnswer")
            refused = self.assert_refused(lambda: self.proxy.write_attribute("Position", 1.0),
                                          "Position")
            self.assertEqual(refused.reason, "ORVEX_AxisInFault")
            self.assertIn("FAULT", refused.desc)
            self.assert_refused(lambda: self.proxy.MoveRelative(1.0), "MoveRelative")
            self.assert_refused(lambda: self.proxy.Home(), "Home")

            self.simulator.clear_faults()
            self.wait_for_state(ON, timeout=2.0)
            self.assertTrue(wait_for(lambda: without_repeats(events.values())[-2:] == [FAULT, ON],
                                     SETTLE), events.values())
        finally:
            events.close()
        self.assertEqual(self.proxy.Position, 0.0)
        self.proxy.Position = 0.5  # it moves again
        self.wait_for_state(ON)
        self.assertEqual(self.proxy.Position, 0.5)
        # A silent controller takes no line; what reached it is the move after.
        self.assertEqual(self.acting_lines_since_mark(), ["1PA 50\r"])

    def test_stop_is_sent_even_in_fault(self):
        self.simulator.fault_silent()
        self.wait_for_state(FAULT, timeout=2.0)
        error = self.assert_refused(lambda: self.proxy.Stop(), "Stop")
        self.assertEqual(error.reason, "ORVEX_NoAnswer")  # tried, not refused
        self.assertIn("Stop on axis 1: the controller did not answer in time", error.desc)
        self.assertNotRegex(error.desc, PYTHON_NAMES)
        self.simulator.clear_faults()
        self.wait_for_state(ON, timeout=2.0)

    # ---- Polling ---------------------------------------------------------------------

    def test_many_clients_read_the_axis_at_most_twenty_times_a_second(self):
        seconds = 1.0
        stop = threading.Event()

        def hammer():
            proxy = tango.DeviceProxy(self.context.get_device_access())
            proxy.set_source(tango.DevSource.DEV)
            while not stop.is_set():
                proxy.state()
                proxy.status()
                proxy.read_attribute("Position")

        clients = [threading.Thread(target=hammer) for _ in range(4)]
        start = len(self.simulator.lines())
        for client in clients:
            client.start()
        time.sleep(seconds)
        stop.set()
        for client in clients:
            client.join(SETTLE)
        received = [text for text, _ in self.simulator.lines()[start:]]
        self.assertGreaterEqual(received.count("TS\r"), 5)  # it does read
        self.assertLessEqual(received.count("TS\r"), 20 * seconds + 5, received)
        self.assertLessEqual(received.count("1TP\r"), 20 * seconds + 5, received)



class FakeController:
    """Answers as the package's Controller does, counting what it is asked."""

    def __init__(self):
        self.silent = False
        self.moving = False
        self.calls = []

    def _asked(self, call):
        self.calls.append(call)
        if self.silent:
            raise orvexportio.ControllerTimeout(f"{call}: no answer")

    def position(self, axis):
        self._asked(f"position({axis})")
        return 2.46

    def is_at_rest(self, axis):
        self._asked(f"is_at_rest({axis})")
        return not self.moving

    def move_to(self, axis, target):
        if not math.isfinite(target):
            raise ValueError("not finite")
        self._asked(f"move_to({axis}, {target})")

    def diagnose(self):
        self.calls.append("diagnose()")
        return "the cable is out"


class CardTest(unittest.TestCase):
    """The card's readings on a clock of the test's own."""

    def setUp(self):
        self.now = 100.0
        clock = mock.patch.object(tango_server.time, "monotonic", lambda: self.now)
        clock.start()
        self.addCleanup(clock.stop)
        self.controller = FakeController()
        self.card = tango_server.Card(self.controller, threading.Lock())

    def test_a_reading_is_kept_until_it_is_too_old(self):
        first = self.card.reading(1)
        self.now += tango_server.READING_MAX_AGE * 0.99
        self.assertIs(self.card.reading(1), first)
        self.assertEqual(self.controller.calls, ["position(1)", "is_at_rest(1)"])
        self.now += tango_server.READING_MAX_AGE * 0.02
        self.assertIsNot(self.card.reading(1), first)
        self.assertEqual(len(self.controller.calls), 4)
        self.card.reading(2)  # each axis has its own
        self.assertEqual(self.controller.calls[-2:], ["position(2)", "is_at_rest(2)"])
        self.assertEqual(self.card.readings_taken(1), 2)

    def test_a_reading_says_where_and_how_the_axis_stands(self):
        self.assertEqual((self.card.reading(1).state, self.card.reading(1).position), (ON, 2.46))
        self.controller.moving = True
        self.now += 1
        self.assertEqual(self.card.reading(1).state, MOVING)

    def test_silence_is_a_fault_diagnosed_once_while_it_lasts(self):
        self.controller.silent = True
        fault = self.card.reading(1)
        self.assertEqual(fault.state, FAULT)
        self.assertIn("does not answer", fault.status)
        self.assertIn("the cable is out", fault.status)
        for _ in range(3):
            self.now += 1
            self.assertEqual(self.card.reading(1).status, fault.status)
        self.assertEqual(self.controller.calls.count("diagnose()"), 1)
        self.controller.silent = False
        self.now += 1
        self.assertEqual(self.card.reading(1).state, ON)

    def test_a_move_shows_moving_at_once_from_where_the_axis_stood(self):
        self.card.reading(1)
        self.card.act(1, lambda controller: controller.move_to(1, 5.0), moves=True,
                      allowed_in_fault=False)
        reading = self.card.reading(1)
        self.assertEqual((reading.state, reading.position), (MOVING, 2.46))

    def test_a_move_is_refused_in_fault_and_nothing_is_sent(self):
        self.controller.silent = True
        self.card.reading(1)
        self.now += 1
        with self.assertRaises(tango_server.AxisInFault):
            self.card.act(1, lambda controller: controller.move_to(1, 5.0), moves=True,
                          allowed_in_fault=False)
        self.assertNotIn("move_to(1, 5.0)", self.controller.calls)

    def test_a_refused_value_leaves_the_reading_and_a_time_out_drops_it(self):
        first = self.card.reading(1)
        with self.assertRaises(ValueError):
            self.card.act(1, lambda controller: controller.move_to(1, math.nan), moves=True)
        self.assertIs(self.card.reading(1), first)
        self.controller.silent = True
        with self.assertRaises(orvexportio.ControllerTimeout):
            self.card.act(1, lambda controller: controller.move_to(1, 1.0), moves=True)
        self.assertEqual(self.card.reading(1).state, FAULT)  # asked at once, not 45 ms on


class CardOutOfReachTest(unittest.TestCase):
    def test_the_card_out_of_reach_is_a_fault_that_says_why(self):
        controller = orvexportio.Controller()  # the card's build, on a machine without it
        if controller.answers():
            self.skipTest("a controller answers at 0x340 here")
        reading = tango_server.Card(controller, threading.Lock()).reading(2)
        self.assertEqual(reading.state, FAULT)
        self.assertIn("Axis 2: the controller does not answer", reading.status)
        self.assertIn(controller.diagnose(), reading.status)


class CommandLineTest(unittest.TestCase):
    def test_the_servers_own_options_are_taken_out_and_the_rest_is_tangos(self):
        unset = {"Simulated": False, "Library": ""}
        tango_part = ["-nodb", "-dlist", "a/b/1,a/b/2", "-v4", "-ORBendPoint", "giop:tcp::0"]
        cases = [
            (["lab1"], unset, ["lab1"]),
            (["lab1", "--simulated"] + tango_part, {"Simulated": True, "Library": ""},
             ["lab1"] + tango_part),
            (["lab1", "--library", "/opt/x.so", "-nodb"], {"Simulated": False,
                                                         "Library": "/opt/x.so"},
             ["lab1", "-nodb"]),
            (["--library=/opt/y.so", "lab1"], {"Simulated": False, "Library": "/opt/y.so"},
             ["lab1"]),
        ]
        for arguments, options, rest in cases:
            with self.subTest(arguments=arguments):
                self.assertEqual(tango_server._split_options(arguments), (options, rest))

    def test_help_names_the_servers_options_and_starts_nothing(self):
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            self.assertEqual(tango_server.main(["--help"]), 0)
        self.assertIn("--simulated", printed.getvalue())
        self.assertIn("-nodb -dlist", printed.getvalue())


if __name__ == "__main__":
    unittest.main()
