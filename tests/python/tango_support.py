"""What the Tango device server's tests share: waiting with a deadline, a
watchdog for the whole run, and a record of change events."""

import faulthandler
import os
import threading
import time

import tango


def arm_watchdog(seconds):
    """Ends the process with every thread's stack if it runs longer than
    seconds, so a wedged server fails the run instead of hanging it."""
    faulthandler.dump_traceback_later(seconds, exit=True)


def wait_for(condition, timeout, interval=0.01):
    """Polls condition() until it is true; returns whether it became true in time."""
    deadline = time.monotonic() + timeout
    while True:
        if condition():
            return True
        if time.monotonic() >= deadline:
            return False
        time.sleep(interval)


def sim_library_path():
    return os.environ["ORVEXPORTIO_SIM_LIBRARY"]


class ChangeEvents:
    """Collects the values of the change events of one attribute."""

    def __init__(self, proxy, attribute):
        self._lock = threading.Lock()
        self._values = []
        self._proxy = proxy
        self._id = proxy.subscribe_event(attribute, tango.EventType.CHANGE_EVENT, self._received)

    def _received(self, event):
        if event.err or event.attr_value is None:
            return
        with self._lock:
            self._values.append(event.attr_value.value)

    def values(self):
        with self._lock:
            return list(self._values)

    def close(self):
        self._proxy.unsubscribe_event(self._id)


def without_repeats(values):
    """The values with each run of equal neighbours made one."""
    return [value for index, value in enumerate(values) if index == 0 or value != values[index - 1]]
