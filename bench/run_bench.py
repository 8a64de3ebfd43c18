#!/usr/bin/env python3
"""Measures krlist and krscript on large generated scripts and prints the figures.

    python3 bench/run_bench.py BUILD_DIR [--size-mb 64] [--seed 1]

BUILD_DIR holds `krlist`, `krscript` and `bench/krlist_generate_script`. The
scripts are generated into a temporary directory, removed afterwards. Printed:

- for a mixed script of --size-mb MiB, then one of a quarter of that: file
  size, instruction count, the best wall time of three runs of
  `krlist FILE > /dev/null` and its rate, the peak resident memory of those
  runs against the file size, and, alternating with them, the best wall time
  of `xxd FILE > /dev/null`, as the cost of merely reading the file and
  writing a listing of it;
- how the time grows from the smaller script to the larger;
- the wall time on 200,000 name references to 200,000 distinct names;
- the wall time and peak memory of a script of --size-mb MiB of one-byte
  opcodes and of a script of one string of 256 MiB;
- on the larger mixed script, the best wall times of `krscript dump SCRIPT
  -o X.json` and `krscript build X.json -o Y`, and, when `krscript --help`
  lists them, of `krscript extract SCRIPT -o OUT.po` and `krscript inject
  SCRIPT OUT.po -o NEW`, each against that of `krlist SCRIPT > /dev/null`
  run alternately with them, and the peak resident memory of each against
  the script's size; Y and NEW must have the script's bytes, or the run
  stops with an error;
- on a folder of FOLDER_SCRIPTS generated scripts of different seeds, the
  best wall time of `krscript dump DIR -o OUT -j 2` against that of `-j 1`;
- on a script of UPDATE_LINES lines of dialogue and its patched version with
  1% of the lines edited, inserted or removed, the best wall time of
  `krscript update NEW OLD.po -o OUT.po` (OLD.po extracted from the first and
  every line translated) against that of `krscript extract NEW -o OUT.po`
  (`--only update` measures this alone, and needs no generator);
- on a game of FILL_LINES lines of dialogue in FILL_SCRIPTS scripts, with
  lines said again, names defined in every script and lines that differ
  from others by a word, half of them translated, the best wall time of
  `krscript fill DIR TRANSLATIONS -o OUT` against that of `krscript extract
  DIR -o OUT` (`--only fill` measures this alone, and needs no generator);
- on a mixed script of about HTML_INSTRUCTIONS instructions, the best wall
  times of `krscript html SCRIPT -o SITE`, without and with the PO file
  `krscript extract` writes, each against that of `krscript extract`, and
  the number of pages and the largest file of the site. `--only html`
  measures this alone;
- on the larger mixed script with every string translated (msgen copies
  each source), the best wall time of `krscript inject --wrap` to a box in
  DejaVu Sans (pixels, a profile's [box]) against that of `--wrap` in cells.
  `--only wrap` measures this alone.

Targets are printed beside the figures for information, each "met" or
"NOT met"; nothing else is asserted. Linux only: peak memory comes from GNU
time (Debian package `time`), and timeouts from a pidfd.
"""

import argparse
import filecmp
import os
import select
import signal
import subprocess
import sys
import tempfile
import time

RUNS = 3
TIMEOUT_S = 600
TIME = "/usr/bin/time"
MIB = 1 << 20
DISTINCT_NAMES = 200_000
FOLDER_SCRIPTS = 200
# Sizes of the folder's scripts in MiB, in turn: 0.25 MiB on average, 50 MiB
# in all, which `krscript dump -j 1` takes about two seconds over.
FOLDER_SIZES_MB = (0.125, 0.1875, 0.25, 0.3125, 0.375)
UPDATE_LINES = 60_000
HTML_INSTRUCTIONS = 600_000
FILL_LINES = 60_000
FILL_SCRIPTS = 20


class Run:
    def __init__(self, seconds, peak_kib, status, timed_out):
        self.seconds = seconds
        self.peak_kib = peak_kib
        self.status = status
        self.timed_out = timed_out


