#!/usr/bin/env python3
"""Time whole runs of the built program on generated benchmark inputs.

    time_program.py EXE [--runs N] [--case max,mid,halfspace]

Writes the cases with make_input.py into a temporary folder, runs EXE in each case folder with
its answers on standard input, and reports the fastest and the median wall-clock time and the
peak resident memory of the program over N runs.
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_input  # noqa: E402


def run_once(exe, folder):
    with open(os.path.join(folder, "answers.txt"), "rb") as answers:
        start = time.perf_counter()
        done = subprocess.run([exe], cwd=folder, stdin=answers, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE)
        elapsed = time.perf_counter() - start
    if done.returncode != 0:
        raise SystemExit(f"{folder}: exit status {done.returncode}: {done.stderr.decode()}")
    return elapsed


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("exe")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--case", default="max,mid,halfspace")
    args = ap.parse_args()
    exe = os.path.abspath(args.exe)
    base = tempfile.mkdtemp(prefix="sitewave-bench-")
    try:
        for case in args.case.split(","):
            folder = make_input.make_case(base, case.strip())
            times = sorted(run_once(exe, folder) for _ in range(args.runs))
            rss_kib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
            print(f"{case:10s} fastest {times[0] * 1000:8.1f} ms   median "
                  f"{times[len(times) // 2] * 1000:8.1f} ms   peak RSS so far {rss_kib / 1024:6.1f} MiB")
    finally:
        shutil.rmtree(base)


if __name__ == "__main__":
    main()
