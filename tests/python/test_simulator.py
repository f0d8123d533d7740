"""The virtual controller driven from Python as a host developer's own tests
would drive it: its faults on demand, its clock and its axes, through
orvexportio.simulator, and what the Controller makes of each fault.

Run by CTest from this folder with the interpreter of the virtual environment
the package was installed into; the cases run on the virtual clock, exactly.
"""

import math
import os
import tempfile
import unittest

import orvexportio
from orvexportio import ControllerTimeout
from orvexportio.simulator import REAL_CLOCK, VIRTUAL_CLOCK


class VirtualControllerTest(unittest.TestCase):
    library = None

    @classmethod
    def setUpClass(cls):
        cls.library = orvexportio.Library(simulated=True)

    def setUp(self):
        self.simulator = self.library.virtual_controller
        self.simulator.reset()
        self.simulator.set_clock(VIRTUAL_CLOCK)
        self.controller = orvexportio.Controller(self.library)

    def tearDown(self):
        self.simulator.reset()

    def lines(self):
        return [text for text, _ in self.simulator.lines()]


class FaultsTest(VirtualControllerTest):
    def test_each_fault_as_the_controller_reports_it(self):
        s = self.simulator
        stop = ("stop", lambda: self.controller.stop(1))
        position = ("position", lambda: self.controller.position(1))
        # fault, call, command bytes taken, controller seconds the call may take at most
        cases = [
            ("silent", s.fault_silent, stop, 0, 0.0091),
            ("stuck at 0x81", lambda: s.fault_stuck_handshake(0x81), stop, 0, 0.0091),
            ("stuck at READY", lambda: s.fault_stuck_handshake(0x80), stop, 0, 1.001),
            ("late by 20 ms before byte 1", lambda: s.fault_readiness_delay(1, 20000), stop, 1,
             0.0092),
            ("dies after 2 bytes", lambda: s.fault_dies_after_bytes(2), stop, 2, 0.0092),
            ("never acknowledges byte 1", lambda: s.fault_never_acknowledges_byte(1), stop, 1,
             1.001),
            ("reply cut after 3 bytes", lambda: s.fault_reply_stops_after(3), position, 4,
             0.0093),
            ("garbled reply", s.fault_garbled_reply, position, 4, 0.001),
            ("overlong reply", s.fault_overlong_reply, position, 4, 0.01),
            ("endless reply", s.fault_endless_reply, position, 4, 0.05),
        ]
        for name, set_fault, (call_name, call), taken, at_most in cases:
            with self.subTest(fault=name, call=call_name):
                s.reset()
                s.set_clock(VIRTUAL_CLOCK)
                set_fault()
                start = s.time()
                with self.assertRaises(ControllerTimeout):
                    call()
                self.assertLessEqual(s.time() - start, at_most)
                self.assertEqual(s.bytes_taken(), taken)
                s.clear_faults()  # healthy again at once
                self.controller.move_to(1, 2.5)
                self.assertEqual(self.controller.position(1), 0.0)

    def test_a_readiness_delay_within_the_window_is_survived(self):
        self.simulator.fault_readiness_delay(1, 5000)
        start = self.simulator.time()
        self.controller.stop(1)
        self.assertGreaterEqual(self.simulator.time() - start, 0.005)
        self.assertEqual(self.lines(), ["1ST\r"])

    def test_a_silent_controller_is_told_from_a_moving_one(self):
        self.simulator.fault_silent()
        self.assertFalse(self.controller.answers())
        with self.assertRaises(ControllerTimeout):
            self.controller.is_at_rest(1)
        with self.assertRaises(ControllerTimeout):
            self.controller.wait_until_at_rest(1, timeout=5)
        self.assertEqual(self.lines(), [])
        self.assertIn("virtual controller", self.controller.diagnose())

    def test_faults_count_bytes_from_now_and_add_up(self):
        self.controller.move_to(1, 2.5)  # 8 bytes
        self.simulator.fault_dies_after_bytes(3)
        with self.assertRaises(ControllerTimeout):
            self.controller.stop(1)
        self.assertEqual(self.simulator.bytes_taken(), 8 + 3)
        self.simulator.reset()
        self.simulator.fault_reply_stops_after(3)
        self.simulator.fault_dies_after_bytes(1000)
        with self.assertRaises(ControllerTimeout):
            self.controller.position(1)
        self.simulator.reset()  # takes every fault away
        self.assertEqual(self.controller.position(1), 0.0)

    def test_a_queued_reply_answers_the_next_query(self):
        # Fractions of a count, which the Controller would round to the
        # hundredth: read through the raw layer, which keeps them.
        self.simulator.queue_reply(b"+12.5\r\n")
        self.assertEqual(self.library.TP(1), 0.125)
        self.simulator.queue_reply("A1.5B2\n")  # str: taken as Latin-1
        self.assertAlmostEqual(self.library.TP(2), 0.0152, places=6)
        self.assertEqual(self.controller.position(1), 0.0)  # the controller's own again
        self.assertEqual(self.simulator.protocol_errors(), 0)

    def test_a_card_at_another_base_has_faults_and_axes_of_its_own(self):
        second = self.simulator.card(0x300)
        second.reset()
        second.fault_silent()
        on_second = orvexportio.Controller(self.library, base=0x300)
        with self.assertRaises(ControllerTimeout):
            on_second.stop(1)
        self.controller.stop(1)  # the first card is not silent
        second.clear_faults()
        on_second.move_to(2, 1.0)
        self.assertEqual((second.base, self.simulator.base), (0x300, 0x340))
        self.assertEqual((second.axis_target(2), self.simulator.axis_target(2)), (100.0, 0.0))
        self.assertEqual(self.lines(), ["1ST\r"])
        self.assertEqual([text for text, _ in second.lines()], ["2PA 100\r"])

    def test_arguments_are_checked_before_the_controller_sees_them(self):
        s = self.simulator
        cases = [
            (lambda: s.fault_stuck_handshake(256), ValueError),
            (lambda: s.fault_stuck_handshake(-1), ValueError),
            (lambda: s.fault_stuck_handshake(True), TypeError),
            (lambda: s.fault_stuck_handshake("128"), TypeError),
            (lambda: s.fault_readiness_delay(-1, 100), ValueError),
            (lambda: s.fault_readiness_delay(0, 2**31), ValueError),
            (lambda: s.fault_readiness_delay(0, 1.5), TypeError),
            (lambda: s.fault_dies_after_bytes(-5), ValueError),
            (lambda: s.fault_never_acknowledges_byte(None), TypeError),
            (lambda: s.fault_reply_stops_after(2**40), ValueError),
            (lambda: s.queue_reply(b"9" * 2049), ValueError),
            (lambda: s.queue_reply(12), TypeError),
            (lambda: s.queue_reply("\u20ac"), UnicodeEncodeError),
            (lambda: s.set_clock("fast"), ValueError),
            (lambda: s.axis_position(3), ValueError),
            (lambda: s.axis_target(0), ValueError),
            (lambda: s.axis_moving(1.0), TypeError),
        ]
        for call, error in cases:
            with self.subTest(error=error.__name__):
                with self.assertRaises(error):
                    call()
        self.controller.stop(1)  # no fault was set by any of them
        self.assertEqual(self.lines(), ["1ST\r"])