def run_once(command, stdout=subprocess.DEVNULL, stderr=None):
    """Runs `command` to its end, or kills it after TIMEOUT_S seconds.

    The command runs under GNU time, which reports its peak resident memory:
    the ru_maxrss this process could read of its own child would start from
    its own resident size at the spawn, which is large at times (it writes
    the generated scripts)."""
    with tempfile.NamedTemporaryFile(mode="r") as report:
        start = time.perf_counter()
        child = subprocess.Popen([TIME, "-f", "%M", "-o", report.name, *command],
                                 stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                                 start_new_session=True)
        pidfd = os.pidfd_open(child.pid)
        try:
            poller = select.poll()
            poller.register(pidfd, select.POLLIN)
            timed_out = not poller.poll(TIMEOUT_S * 1000)
            if timed_out:
                # GNU time and the command with it.
                os.killpg(child.pid, signal.SIGKILL)
            _, wait_status, _ = os.wait4(child.pid, 0)
        finally:
            os.close(pidfd)
        seconds = time.perf_counter() - start
        # Reaped here, so Popen must not wait for it again.
        child.returncode = os.waitstatus_to_exitcode(wait_status)
        # The last word; a line about a signal may come before it.
        words = report.read().split()
        peak_kib = int(words[-1]) if words and words[-1].isdigit() else 0
    return Run(seconds, peak_kib, child.returncode, timed_out)


def best_of(commands):
    """Runs each command RUNS times, in turn, and returns for each the best
    time, the highest peak memory and whether a run timed out. A command that
    timed out is not run again."""
    best = [None] * len(commands)
    for _ in range(RUNS):
        for i, command in enumerate(commands):
            if best[i] is not None and best[i].timed_out:
                continue
            # Standard error is kept aside, and shown only when the command
            # fails: krscript's folder runs end with a summary line there.
            with tempfile.TemporaryFile() as errors:
                run = run_once(command, stderr=errors)
                if run.status != 0 and not run.timed_out:
                    errors.seek(0)
                    sys.stderr.buffer.write(errors.read())
                    sys.exit(f"{' '.join(command)} exited with status {run.status}")
            if best[i] is None:
                best[i] = run
            else:
                best[i] = Run(min(best[i].seconds, run.seconds),
                              max(best[i].peak_kib, run.peak_kib), 0,
                              run.timed_out)
    return best


def generate(generator, path, *options):
    subprocess.run([generator, path, *options], check=True, timeout=TIMEOUT_S)
    return os.path.getsize(path)


def count_instructions(krlist, path):
    """Runs krlist once with its listing piped here, which also brings the
    file into the page cache before the timed runs. Returns the instruction
    count of the last line, and how many name references resolved to exactly
    one name."""
    child = subprocess.Popen([krlist, path], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE)
    last_line = b""
    resolved_once = 0
    for line in child.stdout:
        # "OOOOOOOO:16  K0 K1 K2 K3 -> name"
        if line[8:12] == b":16 ":
            resolved_once += line.count(b"-> ") == 1
        last_line = line
    if child.wait() != 0:
        sys.exit(f"krlist {path} exited with status {child.returncode}")
    prefix = b"instructions processed: "
    if not last_line.startswith(prefix):
        sys.exit(f"unexpected last line from krlist: {last_line!r}")
    return int(last_line[len(prefix):]), resolved_once


def seconds_text(run):
    return "timed out" if run.timed_out else f"{run.seconds:.3f} s"


def target_text(met, target):
    return f"[target {target}: {'met' if met else 'NOT met'}]"


def row(label, value, note=""):
    print(f"  {label:<32} {value:<28} {note}".rstrip())


def measure_mixed(krlist, generator, directory, size_mb, seed):
    path = os.path.join(directory, f"mixed-{size_mb:g}.kr")
    size = generate(generator, path, "--size-mb", f"{size_mb:g}", "--seed", str(seed))
    instructions, _ = count_instructions(krlist, path)
    own, xxd = best_of([[krlist, path], ["xxd", path]])

    print(f"\n{size_mb:g} MiB mixed script (seed {seed})")
    row("file size", f"{size:,} bytes ({size / MIB:.1f} MiB)")
    row("instructions", f"{instructions:,}")
    if own.timed_out:
        row("krlist FILE > /dev/null", "timed out")
    else:
        row("krlist FILE > /dev/null", seconds_text(own),
            f"{size / MIB / own.seconds:.1f} MiB/s")
        peak = own.peak_kib * 1024
        row("peak resident memory", f"{peak / MIB:.1f} MiB = {peak / size:.2f} x file",
            target_text(peak <= 2 * size, "<= 2 x file"))
    row("xxd FILE > /dev/null", seconds_text(xxd))
    if not own.timed_out and not xxd.timed_out:
        ratio = own.seconds / xxd.seconds
        row("krlist time / xxd time", f"{ratio:.2f}", target_text(ratio <= 0.5, "<= 0.5"))
    return own, path, size


