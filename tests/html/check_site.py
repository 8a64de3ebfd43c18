#!/usr/bin/env python3
"""`krscript html` checked in a real browser: headless Chromium opens the pages
of a small generated game, with its translations and a corrupt script, and
what it shows after the pages' scripts have run is checked:

- every link to an id (PAGE#ID, or #ID on the same page) reaches an element
  with that id on its page, and every other link a file of the site;
- a reference links to the definitions of its key, and a definition to the
  references to it; a long script's pages link across each other;
- strings from the script and the translations that hold markup are shown as
  text, and no element comes of them;
- the index lists the corrupt script with where and why it stops, and no page;
- index.html?q=WORDS lists a known line, with its translation, as a link;
- nothing is fetched: no http or https address anywhere in the site, no
  fetch or XMLHttpRequest in its scripts.

A screenshot of one page is kept as SCREENSHOT for people to look at; its
pixels are not compared.

    check_site.py --krscript PATH --work DIR --screenshot PNG [--chromium PATH]

Exits with 77 (skipped) when Chromium is not installed.
"""

import argparse
import html.parser
import os
import re
import shutil
import subprocess
import sys
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scripts  # noqa: E402

SKIPPED = 77
HOSTILE = "<script>alert(1)</script>"
HOSTILE_TRANSLATION = "</span><img src=x onerror=alert(2)>"


class Page(html.parser.HTMLParser):
    """What a dumped page holds: the elements with an id and their text, the
    links in each, and the tags met."""

    def __init__(self):
        super().__init__()
        self.ids = {}  # id: text of the element
        self.links = []  # (href, id of the enclosing element with one)
        self.tags = []
        self.classes = {}  # id: classes of the spans inside
        self.stack = []  # open elements: (tag, id)
        self.text = []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.tags.append((tag, attrs))
        owner = next((i for _, i in reversed(self.stack) if i), None)
        if tag == "a" and "href" in attrs:
            self.links.append((attrs["href"], owner))
        if tag == "span" and owner:
            self.classes.setdefault(owner, []).append(attrs.get("class", ""))
        if "id" in attrs:
            if attrs["id"] in self.ids:
                raise AssertionError(f"id {attrs['id']} twice")
            self.ids[attrs["id"]] = ""
        if tag not in ("meta", "link", "input", "br", "img", "rect"):
            self.stack.append((tag, attrs.get("id")))

    def handle_endtag(self, tag):
        while self.stack:
            if self.stack.pop()[0] == tag:
                break

    def handle_data(self, data):
        self.text.append(data)
        for _, owner in self.stack:
            if owner:
                self.ids[owner] += data


def fail(message):
    sys.exit(f"FAILED: {message}")


class Browser:
    def __init__(self, chromium, profile):
        self.chromium = chromium
        self.profile = profile

    def command(self, *extra):
        return [self.chromium, "--headless", "--no-sandbox", "--disable-gpu",
                "--disable-background-networking", "--disable-component-update",
                "--disable-sync", "--no-first-run", f"--user-data-dir={self.profile}",
                "--virtual-time-budget=5000", *extra]

    def dump(self, path, query=""):
        url = "file://" + urllib.parse.quote(os.path.abspath(path)) + query
        result = subprocess.run(self.command("--dump-dom", url), capture_output=True,
                                timeout=300)
        if result.returncode != 0 or not result.stdout:
            fail(f"chromium could not open {url}: {result.stderr.decode(errors='replace')[-2000:]}")
        page = Page()
        page.feed(result.stdout.decode())
        return page

    def screenshot(self, path, png):
        url = "file://" + urllib.parse.quote(os.path.abspath(path))
        subprocess.run(self.command("--hide-scrollbars", "--window-size=1100,640",
                                    f"--screenshot={os.path.abspath(png)}", url),
                       capture_output=True, timeout=300, check=True)
        if not os.path.getsize(png):
            fail(f"no screenshot in {png}")


