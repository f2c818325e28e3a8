#!/usr/bin/env python3
"""Draws the tray pictures from their layout and writes them as .ico files, plus an enlarged sheet
of all of them as a PNG.

    make_icons.py ICON_DIR [SHEET.png]
    make_icons.py --check ICON_DIR      (no file written: fails when one there differs)

Every picture is drawn as pixel art at each size the shell asks for (16, 20, 24, 32, 40 and 48
pixels; the program's icon also at 256), never scaled from another size: the same layout with
proportions chosen per size. Up to 24 pixels the images are 16 colours with a transparency mask,
which every loader reads; from 32 on they are RGBA PNGs, which keep the program small. The glyphs
of the 16-pixel pictures are placed by hand, the larger ones drawn from their shapes.

Nobody edits the pixels by hand: change the drawing here and run it again (a test checks that the
committed files are exactly what this script writes). The PNG data is compressed by the small
encoder below rather than by zlib, so that the bytes do not depend on the zlib at hand.
"""
import re
import struct
import sys
import zlib
from pathlib import Path

# The icon ids, as the program knows them: {"IDI_NO_MAIL": 2001, ...}.
IDS = {name: int(number) for name, number in
       re.findall(r"#define (IDI_\w+) (\d+)", (Path(__file__).parents[1] / "resource.h").read_text())}

# The standard 16-colour palette; an icon's pixels are indexes into it.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
CLEAR = None  # transparent
BLACK, DARK_RED, OLIVE, GREY, RED, YELLOW, WHITE = 0, 1, 3, 8, 9, 11, 15

TRAY_SIZES = (16, 20, 24, 32, 40, 48)
PNG_FROM = 32  # this size and up are stored as PNG
POST_BOX = {32: 1, 40: 1, 48: 2, 256: 5}  # the program's icon from 32 pixels on, with its outline's width

# The glyphs between the slots at 16 pixels, as (row, first column, last column) runs of white.
POSTAL_MARK = [(5, 5, 10), (7, 5, 10), (8, 7, 8), (9, 7, 8), (10, 7, 8)]
QUESTION_MARK = [(5, 6, 9), (6, 5, 6), (6, 9, 10), (7, 9, 10), (8, 7, 8), (10, 7, 8), (11, 7, 8)]
CROSS = [(5, 5, 5), (5, 10, 10), (6, 6, 6), (6, 9, 9), (7, 7, 8), (8, 7, 8),
         (9, 6, 6), (9, 9, 9), (10, 5, 5), (10, 10, 10)]

# id: (top slot lit, bottom slot lit, glyph between the slots)
PICTURES = {
    "IDI_NO_MAIL": (False, False, "postal"),
    "IDI_NEW_MAIL": (True, False, "postal"),
    "IDI_NEW_AND_OLD_MAIL": (True, True, "postal"),
    "IDI_OLD_MAIL": (False, True, "postal"),
    "IDI_CHECKING_NO_MAIL": (False, False, "question"),
    "IDI_CHECKING_NEW_MAIL": (True, False, "question"),
    "IDI_CHECKING_NEW_AND_OLD_MAIL": (True, True, "question"),
    "IDI_CHECKING_OLD_MAIL": (False, True, "question"),
    "IDI_CHECK_FAILED": (False, False, "cross"),
}

# The front's proportions per size, in pixels: the clear margin left and right, the black outline,
# the red between the outline and a slot, a slot's height, the dark frame left and right of a
# lamp, the glyph's stroke and the glyph's width.
FRONT = {
    16: (1, 1, 1, 2, 1, 1, 6),
    20: (1, 1, 1, 3, 1, 1, 8),
    24: (1, 1, 2, 3, 1, 1, 10),
    32: (2, 2, 2, 4, 2, 2, 12),
    40: (2, 2, 3, 5, 2, 2, 16),
    48: (3, 3, 3, 6, 3, 3, 18),
}


def fill(pixels, row, first, last, colour):
    for column in range(first, last + 1):
        pixels[row][column] = colour


