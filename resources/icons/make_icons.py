#!/usr/bin/env python3
"""Draws the tray pictures from their layout and writes them as .ico files (16 colours with a
transparency mask), plus an enlarged sheet of all ten as a PNG.

    make_icons.py ICON_DIR [SHEET.png]

Nobody edits the pixels by hand: change the drawing here and run it again (a test checks that the
committed files are exactly what this script writes).
"""
import struct
import sys
import zlib
from pathlib import Path

# The standard 16-colour palette; an icon's pixels are indexes into it.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
CLEAR = None  # transparent
BLACK, DARK_RED, OLIVE, GREY, RED, YELLOW, WHITE = 0, 1, 3, 8, 9, 11, 15

# Glyphs between the slots, as (row, first column, last column) runs of white.
POSTAL_MARK = [(5, 5, 10), (7, 5, 10), (8, 7, 8), (9, 7, 8), (10, 7, 8)]
QUESTION_MARK = [(5, 6, 9), (6, 5, 6), (6, 9, 10), (7, 9, 10), (8, 7, 8), (10, 7, 8), (11, 7, 8)]
CROSS = [(5, 5, 5), (5, 10, 10), (6, 6, 6), (6, 9, 9), (7, 7, 8), (8, 7, 8),
         (9, 6, 6), (9, 9, 9), (10, 5, 5), (10, 10, 10)]

# id: (top slot lit, bottom slot lit, glyph)
PICTURES = {
    2001: (False, False, POSTAL_MARK),
    2002: (True, False, POSTAL_MARK),
    2003: (True, True, POSTAL_MARK),
    2004: (False, True, POSTAL_MARK),
    2005: (False, False, QUESTION_MARK),
    2006: (True, False, QUESTION_MARK),
    2007: (True, True, QUESTION_MARK),
    2008: (False, True, QUESTION_MARK),
    2009: (False, False, CROSS),
}


def fill(pixels, row, first, last, colour):
    for column in range(first, last + 1):
        pixels[row][column] = colour


def front_16(top_lit, bottom_lit, glyph):
    """The front of the post box, 16 x 16."""
    pixels = [[CLEAR] * 16 for _ in range(16)]
    for row in range(16):
        fill(pixels, row, 1, 14, BLACK)
        if 0 < row < 15:
            fill(pixels, row, 2, 13, RED)
    for row in (2, 3, 12, 13):
        fill(pixels, row, 3, 12, DARK_RED)
    if top_lit:  # new mail
        fill(pixels, 2, 4, 11, YELLOW)
        fill(pixels, 3, 4, 11, OLIVE)
    if bottom_lit:  # acknowledged mail
        fill(pixels, 13, 4, 11, YELLOW)
    for row, first, last in glyph:
        fill(pixels, row, first, last, WHITE)
    return pixels


def post_box_32():
    """The post box seen from above at an angle: red top and front, dark-red right side."""
    pixels = [[CLEAR] * 32 for _ in range(32)]
    front_left, front_right, front_top, bottom = 3, 22, 9, 30
    depth = 6  # how far the top and the side recede up and to the right
    # Top face: a parallelogram above the front.
    for step in range(depth + 1):
        row = front_top - step
        fill(pixels, row, front_left + step, front_right + step, RED)
    # Right side: a parallelogram beside the front.
    for column_step in range(1, depth + 1):
        column = front_right + column_step
        for row in range(front_top - column_step, bottom - column_step + 1):
            pixels[row][column] = DARK_RED
    # Front face.
    for row in range(front_top, bottom + 1):
        fill(pixels, row, front_left, front_right, RED)
    # Black outline around every filled pixel that borders the transparent area, plus the edges
    # between the faces.
    filled = [[pixels[r][c] is not None for c in range(32)] for r in range(32)]
    for row in range(32):
        for column in range(32):
            if not filled[row][column]:
                continue
            for dr, dc in ((-1, 0), (1, 0), (0, -1), (0, 1)):
                r, c = row + dr, column + dc
                if not (0 <= r < 32 and 0 <= c < 32) or not filled[r][c]:
                    pixels[row][column] = BLACK
    fill(pixels, front_top, front_left, front_right, BLACK)
    for row in range(front_top, bottom + 1):
        pixels[row][front_right] = BLACK
    for step in range(depth + 1):
        pixels[front_top - step][front_right + step] = BLACK
    # Two grey slots on the front, the postal mark between them.
    for row in (12, 13, 26, 27):
        fill(pixels, row, 6, 19, GREY)
    for row in (16, 17):
        fill(pixels, row, 7, 18, WHITE)
    for row in (19, 20):
        fill(pixels, row, 7, 18, WHITE)
    for row in range(21, 25):
        fill(pixels, row, 11, 14, WHITE)
    return pixels


def image_data(pixels):
    """BITMAPINFOHEADER, palette, 4-bit colour rows and 1-bit mask rows, bottom row first."""
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for column in range(0, size, 2):
            high = row[column] or 0
            low = row[column + 1] or 0
            line.append(high << 4 | low)
        colour += line + bytes(-len(line) % 4)
        bits = bytearray()
        for column in range(0, size, 8):
            byte = 0
            for bit in range(8):
                if row[column + bit] is None:
                    byte |= 0x80 >> bit
            bits.append(byte)
        mask += bits + bytes(-len(bits) % 4)
    return header + palette + bytes(colour) + bytes(mask)


def ico(images):
    """An .ico file holding the given pictures (lists of rows)."""
    data = [image_data(pixels) for pixels in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for pixels, blob in zip(images, data):
        size = len(pixels)
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    return out + b"".join(data)


def png(width, height, rgb_rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\0" + bytes(row) for row in rgb_rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def sheet(pictures, scale=12, gap=12):
    """All pictures side by side, enlarged, transparent pixels as a light checkerboard."""
    width = sum(len(p) * scale for p in pictures) + gap * (len(pictures) + 1)
    height = max(len(p) for p in pictures) * scale + 2 * gap
    rows = [[0xFF] * (width * 3) for _ in range(height)]
    x = gap
    for pixels in pictures:
        size = len(pixels)
        for y in range(size * scale):
            for dx in range(size * scale):
                index = pixels[y // scale][dx // scale]
                if index is None:
                    shade = 0xE8 if ((y // 6) + (dx // 6)) % 2 else 0xFF
                    colour = (shade, shade, shade)
                else:
                    colour = PALETTE[index]
                rows[gap + y][(x + dx) * 3:(x + dx) * 3 + 3] = colour
        x += size * scale + gap
    return png(width, height, rows)


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    base = front_16(*PICTURES[2001])
    big = post_box_32()
    (out / "2000.ico").write_bytes(ico([base, big]))
    for number, picture in PICTURES.items():
        (out / f"{number}.ico").write_bytes(ico([front_16(*picture)]))
    if len(sys.argv) > 2:
        Path(sys.argv[2]).write_bytes(sheet([big] + [front_16(*PICTURES[n]) for n in sorted(PICTURES)]))


if __name__ == "__main__":
    main()
