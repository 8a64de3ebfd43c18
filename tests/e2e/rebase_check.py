#!/usr/bin/env python3
"""Checks the golden runners' --rebase on copies of real cases.

For each case: a passing case is left as it is, byte for byte; a case whose
expectations are spoiled (every expected text, file and status replaced, and
in every other case its STDOUT section taken out) fails without --rebase and
is left as it was, and with --rebase passes again, with every line outside
its expectation sections (free text, hex comments, inputs, arguments) as it
was; --rebase with --wrapper or --crlf is refused and changes nothing.

  rebase_check.py --runner run_cases.py --program build/src/krlist/krlist CASE...
"""

import argparse
import contextlib
import importlib
import io
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_cases import HAND_WRITTEN, SKIPPED, read_sections  # noqa: E402

SETTINGS = ('ARGS', 'STDIN', 'STDOUT-FILE', 'STDOUT-MODE', 'EXIT', 'ONLY', 'INPUT-NAME',
            'MEMORY-LIMIT-MB')
BLOCKS = ('INPUT', 'FILE', 'TEXT-FILE', 'STDOUT', 'STDERR', 'EXPECT-FILE', 'EXPECT-HEX',
          'EXPECT-NO-FILE')
EXPECTED = ('STDOUT', 'STDERR', 'EXPECT-FILE', 'EXPECT-HEX')


def read(path):
    with open(path, encoding='utf-8') as f:
        return f.read()


def kept_lines(path):
    """The lines of a case file outside its expectation sections, EXIT's included."""
    lines = read(path).split('\n')
    sections = read_sections(path, SETTINGS, BLOCKS)
    expected = set()
    for number, name, _, block in sections:
        if name in EXPECTED or name == 'EXIT':
            expected.add(number)
            expected.update(n for n, _ in block)
    # The empty lines a block ends with belong to no section.
    return [line for n, line in enumerate(lines, 1) if n not in expected and line.strip()]


def spoil(path, drop_stdout):
    """The text of the case file with every expectation wrong, or None when
    one is written by hand in a form that a run cannot give back."""
    lines = read(path).split('\n')
    sections = read_sections(path, SETTINGS, BLOCKS)
    named = [(name, value if name != 'EXIT' else '') for _, name, value, _ in sections
             if name in EXPECTED or name == 'EXIT']
    if len(set(named)) != len(named):
        return None  # a section there twice, which --rebase leaves to be mended by hand
    edits = []
    for number, name, value, block in sections:
        if name == 'EXIT':
            edits.append((number, number, [f';;; EXIT: {99 if value != "99" else 98}']))
        if name not in EXPECTED:
            continue
        if any(form in line for _, line in block for form in HAND_WRITTEN):
            return None
        last = block[-1][0] if block else number
        if name == 'STDOUT' and drop_stdout:
            edits.append((number, last, []))
        else:
            edits.append((number + 1, last, ['00' if name == 'EXPECT-HEX' else 'spoiled$']))
    for first, last, new in sorted(edits, reverse=True):
        lines[first - 1:last] = new
    return '\n'.join(lines)


def run_command(options, case, *extra):
    command = [sys.executable, options.runner, options.flag, options.program, *extra, case]
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT).returncode


def run(options, case, rebase=False):
    """The runner's status for one case, run in this process (a case is run
    four times here), with what it prints kept out of sight."""
    settings = argparse.Namespace(wrapper=None, crlf=False, sanitized=options.sanitized,
                                  rebase=rebase,
                                  krlist=options.program, krscript=options.program)
    with contextlib.redirect_stdout(io.StringIO()):
        return options.module.run_all([case], lambda path: options.module.run_case(path,
                                                                                   settings))


def check_refused(options, original, work):
    """--rebase is refused with --wrapper or --crlf, and the case is left alone."""
    copy = os.path.join(work, 'refused-' + os.path.basename(original))
    with open(copy, 'w', encoding='utf-8') as f:
        f.write(spoil(original, drop_stdout=False))
    before = read(copy)
    failures = []
    for refused in (['--rebase', '--crlf'], ['--rebase', '--wrapper', 'env']):
        if run_command(options, copy, *refused) == 0 or read(copy) != before:
            failures.append(f'{" ".join(refused)} was not refused')
    return failures


def check(options, original, index, work):
    """The failures found with one case, or None when it is skipped here."""
    copy = os.path.join(work, os.path.basename(original))
    shutil.copyfile(original, copy)
    before = read(copy)
    status = run(options, copy, rebase=True)
    if status == SKIPPED:
        return None
    failures = []
    if status != 0 or read(copy) != before:
        failures.append('a passing case was rebased (or failed)')
    spoiled = spoil(copy, drop_stdout=index % 2 == 1)
    if spoiled is None:
        return failures
    with open(copy, 'w', encoding='utf-8') as f:
        f.write(spoiled)
    if run(options, copy) == 0 or read(copy) != spoiled:
        failures.append('a spoiled case passed, or was changed, without --rebase')
    if run(options, copy, rebase=True) != 0:
        failures.append('--rebase failed on a spoiled case')
    elif run(options, copy) != 0:
        failures.append('the rebased case fails')
    if kept_lines(copy) != kept_lines(original):
        failures.append('--rebase changed lines outside the expectations')
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--runner', required=True, help='run_cases.py or run_krscript_cases.py')
    parser.add_argument('--program', required=True, help='the program the runner runs')
    parser.add_argument('--sanitized', action='store_true',
                        help='the program is built with sanitizers: skip what they cannot run')
    parser.add_argument('cases', nargs='+')
    options = parser.parse_args()
    options.flag = '--krscript' if 'krscript' in os.path.basename(options.runner) else '--krlist'
    options.module = importlib.import_module(os.path.splitext(os.path.basename(options.runner))[0])
    failed = checked = 0
    work = tempfile.mkdtemp(prefix='krlist-rebase-')
    try:
        first = next((case for case in options.cases if spoil(case, False) is not None), None)
        for failure in check_refused(options, first, work) if first else []:
            print(f'{first}: {failure}')
            failed += 1
        for index, case in enumerate(options.cases):
            failures = check(options, case, index, work)
            if failures is None:
                continue
            checked += 1
            for failure in failures:
                print(f'{case}: {failure}')
            failed += bool(failures)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f'{checked} cases checked, {failed} failed')
    return 1 if failed or checked == 0 else 0


if __name__ == '__main__':
    sys.exit(main())
