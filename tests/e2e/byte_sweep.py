#!/usr/bin/env python3
"""Runs krlist on every byte value, alone and after a complete instruction.

512 runs are too many for hand-written case files, so the expected output
comes from the instruction set written out here once more, independently of
the tool's own table: which bytes are opcodes without operands, which need
more bytes, and that 0x00 may only end the file.

    byte_sweep.py --krlist PATH [--wrapper CMD] [--crlf]
"""

import argparse
import os
import shlex
import shutil
import sys
import tempfile

from run_cases import compare, run, windows_path

BARE = {0x03, 0x04, 0x05, 0x06, 0x07, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26,
        0x28, 0x2C, 0x2D, 0x30}
NEEDS_MORE = {0x02, 0x16, 0x17, 0x1A, 0x1B, 0x1C, 0x1E, 0x1F, 0x2B, 0x2E, 0x2F}
RULE = '--------------------------'


def expected(before, value, path):
    """Standard output, standard error and status for the file before + value."""
    out = f'\n-= Decompiling {path} =-\n\n'
    lines = [f'{offset:08X}:{opcode:02X}  \n' for offset, opcode in enumerate(before)]
    offset = len(before)
    if value == 0x00:
        return out + ''.join(lines) + f'Done.\ninstructions processed: {len(before)}\n', '', 0
    if value in BARE:
        lines.append(f'{offset:08X}:{value:02X}  \n' + ('\n' if value == 0x04 else ''))
        return out + ''.join(lines) + f'Done.\ninstructions processed: {len(lines)}\n', '', 0
    title = 'Unexpected end of file' if value in NEEDS_MORE else 'Found Uknown OpCode'
    out += f'\n{RULE}\n!! {title} !!\n{RULE}\n\n{offset:08X}:{value:02X}\n\n'
    out += f'instructions processed: {len(before)}\n'
    return out, 'Exiting due to decompile error.\nPress enter to exit...', 1


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--krlist', required=True)
    parser.add_argument('--wrapper')
    parser.add_argument('--crlf', action='store_true')
    options = parser.parse_args()

    work = tempfile.mkdtemp(prefix='krlist-sweep-')
    failed = 0
    try:
        path = os.path.join(work, 'byte.kr')
        # Under Wine, a Windows program is given the Windows path (see run_cases.py).
        windows = options.wrapper and options.krlist.lower().endswith('.exe')
        given = windows_path(path) if windows else path
        for before in (b'', b'\x03'):
            for value in range(256):
                with open(path, 'wb') as f:
                    f.write(before + bytes([value]))
                command = shlex.split(options.wrapper or '') + [options.krlist, given]
                out, err, status = run(command, 'empty')
                if options.wrapper and not out and not err:
                    # Now and then Wine starts a program that then prints
                    # nothing at all, which krlist never does for a file:
                    # such a run is tried once more.
                    out, err, status = run(command, 'empty')
                want_out, want_err, want_status = expected(before, value, given)
                want_out, want_err = want_out.encode(), want_err.encode()
                if options.crlf:
                    want_out = want_out.replace(b'\n', b'\r\n')
                    want_err = want_err.replace(b'\n', b'\r\n')
                ok = compare('standard output', want_out, out)
                ok = compare('standard error', want_err, err) and ok
                if status != want_status:
                    print(f'--- exit status {status}, expected {want_status}')
                    ok = False
                if not ok:
                    failed += 1
                    print(f'FAIL: bytes {(before + bytes([value])).hex(" ")}')
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f'{512 - failed} passed, {failed} failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
