"""What the Tango device server costs the bus, and how late it reports a move's end.

Starts orvexportio-tango without a database on the virtual controller (real
clock), then measures:

- readings of axis 1 per second (the controller is asked once per reading),
  with 0, 1, 4 and 16 clients reading State, Status and Position as fast as
  they can, each through a proxy of its own that bypasses every cache;
- the delay from the end of a move, as its speed profile puts it, to the
  change event that reports ON (20 moves of 1 unit at the set-up speed:
  0.12 s each).

Run with an interpreter that imports tango and the package, e.g. from a
build tree:

    PYTHONPATH=build/default/python /usr/bin/python3 bench/tango_load.py
"""

import os
import socket
import statistics
import subprocess
import sys
import threading
import time

import tango

MOVE = 1.0                         # units
SPEED, ACCELERATION = 10.0, 500.0  # the set-up sequence's: VA1000, AC50000 counts
MOVE_SECONDS = MOVE / SPEED + SPEED / ACCELERATION


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def readings_per_second(device, name, clients, seconds=2.0):
    stop = threading.Event()
    reads = []

    def hammer():
        proxy = tango.DeviceProxy(name)
        proxy.set_source(tango.DevSource.DEV)
        count = 0
        while not stop.is_set():
            proxy.state()
            proxy.status()
            proxy.read_attribute("Position")
            count += 3
        reads.append(count)

    threads = [threading.Thread(target=hammer) for _ in range(clients)]
    for thread in threads:
        thread.start()
    time.sleep(0.3)
    before, started = device.Readings, time.monotonic()
    time.sleep(seconds)
    after, ended = device.Readings, time.monotonic()
    stop.set()
    for thread in threads:
        thread.join()
    elapsed = ended - started
    return (after - before) / elapsed, sum(reads) / (elapsed + 0.3)


def end_of_move_delays(device, moves=20):
    ends = []
    lock = threading.Lock()

    def received(event):
        if not event.err and event.attr_value.value == tango.DevState.ON:
            with lock:
                ends.append(time.monotonic())

    subscription = device.subscribe_event("State", tango.EventType.CHANGE_EVENT, received)
    time.sleep(0.5)
    delays = []
    try:
        for index in range(moves):
            with lock:
                ends.clear()
            device.Position = MOVE if index % 2 == 0 else 0.0
            started = time.monotonic()
            deadline = started + 5.0
            while time.monotonic() < deadline:
                with lock:
                    if ends:
                        break
                time.sleep(0.001)
            with lock:
                delays.append(ends[0] - started - MOVE_SECONDS)
            time.sleep(0.1)
    finally:
        device.unsubscribe_event(subscription)
    return delays


def main():
    port = free_port()
    server = subprocess.Popen(
        [sys.executable, "-m", "orvexportio.tango_server", "bench", "--simulated", "-nodb",
         "-dlist", "bench/orvex/1,bench/orvex/2", "-ORBendPoint", f"giop:tcp:127.0.0.1:{port}"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        env=dict(os.environ, ORVEXPORTIO_SIM_CLOCK="real"))
    try:
        name = f"tango://127.0.0.1:{port}/bench/orvex/1#dbase=no"
        deadline = time.monotonic() + 30
        while True:
            try:
                device = tango.DeviceProxy(name)
                device.ping()
                break
            except tango.DevFailed:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.2)
        device.SetUp()
        print("clients  readings/s (axis 1)  client reads/s")
        for clients in (0, 1, 4, 16):
            readings, reads = readings_per_second(device, name, clients)
            print(f"{clients:7d}  {readings:19.1f}  {reads:14.0f}")
        delays = end_of_move_delays(device)
        print(f"end of a {MOVE_SECONDS:.2f} s move to its ON event: median "
              f"{statistics.median(delays) * 1000:.0f} ms, max {max(delays) * 1000:.0f} ms "
              f"({len(delays)} moves)")
    finally:
        server.terminate()
        server.wait(10)


if __name__ == "__main__":
    main()