def measure_extremes(krlist, directory, size_mb):
    """A script of one-byte opcodes only, the most instructions per byte, and one
    of a single string of 256 MiB, the longest operand."""
    opcodes = os.path.join(directory, "opcodes.kr")
    with open(opcodes, "wb") as f:
        f.write(b"\x03" * int(size_mb * MIB))
    string = os.path.join(directory, "string.kr")
    with open(string, "wb") as f:
        f.write(b"\x1b\x00\x00\x00\x00")
        for _ in range(256):
            f.write(b"a" * MIB)
        f.write(b"\x00")
    for label, path, limit in ((f"{size_mb:g} MiB of one-byte opcodes", opcodes, 10),
                               ("one string of 256 MiB", string, None)):
        size = os.path.getsize(path)
        own, = best_of([[krlist, path]])
        print(f"\n{label}")
        if own.timed_out:
            row("krlist FILE > /dev/null", "timed out")
            continue
        row("krlist FILE > /dev/null", seconds_text(own), f"{size / MIB / own.seconds:.1f} MiB/s")
        peak = own.peak_kib * 1024
        row("peak resident memory", f"{peak / MIB:.1f} MiB = {peak / size:.2f} x file",
            target_text(peak <= limit * size, f"<= {limit} x file") if limit else "")
        os.remove(path)


def measure_distinct(krlist, generator, directory, seed):
    path = os.path.join(directory, "distinct.kr")
    size = generate(generator, path, "--distinct", str(DISTINCT_NAMES), "--seed", str(seed))
    instructions, resolved_once = count_instructions(krlist, path)
    (own,) = best_of([[krlist, path]])

    print(f"\nDistinct names: {DISTINCT_NAMES:,} references to {DISTINCT_NAMES:,} "
          f"definitions of distinct keys (seed {seed})")
    row("file size", f"{size:,} bytes ({size / MIB:.1f} MiB)")
    row("instructions", f"{instructions:,}")
    row("references with exactly 1 name", f"{resolved_once:,}")
    row("krlist FILE > /dev/null", seconds_text(own),
        "" if own.timed_out else target_text(own.seconds < 1.0, "< 1 s"))


def same_bytes(path, other):
    return filecmp.cmp(path, other, shallow=False)


def krscript_commands(krscript):
    """Returns the commands `krscript --help` lists."""
    result = subprocess.run([krscript, "--help"], stdin=subprocess.DEVNULL,
                            capture_output=True, check=False, timeout=TIMEOUT_S)
    listed = set()
    for line in result.stdout.decode(errors="replace").splitlines():
        words = line.split()
        if words:
            listed.add(words[0])
    return listed


