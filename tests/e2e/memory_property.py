#!/usr/bin/env python3
"""Checks lint's run-wide warnings and `krscript memory` on generated games,
against an independent reading of the translation files: lines said again
and again, names defined in several scripts, translated one way or another,
some fuzzy, some left empty, in PO and CSV files, and a glossary of terms in
Japanese and in Latin letters.

- `inconsistent` warns exactly the translated entries (not fuzzy) whose
  source has another translation in the run, names the others with the place
  each is first given, and says "name" for a name definition;
- `glossary` warns exactly the translated entries whose source holds a term
  (anywhere for one in Japanese, as a whole word otherwise) whose target the
  translation lacks in any case;
- `memory` writes, as translate-toolkit's own TMX reader reads it, one unit
  for each distinct source and translation, in the run's order.

The memory is not checked without translate-toolkit (po2tmx); lint always
is.
"""

import argparse
import csv
import json
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile

NAMES = ["アリス", "ボブ", "勇者", "Zed"]
LINES = ["はい。", "……", "What?", "魔法を使う", "勇者の剣", "HPが回復", "HP up", "start the art",
         "art is long", "The artist", "魔法使いだ", "Élan vital", "いいえ", "HPHP"]
# Each source's translations, of which one is drawn for each place it is said.
TRANSLATIONS = {
    "アリス": ["Alice", "Alicia"], "ボブ": ["Bob"], "勇者": ["Hero", "the brave"],
    "Zed": ["Zed", "Zedd"], "はい。": ["Yes.", "Sí.", "Yes.", "Yeah.", "Aye.", "Yes!"], "……": ["...", "…"],
    "What?": ["What?", "Eh?"], "魔法を使う": ["Use MAGIC", "Cast a spell"],
    "勇者の剣": ["The hero's sword", "The sword"], "HPが回復": ["hp restored", "Health back"],
    "HP up": ["HP up"], "start the art": ["begin the ART", "begin"], "art is long": ["Art"],
    "The artist": ["The painter"], "魔法使いだ": ["A magician", "A wizard"],
    "Élan vital": ["élan", "Impulse"], "いいえ": ["No."], "HPHP": ["Double"],
}
GLOSSARY = [("source", "target", "note"), ("魔法", "magic", "spells"), ("勇者", "hero", ""),
            ("HP", "HP", ""), ("art", "art", "a whole word"), ("Élan", "ÉLAN", ""),
            ("アリス", "Alice", "the heroine"), ("いいえ", "", "not decided yet")]
WORD = re.compile(r"[0-9A-Za-z_\u00C0-\u00D6\u00D8-\u00F6\u00F8-\u024F\u0370-\u04FF]")


def script_bytes(rng, count):
    """Names defined and referred to, and lines; the name keys are the
    names' own, so that a name keeps its key in every script."""
    out = bytearray()
    for _ in range(count):
        if rng.random() < 0.25:
            key = rng.randrange(len(NAMES))
            out += b"\x2b" + struct.pack("<I", key) + NAMES[key].encode() + b"\x00"
        else:
            out += b"\x16" + struct.pack("<I", rng.randrange(len(NAMES)))
            out += b"\x1b\x00\x00\x00\x00" + rng.choice(LINES).encode() + b"\x00"
    return bytes(out)


def unquote(text):
    return text[1:-1].replace('\\"', '"').replace("\\n", "\n").replace("\\\\", "\\")


def extracted_entries(path):
    """(offset, source, comment) of each entry of a PO file extract wrote."""
    entries = []
    with open(path, encoding="utf-8") as f:
        blocks = f.read().strip().split("\n\n")[1:]
    for block in blocks:
        entry = {"msgctxt": "", "msgid": "", "comment": ""}
        key = None
        for line in block.split("\n"):
            if line.startswith("#. "):
                entry["comment"] += line[3:] + "\n"
            elif line.startswith('"') and key:
                entry[key] += unquote(line)
            elif line.startswith("msg"):
                key, rest = line.split(" ", 1)
                entry[key] = unquote(rest)
        entries.append((entry["msgctxt"], entry["msgid"], entry["comment"]))
    return entries


