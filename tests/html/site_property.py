#!/usr/bin/env python3
"""Properties of `krscript html` over generated folders of scripts:

- the same folder and translations give the same site, byte for byte, on one
  worker or two;
- every instruction of every script has its id, its offset in eight
  uppercase hex digits, exactly once over the script's pages, and no other id
  is there;
- each string is shown as the text `krscript dump` gives it (or its bytes
  in hex), whatever markup it holds: the pages hold no element but those of
  the page itself;
- no file of the site is larger than 8 MB;
- with --boxes, every other folder (the first among them) has a profile whose box (a widths table)
  each string that is text is drawn in, once.

    site_property.py --krscript PATH --work DIR [--seed N] [--folders N] [--boxes]
"""

import argparse
import html.parser
import json
import os
import random
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scripts  # noqa: E402

MOST_FILE_BYTES = 8 << 20
ID = re.compile(rb'\bid="([^"]*)"')


# The elements a page is made of; a string that made any other, or an
# attribute, would have been taken for markup.
PAGE_TAGS = {"html", "head", "meta", "title", "link", "body", "nav", "a", "b", "form", "input",
             "button", "div", "span", "i", "p", "del", "ins", "script"}
PAGE_ATTRIBUTES = {"lang", "charset", "name", "content", "rel", "href", "action", "type",
                   "placeholder", "id", "class", "src", "title", "data-width"}


class Strings(html.parser.HTMLParser):
    """The text of each line's string (the span of class "s" or "x"), by
    the id of the line, and any element or attribute a page should not
    have."""

    def __init__(self):
        super().__init__()
        self.strings = {}
        self.unexpected = []
        self.line = None
        self.depth = 0  # inside the string's span while above 0

    def handle_starttag(self, tag, attrs):
        for name, _ in attrs:
            if name not in PAGE_ATTRIBUTES:
                self.unexpected.append(f"attribute {name}")
        if tag not in PAGE_TAGS:
            self.unexpected.append(f"<{tag}>")
        attrs = dict(attrs)
        # The one script of a page is the site's filter, loaded from its top.
        if tag == "script" and not re.fullmatch(r"(\.\./)*filter\.js", attrs.get("src", "")):
            self.unexpected.append(f"<script src={attrs.get('src')!r}>")
        if tag == "div" and "id" in attrs:
            self.line = attrs["id"]
        if tag == "span" and self.depth == 0 and attrs.get("class") in ("s", "x"):
            self.depth = 1
            self.strings[self.line] = ""
        elif tag == "span" and self.depth > 0:
            self.depth += 1

    def handle_endtag(self, tag):
        if tag == "span" and self.depth > 0:
            self.depth -= 1

    def handle_data(self, data):
        if self.depth > 0:
            self.strings[self.line] = self.strings.get(self.line, "") + data


def run(command, expect_status=None):
    result = subprocess.run(command, capture_output=True, timeout=600)
    if expect_status is not None and result.returncode != expect_status:
        sys.exit(f"FAILED: {' '.join(command)} exited with {result.returncode}, not "
                 f"{expect_status}\n{result.stderr.decode(errors='replace')}")
    return result


def translate_randomly(rng, po_folder):
    """Fills in some msgstr of every PO file, marking some fuzzy."""
    for folder, _, names in os.walk(po_folder):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, encoding="utf-8") as f:
                entries = f.read().split("\n\n")
            for i in range(1, len(entries)):
                roll = rng.random()
                if roll < 0.4 and entries[i].endswith('msgstr ""'):
                    entries[i] = entries[i][:-2] + '"<b>translated</b> & more"'
                    if roll < 0.1:
                        entries[i] = entries[i].replace("msgctxt", "#, fuzzy\nmsgctxt", 1)
            with open(path, "w", encoding="utf-8") as f:
                f.write("\n\n".join(entries))


def site_files(site):
    files = {}
    for folder, _, names in os.walk(site):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, site)] = f.read()
    return files


def pages_of(files, relative):
    """The pages of the script at `relative`: REL.html, REL~2.html, ..."""
    pages = []
    while True:
        name = relative + (".html" if not pages else f"~{len(pages) + 1}.html")
        if name not in files:
            return pages
        pages.append(name)


