#!/usr/bin/env python3
"""Measures krlist on large generated scripts and prints the figures.

    python3 bench/run_bench.py BUILD_DIR [--size-mb 64] [--seed 1]

BUILD_DIR holds `krlist` and `bench/krlist_generate_script`. The scripts are
generated into a temporary directory, removed afterwards. Printed:

- for a mixed script of --size-mb MiB, then one of a quarter of that: file
  size, instruction count, the best wall time of three runs of
  `krlist FILE > /dev/null` and its rate, the peak resident memory of those
  runs against the file size, and, alternating with them, the best wall time
  of `xxd FILE > /dev/null`, as the cost of merely reading the file and
  writing a listing of it;
- how the time grows from the smaller script to the larger;
- the wall time on 200,000 name references to 200,000 distinct names.

Targets are printed beside the figures for information; nothing is asserted.
Linux only: peak memory comes from the rusage of the child (ru_maxrss, in
KiB), and timeouts from a pidfd.
"""

import argparse
import os
import select
import signal
import subprocess
import sys
import tempfile
import time

RUNS = 3
TIMEOUT_S = 600
MIB = 1 << 20
DISTINCT_NAMES = 200_000


class Run:
    def __init__(self, seconds, peak_kib, status, timed_out):
        self.seconds = seconds
        self.peak_kib = peak_kib
        self.status = status
        self.timed_out = timed_out


def run_once(command, stdout=subprocess.DEVNULL):
    """Runs `command` to its end, or kills it after TIMEOUT_S seconds."""
    start = time.perf_counter()
    child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=stdout)
    pidfd = os.pidfd_open(child.pid)
    try:
        poller = select.poll()
        poller.register(pidfd, select.POLLIN)
        timed_out = not poller.poll(TIMEOUT_S * 1000)
        if timed_out:
            signal.pidfd_send_signal(pidfd, signal.SIGKILL)
        _, wait_status, usage = os.wait4(child.pid, 0)
    finally:
        os.close(pidfd)
    seconds = time.perf_counter() - start
    # Reaped here, so Popen must not wait for it again.
    child.returncode = os.waitstatus_to_exitcode(wait_status)
    return Run(seconds, usage.ru_maxrss, child.returncode, timed_out)


def best_of(commands):
    """Runs each command RUNS times, in turn, and returns for each the best
    time, the highest peak memory and whether a run timed out. A command that
    timed out is not run again."""
    best = [None] * len(commands)
    for _ in range(RUNS):
        for i, command in enumerate(commands):
            if best[i] is not None and best[i].timed_out:
                continue
            run = run_once(command)
            if run.status != 0 and not run.timed_out:
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
    return f"[target {target}: {'met' if met else 'missed'}]"


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
            target_text(peak <= 10 * size, "<= 10 x file"))
    row("xxd FILE > /dev/null", seconds_text(xxd))
    if not own.timed_out and not xxd.timed_out:
        ratio = own.seconds / xxd.seconds
        row("krlist time / xxd time", f"{ratio:.2f}", target_text(ratio <= 1.0, "<= 1.0"))
    return own


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


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build_dir", help="holds krlist and bench/krlist_generate_script")
    parser.add_argument("--size-mb", type=float, default=64,
                        help="size of the larger mixed script in MiB (default 64)")
    parser.add_argument("--seed", type=int, default=1, help="generator seed (default 1)")
    args = parser.parse_args()

    krlist = os.path.abspath(os.path.join(args.build_dir, "krlist"))
    generator = os.path.abspath(os.path.join(args.build_dir, "bench", "krlist_generate_script"))
    for program in (krlist, generator):
        if not os.access(program, os.X_OK):
            sys.exit(f"not found or not executable: {program}")

    load = ", ".join(f"{value:.2f}" for value in os.getloadavg())
    print(f"krlist benchmark: best of {RUNS} runs, {os.cpu_count()} CPUs "
          f"(load average {load}), timeout {TIMEOUT_S} s per run")
    # A child's ru_maxrss starts from the peak of the process it was spawned
    # from, this one; `true` shows how much that adds to every peak below.
    baseline = run_once(["true"])
    print(f"(peak memory of `true` spawned the same way: {baseline.peak_kib / 1024:.1f} MiB, "
          "included in each peak below)")

    with tempfile.TemporaryDirectory(prefix="krlist-bench-") as directory:
        large = measure_mixed(krlist, generator, directory, args.size_mb, args.seed)
        small = measure_mixed(krlist, generator, directory, args.size_mb / 4, args.seed)
        print("\nGrowth")
        if large.timed_out or small.timed_out:
            row(f"time {args.size_mb:g} MiB / {args.size_mb / 4:g} MiB", "timed out")
        else:
            growth = large.seconds / small.seconds
            row(f"time {args.size_mb:g} MiB / {args.size_mb / 4:g} MiB", f"{growth:.2f}",
                target_text(growth <= 4.5, "<= 4.5"))
        measure_distinct(krlist, generator, directory, args.seed)


if __name__ == "__main__":
    main()
