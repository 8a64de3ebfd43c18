#!/usr/bin/env python3
"""Checks io/Zip against Python's zipfile, a zip reader and writer of its
own: archives that zipfile writes (deflated and stored, to a file and, with
data descriptors, to a stream it cannot seek) read as the members put in,
and archives that zip_members writes open in zipfile with every CRC-32
right, the same members in the same order, deflated where that is smaller.
An archive zipfile writes with a name outside its folder is refused.

    check_python.py --program zip_members --work DIR"""

import argparse
import io
import os
import random
import subprocess
import sys
import zipfile


def random_members(rng, count):
    parts = ["xl", "worksheets", "sheet1.xml", "_rels", ".rels", "データ", "docProps", "a b"]
    members = {}
    while len(members) < count:
        name = "/".join(rng.choice(parts) for _ in range(rng.randint(1, 3)))
        kind = rng.randrange(4)
        if kind == 0:
            data = b""
        elif kind == 1:
            data = "".join(f'<c r="A{rng.randrange(99)}"/>' for _ in range(rng.randrange(4000)))
            data = data.encode()
        elif kind == 2:
            data = rng.randbytes(rng.randrange(50000))
        else:
            data = rng.randbytes(rng.randrange(200)) + b"z" * rng.randrange(9000)
        members[name] = data
    return list(members.items())


def frame(members):
    out = bytearray()
    for name, data in members:
        name = name.encode()
        out += b"%d %d\n" % (len(name), len(data)) + name + data
    return bytes(out)


def unframe(blob):
    members = []
    at = 0
    while at < len(blob):
        line_end = blob.index(b"\n", at)
        name_length, data_length = map(int, blob[at:line_end].split())
        at = line_end + 1
        name = blob[at:at + name_length].decode()
        members.append((name, blob[at + name_length:at + name_length + data_length]))
        at += name_length + data_length
    return members


class Unseekable(io.RawIOBase):
    """A stream zipfile cannot seek in, so that it writes data descriptors."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


def zipfile_archive(members, method, stream):
    target = Unseekable() if stream else io.BytesIO()
    with zipfile.ZipFile(target, "w", compression=method) as archive:
        for name, data in members:
            archive.writestr(name, data)
    return bytes(target.data if stream else target.getvalue())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    rng = random.Random(5)
    failures = []
    path = os.path.join(args.work, "archive.zip")

    for round_ in range(30):
        members = random_members(rng, rng.randint(0, 8))
        method = zipfile.ZIP_DEFLATED if round_ % 3 else zipfile.ZIP_STORED
        stream = round_ % 2 == 1
        blob = zipfile_archive(members, method, stream)
        if stream and members:
            assert blob[6] & 8, "zipfile wrote no data descriptor to a stream"
        with open(path, "wb") as f:
            f.write(blob)
        run = subprocess.run([args.program, "read", path], capture_output=True)
        if run.returncode != 0 or unframe(run.stdout) != members:
            failures.append(f"round {round_}: zipfile's archive (method {method}, "
                            f"stream {stream}) reads as other members: "
                            f"{run.stderr.decode(errors='replace')}")

        run = subprocess.run([args.program, "write", path], input=frame(members),
                             capture_output=True)
        if run.returncode != 0:
            failures.append(f"round {round_}: write failed: {run.stderr.decode()}")
            continue
        with zipfile.ZipFile(path) as archive:
            bad = archive.testzip()
            if bad is not None:
                failures.append(f"round {round_}: zipfile finds {bad!r} damaged")
            infos = archive.infolist()
            read = [(info.filename, archive.read(info)) for info in infos]
            if read != members:
                failures.append(f"round {round_}: zipfile reads other members")
            for info, (name, data) in zip(infos, members):
                smaller = len(zlib_deflated(data)) < len(data)
                expected = zipfile.ZIP_DEFLATED if smaller else zipfile.ZIP_STORED
                if info.compress_type != expected or info.date_time != (1980, 1, 1, 0, 0, 0):
                    failures.append(f"round {round_}: {name!r} written with method "
                                    f"{info.compress_type}, dated {info.date_time}")

    blob = zipfile_archive([("ok.xml", b"<a/>"), ("xl/../../evil", b"x")],
                           zipfile.ZIP_DEFLATED, False)
    with open(path, "wb") as f:
        f.write(blob)
    run = subprocess.run([args.program, "read", path], capture_output=True)
    offset = blob.index(b"PK\x01\x02", blob.index(b"PK\x01\x02") + 4)
    expected = (f'{path}: 0x{offset:08X}: member "xl/../../evil": a name with ".." as a part\n')
    if run.returncode != 1 or run.stderr.decode() != expected or run.stdout:
        failures.append(f"a name outside the folder: status {run.returncode}, "
                        f"{run.stderr.decode()!r}, not {expected!r}")

    for failure in failures:
        print(failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


def zlib_deflated(data):
    import zlib
    compressor = zlib.compressobj(6, zlib.DEFLATED, -15)
    return compressor.compress(data) + compressor.flush()


if __name__ == "__main__":
    sys.exit(main())
