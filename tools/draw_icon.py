#!/usr/bin/env python3
"""Draws the application icon, a 32 x 32 16-colour picture of an integrated circuit in a dual
in-line package, and writes it to res/app_icon.ico (or the path given)."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import draw_bitmap4 as bm  # noqa: E402


def draw():
    c = bm.Canvas(32, 32, bm.BLACK)
    c.clear(0, 0, 31, 31)
    # Seven legs a side, silver with a grey shadow.
    for pin in range(7):
        y = 5 + pin * 3
        c.fill(3, y, 7, y + 1, bm.SILVER)
        c.fill(24, y, 28, y + 1, bm.SILVER)
        c.fill(3, y + 1, 7, y + 1, bm.GREY)
        c.fill(24, y + 1, 28, y + 1, bm.GREY)
    # The body, with a highlight along its top and left edges.
    c.fill(8, 2, 23, 29, bm.BLACK)
    c.fill(8, 2, 23, 2, bm.GREY)
    c.fill(8, 2, 8, 29, bm.GREY)
    # The orientation notch and the pin-1 dot.
    c.fill(14, 2, 17, 3, bm.SILVER)
    c.fill(15, 4, 16, 4, bm.SILVER)
    c.fill(10, 5, 11, 6, bm.WHITE)
    # A green die window with its bond wires.
    c.fill(12, 11, 19, 20, bm.DARK_GREEN)
    c.fill(13, 12, 18, 19, bm.GREEN)
    for y in (13, 16, 18):
        c.plot(11, y, bm.YELLOW)
        c.plot(20, y, bm.YELLOW)
    # Marking lines below the die.
    c.fill(11, 24, 20, 24, bm.SILVER)
    c.fill(11, 26, 17, 26, bm.GREY)
    return c


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "res", "app_icon.ico")
    canvas = draw()
    with open(out, "wb") as f:
        f.write(bm.ico_file(canvas.rows, canvas.opaque))


if __name__ == "__main__":
    main()
