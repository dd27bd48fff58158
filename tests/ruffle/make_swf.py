#!/usr/bin/env python3
"""Writes a tiny uncompressed Flash movie for the tests: one frame of a given
background colour and, when asked, a beacon that shows the movie's flashvars.

    make_swf.py [--colour RRGGBB] [--size WxH] [--beacon PATH] out.swf

The beacon is ActionScript in the first frame:
    loadVariablesNum(PATH + "?v=" + v, 0)
so the loopback server sees the value of the flashvar v that the player gave
the movie (for a movie opened at its own address: the address's query).
"""

import argparse
import struct


class Bits:
    def __init__(self):
        self.bits = []

    def unsigned(self, value, n):
        self.bits += [(value >> (n - 1 - i)) & 1 for i in range(n)]

    def signed(self, value, n):
        self.unsigned(value & ((1 << n) - 1), n)

    def bytes(self):
        padded = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(int("".join(map(str, padded[i:i + 8])), 2) for i in range(0, len(padded), 8))


def rect(width_px, height_px):
    values = [0, width_px * 20, 0, height_px * 20]  # twips
    n = max(v.bit_length() for v in values) + 1      # signed fields
    bits = Bits()
    bits.unsigned(n, 5)
    for v in values:
        bits.signed(v, n)
    return bits.bytes()


def tag(code, body=b""):
    if len(body) < 0x3F:
        return struct.pack("<H", code << 6 | len(body)) + body
    return struct.pack("<HI", code << 6 | 0x3F, len(body)) + body


def push_string(s):
    body = b"\x00" + s.encode() + b"\x00"
    return b"\x96" + struct.pack("<H", len(body)) + body


def beacon_actions(path):
    return (push_string(path + "?v=")
            + push_string("v") + b"\x1c"       # GetVariable v
            + b"\x21"                           # StringAdd
            + push_string("_level0")
            + b"\x9a" + struct.pack("<H", 1) + b"\x80"  # GetURL2: load variables, no variables sent
            + b"\x00")


def movie(colour, width, height, beacon=None, version=8):
    tags = tag(9, bytes.fromhex(colour))         # SetBackgroundColor
    if beacon:
        tags += tag(12, beacon_actions(beacon))  # DoAction
    tags += tag(1) + tag(0)                       # ShowFrame, End
    body = rect(width, height) + struct.pack("<HH", 24 << 8, 1) + tags  # 24 frames/s, 1 frame
    return b"FWS" + bytes([version]) + struct.pack("<I", 8 + len(body)) + body


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--colour", default="1E90C8")
    parser.add_argument("--size", default="680x460")
    parser.add_argument("--beacon")
    parser.add_argument("out")
    args = parser.parse_args()
    width, height = map(int, args.size.split("x"))
    with open(args.out, "wb") as f:
        f.write(movie(args.colour, width, height, args.beacon))


if __name__ == "__main__":
    main()
