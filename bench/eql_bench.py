#!/usr/bin/env python3
"""Timings of the equivalent-linear run against its targets.

    bench/eql_bench.py BUILD_DIR [--repeat N]

BUILD_DIR holds sitewave-batch (a Release build, as make bench makes in build-bench/). Three cases:

  run     one 8192-sample record (the benchmark's mid record at half its size, 0.15 g) on
          bench/sites/twenty_sublayers.toml (20 sublayers), both horizontals converged: the median
          wall time of the whole sitewave-batch run (target 40 ms);
  numpy   the five-layer clay-and-sand site of tests/eql/reference.py with an 8192-sample record:
          the whole sitewave-batch run against the numpy loop of that reference for H1 and H2
          (timed in the process, without its files), side by side (target: 10 times faster);
  suite   the 11 records of bench/batch_suite.py on examples/sites/{lower,best,upper}.toml,
          --method eql --input outcrop --jobs 2 (target 2 s).
"""
import argparse
import csv
import os
import statistics
import sys
import tempfile
import time

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "eql"))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import reference  # noqa: E402
from batch_suite import make_records  # noqa: E402


def wall(cmd, repeat):
    """Median, least and most wall seconds of `repeat` runs. The program is started by
    posix_spawn: a fork of this process (numpy loaded) would add its own copying to each run."""
    cmd = [str(c) for c in cmd]
    null = os.open(os.devnull, os.O_WRONLY)
    times = []
    try:
        for _ in range(repeat):
            t = time.perf_counter()
            pid = os.posix_spawn(cmd[0], cmd, os.environ,
                                 file_actions=[(os.POSIX_SPAWN_DUP2, null, 1)])
            _, status = os.waitpid(pid, 0)
            times.append(time.perf_counter() - t)
            if os.waitstatus_to_exitcode(status) != 0:
                raise SystemExit("%s: exit status %d" % (" ".join(cmd),
                                                         os.waitstatus_to_exitcode(status)))
    finally:
        os.close(null)
    return statistics.median(times), min(times), max(times)


def write_record(path, dt, comps):
    with open(path, "w") as f:
        f.write("t,h1,h2,v\n")
        for j in range(comps[0].size):
            f.write("%.3f,%.9g,%.9g,%.9g\n" % (j * dt, comps[0][j], comps[1][j], comps[2][j]))


def converged(out):
    row = list(csv.DictReader(open(os.path.join(out, "summary.csv"))))[0]
    return row["converged H1"], row["passes H1"], row["converged H2"], row["passes H2"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--repeat", type=int, default=11)
    a = ap.parse_args()
    exe = os.path.join(a.build, "sitewave-batch")
    ok = True
    with tempfile.TemporaryDirectory() as d:
        # run: 8192 samples at 0.005 s on twenty sublayers.
        dt = 0.005
        _, _, comps = reference.record(dt=dt, nt=8192)
        write_record(os.path.join(d, "r8192.csv"), dt, comps)
        out = os.path.join(d, "run")
        cmd = [exe, "--soil", os.path.join(ROOT, "bench", "sites", "twenty_sublayers.toml"),
               "--method", "eql", "--input", "outcrop", os.path.join(d, "r8192.csv"), "--out", out,
               "--force"]
        med, lo, hi = wall(cmd, a.repeat)
        print("run: 8192 samples, 20 sublayers, converged/passes %s: median %.1f ms (%.1f to %.1f), "
              "target 40 ms" % ("/".join(converged(out)), 1000 * med, 1000 * lo, 1000 * hi))
        ok &= med <= 0.040
        # numpy: the reference's own site, side by side.
        with open(os.path.join(d, "five.toml"), "w") as f:
            f.write(reference.site_toml())
        out = os.path.join(d, "five")
        cmd = [exe, "--soil", os.path.join(d, "five.toml"), "--method", "eql", "--input", "outcrop",
               os.path.join(d, "r8192.csv"), "--out", out, "--force"]
        med_c, _, _ = wall(cmd, a.repeat)
        nf = int(list(csv.DictReader(open(os.path.join(out, "summary.csv"))))[0]["nf"])
        times = []
        for _ in range(3):
            t = time.perf_counter()
            for c in range(2):
                acc = np.array(comps[c], dtype=np.float32).astype(float) * reference.G
                reference.loop(acc, dt, 8192, nf)
            times.append(time.perf_counter() - t)
        med_p = statistics.median(times)
        print("numpy: five layers, 8192 samples: sitewave-batch %.1f ms, numpy loop %.1f ms: "
              "%.1f times faster (target 10)" % (1000 * med_c, 1000 * med_p, med_p / med_c))
        ok &= med_p / med_c >= 10
        # suite: 11 records on three sites.
        records = make_records(d)
        sites = [os.path.join(ROOT, "examples", "sites", s + ".toml")
                 for s in ("lower", "best", "upper")]
        cmd = [exe, "--method", "eql", "--input", "outcrop", "--jobs", "2", "--out",
               os.path.join(d, "suite"), "--force"]
        for s in sites:
            cmd += ["--soil", s]
        cmd += records
        med, lo, hi = wall(cmd, max(3, a.repeat // 3))
        print("suite: 11 records x 3 sites, --jobs 2: median %.2f s (%.2f to %.2f), target 2 s"
              % (med, lo, hi))
        ok &= med <= 2.0
    print("eql targets:", "met" if ok else "NOT all met")
    return 0


if __name__ == "__main__":
    sys.exit(main())
