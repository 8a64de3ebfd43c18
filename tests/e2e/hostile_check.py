#!/usr/bin/env python3
"""Runs krscript against inputs and faults too large or too odd for a golden
case: a text field of hundreds of megabytes, memory that runs out, a disk
that fills up, an output folder that cannot be written, a folder that links
back to itself or cannot be read, a run ended by a signal in the middle of a
folder or killed outright (html's site being made too), outputs that are
FIFOs and devices, a script cut short while each command reads it,
untouched translation files of generated scripts put back, file names that
are not UTF-8, and outputs that name an input through links.

Each check is one CTest test (`--check NAME`). Linux only; a check the
machine cannot set up (no tmpfs and no file-size limit for a full disk) exits
with status 77, which CTest takes for "skipped".
"""

import argparse
import json
import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time

SKIPPED = 77

# What standard error says first when the strings of a run, plain ASCII as
# most of the scripts here, tell no encoding.
ENCODING_GUESSED = ("krscript: no string tells utf-8 from cp932: taking cp932, the format's own "
                    '(--encoding utf-8 to choose otherwise)\n')

HEADER = b'{"format": "krscript", "version": 1, "encoding": "utf-8",\n "code": [\n'


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def run(krscript, args, cwd, preexec=None, timeout=600):
    result = subprocess.run([krscript] + args, cwd=cwd, capture_output=True,
                            preexec_fn=preexec, timeout=timeout)
    return result.returncode, result.stdout.decode('utf-8', 'replace'), \
        result.stderr.decode('utf-8', 'replace')


def temporary_files(folder):
    """The temporary files under `folder`, and the temporary folders (html
    makes its site in one)."""
    return [os.path.join(root, name) for root, folders, names in os.walk(folder)
            for name in names + folders if name.startswith('.') and name.endswith('.tmp')]


def expect_no_temporary_file(folder):
    left = temporary_files(folder)
    expect(not left, f'temporary files left behind: {left}')


def string_script(text):
    """A script of one 0x1B string per item of `text`, as `dump` reads it."""
    return b''.join(b'\x1b\x00\x00\x00\x00' + t + b'\x00' for t in text)


def write_huge_json(path, size):
    """A JSON form with one "text" of `size` bytes, written without holding it."""
    piece = b'ab' * (1 << 19)
    with open(path, 'wb') as f:
        f.write(HEADER + b'  {"op": "1B", "data": "00000000", "text": "')
        for _ in range(size // len(piece)):
            f.write(piece)
        f.write(b'a' * (size % len(piece)) + b'"}\n ],\n "end": true}\n')


def check_huge_text(options, work):
    """A text field of hundreds of megabytes builds whole, in memory near its
    size: a string has no length limit."""
    size = options.field_mb << 20
    source = os.path.join(work, 'huge.kr.json')
    write_huge_json(source, size)
    start = time.monotonic()
    status, _, err = run(options.krscript, ['build', 'huge.kr.json', '-o', 'huge.kr'], work)
    seconds = time.monotonic() - start
    # The largest child so far; this is the first that is not small.
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss << 10
    expect(status == 0 and err == '', f'build failed with status {status}: {err}')
    with open(os.path.join(work, 'huge.kr'), 'rb') as f:
        expect(f.read(5) == b'\x1b\x00\x00\x00\x00', 'the script does not start with 0x1B')
        left = size
        piece = b'ab' * (1 << 19)
        while left >= len(piece):
            expect(f.read(len(piece)) == piece, f'the text differs before byte {size - left}')
            left -= len(piece)
        expect(f.read() == b'a' * left + b'\x00\x00', 'the script does not end as it should')
    print(f'{size >> 20} MiB text field: built in {seconds:.1f} s, peak memory '
          f'{peak / 2**20:.0f} MiB, {peak / size:.1f} times the field')
    expect(peak <= 4 * size, 'peak memory is more than 4 times the field')


def limited_memory(limit):
    return lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit))


def check_out_of_memory(options, work):
    """When memory runs out, the file is refused cleanly: a message, status
    1, no output and no temporary file, wherever it runs out."""
    size = 64 << 20
    write_huge_json(os.path.join(work, 'huge.kr.json'), size)
    # Too little to hold the string once, with room for the program itself.
    limit = size // 2 + (64 << 20)
    status, _, err = run(options.krscript, ['build', 'huge.kr.json', '-o', 'huge.kr'], work,
                         preexec=limited_memory(limit))
    print(f'{size >> 20} MiB text field under a {limit >> 20} MiB address space: '
          f'status {status}, {err.strip()!r}')
    expect(status == 1, f'status {status}, expected 1')
    expect(err == 'huge.kr.json: not enough memory\n', f'unexpected message {err!r}')
    expect(not os.path.exists(os.path.join(work, 'huge.kr')), 'an output was written')
    expect_no_temporary_file(work)

    # A document of many instructions, under ever larger limits until it
    # builds: memory runs out at every stage on the way, and each time the
    # file is refused cleanly.
    with open(os.path.join(work, 'many.kr.json'), 'w') as f:
        f.write(HEADER.decode())
        for i in range(400000):
            f.write(f'  {{"op": "1B", "data": "00000000", "text": "line {i}"}},\n')
        f.write('  {"op": "03"}\n ],\n "end": true}\n')
    status, _, err = run(options.krscript, ['build', 'many.kr.json', '-o', 'reference.kr'], work)
    expect(status == 0, f'the document does not build: {err}')
    with open(os.path.join(work, 'reference.kr'), 'rb') as f:
        reference = f.read()
    # From the least the program can start in.
    start = next(limit for limit in range(2 << 20, 512 << 20, 2 << 20)
                 if run(options.krscript, ['--version'], work, limited_memory(limit))[0] == 0)
    refusals = set()
    for limit in range(start, 512 << 20, 2 << 20):
        status, _, err = run(options.krscript, ['build', 'many.kr.json', '-o', 'many.kr'], work,
                             preexec=limited_memory(limit))
        expect(status in (0, 1), f'status {status} under {limit >> 20} MiB: {err!r}')
        expect_no_temporary_file(work)
        if status == 0:
            with open(os.path.join(work, 'many.kr'), 'rb') as f:
                expect(f.read() == reference, f'a different script under {limit >> 20} MiB')
            break
        expect(err.startswith('many.kr.json: ') and err.count('\n') == 1,
               f'unexpected message under {limit >> 20} MiB: {err!r}')
        expect(not os.path.exists(os.path.join(work, 'many.kr')), 'an output was written')
        refusals.add(err.strip())
    print(f'{len(reference)} byte script of many instructions: built under {limit >> 20} MiB, '
          f'refused under less with {sorted(refusals)}')


