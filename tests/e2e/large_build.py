#!/usr/bin/env python3
"""Builds a JSON form large enough to be read on two cores, whole and with a
syntax error and a schema error in its second half, with one krscript (run
through a wrapper such as Wine) and with another, and checks that both give
the same script, or the same message and exit status.

  large_build.py --krscript build-win/krscript.exe --wrapper wine --native build/krscript

With --skip-if-missing (as CTest runs it) a krscript or wrapper that is not
there skips the check (status 77) instead of failing it.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77  # CTest is told that this status means "skipped"


def document():
    lines = ['{"format": "krscript", "version": 1, "encoding": "utf-8", "end": true,\n',
             ' "code": [\n']
    for i in range(160_000):
        if i % 3 == 0:
            lines.append('  {"op": "1B", "data": "00000000", "text": "línea %d"},\n' % i)
        elif i % 3 == 1:
            lines.append('  {"op": "17", "int": %d},\n' % (i - 80_000))
        else:
            lines.append('  {"op": "1E", "floats": [1.5, -%d, 0.25]},\n' % i)
    lines.append('  {"op": "03"}\n ]}\n')
    return "".join(lines)


def run(command, directory, json_name):
    result = subprocess.run(command + ["build", json_name, "-o", "out.kr"], cwd=directory,
                            capture_output=True, timeout=300)
    out = os.path.join(directory, "out.kr")
    script = b""
    if os.path.exists(out):
        with open(out, "rb") as f:
            script = f.read()
        os.remove(out)
    return result.returncode, result.stderr.replace(b"\r\n", b"\n"), script


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--krscript", required=True)
    parser.add_argument("--wrapper", default="")
    parser.add_argument("--native", required=True)
    parser.add_argument("--skip-if-missing", action="store_true",
                        help="skip when the krscript or the wrapper to test is not there")
    args = parser.parse_args()
    if args.skip_if_missing:
        if not args.krscript or not os.path.isfile(args.krscript):
            print(f"skipped: no krscript to test at {args.krscript!r}")
            return SKIPPED
        if args.wrapper and shutil.which(args.wrapper) is None:
            print(f"skipped: no {args.wrapper!r} to run it through")
            return SKIPPED
    tested = ([args.wrapper] if args.wrapper else []) + [os.path.abspath(args.krscript)]
    native = [os.path.abspath(args.native)]

    whole = document()
    assert len(whole.encode()) > 4 << 20
    at = whole.index("\n", len(whole) * 3 // 4) + 3  # the "{" of an instruction
    unknown = whole.index('"op": "17"', at) + len('"op": "')
    forms = {
        "whole.json": whole,
        "syntax.json": whole[:at] + "@" + whole[at:],
        "schema.json": whole[:unknown] + "01" + whole[unknown + 2:],
    }
    failed = 0
    with tempfile.TemporaryDirectory() as directory:
        for name, text in forms.items():
            with open(os.path.join(directory, name), "w", encoding="utf-8", newline="\n") as f:
                f.write(text)
            got = run(tested, directory, name)
            want = run(native, directory, name)
            if got != want:
                failed += 1
                print(f"{name}: status {got[0]} and {want[0]}, stderr {got[1][:200]!r} and "
                      f"{want[1][:200]!r}, script of {len(got[2])} and {len(want[2])} bytes")
            elif name == "whole.json" and (got[0] != 0 or not got[2]):
                failed += 1
                print(f"{name}: not built: {got[1][:200]!r}")
            elif name != "whole.json" and got[0] == 0:
                failed += 1
                print(f"{name}: built, though broken")
    print(f"{len(forms) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
