#!/usr/bin/env python3
"""Reads every icon out of the built program's resources and checks that each id carries, image for
image, the .ico file named after it (IDI_NEW_MAIL: resources/icons/new_mail.ico), which the
generator's own check pins byte for byte.   icon_check.py pollwick.exe"""
import re
import struct
import sys
from pathlib import Path

top = Path(__file__).parents[1]
ID = {name[4:].lower(): int(number) for name, number in
      re.findall(r"#define (IDI_\w+) (\d+)", (top / "resources/resource.h").read_text())}


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


def main():
    found, faults = resources(open(sys.argv[1], "rb").read()), []
    for name, number in sorted(ID.items()):
        file = (top / "resources/icons" / f"{name}.ico").read_bytes()
        # The file's entries are 16 bytes (ending in the image's offset), the group's 14 (its image's id).
        wanted = [file[o:o + s] for s, o in (struct.unpack_from("<8xII", file, 6 + 16 * i)
                                              for i in range(struct.unpack_from("<4xH", file)[0]))]
        group = found.get((14, number), bytes(6))
        carried = [found.get((3, struct.unpack_from("<12xH", group, 6 + 14 * i)[0]), b"")
                   for i in range(struct.unpack_from("<4xH", group)[0])]
        if carried != wanted or not wanted:
            faults.append(f"{number} does not carry {name}.ico ({len(carried)} images, {len(wanted)} in the file)")
    print("\n".join(faults) or f"every one of the {len(ID)} icons is its own file")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
