#!/usr/bin/env python3
"""Carries the translation of a generated game over to a generated patch with
`krscript update`, where the fate of every line is known, and checks what
came through: an unchanged or moved line keeps its own translation and its
flag, an edited one its old translation marked fuzzy, a new one nothing, and
every translation whose line went away is kept as an obsolete entry. The
patch inserts, deletes, edits and rewrites lines, moves lines within and
between scripts and moves a script to another folder; some translations are
fuzzy, some lines untranslated, and a line said several times has a
translation for each place, which goes with it when it moves to another
script with the line before it.

Every output must pass `msgfmt --check`, go back in with `inject`, and come
out the same from a second update on itself; the same game translated in
CSV files, and the old files rewrapped by `msgcat`, must give the same
entries. Exits 77 (skipped) without gettext.
"""

import argparse
import csv
import os
import random
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77
WORDS = ["the", "station", "rain", "tomorrow", "we", "go", "night", "train", "late", "again",
         "駅", "雨", "明日", "行こう", "夜"]
REPEATED = ["はい。", "……", "What?"]


def script_bytes(lines):
    """One 0x1B string per line, a name reference 0x16 before each."""
    out = bytearray()
    for number, line in enumerate(lines):
        out += b"\x16" + (number % 5).to_bytes(4, "little")
        out += b"\x1b\x00\x00\x00\x00" + line.encode() + b"\x00"
    return bytes(out)


def unquote(text):
    return text[1:-1].replace('\\"', '"').replace("\\n", "\n").replace("\\\\", "\\")


def read_po(path):
    """The entries of a PO file: text, translation, fuzzy, obsolete."""
    entries = []
    with open(path, encoding="utf-8") as f:
        blocks = f.read().strip().split("\n\n")
    for block in blocks:
        entry = {"msgid": "", "msgstr": "", "fuzzy": False, "obsolete": False}
        key = None
        for line in block.split("\n"):
            if line.startswith("#~ "):
                entry["obsolete"] = True
                line = line[3:]
            if line.startswith("#,"):
                entry["fuzzy"] = "fuzzy" in line
            elif line.startswith('"') and key:
                entry[key] += unquote(line)
            elif line.startswith("msg"):
                key, rest = line.split(" ", 1)
                entry[key] = unquote(rest)
            elif not line.startswith("#"):
                key = None
        if "msgctxt" in entry or entry["msgid"]:
            entries.append(entry)
    return entries


def translate(path, translation_of, rng, untranslated):
    """Fills the msgstr of each entry of an extracted PO file, leaving some
    empty and marking some fuzzy; the translations in file order."""
    with open(path, encoding="utf-8") as f:
        blocks = f.read().split("\n\n")
    for i in range(1, len(blocks)):
        target = translation_of(i - 1)
        if target in untranslated:
            continue
        if rng.random() < 0.1:
            blocks[i] = blocks[i].replace("#: ", "#, fuzzy\n#: ", 1)
        blocks[i] = blocks[i].replace('msgstr ""', f'msgstr "{target}"')
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n\n".join(blocks))


def patch(rng, old):
    """The new version of the scripts `old` (name -> lines), for each new line
    its fate and the old (name, index) it comes from, and for each repeated
    line moved to another script right after the line before it, that line's
    old (name, index)."""
    new = {}
    fates = {}
    taken = []  # blocks of lines moved away from their script, to go into another
    for name, lines in old.items():
        out, fate = [], []
        i = 0
        while i < len(lines):
            text = lines[i]
            roll = rng.random()
            # A line and a repeated line after it move together, as a block
            # of a scene does, with the line between them deleted or none.
            gap = next((g for g in (1, 2) if i + g < len(lines) and lines[i + g] in REPEATED
                        and lines[i + 1] not in REPEATED or g == 1 and i + 1 < len(lines)
                        and lines[i + 1] in REPEATED), None)
            if text not in REPEATED and gap and rng.random() < 0.3:
                taken.append([(name, i), (name, i + gap)])
                i += gap
            elif roll < 0.75:
                out.append(text)
                fate.append(("unchanged", (name, i)))
            elif roll < 0.8:
                pass  # deleted
            elif roll < 0.85 and text not in REPEATED:
                words = text.split(" ")
                words[rng.randrange(len(words))] = "CHANGED"
                out.append(" ".join(words))
                fate.append(("edited", (name, i)))
            elif roll < 0.85:
                out.append(text)
                fate.append(("unchanged", (name, i)))
            elif roll < 0.9:
                taken.append([(name, i)])
            elif roll < 0.95:
                out.append(f"XYZZY PLUGH {i}")  # rewritten, as nothing like it: the old one went away
                fate.append(("new", None))
            else:
                out += [text, f"QUUX WIBBLE {i}"]
                fate += [("unchanged", (name, i)), ("new", None)]
            i += 1
        new[name], fates[name] = out, fate
    names = sorted(new)
    block_of = {name: [None] * len(new[name]) for name in names}
    follows = {}
    for number, block in enumerate(taken):
        to = rng.choice(names)
        # Not into a block moved before.
        places = [at for at in range(len(new[to]) + 1)
                  if at in (0, len(new[to])) or block_of[to][at - 1] != block_of[to][at]
                  or block_of[to][at] is None]
        at = rng.choice(places)
        new[to][at:at] = [old[o[0]][o[1]] for o in block]
        fates[to][at:at] = [("moved", o) for o in block]
        block_of[to][at:at] = [number] * len(block)
        if block[1:] == [(block[0][0], block[0][1] + 1)] and to != block[0][0]:
            follows[block[1]] = block[0]
    # A script moved to another folder, whole.
    moved = names[-1]
    new["elsewhere/" + moved.split("/")[-1]] = new.pop(moved)
    fates["elsewhere/" + moved.split("/")[-1]] = fates.pop(moved)
    return new, fates, follows


