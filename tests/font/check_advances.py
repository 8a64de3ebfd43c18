#!/usr/bin/env python3
"""Checks the advances that font_advances prints against a reading of the
font's own tables, made here from the bytes with nothing but `struct`: the
table directory (or a collection's header), `head` for the units per em,
`cmap` (formats 4 and 12) for the glyph of each character, and `hhea` and
`hmtx` for each glyph's advance.

    check_advances.py --program font_advances [--wrapper WINE] FONT[:FACE]...

A few hundred code points of each face are compared: every character of
Basic Latin and Latin-1, a spread of the others the face maps, and some it
does not. Fonts that are not installed are skipped; when none is, the exit
status is 77 (skipped)."""

import argparse
import os
import random
import struct
import subprocess
import sys


def u16(data, at):
    return struct.unpack_from(">H", data, at)[0]


def u32(data, at):
    return struct.unpack_from(">I", data, at)[0]


def tables(data, face):
    """The tables of face `face`: tag -> (offset, length)."""
    start = 0
    if data[:4] == b"ttcf":
        count = u32(data, 8)
        if face >= count:
            raise ValueError(f"face {face} of {count}")
        start = u32(data, 12 + 4 * face)
    elif face != 0:
        raise ValueError("a single font has face 0 alone")
    found = {}
    for record in range(u16(data, start + 4)):
        at = start + 12 + 16 * record
        found[data[at:at + 4].decode("latin-1")] = (u32(data, at + 8), u32(data, at + 12))
    return found


def character_map(data, offset):
    """Code point -> glyph from the best Unicode subtable: a full one
    (format 12) when there is one, else the one of the first plane (format 4)."""
    best = None
    for record in range(u16(data, offset + 2)):
        at = offset + 4 + 8 * record
        platform, encoding = u16(data, at), u16(data, at + 2)
        sub = offset + u32(data, at + 4)
        fmt = u16(data, sub)
        unicode = platform == 0 or (platform == 3 and encoding in (1, 10))
        if unicode and fmt in (4, 12):
            rank = 2 if fmt == 12 else 1
            if best is None or rank > best[0]:
                best = (rank, sub, fmt)
    if best is None:
        raise ValueError("no Unicode subtable")
    _, sub, fmt = best
    mapping = {}
    if fmt == 12:
        for group in range(u32(data, sub + 12)):
            at = sub + 16 + 12 * group
            first, last, glyph = u32(data, at), u32(data, at + 4), u32(data, at + 8)
            for code in range(first, last + 1):
                mapping[code] = glyph + code - first
        return mapping
    segments = u16(data, sub + 6) // 2
    ends = sub + 14
    starts = ends + 2 * segments + 2
    deltas = starts + 2 * segments
    ranges = deltas + 2 * segments
    for segment in range(segments):
        end, first = u16(data, ends + 2 * segment), u16(data, starts + 2 * segment)
        delta, range_offset = u16(data, deltas + 2 * segment), u16(data, ranges + 2 * segment)
        for code in range(first, end + 1):
            if code == 0xFFFF:
                continue
            if range_offset == 0:
                glyph = (code + delta) & 0xFFFF
            else:
                at = ranges + 2 * segment + range_offset + 2 * (code - first)
                glyph = u16(data, at)
                if glyph != 0:
                    glyph = (glyph + delta) & 0xFFFF
            mapping[code] = glyph
    return mapping


def read_font(path, face):
    with open(path, "rb") as file:
        data = file.read()
    found = tables(data, face)
    units_per_em = u16(data, found["head"][0] + 18)
    metrics = u16(data, found["hhea"][0] + 34)
    hmtx = found["hmtx"][0]
    advances = [u16(data, hmtx + 4 * glyph) for glyph in range(metrics)]
    glyphs = u16(data, found["maxp"][0] + 4)

    def advance(glyph):
        if glyph == 0 or glyph >= glyphs:
            return None
        return advances[min(glyph, metrics - 1)]

    mapping = character_map(data, found["cmap"][0])
    return units_per_em, {code: advance(glyph) for code, glyph in mapping.items()}


def sample(mapped):
    """Basic Latin and Latin-1 whole, then a seeded spread of the rest of the
    characters the face maps and of those it does not."""
    chosen = set(range(0x20, 0x100))
    rest = sorted(code for code in mapped if code >= 0x100 and mapped[code] is not None)
    picker = random.Random(len(rest))
    chosen.update(picker.sample(rest, min(300, len(rest))))
    unmapped = [code for code in range(0x100, 0x30000, 97) if code not in mapped]
    chosen.update(unmapped[:60])
    return sorted(code for code in chosen if not 0xD800 <= code <= 0xDFFF)


def check(program, wrapper, path, face):
    units_per_em, mapped = read_font(path, face)
    codes = sample(mapped)
    command = wrapper + [program, path, str(face)] + [f"{code:X}" for code in codes]
    run = subprocess.run(command, capture_output=True, text=True)
    if run.returncode != 0:
        return [f"{path}:{face}: font_advances failed ({run.returncode}): {run.stderr.strip()}"]
    lines = run.stdout.split("\n")
    lines = [line.strip() for line in lines if line.strip()]
    if not lines:
        return [f"{path}:{face}: font_advances printed nothing"]
    faults = []
    if lines[0] != f"units-per-em {units_per_em}":
        faults.append(f"{path}:{face}: {lines[0]!r}, but head says {units_per_em}")
    for code, line in zip(codes, lines[1:]):
        expected = mapped.get(code)
        want = f"U+{code:04X} {'none' if expected is None else expected}"
        if line != want:
            faults.append(f"{path}:{face}: {line!r}, but the tables say {want!r}")
    if len(lines) != len(codes) + 1:
        faults.append(f"{path}:{face}: {len(lines) - 1} code points printed of {len(codes)}")
    print(f"{path}:{face}: {len(codes)} code points, {units_per_em} units per em, "
          f"{len(faults)} differences")
    return faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--wrapper", default="")
    parser.add_argument("fonts", nargs="+")
    args = parser.parse_args()
    wrapper = [args.wrapper] if args.wrapper else []
    faults = []
    checked = 0
    for font in args.fonts:
        path, _, face = font.partition(":")
        if not os.path.exists(path):
            print(f"{path}: not installed, skipped")
            continue
        faults += check(args.program, wrapper, path, int(face or 0))
        checked += 1
    for fault in faults[:40]:
        print(fault)
    if faults:
        return 1
    return 0 if checked else 77


if __name__ == "__main__":
    sys.exit(main())