def make_game(work):
    """A game of four scripts, one that does not decode, and its translations."""
    game = os.path.join(work, "game")
    os.makedirs(os.path.join(game, "chapter 1"))
    scene = (scripts.name_reference(2)  # a name defined further down     @00
             + scripts.name_definition(1, b"Alice")  # @05
             + scripts.name_reference(1)  # @10
             + scripts.dialogue(b"Hello, traveller.")  # @15
             + scripts.dialogue(HOSTILE.encode())  # @2C
             + scripts.dialogue("\u3053\u3093\u306b\u3061\u306f".encode(), 0x1C)  # @4B
             + scripts.name_definition(2, b"Bob")  # @60
             + scripts.name_reference(9)  # a key with no name              @69
             + scripts.word_list([1, 2])  # @6E
             + scripts.float_pair(1.0, -2.0) + b"\x00")  # @7B
    files = {"chapter 1/scene #1.kr": scene,
             "chapter 1/long.kr": scripts.long_script(60000),
             "broken.kr": b"\x03\x29",
             "empty.kr": b""}
    for relative, data in files.items():
        with open(os.path.join(game, relative), "wb") as f:
            f.write(data)
    return game


def translate(po_folder):
    path = os.path.join(po_folder, "chapter 1", "scene #1.kr.po")
    with open(path, encoding="utf-8") as f:
        po = f.read()
    for offset, source, target, fuzzy in (
            ("00000015", "Hello, traveller.", "Bonjour, voyageur.", False),
            ("0000002C", HOSTILE, HOSTILE_TRANSLATION, False),
            ("00000005", "Alice", "Alicia", True)):
        entry = f'msgctxt "{offset}"\nmsgid "{source}"\nmsgstr ""'
        if entry not in po:
            fail(f"extract wrote no entry for {source!r} at {offset}")
        po = po.replace(entry, ("#, fuzzy\n" if fuzzy else "") +
                        entry[:-2] + '"' + target.replace('"', '\\"') + '"')
    with open(path, "w", encoding="utf-8") as f:
        f.write(po)


def check_static(site):
    """Nothing in the site reaches out of it, and no file is over 8 MB."""
    for folder, _, names in os.walk(site):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                data = f.read()
            if len(data) > 8 << 20:
                fail(f"{path} holds {len(data)} bytes")
            for forbidden in (b"http:", b"https:", b"fetch(", b"XMLHttpRequest", b"//cdn"):
                if forbidden in data:
                    fail(f"{path} holds {forbidden.decode()}")