class ClockAndAxesTest(VirtualControllerTest):
    def test_the_clock_is_chosen_and_kept_over_a_reset(self):
        self.simulator.set_clock(REAL_CLOCK)
        self.assertEqual(self.simulator.clock(), REAL_CLOCK)
        self.simulator.set_clock(VIRTUAL_CLOCK)
        self.simulator.reset()
        self.assertEqual(self.simulator.clock(), VIRTUAL_CLOCK)
        self.assertLess(self.simulator.time(), 0.0001)

    def test_the_axes_read_out_during_and_after_a_move(self):
        self.controller.move_to(1, 2.5)
        self.assertTrue(self.simulator.axis_moving(1))
        self.assertFalse(self.simulator.axis_moving(2))
        self.assertEqual(self.simulator.axis_target(1), 250.0)
        self.assertLess(self.simulator.axis_position(1), 250.0)
        # WS polls without pausing, so on the virtual clock it takes no real time.
        self.assertEqual(self.library.WS(1), 1)
        self.assertFalse(self.simulator.axis_moving(1))
        self.assertEqual(self.simulator.axis_position(1), 250.0)
        # 250 counts at 1000 a second, accelerating and braking at 50000: 0.27 s.
        self.assertAlmostEqual(self.simulator.time(), 0.27, delta=0.002)
        self.assertTrue(math.isfinite(self.simulator.axis_position(2)))

    def test_the_bus_is_recorded_as_a_waveform(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "bus.vcd")
            self.simulator.record_vcd(path)
            self.controller.stop(1)
            self.simulator.stop_vcd()
            with open(path, encoding="ascii") as dump:
                self.assertIn("$enddefinitions", dump.read())
            self.assertTrue(os.path.isfile(os.path.join(folder, "bus.gtkw")))
            with self.assertRaises(OSError):
                self.simulator.record_vcd(os.path.join(folder, "no", "such", "folder.vcd"))


if __name__ == "__main__":
    unittest.main()
