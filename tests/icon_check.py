#!/usr/bin/env python3
"""Reads the ten icons out of the built program's resources and checks every image's layout from its
pixels alone, at places taken as proportions of its size.   icon_check.py pollwick.exe"""
import re
import struct
import sys
import zlib
from pathlib import Path

ID = {name[4:]: int(number) for name, number in
      re.findall(r"#define (IDI_\w+) (\d+)", (Path(__file__).parents[1] / "resources/resource.h").read_text())}
GLYPH = {number: "question" if name.startswith("CHECKING_") else "cross" if name == "CHECK_FAILED" else "postal"
         for name, number in ID.items()}
COLOURS = {"black": lambda r, g, b: max(r, g, b) < 0x40, "white": lambda r, g, b: min(r, g, b) > 0xE0,
           "red": lambda r, g, b: r > 0xC0 and max(g, b) < 0x60, "dark": lambda r, g, b: max(r, g, b) <= 0x90,
           "dark red": lambda r, g, b: 0x60 < r < 0xB0 and max(g, b) < 0x40,
           "grey": lambda r, g, b: 0x60 < r < 0xD0 and max(abs(r - g), abs(g - b)) < 16,
           "yellow": lambda r, g, b: min(r, g) > 0xC0 and b < 0x80}
# What an area must be (all of it, or the share given); the area as fractions of the size: x from, to,
# y from, to. The program's own post box (IDI_PROGRAM from 32 pixels on) seen from above at an angle, and
# the front of the others: clear beside the outline, the red face, the two slots and which are lit.
BOX = [("top-left corner", "clear", 0, .08, 0, .2), ("bottom-right corner", "clear", .85, 1, .88, 1),
       ("front", "red", .13, .18, .45, .75), ("top", "red", .35, .55, .15, .24), ("side", "dark red", .75, .86, .4, .7),
       ("upper slot", "grey", .25, .55, .38, .43), ("lower slot", "grey", .25, .55, .82, .87)]
FRONT = [("left margin", "clear", 0, .04, 0, 1), ("right margin", "clear", .96, 1, 0, 1),
         ("face", "red", .13, .28, .3, .7), ("face", "red", .72, .87, .3, .7)]
SLOTS = [(slot, area, {ID[name] for name in ID if word in name})  # lit for new mail, for acknowledged mail
         for slot, area, word in (("top", (.3, .7, .14, .23), "NEW"), ("bottom", (.3, .7, .77, .86), "OLD"))]


def resources(pe):
    """{(type, id): data} from the PE's resource directory (the first language of each)."""
    header = struct.unpack_from("<I", pe, 0x3C)[0]
    (sections, optional), start = struct.unpack_from("<H12xH", pe, header + 6), header + 24
    rva = struct.unpack_from("<I", pe, start + (96 if pe[start:start + 2] == b"\x0b\x01" else 112) + 16)[0]
    table = [struct.unpack_from("<8xIIII", pe, start + optional + 40 * i) for i in range(sections)]
    offset = lambda a: next(a - va + raw for size, va, stored, raw in table if va <= a < va + max(size, stored))
    base = offset(rva)
    entries = lambda at: [struct.unpack_from("<II", pe, base + (at & 0x7FFFFFFF) + 16 + 8 * i)
                          for i in range(sum(struct.unpack_from("<12xHH", pe, base + (at & 0x7FFFFFFF))))]
    found = {}
    for kind, names in entries(0):
        for name, languages in entries(names):
            data, size = struct.unpack_from("<II", pe, base + entries(languages)[0][1])
            found[kind, name] = pe[offset(data):offset(data) + size]
    return found


