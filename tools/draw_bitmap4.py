"""Writes 16-colour (4 bits per pixel) device-independent bitmaps: the pixel grid is a list of rows,
top row first, each a list of palette indices 0..15."""

import struct

# The sixteen colours of the standard VGA palette, as (red, green, blue).
VGA_PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_RED, DARK_GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, GREEN, YELLOW, BLUE, MAGENTA, CYAN, WHITE = range(8, 16)


def _row_stride(width, bits):
    return (width * bits + 31) // 32 * 4


def info_header(width, height, image_bytes):
    """BITMAPINFOHEADER for 4 bits per pixel, uncompressed, all 16 colours used."""
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_bytes, 2835, 2835, 16, 16)


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA_PALETTE)


def pixel_bytes(rows):
    """The colour plane, bottom row first, two pixels a byte, rows padded to 32 bits."""
    width = len(rows[0])
    stride = _row_stride(width, 4)
    out = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, index in enumerate(row):
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        out += line
    return bytes(out)


def mask_bytes(opaque):
    """The AND mask of an icon: 1 where the pixel is transparent, bottom row first."""
    width = len(opaque[0])
    stride = _row_stride(width, 1)
    out = bytearray()
    for row in reversed(opaque):
        line = bytearray(stride)
        for x, solid in enumerate(row):
            if not solid:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def bmp_file(rows):
    width, height = len(rows[0]), len(rows)
    pixels = pixel_bytes(rows)
    offset = 14 + 40 + 64
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info_header(width, height, len(pixels)) + palette_bytes() + pixels


def ico_file(rows, opaque):
    """An icon file holding one 16-colour image."""
    width, height = len(rows[0]), len(rows)
    pixels, mask = pixel_bytes(rows), mask_bytes(opaque)
    # The image's header counts the colour plane and the mask: twice the height.
    image = info_header(width, height * 2, len(pixels) + len(mask)) + palette_bytes() + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width, height, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


class Canvas:
    def __init__(self, width, height, colour):
        self.rows = [[colour] * width for _ in range(height)]
        self.opaque = [[True] * width for _ in range(height)]

    def fill(self, x0, y0, x1, y1, colour):
        """Fills the rectangle with corners (x0, y0) and (x1, y1), both included."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.rows[y][x] = colour
                self.opaque[y][x] = True

    def clear(self, x0, y0, x1, y1):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.rows[y][x] = BLACK
                self.opaque[y][x] = False

    def plot(self, x, y, colour):
        self.fill(x, y, x, y, colour)
