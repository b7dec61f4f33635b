#!/usr/bin/env python3
"""Times a Monte Carlo suite: 500 realizations of examples/sites/best.toml (Toro velocities and
layering for USGS class C, Darendeli curve deviates, the rock between 28 and 36 m) x the 11 records
of bench/batch_suite.py, 5500 runs, with --keep statistics, linear and with --method eql.

    bench/variation_bench.py BUILD_DIR [--jobs N] [--realizations R] [--repeat N] [--spectra]

BUILD_DIR holds sitewave-batch (a Release build). Prints the wall time, runs per second (targets:
300 linear, 40 eql on the 2-core development machine), the processor time and the peak memory of
the batch.

On the 2-core development machine (shared, load about 2 before the runs), 5500 runs, --jobs 2:
  linear                3.2 s, 1729 runs/s (processor 6.1 s), peak memory 32 MiB
  linear --spectra      5.9 s,  930 runs/s (processor 11.1 s), 70 MiB
  eql                  71.7 s,   77 runs/s (processor 142 s), 54 MiB
  eql --spectra        76.5 s,   72 runs/s (processor 151 s), 90 MiB
With other work on the machine the wall times doubled (589 and 31 runs/s were seen); the processor
times stay: about 1.1 ms a linear run, 26 ms an equivalent-linear one.
"""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import batch_suite  # noqa: E402

VARIATION = """
[variation]
realizations = {n}
seed = 20261209
velocity = "toro"
site_class = "USGS C"
truncate = 2.0
layering = "toro"
curves = "darendeli"
bedrock_depth = {{ distribution = "uniform", min = 28.0, max = 36.0 }}
"""


def run(batch, site, records, out, method, jobs, spectra):
    args = [batch, "--soil", site, "--input", "outcrop", "--method", method, "--jobs", str(jobs),
            "--keep", "statistics", "--out", out] + (["--spectra"] if spectra else []) + records
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, after.ru_maxrss


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("build")
    p.add_argument("--jobs", type=int, default=2)
    p.add_argument("--realizations", type=int, default=500)
    p.add_argument("--repeat", type=int, default=1)
    p.add_argument("--spectra", action="store_true", help="also response spectra (--spectra)")
    a = p.parse_args()
    batch = os.path.join(a.build, "sitewave-batch")
    with tempfile.TemporaryDirectory() as tmp:
        records = batch_suite.make_records(tmp)
        site = os.path.join(tmp, "best_varied.toml")
        with open(os.path.join(ROOT, "examples", "sites", "best.toml")) as f:
            text = f.read()
        with open(site, "w") as f:
            f.write(text + VARIATION.format(n=a.realizations))
        runs = a.realizations * len(records)
        for method, target in (("linear", 300), ("eql", 40)):
            walls = []
            for k in range(a.repeat):
                out = os.path.join(tmp, f"out-{method}-{k}")
                wall, cpu, rss = run(batch, site, records, out, method, a.jobs, a.spectra)
                walls.append(wall)
                shutil.rmtree(out)
            wall = statistics.median(walls)
            print(f"{method:6s} {a.realizations} realizations x {len(records)} records = {runs} runs, "
                  f"--jobs {a.jobs}{' --spectra' if a.spectra else ''}: {wall:.2f} s "
                  f"({runs / wall:.0f} runs/s, target {target}); processor {cpu:.2f} s; "
                  f"peak memory {rss / 1024:.0f} MiB")


if __name__ == "__main__":
    main()