def mount_tmpfs(folder, options):
    try:
        result = subprocess.run(['mount', '-t', 'tmpfs', '-o', options, 'tmpfs', folder],
                                capture_output=True)
    except OSError:
        return False
    return result.returncode == 0


def unmount(folder):
    subprocess.run(['umount', folder], capture_output=True)


def check_full_disk(options, work):
    """A disk that fills up while an output is written: that file is reported
    and its temporary file removed, and the run goes on with the next."""
    scripts = os.path.join(work, 'scripts')
    os.makedirs(scripts)
    small = string_script([b'Alice'])
    with open(os.path.join(scripts, 'a.kr'), 'wb') as f:
        f.write(small)
    with open(os.path.join(scripts, 'b.kr'), 'wb') as f:
        f.write(string_script([b'x' * 1000] * 2000))  # a JSON form of about 2 MB
    with open(os.path.join(scripts, 'c.kr'), 'wb') as f:
        f.write(small)
    disk = os.path.join(work, 'disk')
    os.mkdir(disk)
    if mount_tmpfs(disk, 'size=1m'):
        how, reason, preexec = 'a 1 MiB tmpfs', 'No space left on device', None
    else:
        def preexec():
            # Past the limit a write fails with EFBIG, once the signal that
            # would end the process is ignored.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))
        how, reason = 'a 1 MiB file-size limit', 'File too large'
        probe = subprocess.run(['sh', '-c', 'head -c 2000000 /dev/zero > probe'], cwd=disk,
                               preexec_fn=preexec, capture_output=True)
        if probe.returncode == 0:
            print('skipped: no tmpfs can be mounted and the file-size limit is not kept')
            return SKIPPED
        os.remove(os.path.join(disk, 'probe'))
    try:
        status, _, err = run(options.krscript, ['dump', 'scripts', '-o', 'disk/out', '-j', '1'],
                             work, preexec)
        print(f'full disk ({how}): status {status}')
        expect(status == 1, f'status {status}, expected 1')
        expect(err == ENCODING_GUESSED +
               f'scripts/b.kr: cannot write disk/out/b.kr.json: {reason}\n'
               '2 ok, 1 failed\n', f'unexpected messages {err!r}')
        out = os.path.join(disk, 'out')
        expect(sorted(os.listdir(out)) == ['a.kr.json', 'c.kr.json'],
               f'the outputs are {sorted(os.listdir(out))}')
        for name in ('a.kr.json', 'c.kr.json'):
            with open(os.path.join(out, name)) as f:
                expect(json.load(f)['code'][0]['text'] == 'Alice', f'{name} is not whole')
        expect_no_temporary_file(disk)
    finally:
        unmount(disk)


def check_read_only_output(options, work):
    """An output folder that exists but cannot be written: every file is
    reported, and nothing is left in it."""
    scripts = os.path.join(work, 'scripts')
    os.makedirs(scripts)
    for name in ('a.kr', 'b.kr'):
        with open(os.path.join(scripts, name), 'wb') as f:
            f.write(string_script([b'Alice']))
    out = os.path.join(work, 'out')
    os.mkdir(out)
    mounted = False
    if os.geteuid() == 0:
        # Permissions do not stop root; a read-only file system does.
        mounted = mount_tmpfs(out, 'ro,size=1m')
        if not mounted:
            print('skipped: running as root, and no read-only tmpfs can be mounted')
            return SKIPPED
        reason = 'Read-only file system'
    else:
        os.chmod(out, 0o555)
        reason = 'Permission denied'
    try:
        status, _, err = run(options.krscript, ['dump', 'scripts', '-o', 'out', '-j', '1'], work)
        print(f'read-only output folder: status {status}')
        expect(status == 1, f'status {status}, expected 1')
        expect(err == ENCODING_GUESSED +
               f'scripts/a.kr: cannot write out/a.kr.json: {reason}\n'
               f'scripts/b.kr: cannot write out/b.kr.json: {reason}\n'
               '0 ok, 2 failed\n', f'unexpected messages {err!r}')
        expect(os.listdir(out) == [], f'the output folder holds {os.listdir(out)}')
    finally:
        if mounted:
            unmount(out)
        else:
            os.chmod(out, 0o755)


