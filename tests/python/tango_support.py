"""What the Tango device server's tests share: waiting with a deadline, a
watchdog for the whole run, and a record of change events."""

import faulthandler
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


#: How long a new subscription is given to connect before events count: the
#: first event comes from a read at subscription, later ones over a socket
#: that connects a moment later, and an event pushed before then is lost.
SUBSCRIPTION_SETTLE = 0.3


class ChangeEvents:
    """Collects the values of the change events of one attribute, from the
    value at subscription on."""

    def __init__(self, proxy, attribute):
        self._lock = threading.Lock()
        self._values = []
        self._proxy = proxy
        self._id = proxy.subscribe_event(attribute, tango.EventType.CHANGE_EVENT, self._received)
        if not wait_for(lambda: self.values(), 5.0):
            raise AssertionError(f"no first change event of {attribute}")
        time.sleep(SUBSCRIPTION_SETTLE)

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
