#!/usr/bin/env python3
"""Runs krlist end-to-end cases and compares every byte it writes.

See README.md beside this file for the case format.
"""

import argparse
import difflib
import os
import re
import resource
import shlex
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77  # CTest is told that this status means "skipped"


class CaseError(Exception):
    pass


def parse_hex(lines):
    """Bytes from hex pairs, '#' comments and '@repeat COUNT HEX...' lines."""
    data = bytearray()
    for number, line in lines:
        line = line.split('#', 1)[0].strip()
        if not line:
            continue
        count = 1
        if line.startswith('@repeat'):
            words = line.split()
            if len(words) < 3:
                raise CaseError(f'line {number}: @repeat COUNT HEX...')
            count = int(words[1])
            line = ' '.join(words[2:])
        try:
            chunk = bytes.fromhex(line)
        except ValueError:
            raise CaseError(f'line {number}: not hexadecimal: {line!r}')
        data += chunk * count
    return bytes(data)


def parse_expected(lines, literal=False):
    """Expected text: '$' ends a line with a newline, '\\xNN' is a byte.

    A literal text (a file's, where a backslash is JSON's own) only has its '$'.
    """
    text = bytearray()
    for index, (number, line) in enumerate(lines):
        if line.endswith('$'):
            line = line[:-1] + '\n'
        elif index != len(lines) - 1:
            raise CaseError(f'line {number}: only the last line may lack its $')
        if literal:
            text += line.encode('utf-8')
            continue
        line = re.sub(r'\{repeat (\d+) ([^}]*)\}', lambda m: m.group(2) * int(m.group(1)), line)
        pieces = re.split(r'(\\x[0-9A-Fa-f]{2}|\\\\)', line)
        for piece in pieces:
            if piece.startswith('\\x'):
                text.append(int(piece[2:], 16))
            elif piece == '\\\\':
                text += b'\\'
            elif '\\' in piece:
                raise CaseError(f'line {number}: a backslash is written \\\\')
            else:
                text += piece.encode('utf-8')
    return bytes(text)


def read_sections(path, settings, blocks):
    """The sections of a case file, in file order: (line number, NAME, value, lines).

    A line ';;; NAME: value' starts one. A setting (a name in `settings`) is
    that one line; a block (a name in `blocks`) holds the lines up to the next
    section, as (line number, text), less the empty lines at its end (the
    file's final newline leaves one behind; so may editors). Lines before the
    first section, or after a setting, are free text.
    """
    sections = []
    with open(path, encoding='utf-8') as f:
        for number, line in enumerate(f.read().split('\n'), 1):
            if line.startswith(';;; '):
                name, _, value = line[4:].partition(':')
                name = name.strip().upper()
                if name not in settings and name not in blocks:
                    raise CaseError(f'line {number}: unknown section {name}')
                sections.append((number, name, value.strip(), []))
            elif sections and sections[-1][1] in blocks:
                sections[-1][3].append((number, line))
    for _, _, _, lines in sections:
        while lines and lines[-1][1] == '':
            lines.pop()
    return sections


def escape_expected(data):
    """The lines of an expected text (see parse_expected) that read back as
    `data`: UTF-8 text as it is, other bytes and control characters as \\xNN."""
    text = []
    for piece in re.split(rb'([\x80-\xff]+)', data):
        if piece and piece[0] >= 0x80:
            # Well-formed UTF-8 stays readable; the rest is written byte by byte.
            decoded = piece.decode('utf-8', errors='surrogateescape')
            text += [f'\\x{ord(c) - 0xDC00:02X}' if 0xDC80 <= ord(c) <= 0xDCFF else c
                     for c in decoded]
            continue
        for byte in piece:
            c = chr(byte)
            if c == '\\':
                text.append('\\\\')
            elif c == '\n' or ' ' <= c < '\x7f':
                text.append(c)
            else:
                text.append(f'\\x{byte:02X}')
    lines = ''.join(text).split('\n')
    # A '$' that ends a line is the newline's mark, and '{repeat' starts a
    # repeat: as text they are written as bytes.
    lines = [re.sub(r'\{(?=repeat \d+ )', r'\\x7B', line) for line in lines]
    lines = [line[:-1] + '\\x24' if line.endswith('$') else line for line in lines]
    return [line + '$' for line in lines[:-1]] + ([lines[-1]] if lines[-1] else [])


def escape_literal(data):
    """The lines of a literal expected text that read back as `data`, or None
    when it is not UTF-8, which a literal text cannot hold."""
    try:
        lines = data.decode('utf-8').split('\n')
    except UnicodeDecodeError:
        return None
    return [line + '$' for line in lines[:-1]] + ([lines[-1]] if lines[-1] else [])