def postal_mark(width, height, stroke):
    """〒: two bars and a stem, as (row, column) pairs within the glyph's box."""
    stem = stroke + 2 - stroke % 2
    bars = [(r, c) for r in [*range(stroke), *range(2 * stroke, 3 * stroke)] for c in range(width)]
    return bars + [(r, c) for r in range(3 * stroke, height) for c in range((width - stem) // 2, (width + stem) // 2)]


def question_mark(width, height, stroke):
    """?: three quarters of an elliptic ring running into a stem, a gap and a dot. The ring's sides
    and the stem are an even number of pixels wide, so that they sit in the middle."""
    side, stem = stroke + stroke % 2, stroke + 2 - stroke % 2
    gap = tail = stroke
    rx, ry = width / 2, (height - stem - gap - tail) / 2
    points = []
    for r in range(height):
        for c in range(width):
            x, y = c + 0.5 - rx, r + 0.5 - ry
            outer = (x / rx) ** 2 + (y / ry) ** 2 <= 1
            inner = (x / (rx - side)) ** 2 + (y / (ry - stroke)) ** 2 < 1
            if outer and not inner and not (x < 0 and y > 0):
                points.append((r, c))
    middle = range((width - stem) // 2, (width + stem) // 2)
    points += [(r, c) for r in range(round(2 * ry) - stroke, round(2 * ry) + tail) for c in middle]
    points += [(r, c) for r in range(height - stem, height) for c in middle]
    return points


def cross(width, height, stroke):
    """×: two diagonals."""
    return [(r, c) for r in range(width) for c in range(width)
            if abs(r - c) < stroke or abs(r + c - (width - 1)) < stroke]


GLYPHS = {"postal": (POSTAL_MARK, postal_mark), "question": (QUESTION_MARK, question_mark), "cross": (CROSS, cross)}


def glyph_at(glyph, size):
    """The glyph's white pixels at the given size, as (row, column) pairs."""
    runs, draw = GLYPHS[glyph]
    if size == 16:
        return [(row, column) for row, first, last in runs for column in range(first, last + 1)]
    _, outline, pad, slot, _, stroke, width = FRONT[size]
    top, bottom = outline + pad + slot, size - outline - pad - slot  # the rows between the slots
    height = width if glyph != "question" else bottom - top - 2
    row0, column0 = top + (bottom - top - height) // 2, (size - width) // 2
    return [(row0 + r, column0 + c) for r, c in draw(width, height, stroke)]


def front(size, top_lit, bottom_lit, glyph):
    """The front of the post box: outline, red face, a slot with its lamp at the top and the
    bottom, the glyph between them."""
    margin, outline, pad, slot, frame, _, _ = FRONT[size]
    pixels = [[CLEAR] * size for _ in range(size)]
    left, right = margin, size - 1 - margin
    for row in range(size):
        fill(pixels, row, left, right, BLACK)
        if outline <= row < size - outline:
            fill(pixels, row, left + outline, right - outline, RED)
    inset = outline + pad
    lamp_first, lamp_last = left + inset + frame, right - inset - frame
    lit_rows = (slot + 1) // 2
    top_rows = range(inset, inset + slot)
    bottom_rows = range(size - inset - slot, size - inset)
    for row in [*top_rows, *bottom_rows]:
        fill(pixels, row, left + inset, right - inset, DARK_RED)
    if top_lit:  # new mail: lit above, its glow below
        for row in top_rows:
            fill(pixels, row, lamp_first, lamp_last, YELLOW if row < inset + lit_rows else OLIVE)
    if bottom_lit:  # acknowledged mail
        for row in bottom_rows[-lit_rows:]:
            fill(pixels, row, lamp_first, lamp_last, YELLOW)
    for row, column in glyph_at(glyph, size):
        pixels[row][column] = WHITE
    return pixels


def post_box(size, outline):
    """The post box seen from above at an angle: red top and front, dark-red right side. The
    layout is that of the 32-pixel drawing, spread over the size."""
    scale = size / 32

    def span(first, last):  # a run of 32-pixel rows or columns at this size
        return int(first * scale), int((last + 1) * scale) - 1

    pixels = [[CLEAR] * size for _ in range(size)]
    (front_left, front_right), (front_top, bottom) = span(3, 22), span(9, 30)
    depth = round(6 * scale)  # how far the top and the side recede up and to the right
    # Top face: a parallelogram above the front.
    for step in range(depth + 1):
        fill(pixels, front_top - step, front_left + step, front_right + step, RED)
    # Right side: a parallelogram beside the front.
    for column_step in range(1, depth + 1):
        for row in range(front_top - column_step, bottom - column_step + 1):
            pixels[row][front_right + column_step] = DARK_RED
    # Front face.
    for row in range(front_top, bottom + 1):
        fill(pixels, row, front_left, front_right, RED)
    # Black outline inside every filled pixel that borders the transparent area, plus the edges
    # between the faces.
    filled = [[pixels[r][c] is not None for c in range(size)] for r in range(size)]

    def bare(r, c):
        return not (0 <= r < size and 0 <= c < size) or not filled[r][c]

    for row in range(size):
        for column in range(size):
            if filled[row][column] and any(bare(row + d, column) or bare(row, column + d)
                                           for k in range(1, outline + 1) for d in (-k, k)):
                pixels[row][column] = BLACK
    for row in range(front_top, front_top + outline):
        fill(pixels, row, front_left, front_right, BLACK)
    for row in range(front_top, bottom + 1):
        fill(pixels, row, front_right - outline + 1, front_right, BLACK)
    for step in range(depth + 1):
        fill(pixels, front_top - step, front_right + step - outline + 1, front_right + step, BLACK)
    # Two grey slots on the front, the postal mark between them.
    slot_columns, mark_columns, stem_columns = span(6, 19), span(7, 18), span(11, 14)
    for rows, columns, colour in ((span(12, 13), slot_columns, GREY), (span(26, 27), slot_columns, GREY),
                                  (span(16, 17), mark_columns, WHITE), (span(19, 20), mark_columns, WHITE),
                                  (span(21, 24), stem_columns, WHITE)):
        for row in range(rows[0], rows[1] + 1):
            fill(pixels, row, *columns, colour)
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
            for bit in range(min(8, size - column)):
                if row[column + bit] is None:
                    byte |= 0x80 >> bit
            bits.append(byte)
        mask += bits + bytes(-len(bits) % 4)
    return header + palette + bytes(colour) + bytes(mask)


def deflate(data, stride):
    """A zlib stream of one block with the fixed Huffman codes, whose only matches repeat the
    previous pixel or the row above: enough for flat pixel art, and the same bytes everywhere."""
    def codes(first, extra_bits):  # (first value, extra bits) of each length or distance code
        table = []
        for extra in extra_bits:
            table.append((first, extra))
            first += 1 << extra
        return table

    lengths = codes(3, [0] * 8 + [(i - 4) // 4 for i in range(8, 28)]) + [(258, 0)]
    distances = codes(1, [max(0, (i - 2) // 2) for i in range(30)])
    bits, count = 0, 0
    out = bytearray(b"\x78\x01")

    def put(value, width, reverse=False):
        nonlocal bits, count
        if reverse:  # Huffman codes go most significant bit first
            value = int(f"{value:0{width}b}"[::-1], 2)
        bits |= value << count
        count += width
        while count >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            count -= 8

    def symbol(code):
        if code < 144:
            put(0x30 + code, 8, True)
        elif code < 256:
            put(0x190 + code - 144, 9, True)
        elif code < 280:
            put(code - 256, 7, True)
        else:
            put(0xC0 + code - 280, 8, True)

    def code(table, value):  # the code for a length or distance, then its extra bits
        index = max(k for k, (first, _) in enumerate(table) if first <= value)
        return index, lambda: put(value - table[index][0], table[index][1])

    put(1, 1)  # the last block
    put(1, 2)  # fixed codes
    i = 0
    while i < len(data):
        best, where = 0, 0
        for distance in (4, stride):
            if distance <= i:
                n = 0
                while n < 258 and i + n < len(data) and data[i + n] == data[i + n - distance]:
                    n += 1
                if n > best:
                    best, where = n, distance
        if best < 3:
            symbol(data[i])
            i += 1
            continue
        index, extra = code(lengths, best)
        symbol(257 + index)
        extra()
        index, extra = code(distances, where)
        put(index, 5, True)
        extra()
        i += best
    symbol(256)  # end of block
    put(0, 7)  # out with the last bits
    return bytes(out) + struct.pack(">I", zlib.adler32(data))


def png(width, height, rows, colour_type, compress):
    """A PNG of 8-bit RGB (colour type 2) or RGBA (6) rows, unfiltered."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\0" + bytes(row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
            + chunk(b"IDAT", compress(raw, len(raw) // height)) + chunk(b"IEND", b""))


def png_data(pixels):
    """The picture as an RGBA PNG, transparent where clear."""
    rows = [b"".join(bytes(PALETTE[p]) + b"\xff" if p is not None else bytes(4) for p in row) for row in pixels]
    return png(len(pixels), len(pixels), rows, 6, deflate)


def ico(images):
    """An .ico file holding the given pictures (lists of rows)."""
    data = [png_data(p) if len(p) >= PNG_FROM else image_data(p) for p in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for pixels, blob in zip(images, data):
        size = len(pixels)
        colours, bits = (0, 32) if size >= PNG_FROM else (16, 4)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    return out + b"".join(data)


def sheet(rows, scale=6, big_scale=2, gap=12):
    """One row of pictures per icon, every size side by side, enlarged; transparent pixels as a
    light checkerboard. Pictures larger than 48 pixels are enlarged less."""
    def factor(pixels):
        return scale if len(pixels) <= 48 else big_scale
    width = max(sum(len(p) * factor(p) + gap for p in row) for row in rows) + gap
    lines = []
    for row in rows:
        height = max(len(p) * factor(p) for p in row)
        band = [bytearray(b"\xff" * (width * 3)) for _ in range(height + gap)]
        x = gap
        for pixels in row:
            f = factor(pixels)
            for y in range(len(pixels) * f):
                line = band[y]
                for dx in range(len(pixels) * f):
                    index = pixels[y // f][dx // f]
                    if index is None:
                        shade = 0xE8 if ((y // 6) + (dx // 6)) % 2 else 0xFF
                        colour = (shade, shade, shade)
                    else:
                        colour = PALETTE[index]
                    line[(x + dx) * 3:(x + dx) * 3 + 3] = bytes(colour)
            x += len(pixels) * f + gap
        lines += band
    lines = [b"\xff" * (width * 3)] * gap + lines
    return png(width, len(lines), lines, 2, lambda raw, stride: zlib.compress(raw, 9))


def pictures():
    """Every icon id's name with its images, smallest first."""
    program = [front(n, *PICTURES["IDI_NO_MAIL"]) for n in TRAY_SIZES if n < 32]
    program += [post_box(n, outline) for n, outline in POST_BOX.items()]
    icons = {"IDI_PROGRAM": program}
    for name, picture in PICTURES.items():
        icons[name] = [front(n, *picture) for n in TRAY_SIZES]
    return icons


def main():
    check = sys.argv[1] == "--check"
    out = Path(sys.argv[2 if check else 1])
    out.mkdir(parents=True, exist_ok=True)
    icons = pictures()
    stale = []
    for name, images in icons.items():
        file, data = out / f"{name[4:].lower()}.ico", ico(images)  # IDI_NO_MAIL: no_mail.ico
        if not check:
            file.write_bytes(data)
        elif not file.exists() or file.read_bytes() != data:
            stale.append(file.name)
    if not check and len(sys.argv) > 2:
        Path(sys.argv[2]).write_bytes(sheet([icons[n] for n in sorted(icons, key=IDS.get)]))
    print("not what the drawing gives: " + " ".join(stale) if stale else f"all {len(icons)} pictures are current")
    return 1 if stale else 0


if __name__ == "__main__":
    sys.exit(main())
