#!/usr/bin/env python3
"""Build the program in Release and time whole runs of the benchmark cases.

    bench/run_bench.py [--runs N] [--cases max,mid] [--make-input PATH] [--no-build]
                       [--exe PATH] [--args "..."] [--micro]

Builds into build-bench/ (cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release
-DSITEWAVE_BENCH=ON), writes the cases with make_input.py into a temporary folder, runs the
program N times in each case folder with the case's answers on standard input, and prints the
median and the spread (fastest, slowest) of the wall-clock times and the peak resident memory
beside the targets. --micro also runs the Google Benchmark timings of build-bench.

Other cases (a batch suite, say) are timed with time_command(), which takes a command line and
a label; see extra_cases() below.
"""
import argparse
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(REPO, "build-bench")

# Targets per case: wall-clock median in ms; peak resident memory in MB for every case.
TARGET_MS = {"max": 65.0, "mid": 6.0}
TARGET_MB = 40.0


def build(jobs):
    subprocess.run(["cmake", "-S", REPO, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Release",
                    "-DSITEWAVE_BENCH=ON"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "-j", str(jobs), "--target", "sitewave", "sitewave-batch",
                    "sitewave_bench", "peak_rss", "io_floor", "eql_loop"], check=True, stdout=subprocess.DEVNULL)


def run_once(cmd, cwd=None, stdin_path=None, env=None):
    """Runs cmd once: its wall seconds. Raises on a non-zero exit status."""
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    with tempfile.TemporaryFile() as err:
        try:
            start = time.perf_counter()
            proc = subprocess.run(cmd, cwd=cwd, stdin=stdin, stdout=subprocess.DEVNULL,
                                  stderr=err, env=env, check=False)
            elapsed = time.perf_counter() - start
        finally:
            if stdin_path:
                stdin.close()
        if proc.returncode != 0:
            err.seek(0)
            raise SystemExit(f"{' '.join(cmd)} in {cwd}: exit status {proc.returncode}\n"
                             f"{err.read().decode(errors='replace')}")
    return elapsed


# Peak resident memory is measured on one extra run through build-bench/bench/peak_rss, a small
# launcher: the times above come from processes started by this script, whose own memory before
# their exec would be counted in theirs.
_peaks = {}


def peak_rss(cmd, cwd, stdin_path, env):
    """Peak RSS in bytes of one run of cmd (measured once per command and folder)."""
    key = (tuple(cmd), cwd)
    if key not in _peaks:
        launcher = os.path.join(BUILD, "bench", "peak_rss")
        read_end, write_end = os.pipe()
        stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
        try:
            subprocess.run([launcher, str(write_end)] + cmd, cwd=cwd, stdin=stdin,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env,
                           pass_fds=(write_end,), check=False)
        finally:
            os.close(write_end)
            if stdin_path:
                stdin.close()
        with os.fdopen(read_end) as f:
            _peaks[key] = int(f.read().strip() or 0) * 1024
    return _peaks[key]


def time_command(cmd, label, runs, cwd=None, stdin_path=None, target_ms=None, env=None,
                 measure_peak=True):
    """Times `runs` runs of the command line `cmd` (a list, or a string split like a shell
    would) and prints one line under `label`: median, fastest and slowest wall time, the peak
    RSS (one more run, unless measure_peak is false), and the targets when given. Returns
    (median ms, peak MB)."""
    if isinstance(cmd, str):
        cmd = shlex.split(cmd)
    times = [run_once(cmd, cwd, stdin_path, env) * 1000.0 for _ in range(runs)]
    med = statistics.median(times)
    line = f"{label:12s} median {med:8.1f} ms   min {min(times):8.1f}   max {max(times):8.1f}"
    peak = peak_rss(cmd, cwd, stdin_path, env) / 1e6 if measure_peak else 0.0
    if measure_peak:
        line += f"   peak RSS {peak:6.1f} MB"
    if target_ms is not None:
        ok = "ok" if med <= target_ms and peak <= TARGET_MB else "over"
        line += f"   target {target_ms:g} ms, {TARGET_MB:g} MB: {ok}"
    print(line, flush=True)
    return med, peak