def check_folder(krscript, work, rng, number, boxes):
    game = os.path.join(work, f"game{number}")
    os.makedirs(os.path.join(game, "sub"))
    boxed = boxes and number % 2 == 0
    if boxed:
        with open(os.path.join(game, "krscript.toml"), "w", encoding="utf-8") as f:
            f.write('[box]\nwidths = "widths.txt"\ndefault = 7\nwidth = 90\nlines = 2\n'
                    '[box.placeholders]\n"%s" = "<b>Alexander</b>"\n')
        with open(os.path.join(game, "widths.txt"), "w", encoding="utf-8") as f:
            f.write("i\t3\n")
    relatives = []
    for i in range(rng.randrange(2, 6)):
        relative = os.path.join("sub" if i % 2 else "", f"s{i}.kr")
        with open(os.path.join(game, relative), "wb") as f:
            f.write(scripts.random_script(rng, rng.randrange(0, 400)))
        relatives.append(relative)
    if number == 0:
        # One script long enough for several pages.
        with open(os.path.join(game, "long.kr"), "wb") as f:
            f.write(scripts.long_script(60000))
        relatives.append("long.kr")
    po = os.path.join(work, f"po{number}")
    run([krscript, "extract", game, "-o", po], expect_status=0)
    translate_randomly(rng, po)

    sites = [os.path.join(work, f"site{number}-j{jobs}") for jobs in (1, 2)]
    for site, jobs in zip(sites, (1, 2)):
        run([krscript, "html", game, po, "-o", site, "-j", str(jobs)], expect_status=0)
    first, second = site_files(sites[0]), site_files(sites[1])
    if first != second:
        differing = sorted(set(first) ^ set(second)) or sorted(
            name for name in first if first[name] != second[name])
        sys.exit(f"FAILED: two runs on {game} gave different sites: {differing[:5]}")

    for name, data in first.items():
        if len(data) > MOST_FILE_BYTES:
            sys.exit(f"FAILED: {name} holds {len(data)} bytes, more than {MOST_FILE_BYTES}")
    for relative in relatives:
        dumped = run([krscript, "dump", os.path.join(game, relative)], expect_status=0)
        code = json.loads(dumped.stdout)["code"]
        offsets = [entry["at"] for entry in code]
        pages = pages_of(first, relative.replace(os.sep, "/"))
        if not pages:
            sys.exit(f"FAILED: no page for {relative}")
        ids = [m.group(1).decode() for page in pages for m in ID.finditer(first[page])]
        if sorted(ids) != sorted(offsets):
            missing = sorted(set(offsets) - set(ids))[:5]
            extra = sorted(set(ids) - set(offsets))[:5]
            twice = sorted({i for i in ids if ids.count(i) > 1})[:5] if len(ids) < 5000 else []
            sys.exit(f"FAILED: {relative}: the ids of its pages are not its offsets, each once "
                     f"(missing {missing}, not offsets {extra}, twice {twice})")
        shown = Strings()
        for page in pages:
            shown.feed(first[page].decode())
        if shown.unexpected:
            sys.exit(f"FAILED: {relative}: its pages hold {sorted(set(shown.unexpected))[:5]}")
        for entry in code:
            if "text" in entry or "bytes" in entry:
                wanted = entry.get("text", entry.get("bytes", "").upper())
                if shown.strings.get(entry["at"]) != wanted:
                    sys.exit(f"FAILED: {relative}: the string at {entry['at']} is shown as "
                             f"{shown.strings.get(entry['at'])!r}, not {wanted!r}")
        drawn = sum(first[page].count(b'<div class="box box') for page in pages)
        wanted = sum("text" in entry for entry in code) if boxed else 0
        if drawn != wanted:
            sys.exit(f"FAILED: {relative}: {drawn} boxes drawn, not {wanted}")
        if relative == "long.kr" and len(pages) < 2:
            sys.exit("FAILED: the long script has a single page")
    return len(relatives)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--krscript", required=True)
    parser.add_argument("--work", required=True, help="a folder to write in, emptied first")
    parser.add_argument("--seed", type=int, default=19)
    parser.add_argument("--folders", type=int, default=6)
    parser.add_argument("--boxes", action="store_true",
                        help="the build reads profiles: draw some folders in a box")
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    rng = random.Random(args.seed)
    checked = sum(check_folder(args.krscript, args.work, rng, n, args.boxes) for n in range(args.folders))
    print(f"{args.folders} folders, {checked} scripts: each site the same twice, every "
          "instruction's id once")


if __name__ == "__main__":
    main()