def check_unreadable_folder(options, work):
    """A folder that cannot be read is reported by its own path and fails the
    run; the walk goes on with the rest of the tree."""
    scripts = os.path.join(work, 'scripts')
    for name in ('a.kr', 'locked/b.kr', 'z/c.kr'):
        os.makedirs(os.path.dirname(os.path.join(scripts, name)), exist_ok=True)
        with open(os.path.join(scripts, name), 'wb') as f:
            f.write(string_script([b'Alice']))
    os.chmod(os.path.join(scripts, 'locked'), 0)
    preexec = None
    krscript = options.krscript
    if os.geteuid() == 0:
        # Root reads every folder: the run is made as nobody. The program may
        # lie where nobody cannot reach it (a checkout in a folder only root
        # may enter), so nobody runs a copy in the work folder, named from
        # there: the folders above it need not let nobody in either.
        os.chmod(work, 0o755)
        os.mkdir(os.path.join(work, 'bin'))
        shutil.copy(options.krscript, os.path.join(work, 'bin', 'krscript'))
        os.chmod(os.path.join(work, 'bin', 'krscript'), 0o755)
        krscript = os.path.join('.', 'bin', 'krscript')
        preexec = lambda: os.setuid(65534)
        try:
            probe = subprocess.run([krscript, '--version'], cwd=work, preexec_fn=preexec,
                                   capture_output=True)
            reason = probe.stderr.decode('utf-8', 'replace').strip()
            runs = probe.returncode == 0
        except (OSError, subprocess.SubprocessError) as error:
            reason, runs = str(error), False
        if not runs:
            print(f'skipped: running as root, and nobody cannot run a copy of the program: '
                  f'{reason}')
            return SKIPPED
    try:
        status, out, err = run(krscript, ['check', 'scripts'], work, preexec)
    finally:
        os.chmod(os.path.join(scripts, 'locked'), 0o755)
    print(f'folder with an unreadable folder: status {status}')
    expect(out == '' and err == 'scripts/locked: cannot read the folder: Permission denied\n'
           '2 ok, 1 failed\n', f'unexpected messages {out!r} {err!r}')
    expect(status == 1, f'status {status}, expected 1')


def check_link_loop(options, work):
    """Links to folders are not followed, so a folder that links to itself or
    to a parent is walked once; what is passed over is said."""
    scripts = os.path.join(work, 'scripts')
    os.makedirs(os.path.join(scripts, 'sub'))
    for name in ('a.kr', 'sub/b.kr'):
        with open(os.path.join(scripts, name), 'wb') as f:
            f.write(string_script([b'Alice']))
    os.symlink('.', os.path.join(scripts, 'self'))
    os.symlink('..', os.path.join(scripts, 'sub', 'up'))
    os.symlink(work, os.path.join(scripts, 'sub', 'top'))
    os.symlink('a.kr', os.path.join(scripts, 'link.kr'))  # a link to a file is read
    os.symlink('nothing', os.path.join(scripts, 'broken.kr'))
    os.mkfifo(os.path.join(scripts, 'pipe.kr'))  # opening it would wait for a writer
    status, _, err = run(options.krscript, ['dump', 'scripts', '-o', 'out'], work, timeout=60)
    print(f'folder with link loops: status {status}')
    expect(err == 'scripts/broken.kr: skipped, a link to nothing\n'
           'scripts/pipe.kr: skipped, not a regular file\n'
           'scripts/self: skipped, a link to a folder\n'
           'scripts/sub/top: skipped, a link to a folder\n'
           'scripts/sub/up: skipped, a link to a folder\n'
           + ENCODING_GUESSED + '3 ok, 0 failed\n', f'unexpected messages {err!r}')
    expect(status == 0, f'status {status}, expected 0')
    written = sorted(os.path.relpath(os.path.join(root, name), os.path.join(work, 'out'))
                     for root, _, names in os.walk(os.path.join(work, 'out')) for name in names)
    expect(written == ['a.kr.json', 'link.kr.json', 'sub/b.kr.json'], f'the outputs are {written}')


INTERRUPTED_SCRIPTS = 100


def write_interrupted_scripts(work):
    scripts = os.path.join(work, 'scripts')
    os.makedirs(scripts)
    for i in range(INTERRUPTED_SCRIPTS):
        with open(os.path.join(scripts, f's{i:03}.kr'), 'wb') as f:
            f.write(string_script([b'%03d ' % i + b'y' * 200] * 5000))  # 1 MB each
    return scripts