def measure_krscript(krlist, krscript, directory, path, size):
    """Times krscript's commands on one script, alternating with krlist."""
    stem = os.path.join(directory, "roundtrip")
    json_path, built, po_path, injected = (stem + ".json", stem + ".kr",
                                           stem + ".kr.po", stem + "-injected.kr")
    listed = krscript_commands(krscript)
    translate = "extract" in listed and "inject" in listed
    labels = ["krlist SCRIPT > /dev/null", "krscript dump SCRIPT -o X.json",
              "krscript build X.json -o Y"]
    # Within each round dump writes X.json before build reads it, and extract
    # writes OUT.po before inject reads it.
    commands = [[krlist, path], [krscript, "dump", path, "-o", json_path],
                [krscript, "build", json_path, "-o", built]]
    if translate:
        labels += ["krscript extract SCRIPT -o OUT.po", "krscript inject SCRIPT OUT.po -o NEW"]
        commands += [[krscript, "extract", path, "-o", po_path],
                     [krscript, "inject", path, po_path, "-o", injected]]
    runs = best_of(commands)

    print(f"\nkrscript on the {size / MIB:.1f} MiB mixed script "
          "(krlist run again, alternating with each command)")
    checked = [(runs[2], built, "build of its dump")]
    if translate:
        checked.append((runs[4], injected, "inject of its untouched PO"))
    for run, output, what in checked:
        if not run.timed_out and not same_bytes(path, output):
            sys.exit(f"FAILED: the {what} differs from the script: {output} is not {path}")
    if os.path.exists(json_path):
        row("X.json size", f"{os.path.getsize(json_path) / MIB:.1f} MiB = "
            f"{os.path.getsize(json_path) / size:.2f} x script")
    own = runs[0]
    row(labels[0], seconds_text(own))
    for i in range(1, len(runs)):
        run = runs[i]
        print(f"  {labels[i]}")
        row("  time", seconds_text(run))
        is_build = labels[i].startswith("krscript build")
        if not run.timed_out and not own.timed_out:
            # Reading JSON is the slowest step of all: build has a target of its own.
            most = 4.0 if is_build else 3.0
            ratio = run.seconds / own.seconds
            row("  time / krlist time", f"{ratio:.2f}", target_text(ratio <= most, f"<= {most}"))
        peak = run.peak_kib * 1024
        row("  peak resident memory", f"{peak / MIB:.1f} MiB = {peak / size:.2f} x script",
            target_text(peak <= 3 * size, "<= 3 x script") if is_build else "")
    if translate:
        row("same bytes", "Y and NEW both equal the script")
    else:
        row("same bytes", "Y equals the script")
        print("  extract and inject: skipped, `krscript --help` does not list them")


FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


def measure_wrap(krscript, directory, path, size):
    """Times inject wrapping every translation to a box in a font against
    wrapping it in cells. Each measures a character once, so the font should
    cost little more than the table of cells."""
    print(f"\ninject --wrap on the {size / MIB:.1f} MiB mixed script, every string translated")
    if not os.path.exists(FONT):
        print(f"  skipped: no {FONT} (Debian package fonts-dejavu-core)")
        return
    po_path = os.path.join(directory, "wrap.kr.po")
    translated = os.path.join(directory, "wrap-translated.kr.po")
    # extract's note on the encoding it took is not a figure.
    subprocess.run([krscript, "extract", path, "-o", po_path], check=True, timeout=TIMEOUT_S,
                   stderr=subprocess.DEVNULL)
    subprocess.run(["msgen", po_path, "-o", translated], check=True, timeout=TIMEOUT_S)
    os.remove(po_path)
    # The profile sits in a folder of its own, named with --profile, so that
    # no other command of the benchmark finds it.
    profile_folder = os.path.join(directory, "wrap-profile")
    os.mkdir(profile_folder)
    profile = os.path.join(profile_folder, "krscript.toml")
    with open(profile, "w", encoding="utf-8") as f:
        f.write(f'[box]\nfont = "{FONT}"\nsize = 16\nwidth = 288\n')
    cells, pixels = best_of([
        [krscript, "inject", path, translated, "-o", os.path.join(directory, "wrap-cells.kr"),
         "--wrap", "36"],
        [krscript, "inject", path, translated, "-o", os.path.join(directory, "wrap-pixels.kr"),
         "--profile", profile]])
    row("inject --wrap 36 (cells)", seconds_text(cells))
    row("inject, a [box] of 288 px", seconds_text(pixels))
    if not cells.timed_out and not pixels.timed_out:
        ratio = pixels.seconds / cells.seconds
        row("time pixels / time cells", f"{ratio:.2f}", target_text(ratio <= 1.5, "<= 1.5"))
    for name in ("wrap-cells.kr", "wrap-pixels.kr", "wrap-translated.kr.po"):
        os.remove(os.path.join(directory, name))


