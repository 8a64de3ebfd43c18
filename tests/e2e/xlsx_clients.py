#!/usr/bin/env python3
"""Workbooks through the programs translators use: openpyxl, which writes
cells as Excel does, and LibreOffice Calc, which opens and saves them.

- What `extract --format xlsx` writes holds the rows `--format csv` writes,
  every cell a string in a text column, the header row frozen.
- Targets typed as text, values that spreadsheets like to convert among
  them, go into the script as typed, from openpyxl's workbook and from that
  workbook opened and saved by LibreOffice alike.
- A target that a spreadsheet made a number, a date or a formula is refused
  at its row, and nothing is written; so is what LibreOffice makes of a CSV
  opened as any CSV, and that CSV saved back has its converted sources
  named as the spreadsheet's doing.

Usage: xlsx_clients.py --krscript PATH --work DIR. Exits 77 (skipped) when
openpyxl or LibreOffice is missing.
"""

import argparse
import csv
import io
import json
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "html"))
import scripts  # noqa: E402

SKIPPED = 77
# Debian's python3-openpyxl is installed for the system's Python, which may
# not be the one that runs the tests.
SYSTEM_PYTHON = "/usr/bin/python3"

# Sources a spreadsheet would take for values, and texts that are hard to
# keep in a cell: line breaks, a control character, spaces at the ends.
SOURCES = ["007", "=1+1", "1/2", "100%", "こんにちは、世界。", "line one\nline two",
           "bell\x07", "tab\there", "  padded  ", "Mar 1", "1e5", "0.50"]
# What a translator types: values too, as text.
TARGETS = ["007", "=SUM(1,2)", "1/2", "100%", "Hello, world.", "first\nsecond",
           "1,234", "TRUE", " spaced ", "Mar 1", "1e5", "0.50"]
# Texts that read as a workbook's escape of a character (_xHHHH_), which a
# workbook escapes in turn; openpyxl reads and saves them otherwise than
# Excel, so they go through LibreOffice alone.
ESCAPE_LIKE = ["_x0041_ stays", "_x005F_", "__x000D__"]
# A carriage return, which a workbook escapes (_x000D_) and openpyxl keeps
# as Excel does; LibreOffice reads it as a line break, as it does in a CSV.
CARRIAGE_RETURNS = ["line one\r\nline two", "end\r"]


def fail(message):
    sys.exit(f"FAILED: {message}")


def run(command, status=0, cwd=None):
    result = subprocess.run(command, capture_output=True, timeout=600, cwd=cwd)
    if status is not None and result.returncode != status:
        fail(f"{' '.join(command)} exited with {result.returncode}, not {status}:\n"
             f"{result.stderr.decode(errors='replace')}")
    return result


def openpyxl(code, *args):
    """Runs `code` in the system's Python with openpyxl; its standard output."""
    return run([SYSTEM_PYTHON, "-c", "import json, sys, datetime, openpyxl\n" + code, *args]
               ).stdout.decode()


def csv_rows(data):
    return list(csv.reader(io.StringIO(data.decode("utf-8-sig"), newline="")))


def script_strings(krscript, script, work):
    """The strings of a script, through extract's CSV form."""
    out = os.path.join(work, "strings.csv")
    run([krscript, "extract", script, "-o", out, "--format", "csv", "--encoding", "utf-8"])
    with open(out, "rb") as f:
        rows = csv_rows(f.read())
    os.remove(out)
    return [row[1] for row in rows[1:]]


READ_CELLS = """
book = openpyxl.load_workbook(sys.argv[1])
sheet = book.active
rows = [[c.value if c.value is not None else "" for c in row] for row in sheet.iter_rows()]
kinds = sorted({(c.data_type, c.number_format) for row in sheet.iter_rows() for c in row})
print(json.dumps({"rows": rows, "kinds": kinds, "frozen": sheet.freeze_panes}))
"""

# Sets the targets (column C, from row 2) to the JSON list argv[2] and saves
# to argv[3]. A target is a text, which openpyxl (like Excel) takes for a
# formula when it starts with "=", or [KIND, VALUE]: ["text", "=..."] for a
# text cell whatever it holds, ["number", 7] or ["date", "2026-03-01"].
WRITE_TARGETS = """
book = openpyxl.load_workbook(sys.argv[1])
sheet = book.active
for row, target in enumerate(json.loads(sys.argv[2]), start=2):
    cell = sheet.cell(row=row, column=3)
    if isinstance(target, list):
        kind, target = target
        if kind == "date":
            target = datetime.date.fromisoformat(target)
        cell.value = target
        if kind == "text":
            cell.data_type = "s"
    else:
        cell.value = target
book.save(sys.argv[3])
"""


