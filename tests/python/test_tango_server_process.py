"""The device server as a facility runs it: a process of its own, started
without a Tango database on a loopback port, driven by DeviceProxy clients
from this process.

The server serves both axes of one virtual controller and a third device
that names no axis. It is killed when the tests end, and dies with this
process should that be killed first.

The server is ORVEX_TEST_TANGO_SERVER when that names a command (the
console script pip made, or the one cmake --install put in place), else
``python -m orvexportio.tango_server`` under this interpreter, which must
import tango.
"""

import ctypes
import os
import signal
import socket
import subprocess
import sys
import time
import unittest

import tango

from tango_support import ChangeEvents, arm_watchdog, wait_for, without_repeats

ON, MOVING, FAULT = tango.DevState.ON, tango.DevState.MOVING, tango.DevState.FAULT

INSTANCE = "loopback"
DEVICES = ("test/orvex/1", "test/orvex/2", "test/orvex/spare")
STARTUP = 30.0
SETTLE = 5.0

_PR_SET_PDEATHSIG = 1


def free_loopback_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def die_with_parent():
    """Runs in the server's process before it starts: when the test process
    goes, however it goes, the server goes too."""
    ctypes.CDLL(None, use_errno=True).prctl(_PR_SET_PDEATHSIG, signal.SIGKILL)


def server_command():
    """The command named by ORVEX_TEST_TANGO_SERVER (an installed
    orvexportio-tango), else the package's module under this interpreter."""
    installed = os.environ.get("ORVEX_TEST_TANGO_SERVER")
    if installed:
        return [installed]
    return [sys.executable, "-m", "orvexportio.tango_server"]


def setUpModule():
    arm_watchdog(120)


class ServerProcessTest(unittest.TestCase):
    server = None
    port = None

    @classmethod
    def setUpClass(cls):
        cls.port = free_loopback_port()
        command = server_command() + [
            INSTANCE, "--simulated", "-nodb", "-dlist", ",".join(DEVICES),
            "-ORBendPoint", f"giop:tcp:127.0.0.1:{cls.port}"]
        cls.server = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                      preexec_fn=die_with_parent)
        cls.addClassCleanup(cls.stop_server)
        started = wait_for(cls.server_answers, STARTUP, interval=0.2)
        if not started:
            raise RuntimeError(f"the server did not answer within {STARTUP} s "
                               f"(exit status {cls.server.poll()})")
        cls.axes = [cls.proxy(name) for name in DEVICES[:2]]
        cls.spare = cls.proxy(DEVICES[2])

    @classmethod
    def stop_server(cls):
        if cls.server.poll() is None:
            cls.server.terminate()
            try:
                cls.server.wait(10)
            except subprocess.TimeoutExpired:
                cls.server.kill()
                cls.server.wait(10)

    @classmethod
    def proxy(cls, name):
        proxy = tango.DeviceProxy(f"tango://127.0.0.1:{cls.port}/{name}#dbase=no")
        proxy.set_timeout_millis(10000)
        return proxy

    @classmethod
    def server_answers(cls):
        if cls.server.poll() is not None:
            raise RuntimeError(f"the server ended with status {cls.server.returncode}")
        try:
            cls.proxy(f"dserver/orvexportio-tango/{INSTANCE}").ping()
            return True
        except tango.DevFailed:
            return False

    def setUp(self):
        for axis in self.axes:
            axis.Stop()
            axis.SetUp()
        for axis in self.axes:
            self.assertTrue(wait_for(lambda: axis.state() == ON, SETTLE), axis.status())

    def test_both_axes_move_at_once_with_change_events(self):
        events = [ChangeEvents(axis, "State") for axis in self.axes]
        try:
            self.axes[0].Position = 3.0
            self.axes[1].Position = -1.5
            # No client reads from here on: the server's own polling finds the end.
            for seen in events:
                self.assertTrue(wait_for(lambda: without_repeats(seen.values())[-2:] == [MOVING, ON],
                                         SETTLE), seen.values())
        finally:
            for seen in events:
                seen.close()
        self.assertEqual(self.axes[0].Position, 3.0)
        self.assertEqual(self.axes[1].Position, -1.5)

    def test_each_device_drives_its_own_axis(self):
        self.axes[1].MoveRelative(0.75)
        self.assertTrue(wait_for(lambda: self.axes[1].state() == ON, SETTLE))
        self.assertEqual(self.axes[1].Position, 0.75)
        self.assertEqual(self.axes[0].Position, 0.0)
        self.assertEqual(self.axes[0].Velocity, 10.0)
        self.axes[1].Velocity = 2.5
        self.assertEqual(self.axes[1].Velocity, 2.5)
        self.assertEqual(self.axes[0].Velocity, 10.0)

    def test_position_change_events_follow_a_move(self):
        positions = ChangeEvents(self.axes[0], "Position")
        try:
            self.axes[0].Position = 2.0
            self.assertTrue(wait_for(lambda: positions.values()[-1:] == [2.0], SETTLE),
                            positions.values())
        finally:
            positions.close()
        between = [value for value in positions.values() if 0.0 < value < 2.0]
        self.assertTrue(between, positions.values())

    def test_a_device_that_names_no_axis_is_in_fault_and_says_why(self):
        self.assertEqual(self.spare.state(), FAULT)
        self.assertIn("Axis", self.spare.status())
        self.assertIn("/1 or /2", self.spare.status())
        with self.assertRaises(tango.DevFailed):
            self.spare.Position = 1.0
        with self.assertRaises(tango.DevFailed):
            self.spare.read_attribute("Position")

    def test_the_interface_of_a_tango_motor(self):
        axis = self.axes[0]
        self.assertEqual(axis.get_attribute_config("Position").unit, "unit")
        self.assertEqual(axis.get_attribute_config("Velocity").unit, "unit/s")
        self.assertEqual(axis.get_attribute_config("Position").writable,
                         tango.AttrWriteType.READ_WRITE)
        commands = {info.cmd_name for info in axis.command_list_query()}
        self.assertLessEqual({"Stop", "Home", "SetHome", "SetUp", "MoveRelative", "State",
                              "Status"}, commands)
        self.assertEqual(axis.info().dev_class, "OrvexAxis")


if __name__ == "__main__":
    unittest.main()
