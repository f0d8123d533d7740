#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz target into fuzz/corpus/.

An input is: export selector, axis code, a float (little-endian), then the
script of the bus: one byte for each look at the handshake register and for
each read of the data register, in the order the host makes them.
"""
import pathlib
import struct

READY, PENDING = 0x80, 0x00
SELECTORS = {"MA": 0, "MR": 1, "SV": 2, "ST": 3, "DH": 4, "GH": 5, "RT": 6, "WS": 7,
             "TP": 8, "OK": 9, "MT": 10}


def header(name, axis, value=0.0):
    return bytes([SELECTORS[name], axis & 0xFF]) + struct.pack("<f", value)


def line(text):
    """A healthy controller taking every byte of a command line."""
    return bytes([READY, PENDING]) * len(text) + bytes([READY])


def reply(text):
    """A healthy controller offering a reply line, byte by byte."""
    out = bytearray()
    for byte in text.encode("latin-1"):
        out += bytes([PENDING, READY, byte])
    return bytes(out) + bytes([READY])


SEEDS = {
    "ma_axis1": header("MA", 1, 2.5) + line("1PA 250\r"),
    "mr_both": header("MR", 0, -1.0) + line("1PR -100\r") + line("2PR -100\r"),
    "sv_axis2": header("SV", 2, -1.0) + line("2VA4294967196\r"),
    "st_both_first_times_out": header("ST", 0) + bytes([0x81]) * 64,
    "dh_axis2": header("DH", 2) + line("2DH\r"),
    "gh_both": header("GH", 0) + line("1PA 0\r") + line("2PA 0\r"),
    "rt_axis1": header("RT", 1) + line("1FI11\r") + line("1VA1000;AC50000\r")
    + line("1FM3\r") + line("1DH\r"),
    "ws_moving_then_done": header("WS", 0) + line("TS\r") + reply("A\r\n")
    + line("TS\r") + reply("@\r\n"),
    "tp_axis2": header("TP", 2) + line("2TP\r") + reply("+250\r\n"),
    "tp_garbled": header("TP", 1) + line("1TP\r") + reply("A1.5B\x002\xff\n"),
    "ok_answers": header("OK", 0) + line("1TP\r") + reply("-12.5\r\n"),
    "mt_word": header("MT", 7) + line("TS\r") + reply("ABC\n"),
    "mt_slow_clock": header("MT", 0) + bytes([0xEE, 0xEE, READY, PENDING]) * 3
    + bytes([READY]) + reply("@\r\n"),
}


def main():
    corpus = pathlib.Path(__file__).resolve().parent / "corpus"
    corpus.mkdir(exist_ok=True)
    for name, data in SEEDS.items():
        (corpus / name).write_bytes(data)


if __name__ == "__main__":
    main()