def check_links(browser, site, first_pages):
    """Opens the pages, follows every link and checks what references and
    definitions link to. Returns the dumped pages by path."""
    pages = {}
    pending = list(first_pages)
    while pending:
        path = pending.pop()
        if path in pages:
            continue
        pages[path] = page = browser.dump(path)
        top = os.path.relpath(site, os.path.dirname(path))
        for tag, attrs in page.tags:
            # The one script of a page is the site's filter, from the top.
            if tag == "script" and os.path.normpath(attrs.get("src", "")) == \
                    os.path.normpath(os.path.join(top, "filter.js")):
                continue
            if tag in ("script", "img", "iframe", "object"):
                fail(f"{path} holds a <{tag}> element")
        for href, _ in page.links:
            target, _, anchor = href.partition("#")
            target = target.partition("?")[0]
            target = os.path.normpath(os.path.join(os.path.dirname(path),
                                                   urllib.parse.unquote(target))) \
                if target else path
            if not os.path.isfile(target):
                fail(f"{path}: {href} names no file of the site")
            if anchor and target.endswith(".html") and target not in pages:
                pending.append(target)
    linked = 0
    for path, page in pages.items():
        for href, owner in page.links:
            target, _, anchor = href.partition("#")
            target = target.partition("?")[0]
            if not anchor:
                continue
            target = os.path.normpath(os.path.join(os.path.dirname(path),
                                                   urllib.parse.unquote(target))) \
                if target else path
            if anchor not in pages[target].ids:
                fail(f"{path}: {href} reaches no element with id {anchor}")
            line, there = page.ids[owner], pages[target].ids[anchor]
            # "OFFSET:16  K0 K1 K2 K3 -> NAME" links to "OFFSET:2B  K0 K1 K2 K3 :: NAME"
            # and the other way.
            opcode, key = line[9:11], line[13:24]
            wanted = {"16": "2B", "2B": "16"}.get(opcode)
            if wanted is None or there[9:11] != wanted or there[13:24] != key:
                fail(f"{path}: {line!r} links to {there!r}")
            linked += 1
    return pages, linked


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--krscript", required=True)
    parser.add_argument("--work", required=True, help="a folder to write in, emptied first")
    parser.add_argument("--screenshot", required=True)
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    args = parser.parse_args()
    if not os.access(args.chromium, os.X_OK):
        print(f"skipped: no browser at {args.chromium} (Debian package chromium)")
        return SKIPPED
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    browser = Browser(args.chromium, os.path.join(args.work, "profile"))

    game = make_game(args.work)
    po = os.path.join(args.work, "po")
    subprocess.run([args.krscript, "extract", game, "-o", po], capture_output=True, timeout=300)
    translate(po)
    site = os.path.join(args.work, "site")
    result = subprocess.run([args.krscript, "html", game, po, "-o", site], capture_output=True,
                            timeout=300)
    expected = f"{os.path.join(game, 'broken.kr')}: 0x00000001: unknown opcode 0x29\n3 ok, 1 failed\n"
    if result.returncode != 1 or result.stderr.decode() != expected:
        fail(f"krscript html exited with {result.returncode} and said "
             f"{result.stderr.decode()!r}, not {expected!r}")
    check_static(site)

    scene = os.path.join(site, "chapter 1", "scene #1.kr.html")
    long = os.path.join(site, "chapter 1", "long.kr.html")
    pages, linked = check_links(browser, site, [scene, long, os.path.join(site, "empty.kr.html")])
    long_pages = [p for p in pages if os.path.basename(p).startswith("long.kr")]
    if len(long_pages) < 2:
        fail(f"the long script has {len(long_pages)} page, not several")

    lines = pages[scene].ids
    expected_lines = {
        "00000000": "00000000:16  02 00 00 00 -> Bob",
        "00000005": "00000005:2B  01 00 00 00 :: Alice",
        "00000015": "00000015:1B  00 00 00 00 :: Hello, traveller.Bonjour, voyageur.",
        "0000002C": f"0000002C:1B  00 00 00 00 :: {HOSTILE}{HOSTILE_TRANSLATION}",
        "00000069": "00000069:16  09 00 00 00 ",
        "0000006E": "0000006E:2F  02 00 00 00 :: 0100000002000000",
    }
    for offset, text in expected_lines.items():
        if not lines.get(offset, "").startswith(text):
            fail(f"{scene}: line {offset} is {lines.get(offset)!r}, not {text!r}...")
    if "fuzzy" not in lines["00000005"] or "t fz" not in pages[scene].classes["00000005"]:
        fail(f"the fuzzy translation of Alice is not marked: {lines['00000005']!r}")
    if "t un" not in pages[scene].classes["0000004B"]:
        fail("the untranslated string at 0000004B is not marked")

    index = os.path.join(site, "index.html")
    listed = browser.dump(index)
    if "broken.kr0x00000001: unknown opcode 0x29" not in "".join(listed.text):
        fail("the index does not list broken.kr with where and why it stops")
    if os.path.exists(os.path.join(site, "broken.kr.html")):
        fail("broken.kr has a page")

    found = browser.dump(index, "?q=" + urllib.parse.quote("hello TRAVELLER"))
    results = [(href, owner) for href, owner in found.links
               if href == urllib.parse.quote("chapter 1/scene #1.kr.html") + "#00000015"]
    if not results or "Bonjour, voyageur." not in found.ids["results"]:
        fail(f"searching for 'hello TRAVELLER' does not find the line and its translation: "
             f"{found.ids.get('results')!r}")

    browser.screenshot(scene, args.screenshot)
    print(f"{len(pages)} pages opened in Chromium, {linked} links between names followed; "
          f"the search found the line; screenshot in {args.screenshot}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
