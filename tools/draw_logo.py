#!/usr/bin/env python3
"""Draws the 101 x 33 16-colour logo (a small chip and the letters "HNX") and writes it to
res/logo.bmp (or the path given)."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import draw_bitmap4 as bm  # noqa: E402

# 5 x 7 letters, one string a row.
LETTERS = {
    "H": ["X...X", "X...X", "X...X", "XXXXX", "X...X", "X...X", "X...X"],
    "N": ["X...X", "XX..X", "X.X.X", "X.X.X", "X..XX", "X...X", "X...X"],
    "X": ["X...X", "X...X", ".X.X.", "..X..", ".X.X.", "X...X", "X...X"],
}
SCALE = 3


def draw_letter(c, letter, left, top, colour):
    for row, line in enumerate(LETTERS[letter]):
        for col, cell in enumerate(line):
            if cell == "X":
                x, y = left + col * SCALE, top + row * SCALE
                c.fill(x, y, x + SCALE - 1, y + SCALE - 1, colour)


def draw_chip(c, left, top):
    for pin in range(4):
        y = top + 3 + pin * 5
        c.fill(left, y, left + 3, y + 1, bm.SILVER)
        c.fill(left + 20, y, left + 23, y + 1, bm.SILVER)
    c.fill(left + 4, top, left + 19, top + 22, bm.BLACK)
    c.fill(left + 10, top, left + 13, top + 1, bm.SILVER)
    c.fill(left + 8, top + 7, left + 15, top + 15, bm.GREEN)


def draw():
    c = bm.Canvas(101, 33, bm.WHITE)
    c.fill(0, 0, 100, 0, bm.NAVY)
    c.fill(0, 32, 100, 32, bm.NAVY)
    draw_chip(c, 4, 5)
    for i, letter in enumerate("HNX"):
        draw_letter(c, letter, 34 + i * 22, 6, bm.NAVY)
    c.fill(34, 29, 95, 29, bm.RED)
    return c


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "res", "logo.bmp")
    with open(out, "wb") as f:
        f.write(bm.bmp_file(draw().rows))


if __name__ == "__main__":
    main()
