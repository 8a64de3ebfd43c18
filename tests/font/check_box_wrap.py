#!/usr/bin/env python3
"""Checks inject's wrapping to a profile's text box against the font itself.

Over random translations in a real font, every line inject writes fits the
box's width as this script measures it, from the font's own hmtx and cmap
(read by check_advances.py, apart from FreeType), and every break is greedy:
the next word (or, in Japanese, the next character) would not have fit on
the line before it. And lint, over random translations of several lines
left unwrapped, reports width for exactly the lines wider than the box, in
pixels rounded up, lines for exactly the translations of more lines than it
holds, and glyph for each character the font lacks. A font that is not
installed is skipped; status 77 when none is.

With --wrapper (Wine) and --native, the krscript checked is another build's,
and the native one must also write the same bytes and the same report from
the same profile, scripts and translations: both read the same design units.
"""

import math
import re

import argparse
import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_advances  # noqa: E402

SIZE = 22
WIDTH = 310
LINES = 3
PER_FONT = 60
# Unassigned: no font has a glyph for it.
MISSING = "\u0378"


def width_of(advances, text):
    return sum(advances.get(ord(c)) or 0 for c in text)


def fits(units, units_per_em):
    return units * SIZE <= WIDTH * units_per_em


def latin_text(picker, letters):
    words = []
    for _ in range(picker.randint(1, 30)):
        words.append("".join(picker.choice(letters) for _ in range(picker.randint(1, 9))))
    return " ".join(words)


def japanese_text(picker, characters):
    return "".join(picker.choice(characters) for _ in range(picker.randint(1, 60)))


def script_and_po(texts):
    script = bytearray()
    po = ['msgid ""', 'msgstr ""', '"Content-Type: text/plain; charset=UTF-8\\n"',
          '"X-Script-Encoding: utf-8\\n"', ""]
    for index, text in enumerate(texts):
        source = "s%d" % index
        po += ['msgctxt "%08X"' % len(script), 'msgid "%s"' % source, 'msgstr "%s"' % text, ""]
        script += b"\x1b\x00\x00\x00\x00" + source.encode() + b"\x00"
    return bytes(script), "\n".join(po) + "\n"


def strings_of(script):
    texts = []
    at = 0
    while at < len(script):
        assert script[at] == 0x1B, "not a dialogue string at %d" % at
        end = script.index(b"\x00", at + 5)
        texts.append(script[at + 5:end].decode("utf-8"))
        at = end + 1
    return texts


def check_font(program, native, path, japanese):
    units_per_em, mapped = check_advances.read_font(path, 0)
    advances = {code: advance for code, advance in mapped.items() if advance is not None}
    picker = random.Random(path)
    if japanese:
        pool = [chr(c) for c in list(range(0x3042, 0x3093)) + list(range(0x4E00, 0x4F00))
                if c in advances and chr(c) not in "ぁぃぅぇぉっゃゅょゎ"]
        texts = [japanese_text(picker, pool) for _ in range(PER_FONT)]
    else:
        pool = [c for c in "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZéøß"
                if ord(c) in advances]
        texts = [latin_text(picker, pool) for _ in range(PER_FONT)]
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "krscript.toml"), "w") as profile:
            profile.write('encoding = "utf-8"\n[box]\nfont = "%s"\nsize = %d\nwidth = %d\n'
                          % (path, SIZE, WIDTH))
        script, po = script_and_po(texts)
        with open(os.path.join(folder, "s.kr"), "wb") as file:
            file.write(script)
        with open(os.path.join(folder, "s.kr.po"), "w") as file:
            file.write(po)
        run = subprocess.run(program + ["inject", "s.kr", "s.kr.po", "-o", "out.kr"],
                             cwd=folder, capture_output=True, text=True)
        if run.returncode != 0:
            return ["%s: inject failed: %s" % (path, run.stderr)]
        with open(os.path.join(folder, "out.kr"), "rb") as file:
            injected = file.read()
        written = strings_of(injected)
        if native:
            subprocess.run(native + ["inject", "s.kr", "s.kr.po", "-o", "native.kr"], cwd=folder,
                           capture_output=True, check=True)
            with open(os.path.join(folder, "native.kr"), "rb") as file:
                if file.read() != injected:
                    failures.append("inject wrote other bytes than the native build")
    for text, wrapped in zip(texts, written):
        lines = wrapped.split("\n")
        # Nothing is lost or added but the breaks.
        joined = "".join(lines) if japanese else " ".join(lines)
        if joined != text:
            failures.append("%r came out as %r" % (text, wrapped))
            continue
        for number, line in enumerate(lines):
            if not fits(width_of(advances, line), units_per_em):
                failures.append("%r: line %d %r is wider than the box" % (text, number + 1, line))
            if number + 1 < len(lines):
                following = lines[number + 1]
                more = line + following[:1] if japanese else line + " " + following.split(" ")[0]
                if fits(width_of(advances, more), units_per_em):
                    failures.append("%r: line %d %r could have taken more" % (text, number + 1, line))
    return ["%s: %s" % (os.path.basename(path), failure) for failure in failures]