# Hand-written forms that a run's output cannot give back: a section that uses
# one is rebased by hand.
HAND_WRITTEN = ('{NUMBER}', '{repeat ', '@repeat ', '{/}')


class Rebase:
    """Rewrites the expectation sections of a case file from what a run gave,
    and nothing else: free text, comments and the other sections stay as they
    are, byte for byte."""

    def __init__(self, path, sections):
        self.path = path
        self.sections = sections
        # (first line, last line, order given, new lines), lines numbered from 1.
        self.edits = []

    def find(self, name, value=None):
        found = [s for s in self.sections if s[1] == name and (value is None or s[2] == value)]
        if len(found) > 1:
            raise CaseError(f'line {found[1][0]}: {name} is there twice: rebase it by hand')
        return found[0] if found else None

    def block(self, name, lines, value=None, header=None):
        """Gives the block `name` (with `value`) the lines `lines`; one that is
        not there is written before the EXIT line, with `header`."""
        section = self.find(name, value)
        if section is None:
            if not lines:
                return
            at = self.find('EXIT')[0]
            self.edits.append((at, at - 1, len(self.edits), [header or f';;; {name}'] + lines))
            return
        number, _, _, old = section
        for _, line in old:
            for form in HAND_WRITTEN:
                if form in line:
                    raise CaseError(f'line {number}: {name} is written with {form.strip()}: '
                                    'rebase it by hand')
        last = old[-1][0] if old else number
        self.edits.append((number + 1, last, len(self.edits), lines))

    def setting(self, name, value):
        number, _, _, _ = self.find(name)
        self.edits.append((number, number, len(self.edits), [f';;; {name}: {value}']))

    def write(self):
        with open(self.path, encoding='utf-8') as f:
            lines = f.read().split('\n')
        # From the end, so that the line numbers of those still to make hold;
        # sections added at one place come in the order given.
        for first, last, _, new in sorted(self.edits, reverse=True):
            lines[first - 1:last] = new
        temporary = self.path + '.rebase.tmp'
        with open(temporary, 'w', encoding='utf-8') as f:
            f.write('\n'.join(lines))
        os.replace(temporary, self.path)
        print(f'{self.path}: rebased')


def unfill(data, places):
    """The output of a run with its places written back as placeholders,
    the longest first ('{input}' lies in '{dir}''s folder)."""
    for key, value in sorted(places.items(), key=lambda item: -len(item[1])):
        data = data.replace(value.encode(), key.encode())
    return data


def rebase_text(rebase, name, actual, places, fill):
    """Rewrites STDOUT or STDERR with `actual`, checked to read back as it."""
    lines = escape_expected(unfill(actual, places))
    if fill(parse_expected(list(enumerate(lines, 1)))) != actual:
        raise CaseError(f'{name} cannot be written back as it was read: rebase it by hand')
    rebase.block(name, lines)


def parse_case(path):
    case = {'args': '{input}', 'stdin': 'empty', 'stdout-file': None, 'only': None, 'input': None,
            'input-name': 'input.kr', 'stdout': b'', 'stderr': b'', 'exit': None,
            'memory-limit-mb': None}
    sections = {}
    settings = ('ARGS', 'STDIN', 'STDOUT-FILE', 'EXIT', 'ONLY', 'INPUT-NAME', 'MEMORY-LIMIT-MB')
    case['sections'] = read_sections(path, settings, ('INPUT', 'STDOUT', 'STDERR'))
    for _, name, value, lines in case['sections']:
        if name in settings:
            case[name.lower()] = value
        else:
            sections.setdefault(name, []).extend(lines)
    if 'INPUT' in sections:
        case['input'] = parse_hex(sections['INPUT'])
    case['stdout'] = parse_expected(sections.get('STDOUT', []))
    case['stderr'] = parse_expected(sections.get('STDERR', []))
    if case['exit'] is None:
        raise CaseError('no EXIT')
    if os.path.isabs(case['input-name']) or '..' in case['input-name'].split('/'):
        raise CaseError('INPUT-NAME is a path inside the case\'s own folder')
    case['exit'] = int(case['exit'])
    return case


def show(data):
    return data.decode('latin-1').splitlines(keepends=True)