def decode(data):
    """Rows of (r, g, b, a) from a PNG (8-bit RGBA) or a DIB with its AND mask."""
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        chunks, at = {}, 8
        while at < len(data):
            length, kind = struct.unpack_from(">I4s", data, at)
            chunks[kind] = chunks.get(kind, b"") + data[at + 8:at + 8 + length]
            at += 12 + length
        width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[b"IHDR"])
        assert (depth, colour, interlace) == (8, 6, 0), "PNG not 8-bit RGBA"
        raw, stride, rows, prior = zlib.decompress(chunks[b"IDAT"]), 4 * width + 1, [], bytearray(4 * width)
        for y in range(height):
            line = bytearray(raw[y * stride + 1:(y + 1) * stride])
            for i in range(len(line)):  # undo the row's filter: none, sub, up, average or Paeth
                a, b, c = line[i - 4] if i >= 4 else 0, prior[i], prior[i - 4] if i >= 4 else 0
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                paeth = a if pa <= pb and pa <= pc else b if pb <= pc else c
                line[i] = (line[i] + (0, a, b, (a + b) // 2, paeth)[raw[y * stride]]) & 0xFF
            rows.append([tuple(line[x:x + 4]) for x in range(0, len(line), 4)])
            prior = line
        return rows
    size, width, height, bits, used = struct.unpack_from("<IiixxH16xI", data)
    assert bits <= 8, "DIB not palette-indexed"
    start, stride, mask_stride = size + 4 * (used or 1 << bits), (width * bits + 31) // 32 * 4, (width + 31) // 32 * 4
    rows = []
    for y in reversed(range(height // 2)):  # bottom row first; the AND mask follows the colours
        at, mask = start + y * stride, start + stride * height // 2 + y * mask_stride
        index = [data[at + x * bits // 8] >> (8 - bits - x * bits % 8) & (1 << bits) - 1 for x in range(width)]
        rows.append([(*data[size + 4 * i:size + 4 * i + 3][::-1], 0 if data[mask + x // 8] >> (7 - x % 8) & 1 else 255)
                     for x, i in enumerate(index)])
    return rows


def check(image, number):
    """The layout rules one image breaks, as text."""
    n, faults = len(image), []
    is_ = lambda kind, p: p[3] < 128 if kind == "clear" else p[3] >= 128 and COLOURS[kind](*p[:3])
    area = lambda x0, x1, y0, y1: [((x, y), image[y][x]) for y in range(n) for x in range(n)
                                   if x0 <= (x + .5) / n <= x1 and y0 <= (y + .5) / n <= y1]
    box = number == ID["PROGRAM"] and n >= 32
    rules = BOX if box else FRONT + [(f"{name} lamp", "yellow", *where, .25) if number in lit
                                     else (f"{name} slot", "dark", *where) for name, where, lit in SLOTS]
    for what, kind, x0, x1, y0, y1, *share in rules:
        pixels = [p for _, p in area(x0, x1, y0, y1)]
        if not pixels or sum(is_(kind, p) for p in pixels) < (share or [1])[0] * len(pixels):
            faults.append(f"{what} not {kind}")
    middle, column = image[n // 2], [row[n // 2] for row in image]
    for side, line in ("left", middle), ("right", middle[::-1]), ("top", column), ("bottom", column[::-1]):
        if not is_("black", next((p for p in line if p[3] >= 128), (255, 255, 255, 255))):  # the first pixel drawn
            faults.append(f"outline not black at the {side}")
    white = [xy for xy, p in area(0, 1, 0, 1) if is_("white", p)]
    x0, x1, y0, y1 = (.2, .6, .45, .8) if box else (.25, .75, .25, .76)  # between the slots
    if len(white) < .02 * n * n or any(not (x0 < (x + .5) / n < x1 and y0 < (y + .5) / n < y1) for x, y in white):
        return faults + ["glyph missing or outside the face"]
    # The postal mark has a row white all across and a stem in the middle of its bottom third; the
    # cross fills the corners and the middle of its box; the question mark its top corners and a stem.
    left, top = min(x for x, _ in white), min(y for _, y in white)
    width, height = max(x for x, _ in white) - left + 1, max(y for _, y in white) - top + 1
    third = lambda u, edge: 0 if u < edge else 2 if u > 1 - edge else 1
    seen = {(third((x - left + .5) / width, .3), third((y - top + .5) / height, 1 / 3)) for x, y in white}
    tl, tr, bl, br, centre, foot = ((c, r) in seen for c, r in ((0, 0), (2, 0), (0, 2), (2, 2), (1, 1), (1, 2)))
    stem = foot and not bl and not br
    glyph = ("postal" if max(sum(y == row for _, y in white) for row in range(n)) >= .9 * width and stem
             else "cross" if tl and tr and bl and br and centre else "question" if tl and tr and stem else "unknown")
    return faults + ([f"glyph is {glyph}, not {GLYPH[number]}"] if glyph != GLYPH[number] else [])


def main():
    found, faults = resources(open(sys.argv[1], "rb").read()), []
    for number in sorted(GLYPH):
        group = found.get((14, number), bytes(6))
        members = [struct.unpack_from("<BB10xH", group, 6 + 14 * i) for i in range(len(group) // 14)]  # after 6 bytes
        images = [decode(found[3, member]) for _, _, member in members]
        sizes = sorted((w or 256, h or 256, len(image[0]), len(image)) for (w, h, _), image in zip(members, images))
        if sizes != [(n, n, n, n) for n in [16, 20, 24, 32, 40, 48] + [256] * (number == ID["PROGRAM"])]:
            faults.append(f"{number}: sizes (width, height in the group; width, height drawn) {sizes}")
        faults += [f"{number} {len(image)}x{len(image)}: {fault}"
                   for image in images if len(image) == len(image[0]) for fault in check(image, number)]
    print("\n".join(faults) or "every picture at every size keeps its layout")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
