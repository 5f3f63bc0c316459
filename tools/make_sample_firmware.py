#!/usr/bin/env python3
"""Makes res/firmware/sample.bin (or the path given), the stand-in firmware image embedded in the
program: 65,536 bytes, the same on every run. res/firmware/README.md gives the recipe."""

import os
import sys

SIZE = 0x10000
TAG = b"HNX470 SAMPLE FW"
PAD_START = SIZE - 256
SEED = 0x00470470


def xorshift32(state):
    state ^= (state << 13) & 0xFFFFFFFF
    state ^= state >> 17
    state ^= (state << 5) & 0xFFFFFFFF
    return state


def image():
    data = bytearray(TAG)
    state = SEED
    while len(data) < PAD_START:
        state = xorshift32(state)
        data.append(state & 0xFF)
    data += b"\xff" * (SIZE - PAD_START)
    return bytes(data)


def checksum_text(data):
    return "%.4X" % (sum(data) & 0xFFFF) + "H"


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "res", "firmware", "sample.bin")
    data = image()
    with open(out, "wb") as f:
        f.write(data)
    print(f"{out}: {len(data)} bytes, checksum {checksum_text(data)}")


if __name__ == "__main__":
    main()
