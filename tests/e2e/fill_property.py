#!/usr/bin/env python3
"""Fills generated games with `krscript fill` and checks every entry against
an independent reading of its rules. A game says lines again, defines its
characters' names in several scripts and has lines that differ from others
by a word, some lines long; part of it is translated, a line sometimes two
ways, some translations fuzzy; a memory file from another tool (no msgctxt)
holds more, with a fuzzy and an obsolete entry that must not count, and a CSV
file more again.

For each untranslated entry the reading here, comparing every pair of texts
by their longest common subsequence, says: the same source translated one
way gives that translation; several ways, the most given (the first of
equals in the run's order), fuzzy, the others named in a comment; otherwise
the first most similar source at least --similarity alike gives its
translation, fuzzy, with that source as the previous msgid; otherwise
nothing. Every other line of every file must stay as it was, the counts
printed must be these, a second run must write the same bytes, and
`msgfmt --check` must accept the files. Exits 77 (skipped) without gettext.
"""

import argparse
import csv
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77
WORDS = ["駅", "雨", "明日", "行こう", "夜", "電車", "また", "the", "rain", "train", "ね", "よ",
         "か", "は", "が", "。"]
SAID = ["はい。", "……。", "え？", "What?"]
NAMES = ["アリス", "ボブ", "キャロル", "Dave"]


def line_text(rng):
    # Now and then a long one, of more characters than a machine word has bits.
    count = rng.randint(40, 120) if rng.random() < 0.1 else rng.randint(2, 7)
    return "".join(rng.choice(WORDS) for _ in range(count))


def game(rng):
    """Scripts (name -> list of (kind, text)): names defined, lines said again,
    lines like others but for a word."""
    scripts = {}
    earlier = []
    for number in range(rng.randint(2, 4)):
        items = [("name", name) for name in rng.sample(NAMES, rng.randint(1, len(NAMES)))]
        for _ in range(rng.randint(10, 30)):
            roll = rng.random()
            if roll < 0.25:
                text = rng.choice(SAID)
            elif roll < 0.5 and earlier:
                text = rng.choice(earlier)
                at = rng.randrange(len(text))
                text = text[:at] + rng.choice(WORDS) + text[at + 1:]
            elif roll < 0.6 and earlier:
                text = rng.choice(earlier)
            else:
                text = line_text(rng)
            earlier.append(text)
            items.append(("line", text))
        rng.shuffle(items)
        scripts[f"s{number}.kr"] = items
    return scripts


def script_bytes(items):
    out = bytearray()
    for key, (kind, text) in enumerate(items):
        if kind == "name":
            out += b"\x2b" + key.to_bytes(4, "little") + text.encode() + b"\x00"
        else:
            out += b"\x16" + (key % 3).to_bytes(4, "little")
            out += b"\x1b\x00\x00\x00\x00" + text.encode() + b"\x00"
    return bytes(out)


def quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def unquote(text):
    return re.sub(r'\\(.)', lambda m: {"n": "\n"}.get(m.group(1), m.group(1)), text[1:-1])


def blocks_of(path):
    with open(path, encoding="utf-8") as f:
        return f.read().rstrip("\n").split("\n\n")


def fields(block):
    """msgid, msgstr, fuzzy, obsolete of a block (its strings on one line)."""
    entry = {"msgid": None, "msgstr": "", "fuzzy": False, "obsolete": False}
    for line in block.split("\n"):
        if line.startswith("#~ "):
            entry["obsolete"] = True
            line = line[3:]
        if line.startswith("#,"):
            entry["fuzzy"] = "fuzzy" in line
        for key in ("msgid", "msgstr"):
            if line.startswith(key + " "):
                entry[key] = unquote(line[len(key) + 1:])
    return entry


def similarity(a, b):
    """2 x the longest common subsequence, in characters, over both lengths."""
    if not a and not b:
        return 1.0
    row = [0] * (len(b) + 1)
    for x in a:
        diagonal = 0
        for j, y in enumerate(b):
            diagonal, row[j + 1] = row[j + 1], (diagonal + 1 if x == y
                                                else max(row[j + 1], row[j]))
    return 2.0 * row[len(b)] / (len(a) + len(b))


def memory_of(pairs):
    """source -> list of [target, count] in the order first given."""
    memory = {}
    for source, target in pairs:
        translations = memory.setdefault(source, [])
        for item in translations:
            if item[0] == target:
                item[1] += 1
                break
        else:
            translations.append([target, 1])
    return memory


def expected_block(block, memory, threshold, counts):
    """The block as fill should write it."""
    entry = fields(block)
    if entry["obsolete"] or entry["msgid"] is None or entry["msgstr"] or block.startswith(
            'msgid ""\nmsgstr ""'):
        return block
    source = entry["msgid"]
    comment, previous = None, None
    if source in memory:
        translations = memory[source]
        most = max(count for _, count in translations)
        chosen = next(t for t, count in translations if count == most)
        others = sorted((item for item in translations if item[0] != chosen),
                        key=lambda item: -item[1])
        fuzzy = bool(others)
        if others:
            comment = "other translations: " + ", ".join(f"«{t}»" for t, _ in others)
    else:
        best, best_score = None, -1.0
        for other in memory:
            score = similarity(source, other)
            if score >= threshold and score > best_score:
                best, best_score = other, score
        if best is None:
            counts["empty"] += 1
            return block
        translations = memory[best]
        most = max(count for _, count in translations)
        chosen = next(t for t, count in translations if count == most)
        fuzzy, previous = True, best
    counts["similar" if previous is not None else "several" if fuzzy else "exact"] += 1
    lines = block.split("\n")
    out = [f"# {comment}"] if comment else []
    for line in lines:
        if line.startswith("msgctxt") or line.startswith("msgid"):
            if fuzzy and not any(x.startswith("#,") for x in out):
                out.append("#, fuzzy")
                if previous is not None:
                    out.append("#| msgid " + quote(previous))
        if line == 'msgstr ""':
            line = "msgstr " + quote(chosen)
        out.append(line)
    return "\n".join(out)


