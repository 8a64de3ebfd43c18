#!/usr/bin/env python3
"""`krscript html` with a game's text boxes, checked in a real browser:
headless Chromium, driven by Selenium, opens from disk the pages of a
generated game whose profile draws dialogue in a Latin font and one opcode's
strings in a proportional Japanese one, and measures what it draws:

- every line of every box (each `.line`, measured with a Range over its
  text) is as wide as the width the tool computed (its data-width), within
  1 px, and each box is exactly as wide as the profile's;
- a line has the class `over` exactly when the browser draws it wider than
  its box (lines within 1 px of the edge are not judged) or it is past the
  box's `lines`;
- the lines of a translation are those `krscript inject` puts into the
  script with the same profile, and an untranslated string shows its source;
- each page counts the strings that overflow, and the index has the same
  count for the script;
- the problems beside each string are lint's for that entry, and
  ?show=untranslated|fuzzy|problems shows exactly the strings (on a page) or
  the scripts (on the index) that are so; a fuzzy entry's previous source is
  shown with what changed, which read without its insertions gives the
  previous source and without its deletions the source;
- the search finds a word that only a translation holds;
- the fonts copied into the site are named in its mark, and a second run
  replaces the site.

A screenshot of a page with its boxes is kept as SCREENSHOT.

    check_boxes.py --krscript PATH --work DIR --screenshot PNG
                   --latin FONT --japanese FONT [--chromium PATH] [--chromedriver PATH]

Exits with 77 (skipped) when Chromium, its driver, Selenium or a font is
missing.
"""

import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scripts  # noqa: E402

SKIPPED = 77
# Debian's python3-selenium is installed for the system's Python, which may
# not be the one that runs the tests.
SYSTEM_PYTHON = "/usr/bin/python3"

LATIN_WORDS = ("the", "a", "will", "you", "wait", "for", "me", "at", "station", "tonight",
               "château", "garçon", "déjà", "MMMM", "illicit", "wonderful", "WAVE", "jolly",
               "quiet", "ferry", "a-la-carte", "über", "Æsir", "œuvre", "naïve", "{name}")
JAPANESE_WORDS = ("今日は", "とても", "良い", "天気", "ですね", "。", "散歩", "に", "行き",
                  "ましょう", "か", "？", "「", "」", "ありがとう", "ございます", "、", "ー",
                  "ゃ", "漢字", "東京", "駅", "で", "待って", "います")
# Only translations hold it: the search must find it there.
TRANSLATED_WORD = "Zéphyrine"

LATIN_BOX = {"size": 24, "width": 420, "lines": 3}
JAPANESE_BOX = {"size": 28, "width": 336, "lines": 2}


def fail(message):
    sys.exit(f"FAILED: {message}")


def run(command, status=0):
    result = subprocess.run(command, capture_output=True, timeout=600)
    if status is not None and result.returncode != status:
        fail(f"{' '.join(command)} exited with {result.returncode}, not {status}:\n"
             f"{result.stderr.decode(errors='replace')}")
    return result


def sentence(rng, words, joiner, most):
    return joiner.join(rng.choice(words) for _ in range(rng.randrange(1, most)))


def make_game(rng, work, latin, japanese):
    """Three scripts of names (0x2B), Latin dialogue (0x1B) and Japanese
    lines (0x1C), with the profile that draws them."""
    game = os.path.join(work, "game")
    os.makedirs(os.path.join(game, "part 2"))
    shutil.copy(latin, os.path.join(game, "latin" + os.path.splitext(latin)[1]))
    shutil.copy(japanese, os.path.join(game, "japanese" + os.path.splitext(japanese)[1]))
    with open(os.path.join(game, "krscript.toml"), "w", encoding="utf-8") as f:
        f.write(f'encoding = "utf-8"\n[box]\nfont = "latin{os.path.splitext(latin)[1]}"\n'
                f'size = {LATIN_BOX["size"]}\nwidth = {LATIN_BOX["width"]}\n'
                f'lines = {LATIN_BOX["lines"]}\n'
                '[box.placeholders]\n"{name}" = "Alexander"\n'
                f'[box.opcode.1C]\nfont = "japanese{os.path.splitext(japanese)[1]}"\n'
                f'size = {JAPANESE_BOX["size"]}\nwidth = {JAPANESE_BOX["width"]}\n'
                f'lines = {JAPANESE_BOX["lines"]}\n')
    names = []
    for number, relative in enumerate(("a.kr", "b.kr", os.path.join("part 2", "c.kr"))):
        data = bytearray()
        for key, name in enumerate(("Alice", "Bob", "Chloé")):
            data += scripts.name_definition(key, name.encode())
        for _ in range(14 + 4 * number):
            data += scripts.name_reference(rng.randrange(3))
            if rng.random() < 0.6:
                data += scripts.dialogue(sentence(rng, LATIN_WORDS, " ", 30).encode())
            else:
                data += scripts.dialogue(sentence(rng, JAPANESE_WORDS, "", 30).encode(), 0x1C)
        with open(os.path.join(game, relative), "wb") as f:
            f.write(data + b"\x00")
        names.append(relative.replace(os.sep, "/"))
    return game, names


