#!/usr/bin/env python3
"""Timings of the equivalent-linear run against its targets.

    bench/eql_bench.py BUILD_DIR [--repeat N]

BUILD_DIR holds sitewave-batch and bench/eql_loop (a Release build with the benchmarks, as make
bench makes in build-bench/). Three cases:

  run     one 8192-sample record (the benchmark's mid record at half its size, 0.15 g) on
          bench/sites/twenty_sublayers.toml (20 sublayers), both horizontals converged: the median
          wall time of the whole sitewave-batch run (target 40 ms);
  numpy   the same record on the same site, side by side with the numpy loop of
          tests/eql/reference.py (H1 and H2 on one thread, timed in this process): sitewave's loop
          (bench's eql_loop: H1 and H2 on one thread, timed in its process, the same input made
          the same way), which the target is on (10 times faster). Beside it, for the record,
          the whole run in memory (sitewave.run: the loop and the rest of the run, on one thread
          and with a thread for H2) and the whole sitewave-batch process (files written);
  suite   the 11 records of bench/batch_suite.py on examples/sites/{lower,best,upper}.toml,
          --method eql --input outcrop --jobs 2 (target 2 s).
"""
import argparse
import csv
import os
import statistics
import subprocess
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


def timed(f, repeat):
    """Median wall seconds of `repeat` calls of f in this process."""
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        f()
        times.append(time.perf_counter() - t)
    return statistics.median(times)


def module(build):
    """The sitewave Python module of BUILD_DIR (built there if need be), and the loop's own
    timer."""
    subprocess.run(["cmake", "--build", build, "--target", "_sitewave", "eql_loop"], check=True,
                   stdout=subprocess.DEVNULL)
    sys.path.insert(0, os.path.join(build, "python"))
    import sitewave
    return sitewave


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
        # numpy: the same case side by side, the numpy loop and sitewave's run in this process.
        site_path = os.path.join(ROOT, "bench", "sites", "twenty_sublayers.toml")
        reference.use_site(site_path)
        nf = int(list(csv.DictReader(open(os.path.join(out, "summary.csv"))))[0]["nf"])
        sw = module(a.build)
        rec = sw.Record(np.stack(comps, 1), dt)
        site = sw.read_site(site_path)

        def numpy_loop():
            for c in range(2):
                acc = np.array(comps[c], dtype=np.float32).astype(float) * reference.G
                reference.loop(acc, dt, 8192, nf)

        def sitewave_run(jobs):
            return lambda: sw.run(rec, site, input="outcrop", method="eql", jobs=jobs)

        passes = [reference.loop(np.array(comps[c], dtype=np.float32).astype(float) * reference.G,
                                 dt, 8192, nf)[4] for c in range(2)]
        med_p = timed(numpy_loop, 7)
        loop = subprocess.run([os.path.join(a.build, "bench", "eql_loop"), site_path,
                               os.path.join(d, "r8192.csv"), str(nf), str(3 * a.repeat)],
                              check=True, capture_output=True, text=True).stdout
        med_l = float(loop.split()[1]) / 1000
        med_1 = timed(sitewave_run(1), 3 * a.repeat)
        med_2 = timed(sitewave_run(2), 3 * a.repeat)
        print("numpy: 8192 samples, 20 sublayers, numpy passes %s, sitewave %s: numpy loop "
              "%.1f ms, sitewave's loop %.1f ms: %.1f times faster (target 10)"
              % ("/".join(map(str, passes)), loop.split("passes ")[1].strip(), 1000 * med_p,
                 1000 * med_l, med_p / med_l))
        print("  beside it: sitewave.run in memory %.1f ms (%.1f times), with a thread for H2 "
              "%.1f ms (%.1f times); the whole sitewave-batch process %.1f ms (%.1f times)"
              % (1000 * med_1, med_p / med_1, 1000 * med_2, med_p / med_2, 1000 * med,
                 med_p / med))
        ok &= med_p / med_l >= 10
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
