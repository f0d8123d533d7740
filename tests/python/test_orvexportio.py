"""The orvexportio package as pip installed it into a virtual environment:
both layers, the lines that reach the virtual controller, errors and their
types, the wait with its timeout and Ctrl-C, logging, and the diagnosis on
the card build of this machine.

Run by CTest from this folder with the environment's interpreter; the
package finds the build's libraries by itself (no ORVEXPORTIO_* variables).
"""

import ctypes
import ctypes.util
import errno
import logging
import math
import os
import re
import signal
import subprocess
import sys
import threading
import time
import unittest
from pathlib import Path

import orvexportio

from setup_lines import AXIS_2_SETUP_LINES, BOTH_AXES_SETUP_LINES


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


class PackageTest(unittest.TestCase):
    def test_is_the_installed_copy_not_the_source(self):
        venv = Path(os.environ["ORVEX_TEST_VENV"]).resolve()
        package = Path(orvexportio.__file__).resolve()
        self.assertTrue(package.is_relative_to(venv), package)
        self.assertTrue((package.parent / "py.typed").is_file())

    def test_version_is_the_projects(self):
        self.assertEqual(orvexportio.__version__, os.environ["ORVEX_TEST_PROJECT_VERSION"])

    def test_namespace_holds_only_the_public_names(self):
        public = {name for name in dir(orvexportio) if not name.startswith("_")}
        self.assertEqual(public, set(orvexportio.__all__))
        for name in ("ctypes", "os", "math", "sys", "logging", "time", "Path"):
            self.assertNotIn(name, dir(orvexportio))

    def test_public_methods_carry_type_hints(self):
        for cls in (orvexportio.Controller, orvexportio.Library, orvexportio.VirtualController):
            for name, member in vars(cls).items():
                if callable(member) and not name.startswith("_"):
                    with self.subTest(method=f"{cls.__name__}.{name}"):
                        self.assertIn("return", member.__annotations__)

    def test_errors_are_python_kinds(self):
        self.assertTrue(issubclass(orvexportio.ControllerTimeout, orvexportio.OrvexError))
        self.assertTrue(issubclass(orvexportio.ControllerTimeout, TimeoutError))
        self.assertTrue(issubclass(orvexportio.LibraryError, orvexportio.OrvexError))
        self.assertTrue(issubclass(orvexportio.LibraryError, OSError))

    def test_logger_stays_quiet_until_configured(self):
        logger = logging.getLogger("orvexportio")
        self.assertTrue(any(isinstance(h, logging.NullHandler) for h in logger.handlers))

    def test_error_codes_are_the_headers(self):
        from orvexportio import _constants
        header = Path(os.environ["ORVEX_TEST_HEADER"]).read_text()
        defined = dict(re.findall(r"^#define ORVEX_(SUCCESS|ERROR_\w+) +\(?(-?[0-9]+)\)?$",
                                  header, re.M))
        self.assertGreater(len(defined), 10)
        for name, value in defined.items():
            with self.subTest(name=name):
                self.assertEqual(getattr(_constants, name), int(value))

    def test_constants_are_the_headers(self):
        from orvexportio import _constants
        header = Path(os.environ["ORVEX_TEST_HEADER"]).read_text()
        defined = dict(re.findall(r"^#define ORVEX_(\w+) +([-0-9.e]+)f?$", header, re.M))
        for name in ("COUNTS_PER_UNIT", "STATUS_SILENCE_SECONDS", "SETUP_SPEED_COUNTS",
                     "POSITION_ERROR"):
            with self.subTest(name=name):
                self.assertEqual(getattr(_constants, name), float(defined[name]))


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

    def test_status_word_of_mt_for_a_code_without_axis(self):
        # The wait relies on it: the status reply's first bytes, its line feed among them.
        word = self.library.MT(3)
        self.assertNotEqual(word, 0)
        self.assertEqual(word & 0x03, 0)  # both axes at rest
        self.library.MA(2, 5.0)
        self.assertEqual(self.library.MT(3) & 0x03, 0x02)
        self.assertEqual(self.lines(), ["TS\r", "2PA 500\r", "TS\r"])

    def test_received_lines_carry_their_controller_times(self):
        self.assertEqual(self.library.RT(2), 1)
        received = self.simulator.lines()
        self.assertEqual([text for text, _ in received], AXIS_2_SETUP_LINES)
        times = [when for _, when in received]
        self.assertLess(times[1] - times[0], 0.005)
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
        card = orvexportio.Library()
        self.assertIsNone(card.virtual_controller)
        self.assertEqual(card.build, "card")
        self.assertIn("liborvexportio.so.1", card.path)
        for name in ("MA", "MR", "SV", "ST", "DH", "GH", "TP", "OK", "MT", "WS", "RT"):
            self.assertTrue(callable(getattr(card, name)), name)

    def test_a_file_that_is_not_the_library_is_refused_by_name(self):
        libm = ctypes.util.find_library("m")
        with self.assertRaises(orvexportio.LibraryError) as raised:
            orvexportio.Library(libm)
        self.assertIn("is not an orvexportio library", str(raised.exception))
        with self.assertRaises(orvexportio.LibraryError) as raised:
            orvexportio.Library("/nonexistent/liborvexportio.so.1")
        self.assertIn("/nonexistent/liborvexportio.so.1", str(raised.exception))


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
        self.assertEqual(lines[:8], BOTH_AXES_SETUP_LINES)
        self.assertEqual(lines[8:16], ["1TP\r", "1DH\r", "2DH\r", "1VA2500\r", "2VA2500\r",
                                       "1PA 250\r", "2PR -75\r", "TS\r"])
        self.assertEqual(lines[16], "1TP\r")  # is_at_rest's 0 is checked for an answer
        waited = lines[17:-6]
        self.assertGreater(len(waited), 0)
        self.assertEqual(set(waited), {"TS\r"})  # the wait asks for the status only
        self.assertEqual(lines[-6:], ["TS\r", "1TP\r", "2TP\r", "1PA 0\r", "1ST\r", "2ST\r"])

    def methods_taking_an_axis(self):
        controller = self.controller
        return {
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

    def test_axis_codes_not_accepted_raise_before_anything_is_sent(self):
        for name, call in self.methods_taking_an_axis().items():
            for axis in [3, -1, 255, 256, 257] + ([0] if name == "position" else []):
                with self.subTest(method=name, axis=axis):
                    with self.assertRaises(ValueError):
                        call(axis)
            for axis in (True, False, 1.0, "1", None, b"\x01", [1]):
                with self.subTest(method=name, axis=axis):
                    with self.assertRaises(TypeError):
                        call(axis)
        self.assertEqual(self.lines(), [])

    def test_axis_is_taken_once_from_an_object_that_changes(self):
        class Fickle:
            """An integer-like object whose value changes each time it is asked."""

            def __init__(self, *values):
                self.values = list(values)

            def __index__(self):
                return self.values.pop(0) if len(self.values) > 1 else self.values[0]

        self.controller.move_to(Fickle(1, 3), 1.0)  # checked as 1, sent as 1
        self.controller.stop(Fickle(2, 0))
        with self.assertRaises(ValueError):
            self.controller.go_home(Fickle(3, 1))  # refused as 3, never sent as 1
        self.assertEqual(self.lines(), ["1PA 100\r", "2ST\r"])

    def test_values_not_accepted_raise_before_anything_is_sent(self):
        controller = self.controller
        for value in (math.nan, math.inf, -math.inf, 1e39, 10**400, -10**400, 1e8, -21474838.0):
            with self.subTest(value=value):
                with self.assertRaises(ValueError):
                    controller.move_to(1, value)
                with self.assertRaises(ValueError):
                    controller.move_by(1, value)
        for value in ("2.5", None, True, b"1", 1j):
            with self.subTest(value=value):
                with self.assertRaises(TypeError):
                    controller.move_to(1, value)
                with self.assertRaises(TypeError):
                    controller.move_by(1, value)
                with self.assertRaises(TypeError):
                    controller.set_speed(1, value)
        # Negative, beyond 32 bits, not a number, and above 0 but 0 counts.
        for speed in (-1, -0.02, -0.001, 42949680.0, math.nan, 0.0049):
            with self.subTest(speed=speed):
                with self.assertRaises(ValueError):
                    controller.set_speed(1, speed)
        self.assertEqual(self.lines(), [])
        controller.move_to(1, 21474836.0)  # the last count that fits
        controller.set_speed(2, 42949672.0)  # sent unsigned
        controller.set_speed(2, 0.005)  # the least speed: half a count rounds up
        self.assertEqual(self.lines(), ["1PA 2147483600\r", "2VA4294967200\r", "2VA1\r"])

    def test_values_go_out_as_the_nearest_hundredth(self):
        # The library truncates float x 100: the float nearest 0.29 gives 28
        # counts, that nearest 0.01 gives 0.
        controller = self.controller
        with self.assertLogs("orvexportio", logging.DEBUG) as logged:
            controller.set_speed(1, 0.01)
            controller.move_to(1, 0.29)
            controller.move_by(2, -0.57)
            controller.move_to(2, 0.125)  # halves away from zero
        self.assertEqual(self.lines(), ["1VA1\r", "1PA 29\r", "2PR -57\r", "2PA 13\r"])
        self.assertEqual(logged.records[1].getMessage(), "move_to(1, 0.29) -> delivered")
        # Fits in 32 bits, but floats lie 2 apart there.
        with self.assertRaisesRegex(ValueError, "the nearest that do are 21474836.0 and 21474838.0"):
            controller.move_to(1, 21474836.47)

    def test_positions_come_back_to_the_nearest_hundredth(self):
        self.simulator.queue_reply("1583\r\n")
        with self.assertLogs("orvexportio", logging.DEBUG) as logged:
            self.assertEqual(self.controller.position(1), 15.83)  # TP gives 15.829999923706055
        self.assertEqual(logged.records[0].getMessage(), "position(1) -> 15.83")

    def test_position_without_a_number_raises_controller_timeout(self):
        self.controller.library = FakeLibrary(position=orvexportio.POSITION_ERROR)
        with self.assertRaises(orvexportio.ControllerTimeout):
            self.controller.position(1)

    def test_context_manager_closes_and_repr_names_build_and_library(self):
        with orvexportio.Controller(simulated=True) as controller:
            text = repr(controller)
            self.assertIn("virtual controller build", text)
            self.assertIn("liborvexportio-sim.so.1", text)
            controller.stop(1)
        self.assertTrue(controller.closed)
        self.assertIn("closed", repr(controller))
        with self.assertRaises(orvexportio.OrvexError):
            controller.move_to(1, 1.0)
        with self.assertRaises(orvexportio.OrvexError):
            with controller:
                pass
        controller.close()  # again: nothing happens
        self.assertEqual(self.lines(), ["1ST\r"])
        self.assertIn("card build", repr(orvexportio.Controller()))

    def test_each_call_is_logged_at_debug_with_its_result(self):
        controller = self.controller
        with self.assertLogs("orvexportio", logging.DEBUG) as logged:
            controller.move_to(1, 2.5)
            controller.position(1)
            controller.answers()
            controller.is_at_rest(2)
            controller.wait_until_at_rest(2)
        messages = [(record.levelno, record.getMessage()) for record in logged.records]
        self.assertEqual(messages[:4], [
            (logging.DEBUG, "move_to(1, 2.5) -> delivered"),
            (logging.DEBUG, "position(1) -> 0.0"),
            (logging.DEBUG, "answers() -> True"),
            (logging.DEBUG, "is_at_rest(2) -> True"),
        ])
        self.assertEqual(messages[4][0], logging.DEBUG)
        self.assertTrue(messages[4][1].startswith("wait_until_at_rest(2) -> at rest"), messages)

    def test_diagnose_on_the_virtual_controller(self):
        self.assertIn("virtual controller", self.controller.diagnose())


SECOND_CARD = 0x300


class SecondCardTest(SimulatedTest):
    """A card opened by its base, beside the card of the eleven functions."""

    def setUp(self):
        super().setUp()
        self.second = orvexportio.Controller(self.library, base=SECOND_CARD)
        self.second_card = self.simulator.card(SECOND_CARD)
        self.second_card.reset()

    def second_lines(self):
        return [text for text, _ in self.second_card.lines()]

    def test_each_card_takes_only_its_own_lines(self):
        again = orvexportio.Controller(simulated=True, base=SECOND_CARD)  # the same card
        self.second.move_to(1, 0.29)  # the nearest hundredth, through the card API too
        orvexportio.Controller(self.library).move_to(2, 2.5)
        again.set_speed(2, 0.01)
        self.assertEqual(self.second.position(1), 0.0)
        self.assertEqual(self.second_lines(), ["1PA 29\r", "2VA1\r", "1TP\r"])
        self.assertEqual(self.lines(), ["2PA 250\r"])
        self.assertEqual((self.second.base, orvexportio.Controller(self.library).base),
                         (SECOND_CARD, None))

    def test_a_refused_base_names_the_device_and_nothing_is_put_on_the_bus(self):
        cases = [(0x3F8, ValueError, "the first serial port (COM1)"),
                 (0x400, ValueError, "outside 0x100-0x3FE"),
                 (0x341, ValueError, "another card"),  # over the first card's registers
                 (-1, ValueError, "not a port address"),
                 ("0x300", TypeError, "integer"),
                 (True, TypeError, "bool")]
        for base, error, named in cases:
            with self.subTest(base=base):
                with self.assertRaisesRegex(error, re.escape(named)):
                    orvexportio.Controller(self.library, base=base)
        self.assertEqual(self.lines(), [])

    def test_the_card_apis_results_become_the_packages_exceptions(self):
        self.second_card.fault_silent()
        with self.assertRaises(orvexportio.ControllerTimeout):
            self.second.stop(1)
        with self.assertRaises(orvexportio.ControllerTimeout):
            self.second.is_at_rest(0)
        self.assertFalse(self.second.answers())
        self.second_card.clear_faults()
        self.second_card.queue_reply(b"none\r\n")
        with self.assertRaises(orvexportio.OrvexError) as unnumbered:
            self.second.position(2)
        self.assertNotIsInstance(unnumbered.exception, TimeoutError)  # it did answer
        # A speed the eleven would send unsigned, which the card API refuses.
        with self.assertRaisesRegex(ValueError, "nothing was sent"):
            self.second.set_speed(1, 30000000.0)
        self.assertEqual(self.second_lines(), ["2TP\r"])
        self.assertEqual(self.lines(), [])

    def test_holder_on_a_bus_that_keeps_processes_apart_or_not(self):
        with self.assertRaisesRegex(orvexportio.OrvexError, "not kept apart"):
            self.second.holder()  # a bus of this process alone keeps no record
        print(run_in_child(self, "scenario_holder_on_a_shared_bus").strip(), end=" ... ",
              file=sys.stderr)


def scenario_holder_on_a_shared_bus():
    name = f"python-test-{os.getpid()}"
    library = orvexportio.Library(simulated=True)
    try:
        library.virtual_controller.share("no spaces")
        raise AssertionError("a name with a space was taken")
    except ValueError:
        pass
    records = Path(os.environ.get("ORVEXPORTIO_RECORD_DIR", "/dev/shm"))
    try:
        library.virtual_controller.share(name)
        controller = orvexportio.Controller(library, base=SECOND_CARD)
        assert controller.holder() is None  # held by nobody between exchanges
        controller.stop(2)
        assert library.virtual_controller.card(SECOND_CARD).lines()[-1][0] == "2ST\r"
        print("holder: not held")
    finally:
        (Path("/dev/shm") / f"orvexportio-sim-{name}").unlink(missing_ok=True)
        for record in records.glob(f"orvexportio-sim-{name}-*"):
            record.unlink()


def slow_move_on_axis_1():
    """A controller whose axis 1 is on a move so slow that it lasts, whether
    the virtual controller's clock runs in real time or only as the ports are
    touched."""
    library = orvexportio.Library(simulated=True)
    library.virtual_controller.reset()
    controller = orvexportio.Controller(library)
    controller.set_speed(1, 0.05)  # five counts a second
    controller.move_to(1, 1000.0)
    assert not controller.is_at_rest(1)
    return controller


def scenario_timeout():
    controller = slow_move_on_axis_1()
    started = time.monotonic()
    try:
        controller.wait_until_at_rest(1, timeout=0.3)
        raise AssertionError("the wait ended without its timeout")
    except orvexportio.ControllerTimeout as timeout:
        assert "still move after 0.3 s" in str(timeout), timeout
    waited = time.monotonic() - started
    assert 0.3 <= waited < 1.5, waited
    assert not controller.is_at_rest(1)  # it keeps moving
    controller.wait_until_at_rest(2, timeout=0)  # axis 2 is at rest: no time needed
    controller.stop(0)


def scenario_interrupt():
    controller = slow_move_on_axis_1()
    sent_at = []

    def interrupt():
        sent_at.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(0.5, interrupt)
    timer.start()
    try:
        controller.wait_until_at_rest(0)
        raise AssertionError("the wait ended without Ctrl-C")
    except KeyboardInterrupt:
        interrupted_at = time.monotonic()
    finally:
        timer.cancel()
    assert len(sent_at) == 1
    latency = interrupted_at - sent_at[0]
    assert latency < 0.1, latency
    assert not controller.is_at_rest(1)  # it keeps moving until stopped
    controller.stop(1)
    print(f"Ctrl-C took {latency * 1000:.1f} ms")


def run_in_child(test, scenario):
    """Runs scenario() of this module in a child process with a time limit;
    its standard output."""
    run = subprocess.run([sys.executable, "-c", f"import test_orvexportio; "
                          f"test_orvexportio.{scenario}()"],
                         cwd=Path(__file__).resolve().parent, capture_output=True,
                         text=True, timeout=60, check=False)
    test.assertEqual(run.returncode, 0, run.stdout + run.stderr)
    return run.stdout


class WaitTest(unittest.TestCase):
    """The wait on a long move, each case in a child process of its own with a
    time limit, so that a wait that does not end fails its case only."""

    def in_child(self, scenario):
        return run_in_child(self, scenario)

    def test_timeout_raises_controller_timeout_and_the_axis_moves_on(self):
        self.in_child("scenario_timeout")

    def test_ctrl_c_ends_the_wait_within_a_tenth_of_a_second(self):
        print(self.in_child("scenario_interrupt").strip(), end=" ... ", file=sys.stderr)

    def test_timeout_must_be_seconds(self):
        controller = orvexportio.Controller(FakeLibrary())
        for timeout, error in (("1", TypeError), (True, TypeError), (-0.1, ValueError),
                               (math.nan, ValueError)):
            with self.subTest(timeout=timeout):
                with self.assertRaises(error):
                    controller.wait_until_at_rest(1, timeout=timeout)
        self.assertEqual(controller.library.calls, [])

    def test_the_wait_pauses_between_polls_unless_told_not_to(self):
        polls = {}
        for pause in (0.01, 0.0):
            fake = FakeLibrary(status_words=[0x0A01])
            controller = orvexportio.Controller(fake)
            controller.poll_pause = pause
            with self.assertRaises(orvexportio.ControllerTimeout):
                controller.wait_until_at_rest(1, timeout=0.2)
            polls[pause] = len(fake.calls)
        self.assertLessEqual(polls[0.01], 22)  # one poll per pause, and one at the end
        self.assertGreater(polls[0.0], 200)

    def test_a_timeout_is_logged_as_a_warning(self):
        controller = orvexportio.Controller(FakeLibrary(status_words=[0x0A01]))
        with self.assertLogs("orvexportio", logging.WARNING) as logged:
            with self.assertRaises(orvexportio.ControllerTimeout):
                controller.wait_until_at_rest(1, timeout=0.05)
        self.assertEqual(logged.records[-1].levelno, logging.WARNING)
        self.assertIn("wait_until_at_rest(1): the axes still move", logged.records[-1].getMessage())


class FakeLibrary:
    """Stands in for the raw layer where a test needs particular results."""

    path = "fake"
    virtual_controller = None

    def __init__(self, position=0.0, status_words=(), axis_results=(0,)):
        self._position = position
        self._words = list(status_words)
        self._axis_results = list(axis_results)
        self.calls = []

    def TP(self, axis):
        self.calls.append(("TP", axis))
        return self._position

    def OK(self):
        self.calls.append(("OK",))
        return 0

    def MT(self, axis):
        self.calls.append(("MT", axis))
        if axis not in (0, 1, 2):
            return self._words.pop(0) if len(self._words) > 1 else self._words[0]
        return self._axis_results.pop(0) if len(self._axis_results) > 1 else self._axis_results[0]


class WaitOnStatusWordsTest(unittest.TestCase):
    """The wait reads each axis's bit of the status byte, and tells a silent
    controller from one that answers with NUL bytes."""

    def test_each_axis_waits_for_its_own_bit(self):
        moving_then_rest = [0x0A01, 0x0A03, 0x0A02]  # "\x01\n", "\x03\n", "\x02\n"
        for axis, polls in ((1, 3), (2, 1), (0, 5)):
            with self.subTest(axis=axis):
                fake = FakeLibrary(status_words=moving_then_rest + [0x0A02, 0x0A00])
                orvexportio.Controller(fake).wait_until_at_rest(axis)
                self.assertEqual(fake.calls, [("MT", 3)] * polls)

    def test_nul_status_is_at_rest_when_mt_says_so(self):
        fake = FakeLibrary(status_words=[0], axis_results=[1])
        orvexportio.Controller(fake).wait_until_at_rest(1)
        self.assertEqual(fake.calls, [("MT", 3), ("MT", 1)])

    def test_a_silent_controller_ends_the_wait_after_a_second(self):
        fake = FakeLibrary(status_words=[0], axis_results=[0])
        started = time.monotonic()
        with self.assertRaises(orvexportio.ControllerTimeout) as raised:
            orvexportio.Controller(fake).wait_until_at_rest(0)
        waited = time.monotonic() - started
        self.assertGreaterEqual(waited, 1.0)
        self.assertLess(waited, 2.0)
        self.assertIn("stopped answering", str(raised.exception))

    def test_answers_now_and_then_keep_the_wait_going(self):
        # Silent for half a second at a time, answering in between: not silence.
        class Intermittent(FakeLibrary):
            def MT(self, axis):
                if axis in (0, 1, 2):
                    return 0
                phase = (time.monotonic() - started) % 0.6
                if time.monotonic() - started > 2.5:
                    return 0x0A00
                return 0x0A01 if phase < 0.1 else 0

        started = time.monotonic()
        orvexportio.Controller(Intermittent()).wait_until_at_rest(1)
        self.assertGreater(time.monotonic() - started, 2.5)


@unittest.skipUnless(ports_out_of_reach(), "this machine reaches the ports: the card is not ours")
class CardWithoutPortsTest(unittest.TestCase):
    """The build for the card where it sees an empty bus: every method that
    sends reports the library's time-out as ControllerTimeout, and diagnose()
    names the same cause as orvexctl."""

    def setUp(self):
        self.controller = orvexportio.Controller()

    def test_time_outs_raise_and_are_logged_as_warnings(self):
        controller = self.controller
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
                with self.assertLogs("orvexportio", logging.WARNING) as logged:
                    with self.assertRaises(orvexportio.ControllerTimeout) as raised:
                        call()
                self.assertIsInstance(raised.exception, TimeoutError)
                self.assertIn("diagnose()", str(raised.exception))
                self.assertEqual(logged.records[-1].levelno, logging.WARNING)
                self.assertTrue(logged.records[-1].getMessage().startswith(name))

    def test_diagnose_names_the_cause_orvexctl_names(self):
        cause = self.controller.diagnose()
        self.assertNotIn("\n", cause)
        run = subprocess.run([os.environ["ORVEX_TEST_ORVEXCTL"], "ok"], capture_output=True,
                             text=True, timeout=60, check=False)
        self.assertEqual(run.returncode, 1)
        self.assertIn(f"orvexctl: likely cause: {cause}\n", run.stderr)
        libc = ctypes.CDLL(None, use_errno=True)
        kernel_without_port_io = (libc.ioperm(0x340, 2, 1) != 0 and ctypes.get_errno() == errno.ENOSYS
                                  and not Path("/dev/port").exists())
        if kernel_without_port_io:
            self.assertTrue(cause.startswith("this kernel offers no port I/O"), cause)
        else:
            self.assertNotIn("no port I/O", cause)


if __name__ == "__main__":
    unittest.main()