RESULT_FILES = ("Amp-Factors.csv", "amp1.csv", "wave1.csv")


def time_floor(exe, case, folder, peak_mb, runs):
    """The case's floor on this machine: build-bench/bench/io_floor reads the record, touches as
    much fresh memory as the run's peak beyond the program's own image (its peak when it stops at
    once on empty input), and writes result files of the run's sizes (renamed over the old
    ones), without computing anything."""
    floor = os.path.join(BUILD, "bench", "io_floor")
    if not os.path.exists(floor) or not all(os.path.exists(os.path.join(folder, f))
                                            for f in RESULT_FILES):
        return
    record = next(f for f in sorted(os.listdir(folder)) if f.endswith(".csv")
                  and f not in RESULT_FILES and f != "soil_dat.csv")
    image = peak_rss([exe], folder, None, None)
    cmd = [floor, str(max(int((peak_mb * 1e6 - image) / 1024), 0)), record]
    for f in RESULT_FILES:
        cmd += [f, str(os.path.getsize(os.path.join(folder, f)))]
    time_command(cmd, case + " floor", runs, cwd=folder, measure_peak=False)


def extra_cases(exe, args, runs):
    """The batch suite (bench/batch_suite.py): 11 records x 3 profiles with sitewave-batch
    --jobs 1 and 2, against 33 dialogue runs, when sitewave-batch is built beside the program."""
    del args
    batch = os.path.join(os.path.dirname(os.path.abspath(exe)), "sitewave-batch")
    if os.path.exists(batch):
        subprocess.run([sys.executable, os.path.join(REPO, "bench", "batch_suite.py"),
                        os.path.dirname(os.path.abspath(exe)), "--repeat",
                        str(max(3, runs // 4))], check=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--runs", type=int, default=21, help="runs per case (default 21)")
    ap.add_argument("--cases", default="max,mid", help="cases of make_input.py (default max,mid)")
    ap.add_argument("--make-input", default=os.path.join(REPO, "..", "shared", "perf",
                                                         "make_input.py"),
                    help="the case generator (default ../shared/perf/make_input.py from the repo)")
    ap.add_argument("--no-build", action="store_true", help="use build-bench as it is")
    ap.add_argument("--exe", help="time this program instead of build-bench/sitewave")
    ap.add_argument("--args", default="", help="extra arguments for the program, one string")
    ap.add_argument("--micro", action="store_true", help="also run build-bench's microbenchmarks")
    ap.add_argument("--jobs", type=int, default=2)
    args = ap.parse_args()

    if not args.no_build and not args.exe:
        build(args.jobs)
    exe = os.path.abspath(args.exe or os.path.join(BUILD, "sitewave"))
    if not os.path.isfile(args.make_input):
        raise SystemExit(f"no case generator at {args.make_input} (--make-input PATH)")

    base = tempfile.mkdtemp(prefix="sitewave-bench-")
    try:
        for case in (c.strip() for c in args.cases.split(",") if c.strip()):
            subprocess.run([sys.executable, args.make_input, base, "--case", case], check=True,
                           stdout=subprocess.DEVNULL)
            folder = os.path.join(base, case)
            _, peak = time_command([exe] + shlex.split(args.args), case, args.runs, cwd=folder,
                                   stdin_path=os.path.join(folder, "answers.txt"),
                                   target_ms=TARGET_MS.get(case))
            time_floor(exe, case, folder, peak, args.runs)
        extra_cases(exe, args.args, args.runs)
    finally:
        shutil.rmtree(base)

    if args.micro:
        subprocess.run([os.path.join(BUILD, "bench", "sitewave_bench")], check=True)


if __name__ == "__main__":
    main()