def check_lint(program, native, path, japanese):
    units_per_em, mapped = check_advances.read_font(path, 0)
    advances = {code: advance for code, advance in mapped.items() if advance is not None}
    picker = random.Random(path + " lint")
    letters = [chr(c) for c in range(0x3042, 0x3093) if c in advances] if japanese else \
        [c for c in "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ" if ord(c) in advances]
    texts = []
    for _ in range(PER_FONT):
        lines = []
        for _ in range(picker.randint(1, 5)):
            line = "".join(picker.choice(letters + [MISSING] * (len(letters) // 40))
                           for _ in range(picker.randint(1, 40)))
            lines.append(line.strip(" ") or "x")
        texts.append("\n".join(lines))
    expected = set()
    for index, text in enumerate(texts):
        lines = text.split("\n")
        for number, line in enumerate(lines):
            pixels = math.ceil(width_of(advances, line) * SIZE / units_per_em)
            if pixels > WIDTH:
                expected.add((index, "width", "line %d is %d px wide" % (number + 1, pixels)))
        if len(lines) > LINES:
            expected.add((index, "lines", "%d lines" % len(lines)))
        for count in range(text.count(MISSING)):
            expected.add((index, "glyph", "U+0378 %d" % count))
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "krscript.toml"), "w") as profile:
            profile.write('encoding = "utf-8"\n[box]\nfont = "%s"\nsize = %d\nwidth = %d\n'
                          'lines = %d\n' % (path, SIZE, WIDTH, LINES))
        script, po = script_and_po([text.replace("\n", "\\n") for text in texts])
        with open(os.path.join(folder, "s.kr"), "wb") as file:
            file.write(script)
        with open(os.path.join(folder, "s.kr.po"), "w") as file:
            file.write(po)
        run = subprocess.run(program + ["lint", "s.kr", "s.kr.po", "--no-wrap"],
                             cwd=folder, capture_output=True, text=True)
        same = not native or subprocess.run(
            native + ["lint", "s.kr", "s.kr.po", "--no-wrap"], cwd=folder, capture_output=True,
            text=True).stdout == run.stdout
    reported = set()
    glyphs = {}
    for line in run.stdout.splitlines():
        found = re.match(r"s\.kr\.po:(\d+): \w+: (\w+): .*?: (.*)$", line)
        if not found:
            continue
        index = (int(found.group(1)) - 8) // 4
        check, message = found.group(2), found.group(3)
        if check == "width":
            reported.add((index, check, message[:message.index(" px wide") + 8]))
        elif check == "lines":
            reported.add((index, check, re.search(r"\d+ lines", message).group(0)))
        elif check == "glyph":
            count = glyphs.get(index, 0)
            glyphs[index] = count + 1
            reported.add((index, check, "%s %d" % (message.split(" ")[6], count)))
    name = os.path.basename(path)
    return ([] if same else ["%s: lint reported otherwise than the native build" % name]) + (
            ["%s: lint: not reported: %s" % (name, item) for item in sorted(expected - reported)] +
            ["%s: lint: reported wrongly: %s" % (name, item) for item in sorted(reported - expected)])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--krscript", required=True)
    parser.add_argument("--wrapper", help="runs --krscript, such as wine")
    parser.add_argument("--native", help="a native krscript that must give the same bytes")
    parser.add_argument("--latin", action="append", default=[])
    parser.add_argument("--japanese", action="append", default=[])
    arguments = parser.parse_args()
    fonts = [(path, False) for path in arguments.latin] + [(path, True) for path in arguments.japanese]
    fonts = [(path, japanese) for path, japanese in fonts if os.path.exists(path)]
    if not fonts:
        print("no font installed to check with")
        return 77
    program = [arguments.wrapper] if arguments.wrapper else []
    program.append(os.path.abspath(arguments.krscript))
    native = [os.path.abspath(arguments.native)] if arguments.native else None
    failures = []
    for path, japanese in fonts:
        failures += check_font(program, native, path, japanese)
        failures += check_lint(program, native, path, japanese)
    for failure in failures[:20]:
        print(failure)
    print("%d fonts, %d failures" % (len(fonts), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