def po_quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def write_translations(path, script, entries, rng):
    """Writes a PO or CSV file translating `entries`; returns, for each, a
    dict with its source, target, fuzzy, whether it is a name, and the line
    lint names it by (the msgstr's, or the row's)."""
    written = []
    for offset, source, comment in entries:
        roll = rng.random()
        target = "" if roll < 0.15 else rng.choice(TRANSLATIONS[source])
        written.append({"offset": offset, "source": source, "target": target,
                        "fuzzy": bool(target) and rng.random() < 0.15,
                        "name": comment.startswith("name definition")})
    if path.endswith(".csv"):
        with open(path, "w", encoding="utf-8", newline="") as f:
            out = csv.writer(f, lineterminator="\n")
            out.writerow(["location", "source", "target", "context", "fuzzy"])
            for number, entry in enumerate(written):
                out.writerow([f"{script}:{entry['offset']}", entry["source"], entry["target"], "",
                              "fuzzy" if entry["fuzzy"] else ""])
                entry["line"] = number + 2
        return written
    lines = ['msgid ""', 'msgstr ""', '"Language: es\\n"',
             '"Content-Type: text/plain; charset=UTF-8\\n"', '"X-Script-Encoding: utf-8\\n"']
    for entry in written:
        lines.append("")
        if entry["fuzzy"]:
            lines.append("#, fuzzy")
        lines += [f'msgctxt "{entry["offset"]}"', "msgid " + po_quote(entry["source"]),
                  "msgstr " + po_quote(entry["target"])]
        entry["line"] = len(lines)
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    return written


def holds_term(source, term):
    if any(0x3000 <= ord(c) <= 0x9FFF or 0xFF00 <= ord(c) <= 0xFFEF for c in term):
        return term in source
    for at in [m.start() for m in re.finditer(re.escape(term), source)]:
        end = at + len(term)
        if (at == 0 or not WORD.match(source[at - 1])) and \
                (end == len(source) or not WORD.match(source[end])):
            return True
    return False


def expected_warnings(files):
    """What lint must say, by (file, line, check): the other translations
    (with their places) an inconsistent entry names, or the glossary line of
    a term an entry lacks."""
    translated = [(name, entry) for name, entries in files for entry in entries
                  if entry["target"] and not entry["fuzzy"]]
    first_place = {}
    for name, entry in translated:
        first_place.setdefault((entry["source"], entry["target"]), f"{name}:{entry['line']}")
    expected = {}
    for name, entry in translated:
        others = [(target, place) for (source, target), place in first_place.items()
                  if source == entry["source"] and target != entry["target"]]
        if others:
            expected[(name, entry["line"], "inconsistent")] = (entry["name"], others)
        for line, (source, target, _) in enumerate(GLOSSARY[1:], start=2):
            if target and holds_term(entry["source"], source) and \
                    target.lower() not in entry["target"].lower():
                expected.setdefault((name, entry["line"], "glossary"), []).append(line)
    return expected


def run(*command, check=True):
    result = subprocess.run(command, capture_output=True, text=True)
    if check and result.returncode != 0:
        raise SystemExit(f"{' '.join(command)}: exit {result.returncode}\n{result.stderr}")
    return result


def toolkit_python():
    """The Python that runs translate-toolkit's po2tmx, whose library it is."""
    po2tmx = shutil.which("po2tmx")
    if po2tmx is None:
        return None
    with open(po2tmx, encoding="utf-8", errors="replace") as f:
        first = f.readline()
    return first[2:].strip().split()[0] if first.startswith("#!") else None