def write_scripts(folder, scripts):
    for name, lines in scripts.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(script_bytes(lines))


def run(*command):
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        raise SystemExit(f"{' '.join(command)}: exit {result.returncode}\n{result.stderr}")
    return result


def check_seed(krscript, work, seed):
    rng = random.Random(seed)
    old = {}
    for name in ("a.kr", "b.kr", "scene/c.kr", "scene/d.kr"):
        lines = []
        for i in range(rng.randrange(20, 60)):
            if rng.random() < 0.1:
                lines.append(rng.choice(REPEATED))
            else:
                words = [rng.choice(WORDS) for _ in range(rng.randrange(6, 12))]
                lines.append(" ".join(words) + f" {name} {i}.")
        old[name] = lines
    v1, po1, v2, po2 = (os.path.join(work, d) for d in ("v1", "po1", "v2", "po2"))
    write_scripts(v1, old)
    run(krscript, "extract", v1, "-o", po1, "--encoding", "utf-8")
    translation = {(name, i): f"T{seed}:{name}:{i}" for name, lines in old.items()
                   for i in range(len(lines))}
    untranslated = {t for t in translation.values() if rng.random() < 0.1}
    for name in old:
        translate(os.path.join(po1, name + ".po"), lambda i, n=name: translation[(n, i)], rng,
                  untranslated)
    fuzzy = {e["msgstr"]: e["fuzzy"] for name in old
             for e in read_po(os.path.join(po1, name + ".po")) if e["msgstr"]}

    new, fates, follows = patch(rng, old)
    write_scripts(v2, new)
    run(krscript, "update", v2, po1, "-o", po2, "--encoding", "utf-8")

    outputs = {name: read_po(os.path.join(po2, name + ".po")) for name in new}
    carried = []
    for name, fate in fates.items():
        live = [e for e in outputs[name] if not e["obsolete"]]
        assert [e["msgid"] for e in live] == new[name], name
        for (kind, origin), entry in zip(fate, live):
            want = translation[origin] if origin else ""
            want = "" if want in untranslated else want
            where = f"seed {seed}, {name}: {entry['msgid']!r} ({kind})"
            if kind in ("unchanged", "moved") and old[origin[0]][origin[1]] not in REPEATED:
                assert entry["msgstr"] == want, f"{where}: {entry['msgstr']!r}, not {want!r}"
                assert entry["fuzzy"] == fuzzy.get(want, False), where
            elif kind == "edited" and want:
                assert entry["msgstr"] == want and entry["fuzzy"], where
            elif kind == "new":
                assert entry["msgstr"] == "", where
        carried += [e["msgstr"] for e in outputs[name] if e["msgstr"]]
    # A repeated line moved to another script right after the line before it
    # takes the translation of its own copy, the one after that line's,
    # unless the script it left kept that copy for a line of its own, or the
    # script it went to had a copy in its place (the diff of that script
    # finds it first). With the line between deleted, which of its text's
    # translations it takes, other lines that moved may decide.
    origin_of = {t: o for o, t in translation.items()}
    old_name = {n if n in outputs else "elsewhere/" + n.split("/")[-1]: n for n in old}
    kept = {name: {e["msgstr"] for e in outputs[name if name in outputs
                                              else "elsewhere/" + name.split("/")[-1]]
                   if not e["obsolete"]} for name in old}
    for name, fate in fates.items():
        live = [e for e in outputs[name] if not e["obsolete"]]
        for (kind, origin), entry in zip(fate, live):
            if kind != "moved" or origin not in follows:
                continue
            own, before = translation[origin], translation[follows[origin]]
            if own in untranslated or before in untranslated or own in kept[origin[0]]:
                continue
            got = entry["msgstr"]
            there = old_name.get(name)
            from_there = (origin_of[got][0] == there if got else there is not None and any(
                t == entry["msgid"] and translation[(there, i)] in untranslated
                for i, t in enumerate(old[there])))
            assert got == own or from_there, \
                f"seed {seed}, {name}: {entry['msgid']!r} moved from {origin}: {got!r}, not {own!r}"
    # Every translation is somewhere, live or obsolete, and only once.
    translated = set(translation.values()) - untranslated
    assert sorted(carried) == sorted(translated), f"seed {seed}: translations lost or doubled"

    for name in new:
        run("msgfmt", "--check", "-o", os.devnull, os.path.join(po2, name + ".po"))
    run(krscript, "inject", v2, po2, "-o", os.path.join(work, "v2-translated"))
    again = os.path.join(work, "po2-again")
    run(krscript, "update", v2, po2, "-o", again, "--encoding", "utf-8")
    for name in new:
        with open(os.path.join(po2, name + ".po"), "rb") as a, \
                open(os.path.join(again, name + ".po"), "rb") as b:
            assert a.read() == b.read(), f"seed {seed}, {name}: a second update changed it"

    # The same from CSV files: the same entries, a fuzzy or obsolete row
    # marked so in the column "fuzzy", one both "fuzzy obsolete".
    csv1, csv2 = os.path.join(work, "csv1"), os.path.join(work, "csv2")
    run(krscript, "extract", v1, "-o", csv1, "--format", "csv", "--encoding", "utf-8")
    for name in old:
        path = os.path.join(csv1, name + ".csv")
        with open(path, encoding="utf-8-sig", newline="") as f:
            rows = list(csv.DictReader(f))
        for i, row in enumerate(rows):
            target = translation[(name, i)]
            row["target"] = "" if target in untranslated else target
            row["fuzzy"] = "fuzzy" if fuzzy.get(row["target"]) else ""
        with open(path, "w", encoding="utf-8-sig", newline="") as f:
            writer = csv.DictWriter(f, fieldnames=list(rows[0]), quoting=csv.QUOTE_ALL)
            writer.writeheader()
            writer.writerows(rows)
    run(krscript, "update", v2, csv1, "-o", csv2, "--encoding", "utf-8")
    for name in new:
        with open(os.path.join(csv2, name + ".csv"), encoding="utf-8-sig", newline="") as f:
            rows = [(r["source"], r["target"], r["fuzzy"]) for r in csv.DictReader(f)]
        want = [(e["msgid"], e["msgstr"],
                 " ".join(m for m, on in (("fuzzy", e["fuzzy"]), ("obsolete", e["obsolete"]))
                          if on))
                for e in outputs[name]]
        assert rows == want, f"seed {seed}, {name}: CSV and PO differ"

    # The old files as msgcat rewraps them give the same entries.
    wrapped = os.path.join(work, "po1-wrapped")
    for name in old:
        path = os.path.join(wrapped, name + ".po")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        run("msgcat", "--width=24", "-o", path, os.path.join(po1, name + ".po"))
    rewrapped = os.path.join(work, "po2-wrapped")
    run(krscript, "update", v2, wrapped, "-o", rewrapped, "--encoding", "utf-8")
    for name in new:
        assert read_po(os.path.join(rewrapped, name + ".po")) == outputs[name], name


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--krscript", required=True)
    parser.add_argument("--seeds", type=int, default=40)
    args = parser.parse_args()
    if shutil.which("msgfmt") is None or shutil.which("msgcat") is None:
        print("gettext is not installed: skipped")
        return SKIPPED
    for seed in range(1, args.seeds + 1):
        with tempfile.TemporaryDirectory() as work:
            check_seed(os.path.abspath(args.krscript), work, seed)
    print(f"{args.seeds} generated patches carried over")
    return 0


if __name__ == "__main__":
    sys.exit(main())