def measure_folder(krscript, generator, directory, seed):
    """Times `krscript dump DIR` on one and on two threads."""
    folder = os.path.join(directory, "folder")
    os.mkdir(folder)
    total = 0
    for i in range(FOLDER_SCRIPTS):
        size_mb = FOLDER_SIZES_MB[i % len(FOLDER_SIZES_MB)]
        total += generate(generator, os.path.join(folder, f"script-{i:03}.kr"),
                          "--size-mb", f"{size_mb:g}", "--seed", str(seed * 1000 + i + 1))
    outputs = [os.path.join(directory, f"folder-j{jobs}") for jobs in (1, 2)]
    one, two = best_of([[krscript, "dump", folder, "-o", outputs[0], "-j", "1"],
                        [krscript, "dump", folder, "-o", outputs[1], "-j", "2"]])
    for output in outputs:
        written = sum(name.endswith(".json") for _, _, names in os.walk(output)
                      for name in names)
        if written != FOLDER_SCRIPTS:
            sys.exit(f"FAILED: krscript dump wrote {written} JSON forms into {output}, "
                     f"not {FOLDER_SCRIPTS}")

    load = ", ".join(f"{value:.2f}" for value in os.getloadavg())
    print(f"\nFolder of {FOLDER_SCRIPTS} mixed scripts of "
          f"{min(FOLDER_SIZES_MB):g} to {max(FOLDER_SIZES_MB):g} MiB "
          f"(seeds {seed * 1000 + 1} to {seed * 1000 + FOLDER_SCRIPTS}; load average now {load})")
    row("total size", f"{total:,} bytes ({total / MIB:.1f} MiB)")
    row("krscript dump DIR -o OUT -j 1", seconds_text(one))
    row("krscript dump DIR -o OUT -j 2", seconds_text(two))
    if not one.timed_out and not two.timed_out:
        ratio = two.seconds / one.seconds
        row("time -j 2 / time -j 1", f"{ratio:.2f}", target_text(ratio <= 0.65, "<= 0.65"))


def dialogue_script(lines):
    """A script of one 0x1B string per line, a 0x16 reference before each."""
    out = bytearray()
    for number, line in enumerate(lines):
        out += b"\x16" + (number % 7).to_bytes(4, "little")
        out += b"\x1b\x00\x00\x00\x00" + line.encode() + b"\x00"
    return bytes(out)