def po_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def translate(rng, po, names):
    """Translates some entries, some fuzzy with a previous source, some with
    a translator's comment. Returns, by script, the offsets of the entries
    untranslated and fuzzy."""
    states = {}
    entry_re = re.compile(r'msgctxt "([0-9A-F]{8})"\nmsgid (".*")\nmsgstr ""')
    for name in names:
        path = os.path.join(po, name + ".po")
        with open(path, encoding="utf-8") as f:
            text = f.read()
        untranslated, fuzzy, previous = set(), set(), {}

        def replace(match):
            offset, source = match.group(1), json.loads(match.group(2))
            roll = rng.random()
            if roll < 0.25:
                untranslated.add(offset)
                return match.group(0)
            japanese = any(ord(c) > 0x3000 for c in source)
            words = JAPANESE_WORDS if japanese else LATIN_WORDS
            target = sentence(rng, words, "" if japanese else " ", 40)
            if rng.random() < 0.2:  # the translator's own line break
                target += "\n" + sentence(rng, words, "" if japanese else " ", 8)
            if rng.random() < 0.15:
                target += " " + TRANSLATED_WORD
            head = ""
            if rng.random() < 0.2:
                head += "# check the tone with Chloé\n"
            if roll > 0.85:
                fuzzy.add(offset)
                cut = rng.randrange(len(source) + 1)
                previous[offset] = source[:cut] + rng.choice(("", " old", "XX")) + \
                    source[cut + rng.randrange(4):]
                head += "#, fuzzy\n#| msgid " + po_string(previous[offset]) + "\n"
            return (f'{head}msgctxt "{offset}"\nmsgid {match.group(2)}\nmsgstr '
                    f'{po_string(target)}')

        text = entry_re.sub(replace, text)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        states[name] = {"untranslated": untranslated, "fuzzy": fuzzy, "previous": previous}
    return states


def strings_of(krscript, script):
    """The text of each string of a script, in order, by `krscript dump`."""
    code = json.loads(run([krscript, "dump", script]).stdout)["code"]
    return [(entry["at"], entry["text"]) for entry in code if "text" in entry]


class Driver:
    def __init__(self, chromium, chromedriver):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        options = webdriver.ChromeOptions()
        options.binary_location = chromium
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                         "--window-size=1100,900", "--disable-background-networking"):
            options.add_argument(argument)
        self.driver = webdriver.Chrome(service=Service(chromedriver), options=options)

    def open(self, path, query=""):
        self.driver.get("file://" + urllib.parse.quote(os.path.abspath(path)) + query)
        # Measured once the site's fonts are in.
        self.driver.execute_async_script(
            "var done = arguments[arguments.length - 1]; document.fonts.ready.then(done);")

    def run(self, script):
        return self.driver.execute_script(script)

    def quit(self):
        self.driver.quit()


# Of every box of the page open: its string's id, its width, and each line's
# data-width, class, width as drawn (a Range over its text) and text, with
# each placeholder as written rather than as drawn.
BOXES = """
return Array.from(document.querySelectorAll('.box')).map(function (box) {
  return {id: box.closest('.code > div').id, width: box.getBoundingClientRect().width,
    lines: Array.from(box.querySelectorAll('.line')).map(function (line) {
      var range = document.createRange();
      range.selectNodeContents(line);
      var copy = line.cloneNode(true);
      copy.querySelectorAll('.ph').forEach(function (ph) { ph.textContent = ph.title; });
      return {computed: Number(line.dataset.width), drawn: range.getBoundingClientRect().width,
              over: line.classList.contains('over'), text: copy.textContent};
    })};
});
"""

VISIBLE = """
return Array.from(document.querySelectorAll(arguments[0])).filter(function (item) {
  return !item.hidden;
}).map(function (item) { return item.id || item.querySelector('a').textContent; });
"""