def interrupt_folder_run(options, work, out_name, signal_number):
    """Starts dumping the scripts into `out_name`, and sends the signal once
    three outputs are finished. Returns the process, ended, and its errors."""
    out = os.path.join(work, out_name)
    process = subprocess.Popen([options.krscript, 'dump', 'scripts', '-o', out_name, '-j', '2'],
                               cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and process.poll() is None:
        if os.path.isdir(out) and len([n for n in os.listdir(out) if n.endswith('.json')]) >= 3:
            break
        time.sleep(0.002)
    process.send_signal(signal_number)
    _, err = process.communicate(timeout=60)
    return process, err.decode('utf-8', 'replace')


def interrupt_html(options, work, signal_number):
    """Starts html of `html-scripts` into `site`, and sends the signal once the
    site being made holds two pages. Returns the process, ended, and the
    temporary folder it was making."""
    process = subprocess.Popen([options.krscript, 'html', 'html-scripts', '-o', 'site', '-j', '2'],
                               cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 60
    building = None
    while time.monotonic() < deadline and process.poll() is None:
        building = next((os.path.join(work, name) for name in os.listdir(work)
                         if name.startswith('.site.')), None)
        try:
            if building and len([n for n in os.listdir(building) if n.endswith('.html')]) >= 2:
                break
        except OSError:
            pass
        time.sleep(0.002)
    process.send_signal(signal_number)
    _, err = process.communicate(timeout=60)
    return process, building, err.decode('utf-8', 'replace')


def write_html_scripts(options, work):
    """Twenty scripts of 1 MB in `html-scripts`, and their site in `site`."""
    scripts = os.path.join(work, 'html-scripts')
    os.makedirs(scripts)
    for i in range(20):
        with open(os.path.join(scripts, f's{i:03}.kr'), 'wb') as f:
            f.write(string_script([b'%03d ' % i + b'y' * 200] * 5000))
    status, _, err = run(options.krscript, ['html', 'html-scripts', '-o', 'site'], work)
    expect(status == 0, f'html: {err}')
    return snapshot(os.path.join(work, 'site'))


def check_interrupt(options, work, signal_numbers):
    """A folder run ended by a signal in the middle keeps the outputs it
    finished, each whole, and leaves no temporary file, whatever the signal:
    a key (SIGINT, SIGQUIT), kill (SIGTERM), a closed terminal (SIGHUP), a
    timer (SIGALRM) or a signal of the user's (SIGUSR1, SIGUSR2)."""
    scripts = write_interrupted_scripts(work)
    for signal_number in signal_numbers:
        name = signal.Signals(signal_number).name
        out_name = 'out-' + name
        process, err = interrupt_folder_run(options, work, out_name, signal_number)
        out = os.path.join(work, out_name)
        finished = sorted(n for n in os.listdir(out) if n.endswith('.json'))
        print(f'{name} after {len(finished)} of {INTERRUPTED_SCRIPTS} outputs: '
              f'status {process.returncode}')
        expect(process.returncode == -signal_number,
               f'status {process.returncode}, expected death by {name}; {err!r}')
        expect(3 <= len(finished) < INTERRUPTED_SCRIPTS, 'the run was not interrupted in the middle')
        expect_no_temporary_file(work)
        # What was finished is whole: it builds back into the script it came from.
        back = 'back-' + name
        status, _, err = run(options.krscript, ['build', out_name, '-o', back], work)
        expect(status == 0, f'the finished outputs do not build back: {err}')
        for json_name in finished:
            script = json_name.removesuffix('.json')
            with open(os.path.join(scripts, script), 'rb') as a, \
                    open(os.path.join(work, back, script), 'rb') as b:
                expect(a.read() == b.read(), f'{json_name} does not build back to {script}')
    # html makes its site in a folder of its own, which goes as a temporary
    # file goes; the site made before stays as it was.
    site = write_html_scripts(options, work)
    for signal_number in signal_numbers:
        name = signal.Signals(signal_number).name
        process, building, err = interrupt_html(options, work, signal_number)
        print(f'html ended by {name}: status {process.returncode}')
        expect(process.returncode == -signal_number,
               f'html: status {process.returncode}, expected death by {name}; {err!r}')
        expect(building is not None, 'html was not interrupted while it made the site')
        expect(not os.path.exists(building), f'{name} left {building}')
        expect_no_temporary_file(work)
        expect(snapshot(os.path.join(work, 'site')) == site, f'{name} changed the site before')


def check_killed_run(options, work):
    """A run killed with SIGKILL cannot clean up: the next run into the same
    folder removes what it left, and only that. Files of the same naming
    whose process is alive, files of another naming, and a link of the same
    naming stay."""
    write_interrupted_scripts(work)
    process, _ = interrupt_folder_run(options, work, 'out', signal.SIGKILL)
    expect(process.returncode == -signal.SIGKILL, f'status {process.returncode}')
    out = os.path.join(work, 'out')
    left = temporary_files(out)
    print(f'SIGKILL left {len(left)} temporary files')
    # One more, as a killed run leaves it when it dies between two files.
    dead = os.path.join(out, f'.s999.kr.json.kr-{process.pid}-1.tmp')
    with open(dead, 'wb') as f:
        f.write(b'half')
    kept = [os.path.join(out, name) for name in (
        f'.alive.kr.json.kr-{os.getpid()}-1.tmp',  # this process is alive
        '.notes.tmp', f'.x.kr-{process.pid}.tmp', f'x.kr-{process.pid}-1.tmp',
        f'.x.kr-{process.pid}-1.tmp.bak')]
    for path in kept:
        with open(path, 'wb') as f:
            f.write(b'keep')
    target = os.path.join(work, 'target')
    with open(target, 'wb') as f:
        f.write(b'keep')
    link = os.path.join(out, f'.link.kr-{process.pid}-2.tmp')
    os.symlink(target, link)
    status, _, err = run(options.krscript, ['dump', 'scripts/s000.kr', '-o', 'out/s000.kr.json'],
                         work)
    expect(status == 0, f'the later run failed: {err}')
    expect(not any(os.path.exists(path) for path in left + [dead]),
           f'left behind still: {[p for p in left + [dead] if os.path.exists(p)]}')
    for path in kept:
        expect(os.path.exists(path), f'{path} was removed')
    expect(os.path.islink(link) and open(target, 'rb').read() == b'keep',
           'the link or what it points to was touched')

    # The folder html was making its site in, the same: a later run of any
    # command writing beside it removes it, and only it.
    site = write_html_scripts(options, work)
    process, building, _ = interrupt_html(options, work, signal.SIGKILL)
    expect(process.returncode == -signal.SIGKILL, f'html: status {process.returncode}')
    expect(building is not None and os.path.isdir(building), 'SIGKILL left no folder of html')
    alive = os.path.join(work, f'.site.kr-{os.getpid()}-1.tmp')
    os.mkdir(alive)
    # A link of the naming to a folder is no temporary folder: neither it
    # nor what the folder holds is touched.
    kept_folder = os.path.join(work, 'kept')
    os.mkdir(kept_folder)
    with open(os.path.join(kept_folder, 'a'), 'wb') as f:
        f.write(b'keep')
    folder_link = os.path.join(work, f'.site.kr-{process.pid}-2.tmp')
    os.symlink(kept_folder, folder_link)
    status, _, err = run(options.krscript, ['dump', 'scripts/s000.kr', '-o', 's000.kr.json'],
                         work)
    expect(status == 0, f'the later run failed: {err}')
    expect(not os.path.exists(building), f'{building} is left behind still')
    expect(os.path.isdir(alive), 'the folder of a live process was removed')
    expect(os.path.islink(folder_link) and os.path.exists(os.path.join(kept_folder, 'a')),
           'a link to a folder, or what the folder holds, was removed')
    expect(snapshot(os.path.join(work, 'site')) == site, 'SIGKILL changed the site before')


def check_device_outputs(options, work):
    """An output that is a FIFO or a character device is written into, never
    replaced by a file; a write that fails (/dev/full) fails the run, and so
    does drop mode when its report cannot be written. As root
    the devices are made in the check's own folder, so that nothing of the
    system's is ever at stake; otherwise the system's own /dev/null and
    /dev/full serve, which only root could replace."""
    with open(os.path.join(work, 'a.kr'), 'wb') as f:
        f.write(string_script([b'Alice']))
    status, expected, _ = run(options.krscript, ['dump', '--encoding', 'utf-8', 'a.kr'], work)
    expect(status == 0, 'the script does not dump to standard output')
    pipe = os.path.join(work, 'pipe')
    os.mkfifo(pipe)
    received = []
    # A daemon: should the FIFO be replaced, nothing ever opens it to write.
    reader = threading.Thread(target=lambda: received.append(open(pipe, 'rb').read()),
                              daemon=True)
    reader.start()
    status, _, err = run(options.krscript, ['dump', '--encoding', 'utf-8', 'a.kr', '-o', 'pipe'], work, timeout=60)
    reader.join(60)
    expect(status == 0 and err == '', f'dump into a FIFO: status {status}, {err!r}')
    expect(received == [expected.encode()], 'the FIFO did not receive the dump')
    expect(stat.S_ISFIFO(os.lstat(pipe).st_mode), 'the FIFO was replaced')

    if os.geteuid() == 0:
        null, full = os.path.join(work, 'null'), os.path.join(work, 'full')
        os.mknod(null, stat.S_IFCHR | 0o666, os.makedev(1, 3))
        os.mknod(full, stat.S_IFCHR | 0o666, os.makedev(1, 7))
    else:
        null, full = '/dev/null', '/dev/full'
    status, _, err = run(options.krscript, ['dump', '--encoding', 'utf-8', 'a.kr', '-o', null], work)
    expect(status == 0 and err == '', f'dump into {null}: status {status}, {err!r}')
    status, _, err = run(options.krscript, ['dump', '--encoding', 'utf-8', 'a.kr', '-o', full], work)
    expect(status == 1 and err == f'a.kr: cannot write {full}: No space left on device\n',
           f'dump into {full}: status {status}, {err!r}')
    for device in (null, full):
        expect(stat.S_ISCHR(os.lstat(device).st_mode), f'{device} is no longer a device')
    expect_no_temporary_file(work)

    # Drop mode's report is what its window shows: when it cannot be
    # written, the run fails. (The string is UTF-8 that tells its encoding.)
    with open(os.path.join(work, 'b.kr'), 'wb') as f:
        f.write(string_script(['\u3042'.encode()]))  # E3 81 82: no cp932
    with open(full, 'wb') as stdout:
        result = subprocess.run([options.krscript, 'b.kr'], cwd=work, stdin=subprocess.DEVNULL,
                                stdout=stdout, stderr=subprocess.PIPE, timeout=60)
    err = result.stderr.decode('utf-8', 'replace')
    expect(result.returncode == 1 and
           err == 'total: 1 ok, 0 failed\nkrscript: cannot write to standard output\n'
                  'Press enter to exit...',
           f'drop mode reporting into {full}: status {result.returncode}, {err!r}')


def big_script(path, megabytes):
    with open(path, 'wb') as f:
        f.write(string_script([b'z' * 1000] * (megabytes * 1024)))


def check_changed_while_read(options, work):
    """A script cut short while it is read is reported for that file,
    `PATH: the file changed while it was read`, and nothing else: no crash,
    no output kept, no temporary file, and a folder run goes on with the
    others. The programs write into a pipe that the check reads slowly, so
    that they are still reading the script when it is cut."""
    krlist = os.path.join(os.path.dirname(options.krscript), 'krlist')
    big = os.path.join(work, 'big.kr')
    pipe = os.path.join(work, 'pipe')
    os.mkfifo(pipe)
    for program, args in ((krlist, ['big.kr']), (options.krscript, ['dump', '--encoding', 'utf-8', 'big.kr', '-o', 'pipe'])):
        big_script(big, 16)
        process = subprocess.Popen([program] + args, cwd=work, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        source = process.stdout if program == krlist else open(pipe, 'rb')
        source.read(1 << 16)
        os.truncate(big, 4096)
        source.read()
        _, err = process.communicate(timeout=60)
        err = err.decode('utf-8', 'replace')
        name = os.path.basename(program)
        print(f'{name} of a script cut short while read: status {process.returncode}')
        wanted = 'big.kr: the file changed while it was read\n'
        if program == krlist:
            wanted += 'Exiting due to decompile error.\nPress enter to exit...'
        expect(process.returncode == 1 and err == wanted,
               f'{name}: status {process.returncode}, {err!r}')

    scripts = os.path.join(work, 'scripts')
    os.mkdir(scripts)
    big_script(os.path.join(scripts, 'a.kr'), 64)
    with open(os.path.join(scripts, 'b.kr'), 'wb') as f:
        f.write(string_script([b'Alice']))
    out = os.path.join(work, 'out')
    process = subprocess.Popen([options.krscript, 'dump', '--encoding', 'utf-8', 'scripts', '-o',
                                'out', '-j', '1'],
                               cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and process.poll() is None and not temporary_files(work):
        time.sleep(0.001)
    os.truncate(os.path.join(scripts, 'a.kr'), 4096)
    _, err = process.communicate(timeout=60)
    err = err.decode('utf-8', 'replace')
    print(f'folder run with a script cut short: status {process.returncode}')
    expect(process.returncode == 1 and
           err == 'scripts/a.kr: the file changed while it was read\n1 ok, 1 failed\n',
           f'status {process.returncode}, {err!r}')
    expect(sorted(os.listdir(out)) == ['b.kr.json'], f'the outputs are {os.listdir(out)}')
    expect_no_temporary_file(work)
    check_commands_cut_while_reading(options, work)


def snapshot(path):
    """What a run wrote at `path`: a file's bytes, a folder's files by name, or
    None when there is nothing."""
    if os.path.isfile(path):
        with open(path, 'rb') as f:
            return f.read()
    if not os.path.isdir(path):
        return None
    files = {}
    for root, _, names in os.walk(path):
        for name in names:
            with open(os.path.join(root, name), 'rb') as f:
                files[os.path.relpath(os.path.join(root, name), path)] = f.read()
    return files


def maps_file(pid, path):
    try:
        with open(f'/proc/{pid}/maps') as f:
            return path in f.read()
    except OSError:
        return False


def check_commands_cut_while_reading(options, work):
    """update, inject, lint and html, each cut short at times spread over its
    run once the script is mapped: each run either says the file changed
    and writes nothing for it, or, when its reading was over before the cut,
    gives just what the whole script gives. A command that went on with the
    zeros of the cut file would find every string obsolete or stale, or show
    pages of zeros."""
    script = os.path.join(work, 'many.kr')
    whole = string_script([b'line %06d, a string of its own' % i for i in range(250000)])
    with open(script, 'wb') as f:
        f.write(whole)
    status, _, err = run(options.krscript, ['extract', '--encoding', 'utf-8', 'many.kr', '-o',
                                            'old.po'], work)
    expect(status == 0, f'extract: {err}')
    with open(os.path.join(work, 'old.po'), encoding='utf-8') as f:
        text = f.read()
    # Every entry translated, so that each is held against its string.
    with open(os.path.join(work, 'tr.po'), 'w', encoding='utf-8') as f:
        f.write(text.replace('msgstr ""\n\n', 'msgstr "T"\n\n'))
    commands = {
        'update': (['update', 'many.kr', 'old.po', '-o', 'out.po'], 'out.po'),
        'inject': (['inject', 'many.kr', 'tr.po', '-o', 'out.kr'], 'out.kr'),
        'lint': (['lint', 'many.kr', 'tr.po'], None),
        'html': (['html', 'many.kr', 'tr.po', '-o', 'site'], 'site'),
    }
    wanted_error = 'many.kr: the file changed while it was read\n'
    for name, (args, output) in commands.items():
        args = args + ['--encoding', 'utf-8']
        out = os.path.join(work, output) if output else None
        with open(script, 'wb') as f:
            f.write(whole)
        started = time.monotonic()
        status, stdout, err = run(options.krscript, args, work)
        took = time.monotonic() - started
        whole_result = (status, stdout, err, snapshot(out) if out else None)
        expect(status == 0, f'{name} of the whole script: status {status}, {err[-300:]!r}')
        reported = 0
        # More early on, where update reads and then works on what it read.
        fractions = (0.03, 0.07, 0.12, 0.2, 0.3, 0.45, 0.65, 0.85)
        for fraction in fractions:
            with open(script, 'wb') as f:
                f.write(whole)
            if out:
                shutil.rmtree(out, ignore_errors=True) if os.path.isdir(out) else \
                    os.path.exists(out) and os.remove(out)
            process = subprocess.Popen([options.krscript] + args, cwd=work,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            deadline = time.monotonic() + 60
            while process.poll() is None and not maps_file(process.pid, script) and \
                    time.monotonic() < deadline:
                time.sleep(0.0005)
            time.sleep(fraction * took)
            cut = process.poll() is None
            os.truncate(script, 4096)
            stdout, err = process.communicate(timeout=120)
            stdout, err = stdout.decode('utf-8', 'replace'), err.decode('utf-8', 'replace')
            written = snapshot(out) if out else None
            # lint reports it as it reports every finding, on standard output.
            said = wanted_error.replace(': ', ': error: ', 1) in stdout if name == 'lint' \
                else wanted_error in err
            if cut and said:
                reported += 1
                expect(process.returncode == 1, f'{name}: status {process.returncode}')
                expect('stale' not in stdout + err and 'obsolete' not in err,
                       f'{name} judged the translations of the cut script: {err[-300:]!r}')
                if name == 'html':
                    expect(written is not None and 'many.kr.html' not in written,
                           f'html wrote pages of the cut script: {sorted(written or {})[:5]}')
                elif name != 'lint':
                    expect(written is None, f"{name} wrote {output} of the cut script: {err!r}")
                continue
            # The reading was over when the file was cut: the whole script's result.
            got = (process.returncode, stdout, err, written)
            expect(got == whole_result,
                   f'{name} cut after {fraction:.2f} of its run: status {process.returncode}, '
                   f'{err[-300:]!r}{stdout[-300:]!r}, not what the whole script gives')
        print(f'{name} cut while reading: {reported} of {len(fractions)} runs said the file changed')
        expect(reported > 0, f'no run of {name} was cut while it read the script')
    expect_no_temporary_file(work)


def generated_script(random):
    """A script of strings in every shape a translation file must carry back:
    ASCII, UTF-8 and code page 932 text, bytes that are text in neither,
    control characters, quotes, commas, backslashes, empty strings."""
    pieces = [b'Alice', b'Hello, world.', b'"quoted"', b'back\\slash', b'\n', b'\r\n', b'\t',
              b'\r', b'', b' ', b'#', b';', '\u3053\u3093\u306b\u3061\u306f'.encode(),
              '\u3053\u3093\u306b\u3061\u306f'.encode('cp932'), '\uff71'.encode('cp932'),
              b'\x81', b'\xff\xfe', b'\x04', b'\x7f', b'\x01']
    script = b''
    for _ in range(random.randrange(0, 12)):
        kind = random.choice([0x1b, 0x1c, 0x2b, 0x17, 0x03])
        if kind == 0x03:
            script += b'\x03'
        elif kind == 0x17:
            script += b'\x17' + random.randbytes(4)
        else:
            text = b''.join(random.choice(pieces) for _ in range(random.randrange(0, 5)))
            script += bytes([kind]) + random.randbytes(4) + text + b'\x00'
    return script + (b'\x00' if random.random() < 0.5 else b'')


def check_untouched_translations(options, work):
    """A translation file that nobody touched, PO or CSV, taken out in any
    encoding, puts back exactly the script it came from."""
    random = __import__('random').Random(21)
    scripts = os.path.join(work, 'scripts')
    os.mkdir(scripts)
    originals = {}
    for i in range(300):
        originals[f's{i:03}.kr'] = generated_script(random)
        with open(os.path.join(scripts, f's{i:03}.kr'), 'wb') as f:
            f.write(originals[f's{i:03}.kr'])
    for form in ('po', 'csv'):
        for encoding in ('auto', 'utf-8', 'cp932'):
            taken = f'{form}-{encoding}'
            status, _, err = run(options.krscript, ['extract', 'scripts', '-o', taken, '--format',
                                                    form, '--encoding', encoding], work)
            expect(status == 0, f'extract {taken}: status {status}, {err[-2000:]!r}')
            back = f'back-{taken}'
            status, _, err = run(options.krscript, ['inject', 'scripts', taken, '-o', back], work)
            expect(status == 0, f'inject {taken}: status {status}, {err[-2000:]!r}')
            for name, original in originals.items():
                with open(os.path.join(work, back, name), 'rb') as f:
                    expect(f.read() == original, f'{taken}: {name} did not come back the same')
    print(f'{len(originals)} generated scripts: every untouched PO and CSV injects back')


def check_non_utf8_names(options, work):
    """A script whose name is not UTF-8 (a Shift-JIS name unpacked on Linux),
    beside one whose UTF-8 name holds what its escape looks like: every
    command names each by the same UTF-8 text, a translation of it comes
    back, an untouched one puts back the same script, and the site shows
    and finds it."""
    scripts = os.path.join(work, 'scripts')
    os.mkdir(scripts)
    shift_jis = '第一章.kr'.encode('cp932')
    # As text: each byte of the Shift-JIS name that is not part of UTF-8 as
    # \xNN, and a backslash of a name doubled, so the two never meet.
    named = {shift_jis: '\\x91\\xE6\\x88\\xEA\\x8F\\xCD.kr', b'\\x91.kr': '\\\\x91.kr'}
    originals = {shift_jis: string_script([b'Hello', 'こんにちは'.encode('cp932')]),
                 b'\\x91.kr': string_script([b'Bye'])}
    for name, script in originals.items():
        with open(os.path.join(os.fsencode(scripts), name), 'wb') as f:
            f.write(script)

    def krscript(*args):
        status, out, err = run(options.krscript, list(args), work)
        expect(status == 0, f'{" ".join(map(os.fsdecode, args))}: status {status}, {err[-2000:]!r}')
        expect('\ufffd' not in out + err, f'{args}: a name was not shown as UTF-8: {err!r}')
        return out + err

    def read(*parts):
        with open(os.path.join(*(os.fsencode(p) for p in parts)), 'rb') as f:
            return f.read()

    for form in ('po', 'csv'):
        krscript('extract', 'scripts', '-o', form, '--format', form)
        for name, text in named.items():
            found = read(work, form, name + b'.' + form.encode())
            expect(text.encode() + b':' in found, f'{form}: {text} is not named in {found!r}')
        krscript('lint', 'scripts', form)
        krscript('update', 'scripts', form, '-o', f'updated-{form}')
        out = krscript('inject', 'scripts', form, '-o', f'back-{form}')
        for name, script in originals.items():
            expect(read(work, f'back-{form}', name) == script,
                   f'{form}: {os.fsdecode(name)} did not come back the same: {out!r}')
    # A translation of the Shift-JIS script's first string, one script alone.
    alone = os.path.join(os.fsencode(scripts), shift_jis)
    krscript('extract', alone, '-o', 'one.po')
    po = read(work, 'one.po')
    expect(named[shift_jis].encode() + b':0' in po, f'one.po names no {named[shift_jis]}: {po!r}')
    with open(os.path.join(work, 'one.po'), 'wb') as f:
        f.write(po.replace(b'msgid "Hello"\nmsgstr ""', b'msgid "Hello"\nmsgstr "Hi"'))
    krscript('lint', alone, 'one.po')
    krscript('inject', alone, 'one.po', '-o', 'one.kr')
    expect(read(work, 'one.kr').startswith(b'\x1b\x00\x00\x00\x00Hi\x00'),
           f'the translation was not put in: {read(work, "one.kr")!r}')
    krscript('html', 'scripts', '-o', 'site')
    index = read(work, 'site', 'index.html')
    for text in named.values():
        expect(text.encode() in index, f'the site does not show {text}')
        pages = [page for page in os.listdir(os.path.join(work, 'site')) if page.startswith(text)]
        expect(pages, f'the site has no page for {text}: {os.listdir(os.path.join(work, "site"))}')
    for page in os.listdir(os.path.join(work, 'site')):
        expect('\ufffd'.encode() not in read(work, 'site', page), f'{page} shows U+FFFD')
    print('a name that is not UTF-8 is written as the same UTF-8 text by every command')


def snapshot_links(folder):
    """Every file and link under `folder`: its bytes, or where a link points."""
    files = {}
    for root, dirs, names in os.walk(folder):
        for name in dirs + names:
            path = os.path.join(root, name)
            if os.path.islink(path):
                files[path] = ('link', os.readlink(path))
            elif os.path.isfile(path):
                with open(path, 'rb') as f:
                    files[path] = ('file', f.read())
    return files


def check_outputs_over_inputs(options, work):
    """Every command that writes refuses, before it writes anything, an -o
    that names a file the run reads by another spelling (in/../in/x), a
    link or a hard link: its script, its translation file, the old
    translation file of update, the --substitute table, or for html a site
    folder that holds the script. The run fails and every file stays as it
    was."""
    os.mkdir(os.path.join(work, 'in'))
    os.mkdir(os.path.join(work, 'tr'))
    with open(os.path.join(work, 'in', 'a.kr'), 'wb') as f:
        f.write(string_script([b'Alice']))
    with open(os.path.join(work, 'table.txt'), 'w', encoding='utf-8') as f:
        f.write('\u00e9\te\n')
    for args in (['dump', 'in/a.kr', '-o', 'in/a.kr.json'],
                 ['extract', 'in/a.kr', '-o', 'tr/a.kr.po']):
        status, _, err = run(options.krscript, args + ['--encoding', 'utf-8'], work)
        expect(status == 0, f'{args}: status {status}, {err!r}')

    spelt = [0]

    def spellings(path, folder=False):
        """The path as another spelling, a link to it and a hard link to it."""
        spelt[0] += 1
        head, tail = os.path.split(path)
        yield f'{head}/../{head}/{tail}' if head else f'in/../{tail}'
        link = f'link{spelt[0]}'
        os.symlink(os.path.join(work, path), os.path.join(work, link))
        yield link
        if not folder:
            hard = f'hard{spelt[0]}'
            os.link(os.path.join(work, path), os.path.join(work, hard))
            yield hard

    # The command, the file its -o replaces, the job that says so, and the
    # input named in the message when it is not the job's own.
    cases = [
        (['dump', 'in/a.kr'], 'in/a.kr', 'in/a.kr', None),
        (['build', 'in/a.kr.json'], 'in/a.kr.json', 'in/a.kr.json', None),
        (['extract', 'in/a.kr'], 'in/a.kr', 'in/a.kr', None),
        (['inject', 'in/a.kr', 'tr/a.kr.po'], 'in/a.kr', 'in/a.kr', None),
        (['inject', 'in/a.kr', 'tr/a.kr.po'], 'tr/a.kr.po', 'in/a.kr', 'tr/a.kr.po'),
        (['inject', 'in/a.kr', 'tr/a.kr.po', '--substitute', 'table.txt'], 'table.txt',
         'in/a.kr', 'table.txt'),
        (['update', 'in/a.kr', 'tr/a.kr.po'], 'in/a.kr', 'in/a.kr', None),
        (['update', 'in/a.kr', 'tr/a.kr.po'], 'tr/a.kr.po', 'in/a.kr', 'tr/a.kr.po'),
        (['html', 'in/a.kr'], 'in/a.kr', 'in/a.kr', None),
        (['html', 'in/a.kr', 'tr/a.kr.po'], 'tr/a.kr.po', 'in/a.kr', 'tr/a.kr.po'),
        (['html', 'in/a.kr', 'tr/a.kr.po'], 'in', 'in/a.kr', None),
    ]
    runs = 0
    for args, replaced, job, named in cases:
        for output in spellings(replaced, folder=replaced == 'in'):
            before = snapshot_links(work)
            status, _, err = run(options.krscript, args + ['-o', output], work)
            line = (f'{job}: the output {output} would replace the input'
                    f'{" " + named if named else ""}\n')
            command = ' '.join(args + ['-o', output])
            expect(status == 1 and line in err, f'{command}: status {status}, {err!r}')
            expect(snapshot_links(work) == before, f'{command}: a file was written or changed')
            runs += 1
    print(f'{runs} runs: every output over an input refused, nothing written')


CHECKS = {
    'huge-text': check_huge_text,
    'out-of-memory': check_out_of_memory,
    'full-disk': check_full_disk,
    'read-only-output': check_read_only_output,
    'link-loop': check_link_loop,
    'unreadable-folder': check_unreadable_folder,
    'sigint': lambda options, work: check_interrupt(options, work, [signal.SIGINT]),
    'sigterm': lambda options, work: check_interrupt(options, work, [signal.SIGTERM]),
    'other-signals': lambda options, work: check_interrupt(
        options, work, [signal.SIGHUP, signal.SIGQUIT, signal.SIGALRM, signal.SIGUSR1,
                        signal.SIGUSR2]),
    'killed-run': check_killed_run,
    'device-outputs': check_device_outputs,
    'changed-while-read': check_changed_while_read,
    'untouched-translations': check_untouched_translations,
    'non-utf8-names': check_non_utf8_names,
    'outputs-over-inputs': check_outputs_over_inputs,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--krscript', required=True, help='the program to run')
    parser.add_argument('--check', choices=sorted(CHECKS), action='append',
                        help='a check to run (default: all)')
    parser.add_argument('--field-mb', type=int, default=300,
                        help='the size of the huge text field, in MiB')
    parser.add_argument('--sanitized', action='store_true',
                        help='the program runs under sanitizers, which take more memory and '
                             'address space than the checks of memory allow: skip those')
    options = parser.parse_args()
    options.krscript = os.path.abspath(options.krscript)
    if not sys.platform.startswith('linux'):
        print('skipped: Linux only')
        return SKIPPED
    statuses = []
    for name in options.check or sorted(CHECKS):
        if options.sanitized and name in ('huge-text', 'out-of-memory'):
            print(f'{name}: skipped under sanitizers')
            statuses.append(SKIPPED)
            continue
        with tempfile.TemporaryDirectory(prefix='krscript-hostile-') as work:
            try:
                statuses.append(CHECKS[name](options, work) or 0)
            except (Failure, subprocess.TimeoutExpired) as failure:
                print(f'FAIL {name}: {failure}')
                statuses.append(1)
    if any(s not in (0, SKIPPED) for s in statuses):
        return 1
    return SKIPPED if all(s == SKIPPED for s in statuses) else 0


if __name__ == '__main__':
    sys.exit(main())