def libreoffice(work, source, format_name, *options):
    """Opens `source` in LibreOffice Calc and saves it as `format_name` in
    work/lo; the path of what it saved."""
    out = os.path.join(work, "lo")
    os.makedirs(out, exist_ok=True)
    profile = "file://" + os.path.join(work, "lo-profile")
    run(["soffice", f"-env:UserInstallation={profile}", "--headless", *options,
         "--convert-to", format_name, "--outdir", out, source])
    saved = os.path.join(out, os.path.basename(source).rsplit(".", 1)[0] + "." +
                         format_name.split(":")[0])
    if not os.path.exists(saved):
        fail(f"LibreOffice saved no {saved}")
    return saved


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--krscript", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    krscript = os.path.abspath(args.krscript)
    if subprocess.run([SYSTEM_PYTHON, "-c", "import openpyxl"], capture_output=True).returncode:
        print("skipped: no openpyxl (Debian: python3-openpyxl)")
        return SKIPPED
    if shutil.which("soffice") is None:
        print("skipped: no LibreOffice (Debian: libreoffice-calc)")
        return SKIPPED
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    script = os.path.join(work, "a.kr")
    with open(script, "wb") as f:
        f.write(b"".join(scripts.dialogue(text.encode()) for text in SOURCES))

    # The workbook holds the CSV's rows, every cell a text.
    book = os.path.join(work, "a.kr.xlsx")
    run([krscript, "extract", script, "-o", book, "--format", "xlsx", "--encoding", "utf-8"])
    run([krscript, "extract", script, "-o", os.path.join(work, "a.kr.csv"), "--format", "csv",
         "--encoding", "utf-8"])
    with open(os.path.join(work, "a.kr.csv"), "rb") as f:
        expected = csv_rows(f.read())
    read = json.loads(openpyxl(READ_CELLS, book))
    # openpyxl leaves the escapes of characters XML cannot carry (_x000D_) as
    # they are, which Excel reads as the characters.
    got = [[re.sub("_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), cell)
            for cell in row] for row in read["rows"]]
    if got != expected:
        fail(f"openpyxl reads {got},\nthe CSV holds {expected}")
    if read["kinds"] != [["s", "@"]]:
        fail(f"cells of kinds and formats {read['kinds']}, not only text cells")
    if read["frozen"] != "A2":
        fail(f"the frozen cell is {read['frozen']}, not A2")

    # Targets typed as text go in as typed, from openpyxl's workbook and from
    # LibreOffice's save of it.
    typed = os.path.join(work, "typed", "a.kr.xlsx")
    os.makedirs(os.path.dirname(typed))
    openpyxl(WRITE_TARGETS, book,
             json.dumps([["text", t] if t.startswith("=") else t for t in TARGETS]), typed)
    injected = os.path.join(work, "typed.kr")
    run([krscript, "inject", script, typed, "-o", injected])
    got = script_strings(krscript, injected, work)
    if got != TARGETS:
        fail(f"injected from openpyxl's workbook: {got},\nnot {TARGETS}")
    saved = libreoffice(work, typed, "xlsx")
    again = os.path.join(work, "libreoffice.kr")
    run([krscript, "inject", script, saved, "-o", again])
    with open(injected, "rb") as a, open(again, "rb") as b:
        if a.read() != b.read():
            fail(f"LibreOffice's save of the workbook injects otherwise: "
                 f"{script_strings(krscript, again, work)}")

    # Carriage returns, through openpyxl.
    returns = os.path.join(work, "returns", "c.kr")
    os.makedirs(os.path.dirname(returns))
    with open(returns, "wb") as f:
        f.write(b"".join(scripts.dialogue(text.encode()) for text in CARRIAGE_RETURNS))
    run([krscript, "extract", returns, "-o", returns + ".xlsx", "--format", "xlsx",
         "--encoding", "utf-8"])
    typed_returns = os.path.join(work, "returns", "typed.kr.xlsx")
    openpyxl(WRITE_TARGETS, returns + ".xlsx", json.dumps(["a\r\nb", "c\r"]), typed_returns)
    run([krscript, "inject", returns, typed_returns, "-o", returns + ".out"])
    if script_strings(krscript, returns + ".out", work) != ["a\r\nb", "c\r"]:
        fail(f"carriage returns through openpyxl: {script_strings(krscript, returns + '.out', work)}")

    # An untouched workbook, opened and saved by LibreOffice, injects back to
    # the script's own bytes.
    hard = os.path.join(work, "hard", "b.kr")
    os.makedirs(os.path.dirname(hard))
    with open(hard, "wb") as f:
        f.write(b"".join(scripts.dialogue(text.encode()) for text in SOURCES + ESCAPE_LIKE))
    run([krscript, "extract", hard, "-o", hard + ".xlsx", "--format", "xlsx", "--encoding",
         "utf-8"])
    saved = libreoffice(work, hard + ".xlsx", "xlsx")
    untouched = os.path.join(work, "untouched.kr")
    run([krscript, "inject", hard, saved, "-o", untouched])
    with open(hard, "rb") as a, open(untouched, "rb") as b:
        if a.read() != b.read():
            fail("LibreOffice's save of an untouched workbook injects otherwise")

    # Values are refused at their row, and nothing is written.
    for row, value, said in ((4, ["number", 7], "the number 7"),
                             (2, ["date", "2026-03-01"], "the date 2026-03-01"),
                             (3, "=SUM(1,2)", "the formula =SUM(1,2)")):
        converted = os.path.join(work, "converted", "a.kr.xlsx")
        os.makedirs(os.path.dirname(converted), exist_ok=True)
        targets = [""] * len(TARGETS)
        targets[row - 2] = value
        openpyxl(WRITE_TARGETS, book, json.dumps(targets), converted)
        output = os.path.join(work, "converted.kr")
        result = run([krscript, "inject", script, converted, "-o", output], status=1)
        message = (f"a.kr.xlsx:{row}: the target of row {row} is {said}: the spreadsheet "
                   f"converted what was typed; keep the column as text")
        if message not in result.stderr.decode():
            fail(f"inject of a target made {said} says\n{result.stderr.decode()}")
        if os.path.exists(output):
            fail(f"inject of a target made {said} wrote {output}")

    # A CSV opened as any CSV: LibreOffice makes "007" the number 7.
    translated = os.path.join(work, "as-any-csv", "a.kr.csv")
    os.makedirs(os.path.dirname(translated))
    rows = [expected[0]] + [row[:2] + [TARGETS[0] if i == 0 else ""] + row[3:]
                            for i, row in enumerate(expected[1:])]
    with open(translated, "w", encoding="utf-8-sig", newline="") as f:
        csv.writer(f, quoting=csv.QUOTE_ALL, lineterminator="\r\n").writerows(rows)
    # Comma-separated, quoted with '"', UTF-8 (76), from row 1: the import
    # dialog's defaults for such a file, which take what reads as a number
    # for one.
    saved = libreoffice(work, translated, "xlsx", "--infilter=CSV:44,34,76,1")
    result = run([krscript, "inject", script, saved, "-o", os.path.join(work, "csv.kr")],
                 status=1)
    if "the target of row 2 is the number 7" not in result.stderr.decode():
        fail(f"LibreOffice's workbook of a CSV opened as any CSV: {result.stderr.decode()}")
    # Saved back as CSV, the sources LibreOffice converted are named as its
    # doing, not as another version's.
    saved = libreoffice(work, translated, "csv:Text - txt - csv (StarCalc):44,34,76,1",
                        "--infilter=CSV:44,34,76,1")
    result = run([krscript, "inject", script, saved, "-o", os.path.join(work, "csv.kr")],
                 status=1)
    said = result.stderr.decode()
    for offset, source in ((0x0, "007"), (0x13, "1/2")):
        line = (f'the source text is not the script\'s text at {offset:08X}: the spreadsheet '
                f'changed this cell (import every column as text, or use --format xlsx)')
        if line not in said:
            fail(f"LibreOffice's CSV of {source!r}: {said}")
    print("ok: openpyxl and LibreOffice Calc, both directions")
    return 0


if __name__ == "__main__":
    sys.exit(main())
