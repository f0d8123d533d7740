"""Several cards in one Tango device server process: PyTango's
MultiDeviceTestContext serves, in this process and against the virtual
controller in real time, the devices of the first card, of a second card
whose property Base is 0x300 (written once in hexadecimal and once as a
decimal number), and of a card at a base where none may sit.

Run by CTest from this folder with an interpreter that imports tango and
the package.
"""

import unittest

import tango
from tango.test_context import MultiDeviceTestContext

import orvexportio
from orvexportio import tango_server
from orvexportio.tango_server import OrvexAxis

from tango_support import arm_watchdog, wait_for

ON, FAULT = tango.DevState.ON, tango.DevState.FAULT
SETTLE = 5.0
SECOND_CARD = 0x300

DEVICES = [
    {"name": "lab/first/1", "properties": {"Simulated": True}},
    {"name": "lab/second/1", "properties": {"Simulated": True, "Base": "0x300"}},
    {"name": "lab/second/2", "properties": {"Simulated": True, "Base": "768"}},
    {"name": "lab/refused/1", "properties": {"Simulated": True, "Base": "0x3F8"}},
]


def moves(card):
    """The move lines a virtual card received."""
    return [text for text, _ in card.lines() if text[1:3] in ("PA", "PR")]


def setUpModule():
    arm_watchdog(120)


class SeveralCardsTest(unittest.TestCase):
    context = None

    @classmethod
    def setUpClass(cls):
        cls.context = MultiDeviceTestContext([{"class": OrvexAxis, "devices": DEVICES}],
                                             timeout=20)
        cls.context.__enter__()
        cls.first = orvexportio.Library(simulated=True).virtual_controller
        cls.second = cls.first.card(SECOND_CARD)

    @classmethod
    def tearDownClass(cls):
        cls.context.__exit__(None, None, None)

    def proxy(self, name):
        proxy = self.context.get_device(name)
        proxy.set_timeout_millis(10000)
        return proxy

    def test_each_card_takes_its_own_lines_and_shares_one_controller_among_its_axes(self):
        axes = [self.proxy("lab/second/1"), self.proxy("lab/second/2")]
        for axis in axes:
            self.assertTrue(wait_for(lambda: axis.state() == ON, SETTLE), axis.status())
        axes[0].Position = 0.5
        axes[1].MoveRelative(-0.25)
        for axis in axes:
            self.assertTrue(wait_for(lambda: axis.state() == ON, SETTLE), axis.status())
        self.assertEqual((axes[0].Position, axes[1].Position), (0.5, -0.25))
        self.assertEqual(moves(self.second), ["1PA 50\r", "2PR -25\r"])
        self.assertEqual(moves(self.first), [])
        # 0x300 and 768 are one card: both axes are read through its one Controller.
        card = tango_server._cards.card(True, "", SECOND_CARD)
        self.assertGreater(card.readings_taken(1), 0)
        self.assertGreater(card.readings_taken(2), 0)

    def test_a_refused_base_is_a_fault_that_names_the_device(self):
        refused = self.proxy("lab/refused/1")
        self.assertEqual(refused.state(), FAULT)
        self.assertIn("the first serial port (COM1)", refused.status())
        with self.assertRaises(tango.DevFailed):
            refused.Position = 1.0


if __name__ == "__main__":
    unittest.main()