def check_lint(krscript, files, failures, seen):
    report = json.loads(run(krscript, "lint", "game", "tr", "--glossary", "names.csv",
                            "--format", "json", check=False).stdout)
    got = {}
    for problem in report["problems"]:
        if problem["check"] in ("inconsistent", "glossary"):
            key = (problem["file"], problem["line"], problem["check"])
            got.setdefault(key, []).append(problem["message"])
    expected = expected_warnings(files)
    for key in expected:
        seen[key[2]] = seen.get(key[2], 0) + 1
    for key in sorted(set(got) | set(expected)):
        if key not in got or key not in expected:
            failures.append(f"{key}: {'not warned' if key in expected else 'warned'}: "
                            f"{got.get(key)}")
            continue
        messages = got[key]
        if key[2] == "inconsistent":
            name, others = expected[key]
            message = messages[0]
            if len(messages) != 1 or message.startswith("name ") != name:
                failures.append(f"{key}: {messages}")
            for target, place in others[:3]:
                if f'"{target}" ({place})' not in message:
                    failures.append(f"{key}: {message} does not name \"{target}\" ({place})")
            if len(others) > 3 and not message.endswith(f" and {len(others) - 3} more"):
                failures.append(f"{key}: {message} does not count {len(others) - 3} more")
        else:
            lines = [int(re.search(r"which names\.csv:(\d+) translates", m).group(1))
                     for m in messages]
            if lines != expected[key]:
                failures.append(f"{key}: terms of lines {lines}, expected {expected[key]}")


def check_memory(krscript, files, python, failures):
    run(krscript, "memory", "game", "tr", "-o", "game.tmx", "--language", "es")
    units = []
    for _, entries in files:
        for entry in entries:
            pair = (entry["source"], entry["target"])
            if entry["target"] and not entry["fuzzy"] and pair not in units:
                units.append(pair)
    read = run(python, "-c", "import json, sys\n"
               "from translate.storage import tmx\n"
               "store = tmx.tmxfile(open('game.tmx', 'rb'))\n"
               "print(json.dumps([[u.source, u.target] for u in store.units]))")
    got = [tuple(unit) for unit in json.loads(read.stdout)]
    if got != units:
        failures.append(f"memory: translate-toolkit reads {got}, expected {units}")


def check_seed(krscript, work, seed, python, seen):
    rng = random.Random(seed)
    os.chdir(work)
    scripts = ["a.kr", "b.kr", "scene/c.kr", "scene/d.kr"][:rng.randrange(2, 5)]
    for script in scripts:
        os.makedirs(os.path.dirname(os.path.join("game", script)) or "game", exist_ok=True)
        with open(os.path.join("game", script), "wb") as f:
            f.write(script_bytes(rng, rng.randrange(5, 40)))
    run(krscript, "extract", "game", "-o", "extracted", "--encoding", "utf-8")
    with open("names.csv", "w", encoding="utf-8", newline="") as f:
        csv.writer(f, lineterminator="\r\n").writerows(GLOSSARY)
    files = []
    for script in sorted(scripts):  # the run's order: by path
        entries = extracted_entries(os.path.join("extracted", script + ".po"))
        name = f"tr/{script}" + (".csv" if rng.random() < 0.4 else ".po")
        os.makedirs(os.path.dirname(name), exist_ok=True)
        files.append((name, write_translations(name, script, entries, rng)))
    failures = []
    check_lint(krscript, files, failures, seen)
    if python:
        check_memory(krscript, files, python, failures)
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--krscript", required=True)
    parser.add_argument("--seeds", type=int, default=30)
    args = parser.parse_args()
    krscript = os.path.abspath(args.krscript)
    here = os.getcwd()
    python = toolkit_python()
    seen = {}  # warnings expected, by check: the games must call for both
    if python is None:
        print("translate-toolkit is not installed: the memory is not checked")
    for seed in range(1, args.seeds + 1):
        with tempfile.TemporaryDirectory() as work:
            failures = check_seed(krscript, work, seed, python, seen)
            os.chdir(here)
        if failures:
            print(f"seed {seed}:\n  " + "\n  ".join(failures[:20]))
            return 1
    if not seen.get("inconsistent") or not seen.get("glossary"):
        print(f"the games called for too few warnings: {seen}")
        return 1
    print(f"{args.seeds} generated games checked, {seen}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
