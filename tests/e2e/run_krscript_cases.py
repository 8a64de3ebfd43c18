#!/usr/bin/env python3
"""Runs krscript end-to-end cases: the files a run starts from, its command
line, and the exact output, exit status and files it must leave.

The format is that of run_cases.py with sections for several input and output
files; README.md beside this file describes both.
"""

import argparse
import os
import shlex
import shutil
import sys
import tempfile

from run_cases import (SKIPPED, CaseError, Rebase, check_rebase, compare, escape_literal,
                       parse_expected, parse_hex, read_sections, rebase_text, run, run_all,
                       windows_path)

SETTINGS = ('ARGS', 'STDIN', 'STDOUT-FILE', 'STDOUT-MODE', 'EXIT', 'ONLY')
BLOCKS = ('FILE', 'TEXT-FILE', 'STDOUT', 'STDERR', 'EXPECT-FILE', 'EXPECT-HEX', 'EXPECT-NO-FILE')


def case_path(number, path):
    """A path inside the case's folder, as the case names it."""
    if not path or path.startswith('/') or '..' in path.split('/'):
        raise CaseError(f'line {number}: {path!r} is not a path inside the case\'s folder')
    return path


def expand_repeats(lines):
    """A line '@repeat COUNT TEXT' of a file's text stands for TEXT written
    COUNT times, so that a deep nesting or a long number takes one line here.
    Ended by '$' it ends in a newline; otherwise the next line follows it."""
    expanded, pending = [], ''
    for number, line in lines:
        if line.startswith('@repeat '):
            _, count, text = (line.split(' ', 2) + [''])[:3]
            if not count.isdigit() or not text:
                raise CaseError(f'line {number}: @repeat COUNT TEXT')
            newline = text.endswith('$')
            pending += text.removesuffix('$') * int(count)
            if not newline:
                continue
            line = '$'
        expanded.append((number, pending + line))
        pending = ''
    if pending:
        expanded.append((lines[-1][0], pending))
    return expanded


def parse_case(path):
    case = {'args': None, 'stdin': 'empty', 'stdout-file': None, 'stdout-mode': 'text', 'only': None, 'exit': None,
            'stdout': b'', 'stderr': b'', 'files': {}, 'expect': {}, 'absent': []}
    case['sections'] = read_sections(path, SETTINGS, BLOCKS)
    for number, name, value, lines in case['sections']:
        if name in SETTINGS:
            case[name.lower()] = value
        elif name in ('STDOUT', 'STDERR'):
            case[name.lower()] = parse_expected(lines)
        elif name == 'EXPECT-NO-FILE':
            if any(line.strip() for _, line in lines):
                raise CaseError(f'line {number}: EXPECT-NO-FILE takes no lines')
            case['absent'].append(case_path(number, value))
        else:
            # FILE and TEXT-FILE are written before the run; EXPECT-FILE and
            # EXPECT-HEX are what must be there after it.
            is_hex = name in ('FILE', 'EXPECT-HEX')
            data = parse_hex(lines) if is_hex else parse_expected(expand_repeats(lines),
                                                                  literal=True)
            kind = 'files' if name in ('FILE', 'TEXT-FILE') else 'expect'
            place = case_path(number, value)
            if place in case[kind]:
                raise CaseError(f'line {number}: {place} is named twice')
            case[kind][place] = (is_hex, data)
    if case['args'] is None or case['exit'] is None:
        raise CaseError('ARGS and EXIT are required')
    if case['stdout-mode'] not in ('text', 'binary'):
        raise CaseError(f'STDOUT-MODE is text or binary, not {case["stdout-mode"]}')
    case['exit'] = int(case['exit'])
    return case


def hex_lines(data):
    """Bytes as lines of 16 hexadecimal pairs, for a readable difference."""
    return b''.join(data[i:i + 16].hex(' ').upper().encode() + b'\n'
                    for i in range(0, len(data), 16))


def temporary_files(folder):
    """The temporary files a run left: an output is written to '.NAME....tmp' first."""
    left = []
    for root, _, names in os.walk(folder):
        left += [os.path.relpath(os.path.join(root, name), folder)
                 for name in names if name.startswith('.') and name.endswith('.tmp')]
    return sorted(left)


def literal_lines(place, data):
    """An EXPECT-FILE's lines for `data`, checked to read back as it."""
    lines = escape_literal(data)
    if lines is None or parse_expected(expand_repeats(list(enumerate(lines, 1))),
                                       literal=True) != data:
        raise CaseError(f'{place} cannot be written as a literal text: rebase it by hand')
    return lines