def measure_update(krscript, directory, seed):
    """Times update of a translated PO file to a patched script against extract."""
    import random
    rng = random.Random(seed)
    words = ["yes", "no", "the", "station", "tomorrow", "night", "we", "go", "rain",
             "はい", "いいえ", "駅", "明日", "雨", "行こう", "……"]
    old = [" ".join(rng.choice(words) for _ in range(rng.randint(3, 12))) + "."
           for _ in range(UPDATE_LINES)]
    new = list(old)
    for _ in range(UPDATE_LINES // 100):
        at = rng.randrange(len(new))
        change = rng.randrange(3)
        if change == 0:
            new[at] = new[at][:-1] + "!"
        elif change == 1:
            new.insert(at, "a new line " + str(at))
        else:
            del new[at]
    old_path, new_path = (os.path.join(directory, name) for name in ("v1.kr", "v2.kr"))
    for path, lines in ((old_path, old), (new_path, new)):
        with open(path, "wb") as f:
            f.write(dialogue_script(lines))
    old_po, fresh_po, updated_po = (os.path.join(directory, name)
                                    for name in ("v1.kr.po", "fresh.po", "updated.po"))
    subprocess.run([krscript, "extract", old_path, "-o", old_po], check=True,
                   stderr=subprocess.DEVNULL, timeout=TIMEOUT_S)
    with open(old_po, encoding="utf-8") as f:
        text = f.read()
    # Every entry translated: its msgstr is its msgid, upper-cased.
    entries = text.split("\n\n")
    for i in range(1, len(entries)):
        source = entries[i].split('msgid "', 1)[1].split('"\nmsgstr', 1)[0]
        entries[i] = entries[i].replace('msgstr ""', f'msgstr "{source.upper()}"')
    with open(old_po, "w", encoding="utf-8") as f:
        f.write("\n\n".join(entries))
    extract, update = best_of([[krscript, "extract", new_path, "-o", fresh_po],
                               [krscript, "update", new_path, old_po, "-o", updated_po]])
    print(f"\nkrscript update on a script of {len(new):,} lines, 1% of them edited")
    row("krscript extract NEW -o OUT.po", seconds_text(extract))
    row("krscript update NEW OLD.po -o OUT.po", seconds_text(update))
    if not extract.timed_out and not update.timed_out:
        ratio = update.seconds / extract.seconds
        row("time update / time extract", f"{ratio:.2f}", target_text(ratio <= 5.0, "<= 5.0"))


def fill_game(krscript, rng, directory):
    """Writes the scripts of a game and the PO files extract makes of them,
    half of whose entries are translated; returns the two folders."""
    # Words as a game's are: some kana and kanji each, drawn so that a few
    # come often and most rarely.
    kana = [chr(c) for c in range(0x3041, 0x3097)]
    kanji = [chr(c) for c in range(0x4E00, 0x4E00 + 1500)]
    words = ["".join(rng.choice(kanji if rng.random() < 0.4 else kana)
                     for _ in range(rng.randint(1, 4))) for _ in range(5000)]
    weights = [1 / (rank + 1) for rank in range(len(words))]
    said = ["はい。", "いいえ。", "……。", "え？", "そうか。", "ありがとう。"]
    names = ["アリス", "ボブ", "キャロル", "デイブ", "エレン"]
    lines = []
    for _ in range(FILL_LINES):
        roll = rng.random()
        if roll < 0.15:
            lines.append(rng.choice(said))
        elif roll < 0.3 and lines:
            # An earlier line with one word put differently.
            earlier = rng.choice(lines)
            at = rng.randrange(len(earlier))
            lines.append(earlier[:at] + rng.choice(words) + earlier[at + 1:])
        else:
            lines.append("".join(rng.choices(words, weights, k=rng.randint(3, 10))) + "。")
    scripts, translations = (os.path.join(directory, name) for name in ("game", "game-po"))
    os.makedirs(scripts)
    per_script = FILL_LINES // FILL_SCRIPTS
    for s in range(FILL_SCRIPTS):
        out = bytearray()
        for key, name in enumerate(names):
            out += b"\x2b" + key.to_bytes(4, "little") + name.encode() + b"\x00"
        out += dialogue_script(lines[s * per_script:(s + 1) * per_script])
        with open(os.path.join(scripts, f"s{s:02}.kr"), "wb") as f:
            f.write(out)
    subprocess.run([krscript, "extract", scripts, "-o", translations], check=True,
                   stderr=subprocess.DEVNULL, timeout=TIMEOUT_S)
    for name in os.listdir(translations):
        path = os.path.join(translations, name)
        with open(path, encoding="utf-8") as f:
            entries = f.read().split("\n\n")
        for i in range(1, len(entries)):
            if rng.random() < 0.5:
                source = entries[i].split('msgid "', 1)[1].split('"\nmsgstr', 1)[0]
                entries[i] = entries[i].replace('msgstr ""', f'msgstr "<{source}>"')
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n\n".join(entries))
    return scripts, translations


def measure_fill(krscript, directory, seed):
    """Times fill of a half-translated game against extract of it."""
    import random
    scripts, translations = fill_game(krscript, random.Random(seed), directory)
    fresh, filled = (os.path.join(directory, name) for name in ("fresh", "filled"))
    extract, fill = best_of([[krscript, "extract", scripts, "-o", fresh],
                             [krscript, "fill", scripts, translations, "-o", filled]])
    print(f"\nkrscript fill on a game of {FILL_LINES:,} lines in {FILL_SCRIPTS} scripts, "
          "half of them translated")
    row("krscript extract DIR -o OUT", seconds_text(extract))
    row("krscript fill DIR TRANSLATIONS -o OUT", seconds_text(fill))
    if not extract.timed_out and not fill.timed_out:
        ratio = fill.seconds / extract.seconds
        row("time fill / time extract", f"{ratio:.2f}", target_text(ratio <= 5.0, "<= 5.0"))


def measure_html(krlist, krscript, generator, directory, seed):
    """Times `krscript html` on a script of about HTML_INSTRUCTIONS
    instructions against `krscript extract` on it."""
    probe = os.path.join(directory, "html-probe.kr")
    generate(generator, probe, "--size-mb", "1", "--seed", str(seed))
    per_mib, _ = count_instructions(krlist, probe)
    os.remove(probe)
    path = os.path.join(directory, "html.kr")
    size = generate(generator, path, "--size-mb", f"{HTML_INSTRUCTIONS / per_mib:.4f}",
                    "--seed", str(seed))
    instructions, _ = count_instructions(krlist, path)
    po = os.path.join(directory, "html.kr.po")
    sites = [os.path.join(directory, name) for name in ("html-site", "html-site-po")]
    # Within each round extract writes the PO file before html reads it.
    extract, html, html_po = best_of([[krscript, "extract", path, "-o", po],
                                      [krscript, "html", path, "-o", sites[0]],
                                      [krscript, "html", path, po, "-o", sites[1]]])

    print(f"\nkrscript html on a {size / MIB:.1f} MiB mixed script of {instructions:,} "
          f"instructions (seed {seed})")
    row("krscript extract SCRIPT -o OUT.po", seconds_text(extract))
    for label, run, site in (("krscript html SCRIPT -o SITE", html, sites[0]),
                             ("krscript html SCRIPT OUT.po -o SITE", html_po, sites[1])):
        print(f"  {label}")
        row("  time", seconds_text(run))
        if not run.timed_out and not extract.timed_out:
            ratio = run.seconds / extract.seconds
            row("  time / extract time", f"{ratio:.2f}", target_text(ratio <= 10.0, "<= 10.0"))
        sizes = [os.path.getsize(os.path.join(folder, name))
                 for folder, _, names in os.walk(site) for name in names]
        pages = sum(name.endswith(".html") and name != "index.html"
                    for _, _, names in os.walk(site) for name in names)
        row("  pages, largest file", f"{pages}, {max(sizes) / MIB:.2f} MiB",
            target_text(max(sizes) <= 8 * 1000 * 1000, "<= 8 MB"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build_dir",
                        help="holds krlist, krscript and bench/krlist_generate_script")
    parser.add_argument("--size-mb", type=float, default=64,
                        help="size of the larger mixed script in MiB (default 64)")
    parser.add_argument("--seed", type=int, default=1, help="generator seed (default 1)")
    parser.add_argument("--only", choices=["update", "fill", "html", "wrap"],
                        help="measure only this part: update, fill or html, each against "
                        "extract, or inject's wrap in pixels against its wrap in cells")
    args = parser.parse_args()

    krlist = os.path.abspath(os.path.join(args.build_dir, "krlist"))
    krscript = os.path.abspath(os.path.join(args.build_dir, "krscript"))
    generator = os.path.abspath(os.path.join(args.build_dir, "bench", "krlist_generate_script"))
    needed = ((krscript, TIME) if args.only in ("update", "fill") else
              (krlist, krscript, generator, TIME))
    for program in needed:
        if not os.access(program, os.X_OK):
            sys.exit(f"not found or not executable: {program}")

    load = ", ".join(f"{value:.2f}" for value in os.getloadavg())
    print(f"krlist benchmark: best of {RUNS} runs, {os.cpu_count()} CPUs "
          f"(load average {load}), timeout {TIMEOUT_S} s per run")
    baseline = run_once(["true"])
    print(f"(peak memory of `true` measured the same way: {baseline.peak_kib / 1024:.1f} MiB)")

    with tempfile.TemporaryDirectory(prefix="krlist-bench-") as directory:
        if args.only == "update":
            measure_update(krscript, directory, args.seed)
            return
        if args.only == "fill":
            measure_fill(krscript, directory, args.seed)
            return
        if args.only == "html":
            measure_html(krlist, krscript, generator, directory, args.seed)
            return
        if args.only == "wrap":
            path = os.path.join(directory, "mixed-wrap.kr")
            measure_wrap(krscript, directory, path,
                         generate(generator, path, "--size-mb", f"{args.size_mb:g}", "--seed",
                                  str(args.seed)))
            return
        large, large_path, large_size = measure_mixed(krlist, generator, directory,
                                                      args.size_mb, args.seed)
        small, _, _ = measure_mixed(krlist, generator, directory, args.size_mb / 4, args.seed)
        print("\nGrowth")
        if large.timed_out or small.timed_out:
            row(f"time {args.size_mb:g} MiB / {args.size_mb / 4:g} MiB", "timed out")
        else:
            growth = large.seconds / small.seconds
            row(f"time {args.size_mb:g} MiB / {args.size_mb / 4:g} MiB", f"{growth:.2f}",
                target_text(growth <= 4.2, "<= 4.2"))
        measure_distinct(krlist, generator, directory, args.seed)
        measure_extremes(krlist, directory, args.size_mb)
        measure_krscript(krlist, krscript, directory, large_path, large_size)
        measure_wrap(krscript, directory, large_path, large_size)
        measure_folder(krscript, generator, directory, args.seed)
        measure_update(krscript, directory, args.seed)
        measure_fill(krscript, directory, args.seed)
        measure_html(krlist, krscript, generator, directory, args.seed)


if __name__ == "__main__":
    main()