def compare(what, expected, actual):
    if expected == actual:
        return True
    # {NUMBER} stands for any decimal number, where the program cannot be
    # expected to give one in particular.
    if b'{NUMBER}' in expected:
        pattern = re.escape(expected).replace(re.escape(b'{NUMBER}'), rb'[0-9]+')
        if re.fullmatch(pattern, actual, re.DOTALL):
            return True
    print(f'--- {what} differs (expected, then actual):')
    # Lines are shown escaped, so that trailing spaces and odd bytes are seen.
    for line in difflib.unified_diff(show(expected), show(actual), 'expected', 'actual', n=2):
        print(ascii(line)[1:-1])
    return False


def run(command, stdin, cwd=None, stdout_file=None, memory_limit_mb=None):
    stdin_handle = subprocess.DEVNULL
    preexec = None
    feed = None
    if stdin == 'closed':
        stdin_handle = None
        preexec = lambda: os.close(0)
    elif stdin.startswith('pipe '):
        # A pipe that the file's bytes are written into.
        with open(os.path.join(cwd or '.', stdin[len('pipe '):]), 'rb') as f:
            feed = f.read()
    elif stdin != 'empty':
        raise CaseError(f'STDIN is empty, closed or pipe PATH, not {stdin}')
    # The output is caught in files, not pipes: a helper that a wrapper starts
    # and leaves running (Wine's wineserver lingers for seconds) would keep a
    # pipe open, and every run would wait for it to exit.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        stdout_handle = out
        if stdout_file == 'closed':
            stdout_handle = None
            preexec = (lambda: (os.close(0), os.close(1))) if preexec else (lambda: os.close(1))
        elif stdout_file == 'broken-pipe':
            reader, stdout_handle = os.pipe()
            os.close(reader)
        elif stdout_file:
            stdout_handle = open(stdout_file, 'wb')
        if memory_limit_mb:
            # Address space, so that the program runs out of memory at once.
            limit = int(memory_limit_mb) << 20
            closing = preexec
            preexec = lambda: (closing and closing(),
                               resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
        try:
            source = {'input': feed} if feed is not None else {'stdin': stdin_handle}
            status = subprocess.run(command, **source, stdout=stdout_handle,
                                    stderr=err, cwd=cwd, preexec_fn=preexec,
                                    timeout=120).returncode
        finally:
            if isinstance(stdout_handle, int):
                os.close(stdout_handle)
            elif stdout_file and stdout_handle:
                stdout_handle.close()
        out.seek(0)
        err.seek(0)
        return out.read(), err.read(), status


def windows_path(path):
    """The path a Windows program run by Wine knows a Unix file by."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def run_case(path, options):
    case = parse_case(path)
    if case['only'] == 'linux' and (not sys.platform.startswith('linux') or options.wrapper):
        print(f'{path}: skipped, Linux only')
        return SKIPPED
    if case['memory-limit-mb'] and options.sanitized:
        print(f'{path}: skipped, a sanitizer needs more address space than the limit')
        return SKIPPED
    work = tempfile.mkdtemp(prefix='krlist-e2e-')
    try:
        places = {'{input}': os.path.join(work, case['input-name']),
                  '{dir}': os.path.join(work, 'folder'),
                  '{krlist}': options.krlist}
        os.mkdir(places['{dir}'])
        os.makedirs(os.path.dirname(places['{input}']), exist_ok=True)
        if case['input'] is not None:
            with open(places['{input}'], 'wb') as f:
                f.write(case['input'])
        if options.wrapper and options.krlist.lower().endswith('.exe'):
            # A Windows program run by Wine is given Windows paths, on the
            # drive where Wine puts the Unix root. Wine names the program
            # itself by its full Windows path, whatever path it was given.
            places = {key: windows_path(value) for key, value in places.items()}

        def fill(text):
            for key, value in places.items():
                text = text.replace(key.encode(), value.encode())
            return text

        args = [fill(a.encode()).decode() for a in shlex.split(case['args'])]
        command = shlex.split(options.wrapper or '') + [places['{krlist}']] + args
        stdout, stderr, status = run(command, case['stdin'], stdout_file=case['stdout-file'],
                                     memory_limit_mb=case['memory-limit-mb'])
        expected_out, expected_err = fill(case['stdout']), fill(case['stderr'])
        if options.crlf:
            expected_out = expected_out.replace(b'\n', b'\r\n')
            expected_err = expected_err.replace(b'\n', b'\r\n')
        out_ok = compare('standard output', expected_out, stdout)
        err_ok = compare('standard error', expected_err, stderr)
        if status != case['exit']:
            print(f'--- exit status {status}, expected {case["exit"]}')
        if out_ok and err_ok and status == case['exit']:
            return 0
        if not options.rebase:
            return 1
        rebase = Rebase(path, case['sections'])
        if not out_ok:
            rebase_text(rebase, 'STDOUT', stdout, places, fill)
        if not err_ok:
            rebase_text(rebase, 'STDERR', stderr, places, fill)
        if status != case['exit']:
            rebase.setting('EXIT', status)
        rebase.write()
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


def example_bytes(stem):
    with open(stem + '.hex', encoding='utf-8') as f:
        return parse_hex(enumerate(f.read().split('\n'), 1))


def run_example(stem, options):
    """The sample's bytes match its commented hex, and it lists as checked in."""
    folder, name = os.path.split(os.path.abspath(stem))
    hex_bytes = example_bytes(stem)
    with open(stem + '.kr', 'rb') as f:
        if f.read() != hex_bytes:
            print(f'{stem}.kr does not hold the bytes {stem}.hex describes')
            return 1
    with open(stem + '.listing', 'rb') as f:
        expected = f.read()
    if options.crlf:
        expected = expected.replace(b'\n', b'\r\n')
    # Run from the project's root with a relative path, as README.md does.
    relative = os.path.join(os.path.basename(folder), name + '.kr')
    command = shlex.split(options.wrapper or '') + [os.path.abspath(options.krlist), relative]
    stdout, stderr, status = run(command, 'empty', cwd=os.path.dirname(folder))
    ok = compare('standard output', expected, stdout)
    ok = compare('standard error', b'', stderr) and ok
    if status != 0:
        print(f'--- exit status {status}, expected 0')
        ok = False
    return 0 if ok else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--krlist', help='the program to run')
    parser.add_argument('--wrapper', help='a command to run the program through')
    parser.add_argument('--crlf', action='store_true',
                        help='expect newlines written as carriage return and line feed')
    parser.add_argument('--sanitized', action='store_true',
                        help='the program runs under sanitizers: skip cases that limit memory')
    parser.add_argument('--rebase', action='store_true',
                        help='rewrite the expected output and status of each failing case with '
                        'what the run gave, keeping the rest of its file')
    parser.add_argument('--example', help='check examples/NAME (.hex, .kr, .listing)')
    parser.add_argument('--write-example', metavar='STEM',
                        help='write STEM.kr from the commented hex in STEM.hex')
    parser.add_argument('--extract-inputs', metavar='DIR',
                        help='write the input of each case (and copy each .kr file) into DIR')
    parser.add_argument('cases', nargs='*')
    options = parser.parse_args()

    if options.extract_inputs:
        os.makedirs(options.extract_inputs, exist_ok=True)
        for path in options.cases:
            name = os.path.splitext(os.path.basename(path))[0] + '.kr'
            if path.endswith('.kr'):
                shutil.copyfile(path, os.path.join(options.extract_inputs, name))
                continue
            data = parse_case(path)['input']
            if data is not None:
                with open(os.path.join(options.extract_inputs, name), 'wb') as f:
                    f.write(data)
        return 0

    if options.write_example:
        with open(options.write_example + '.kr', 'wb') as f:
            f.write(example_bytes(options.write_example))
        return 0
    if not options.krlist:
        parser.error('--krlist is required')
    check_rebase(parser, options)

    if options.example:
        return run_example(options.example, options)
    return run_all(options.cases, lambda path: run_case(path, options))


def check_rebase(parser, options):
    # Expectations are what the program writes here, as it is: a run through
    # an emulator or with CRLF newlines tells how that run differs, not what
    # to expect.
    if options.rebase and (options.wrapper or options.crlf):
        parser.error('--rebase rewrites cases from the program run as it is, '
                     'not through --wrapper or --crlf')
    if options.rebase and getattr(options, 'example', None):
        parser.error('--rebase rewrites cases, not examples')


def run_all(paths, run_one):
    """Runs each case with `run_one`, says which failed, and returns the status."""
    failed, skipped = [], []
    for path in paths:
        try:
            status = run_one(path)
        except CaseError as error:
            print(f'{path}: {error}')
            status = 1
        if status == SKIPPED:
            skipped.append(path)
        elif status != 0:
            failed.append(path)
            print(f'FAIL {path}')
    if len(paths) > 1:
        passed = len(paths) - len(failed) - len(skipped)
        print(f'{passed} passed, {len(failed)} failed, {len(skipped)} skipped')
    if failed:
        return 1
    return SKIPPED if skipped and len(skipped) == len(paths) else 0


if __name__ == '__main__':
    sys.exit(main())
