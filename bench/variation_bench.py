#!/usr/bin/env python3
"""Times a Monte Carlo suite: 500 realizations of examples/sites/best.toml (Toro velocities and
layering for USGS class C, Darendeli curve deviates, the rock between 28 and 36 m) x the 11 records
of bench/batch_suite.py, 5500 runs, with --keep statistics, linear and with --method eql.

    bench/variation_bench.py BUILD_DIR [--jobs N] [--realizations R] [--repeat N] [--spectra]

BUILD_DIR holds sitewave-batch (a Release build). Prints the wall time, runs per second (targets:
300 linear, 40 eql on the 2-core development machine), the processor time and the peak memory of
the batch, and the size of what statistics.csv keeps (8 bytes per value and cell).
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