def run(*command):
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"{' '.join(command)} failed ({result.returncode}):\n{result.stderr}")
    return result


def check_seed(krscript, work, seed):
    rng = random.Random(seed)
    scripts = game(rng)
    game_dir, po_dir, out_dir, again_dir = (os.path.join(work, name)
                                            for name in ("game", "po", "out", "again"))
    os.makedirs(game_dir)
    for name, items in scripts.items():
        with open(os.path.join(game_dir, name), "wb") as f:
            f.write(script_bytes(items))
    run(krscript, "extract", game_dir, "-o", po_dir, "--encoding", "utf-8")

    # Some entries translated, a few of them differently, a few fuzzy.
    pairs = []
    for name in sorted(scripts):
        path = os.path.join(po_dir, name + ".po")
        blocks = blocks_of(path)
        for i in range(1, len(blocks)):
            if rng.random() < 0.45:
                source = fields(blocks[i])["msgid"]
                target = f"{source}={rng.choice('AAB')}"
                if rng.random() < 0.15:
                    # Where fill writes the flag, so that the block stays as it is.
                    blocks[i] = blocks[i].replace("\nmsgctxt", "\n#, fuzzy\nmsgctxt", 1)
                else:
                    pairs.append((source, target))
                blocks[i] = blocks[i].replace('msgstr ""', "msgstr " + quote(target))
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n\n".join(blocks) + "\n")

    # A memory as another tool writes one, and a CSV file.
    memory_dir = os.path.join(work, "memory")
    os.makedirs(memory_dir)
    texts = sorted({text for items in scripts.values() for _, text in items})
    other = [rng.choice(texts) if rng.random() < 0.5 else line_text(rng) for _ in range(8)]
    with open(os.path.join(memory_dir, "a.po"), "w", encoding="utf-8") as f:
        f.write('msgid ""\nmsgstr "Content-Type: text/plain; charset=UTF-8\\n"\n')
        for k, text in enumerate(other):
            f.write(f"\nmsgid {quote(text)}\nmsgstr {quote(text + '=M')}\n")
            pairs_memory = (text, text + "=M")
            if k == 0:
                f.write(f"\n#, fuzzy\nmsgid {quote(text + 'x')}\nmsgstr \"fuzzy one\"\n")
                f.write(f"\n#~ msgid {quote(text + 'y')}\n#~ msgstr \"obsolete one\"\n")
            other[k] = pairs_memory
    csv_rows = [(f"m.kr:{k:08X}", rng.choice(NAMES + SAID), f"csv{k}") for k in range(3)]
    with open(os.path.join(memory_dir, "b.csv"), "w", encoding="utf-8", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["location", "source", "target"])
        writer.writerows(csv_rows)
    memory = memory_of(pairs + other + [(s, t) for _, s, t in csv_rows])

    threshold = rng.choice([0.75, 0.75, 0.5, 0.6, 0.9])
    given = ["--similarity", str(threshold)] if threshold != 0.75 else []
    result = run(krscript, "fill", game_dir, po_dir, "-o", out_dir, "--memory", memory_dir,
                 "--encoding", "utf-8", *given)
    counts = {"exact": 0, "several": 0, "similar": 0, "empty": 0}
    for name in sorted(scripts):
        want = [expected_block(block, memory, threshold, counts)
                for block in blocks_of(os.path.join(po_dir, name + ".po"))]
        got = blocks_of(os.path.join(out_dir, name + ".po"))
        assert len(got) == len(want), f"seed {seed}, {name}: {len(got)} entries, not {len(want)}"
        for g, w in zip(got, want):
            assert g == w, f"seed {seed}, {name}, similarity {threshold}:\n{g}\n--- not ---\n{w}"
        run("msgfmt", "--check", "-o", os.devnull, os.path.join(out_dir, name + ".po"))
    total = (f"{counts['exact']} filled exactly, "
             f"{counts['several'] + counts['similar']} filled fuzzy, "
             f"{counts['empty']} left empty")
    assert total in result.stderr.splitlines()[-1], f"seed {seed}: {result.stderr} not {total}"

    run(krscript, "fill", game_dir, out_dir, "-o", again_dir, "--memory", memory_dir,
        "--encoding", "utf-8", *given)
    for name in scripts:
        with open(os.path.join(out_dir, name + ".po"), "rb") as a, \
                open(os.path.join(again_dir, name + ".po"), "rb") as b:
            assert a.read() == b.read(), f"seed {seed}, {name}: a second fill changed it"
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--krscript", required=True)
    parser.add_argument("--seeds", type=int, default=40)
    args = parser.parse_args()
    if shutil.which("msgfmt") is None:
        print("gettext is not installed: skipped")
        return SKIPPED
    total = {"exact": 0, "several": 0, "similar": 0, "empty": 0}
    for seed in range(1, args.seeds + 1):
        with tempfile.TemporaryDirectory() as work:
            for key, value in check_seed(os.path.abspath(args.krscript), work, seed).items():
                total[key] += value
    # Each way of filling came up, so each was checked.
    assert all(total.values()), total
    print(f"{args.seeds} generated games filled: {total}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