def check_page(driver, page, name, box_of, expected_lines, lint_counts, states, sources):
    """Checks the boxes of one script's page; returns how many overflow."""
    driver.open(page)
    boxes = driver.run(BOXES)
    missing = set(expected_lines) - {box["id"] for box in boxes}
    if missing:
        fail(f"{name}: the strings at {sorted(missing)} have no box")
    overflowing = 0
    for box in boxes:
        limits = box_of[box["id"]]
        if box["width"] != limits["width"]:
            fail(f"{name} {box['id']}: the box is {box['width']} px wide, not {limits['width']}")
        texts = [line["text"] for line in box["lines"]]
        if box["id"] in expected_lines and texts != expected_lines[box["id"]]:
            fail(f"{name} {box['id']}: the box shows {texts}, not {expected_lines[box['id']]}")
        for number, line in enumerate(box["lines"], 1):
            if abs(line["computed"] - line["drawn"]) > 1:
                fail(f"{name} {box['id']} line {number} {line['text']!r}: drawn "
                     f"{line['drawn']} px wide, computed {line['computed']}")
            past = number > limits["lines"]
            if past or line["drawn"] > limits["width"] + 1:
                wanted = True
            elif line["drawn"] < limits["width"] - 1:
                wanted = False
            else:
                wanted = line["over"]  # too near the edge to judge
            if line["over"] != wanted:
                fail(f"{name} {box['id']} line {number} {line['text']!r}, {line['drawn']} px "
                     f"of {limits['width']}: over is {line['over']}")
        overflowing += any(line["over"] for line in box["lines"])
    said = driver.run("return document.querySelector('p.sum').textContent")
    if not said.startswith(f"{overflowing} string"):
        fail(f"{name}: the page says {said!r}, but {overflowing} boxes overflow")

    # lint's problems, one element each, beside their string.
    shown = driver.run("""
      var counts = {};
      document.querySelectorAll('.code > div').forEach(function (line) {
        var found = line.querySelectorAll('.pr').length;
        if (found) { counts[line.id] = found; }
      });
      return counts;""")
    if shown != lint_counts:
        fail(f"{name}: the problems shown {shown} are not lint's {lint_counts}")
    # A previous source is shown with what changed: without what it added
    # it reads as the previous source, without what it removed as the source.
    changes = driver.run("""
      var sides = {};
      document.querySelectorAll('.prev').forEach(function (prev) {
        var side = function (left) {
          var copy = prev.cloneNode(true);
          copy.querySelectorAll(left + ', i').forEach(function (e) { e.remove(); });
          return copy.textContent.replace(/^ /, '');
        };
        sides[prev.closest('.code > div').id] = [side('ins'), side('del')];
      });
      return sides;""")
    if set(changes) != set(states["previous"]):
        fail(f"{name}: previous sources shown at {sorted(changes)}, "
             f"not {sorted(states['previous'])}")
    for offset, (previous, source) in changes.items():
        if previous != states["previous"][offset] or source != sources[offset]:
            fail(f"{name} {offset}: the change shown reads {previous!r} -> {source!r}, not "
                 f"{states['previous'][offset]!r} -> {sources[offset]!r}")

    wanted = {"untranslated": states["untranslated"], "fuzzy": states["fuzzy"],
              "problems": set(lint_counts)}
    for kind, offsets in wanted.items():
        driver.open(page, "?show=" + kind)
        visible = set(driver.run(VISIBLE.replace("arguments[0]", "'.code > div'")))
        if visible != offsets:
            fail(f"{name}?show={kind} shows {sorted(visible)}, not {sorted(offsets)}")
        back = driver.run("return document.querySelector('nav a').getAttribute('href')")
        if not back.endswith("index.html?show=" + kind):
            fail(f"{name}?show={kind}: the link to the index is {back!r}")
    return overflowing


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--krscript", required=True)
    parser.add_argument("--work", required=True, help="a folder to write in, emptied first")
    parser.add_argument("--screenshot", required=True)
    parser.add_argument("--latin", required=True)
    parser.add_argument("--japanese", required=True)
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    parser.add_argument("--chromedriver", default="/usr/bin/chromedriver")
    parser.add_argument("--seed", type=int, default=27)
    args = parser.parse_args()
    for path, what in ((args.chromium, "Debian package chromium"),
                       (args.chromedriver, "Debian package chromium-driver")):
        if not os.access(path, os.X_OK):
            print(f"skipped: nothing to run at {path} ({what})")
            return SKIPPED
    for font in (args.latin, args.japanese):
        if not os.path.isfile(font):
            print(f"skipped: no font at {font}")
            return SKIPPED
    try:
        import selenium  # noqa: F401
    except ImportError:
        if os.path.realpath(sys.executable) != os.path.realpath(SYSTEM_PYTHON) and \
                os.access(SYSTEM_PYTHON, os.X_OK) and subprocess.run(
                    [SYSTEM_PYTHON, "-c", "import selenium"], capture_output=True).returncode == 0:
            return subprocess.run([SYSTEM_PYTHON, *sys.argv]).returncode
        print("skipped: no Selenium for Python (Debian package python3-selenium)")
        return SKIPPED

    rng = random.Random(args.seed)
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    game, names = make_game(rng, args.work, args.latin, args.japanese)
    po = os.path.join(args.work, "po")
    run([args.krscript, "extract", game, "-o", po])
    states = translate(rng, po, names)
    site = os.path.join(args.work, "site")
    run([args.krscript, "html", game, po, "-o", site])
    # The fonts are the site's own files: named in its mark, so that the
    # next run replaces the site with them.
    with open(os.path.join(site, ".krscript-site"), encoding="utf-8") as f:
        marked = f.read().split("\n")
    fonts = sorted(name for name in os.listdir(site) if name.startswith("krscript-font-"))
    if len(fonts) != 2 or not set(fonts) <= set(marked):
        fail(f"the site's fonts {fonts} are not two, each named in its mark")
    run([args.krscript, "html", game, po, "-o", site])
    injected = os.path.join(args.work, "injected")
    run([args.krscript, "inject", game, po, "-o", injected])
    lint = json.loads(run([args.krscript, "lint", game, po, "--format", "json"],
                          status=None).stdout)
    if not lint["problems"]:
        fail("lint finds no problem: the game checks nothing beside the strings")

    driver = Driver(args.chromium, args.chromedriver)
    try:
        overflowing = {}
        lines_checked = 0
        for name in names:
            # What each box must show: the string's text as inject puts it
            # in, or its source when inject leaves it (untranslated); a
            # fuzzy translation, which inject leaves out, is not compared.
            before = strings_of(args.krscript, os.path.join(game, name))
            after = strings_of(args.krscript, os.path.join(injected, name))
            expected_lines = {}
            box_of = {}
            with open(os.path.join(game, name), "rb") as f:
                data = f.read()
            for (offset, source), (_, text) in zip(before, after):
                opcode = data[int(offset, 16)]
                box_of[offset] = JAPANESE_BOX if opcode == 0x1C else LATIN_BOX
                if offset not in states[name]["fuzzy"]:
                    expected_lines[offset] = text.split("\n")
            lint_counts = {}
            for problem in lint["problems"]:
                if os.path.relpath(problem["file"], po) == name.replace("/", os.sep) + ".po":
                    lint_counts[problem["context"]] = lint_counts.get(problem["context"], 0) + 1
            page = os.path.join(site, name + ".html")
            overflowing[name] = check_page(driver, page, name, box_of, expected_lines,
                                           lint_counts, states[name], dict(before))
            lines_checked += sum(len(lines) for lines in expected_lines.values())

        index = os.path.join(site, "index.html")
        driver.open(index)
        rows = driver.run("""
          return Array.from(document.querySelectorAll('table.scripts tbody tr')).map(
            function (row) {
              return [row.querySelector('a').textContent, row.lastElementChild.textContent];
            });""")
        if {name: int(count) for name, count in rows} != overflowing:
            fail(f"the index counts {rows} strings over the box, not {overflowing}")
        for kind in ("untranslated", "fuzzy", "problems"):
            driver.open(index, "?show=" + kind)
            visible = set(driver.run(VISIBLE.replace("arguments[0]",
                                                     "'table.scripts tbody tr'")))
            wanted = {name for name in names
                      if (states[name][kind] if kind != "problems" else any(
                          os.path.relpath(p["file"], po) == name.replace("/", os.sep) + ".po"
                          for p in lint["problems"]))}
            if visible != wanted:
                fail(f"index.html?show={kind} shows {sorted(visible)}, not {sorted(wanted)}")

        driver.open(index, "?q=" + urllib.parse.quote(TRANSLATED_WORD.lower()))
        found = driver.run("return document.querySelectorAll('#results li').length")
        if found == 0:
            fail(f"the search finds no translation holding {TRANSLATED_WORD}")

        driver.open(os.path.join(site, names[0] + ".html"))
        driver.driver.save_screenshot(args.screenshot)
    finally:
        driver.quit()
    print(f"{len(names)} pages opened in Chromium, {lines_checked} lines of translations and "
          f"sources measured within 1 px of the tool's widths; "
          f"{sum(overflowing.values())} strings over their box; screenshot in {args.screenshot}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