def check_files(case, work, rebase=None):
    """True when the files are as the case expects; with `rebase`, an expected
    file that differs is rewritten instead. A missing or changed file is never
    rebased: what a run must leave is not read from what it left."""
    ok = True
    for place, (is_hex, expected) in sorted(case['expect'].items()):
        full = os.path.join(work, place)
        if not os.path.isfile(full):
            print(f'--- {place} was not written')
            ok = False
            continue
        with open(full, 'rb') as f:
            actual = f.read()
        if is_hex:
            same = compare(place, hex_lines(expected), hex_lines(actual))
        else:
            same = compare(place, expected, actual)
        if not same and rebase:
            lines = (hex_lines(actual).decode().splitlines() if is_hex
                     else literal_lines(place, actual))
            rebase.block('EXPECT-HEX' if is_hex else 'EXPECT-FILE', lines, value=place)
        elif not same:
            ok = False
    for place in case['absent']:
        if os.path.lexists(os.path.join(work, place)):
            print(f'--- {place} exists, but should not')
            ok = False
    # An input is never written over, unless the case expects it to change
    # (or to be gone: the old files of a site that is replaced).
    for place, (_, data) in sorted(case['files'].items()):
        if place in case['expect'] or place in case['absent']:
            continue
        if not os.path.isfile(os.path.join(work, place)):
            print(f'--- the input {place} is gone')
            ok = False
            continue
        with open(os.path.join(work, place), 'rb') as f:
            if f.read() != data:
                print(f'--- the input {place} changed')
                ok = False
    for place in temporary_files(work):
        print(f'--- a temporary file was left behind: {place}')
        ok = False
    return ok


def run_case(path, options):
    case = parse_case(path)
    if case['only'] == 'linux' and (not sys.platform.startswith('linux') or options.wrapper):
        print(f'{path}: skipped, Linux only')
        return SKIPPED
    work = tempfile.mkdtemp(prefix='krscript-e2e-')
    try:
        for place, (_, data) in case['files'].items():
            full = os.path.join(work, place)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, 'wb') as f:
                f.write(data)
        program = os.path.abspath(options.krscript)
        # '{/}' is what a folder run puts between the names of a path it
        # lists: '/' here, '\' on Windows.
        places = {'{dir}': work, '{/}': '/'}
        if options.wrapper and program.lower().endswith('.exe'):
            # As in run_cases.py: a Windows program run by Wine is given
            # Windows paths, on the drive where Wine puts the Unix root.
            places = {'{dir}': windows_path(work), '{/}': '\\'}
            program = windows_path(program)

        def fill(text):
            for key, value in places.items():
                text = text.replace(key.encode(), value.encode())
            return text

        args = [fill(a.encode()).decode() for a in shlex.split(case['args'])]
        command = shlex.split(options.wrapper or '') + [program] + args
        stdout, stderr, status = run(command, case['stdin'], cwd=work,
                                     stdout_file=case['stdout-file'])
        expected_out, expected_err = fill(case['stdout']), fill(case['stderr'])
        if options.crlf:
            # Messages are text; a JSON form on standard output is raw bytes.
            if case['stdout-mode'] == 'text':
                expected_out = expected_out.replace(b'\n', b'\r\n')
            expected_err = expected_err.replace(b'\n', b'\r\n')
        out_ok = compare('standard output', expected_out, stdout)
        err_ok = compare('standard error', expected_err, stderr)
        if status != case['exit']:
            print(f'--- exit status {status}, expected {case["exit"]}')
        if not options.rebase:
            files_ok = check_files(case, work)
            return 0 if out_ok and err_ok and status == case['exit'] and files_ok else 1
        rebase = Rebase(path, case['sections'])
        if not check_files(case, work, rebase):
            return 1
        # '{/}' is not written back: a '/' in a message need not be one a
        # folder run put there, and HAND_WRITTEN keeps a section with one.
        named = {'{dir}': places['{dir}']}
        if not out_ok:
            rebase_text(rebase, 'STDOUT', stdout, named, fill)
        if not err_ok:
            rebase_text(rebase, 'STDERR', stderr, named, fill)
        if status != case['exit']:
            rebase.setting('EXIT', status)
        if rebase.edits:
            rebase.write()
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--krscript', required=True, help='the program to run')
    parser.add_argument('--wrapper', help='a command to run the program through')
    parser.add_argument('--crlf', action='store_true',
                        help='expect each newline of a message as carriage return and line feed')
    parser.add_argument('--rebase', action='store_true',
                        help='rewrite the expected output, status and files of each failing '
                        'case with what the run gave, keeping the rest of its file')
    parser.add_argument('cases', nargs='+')
    options = parser.parse_args()
    check_rebase(parser, options)
    return run_all(options.cases, lambda path: run_case(path, options))


if __name__ == '__main__':
    sys.exit(main())
