#!/usr/bin/env python3
"""run_many on 1 and 2 threads: the same bits, and the threads overlapping (processor time over
wall time near 2 with jobs=2 on two free cores). A benchmark, run by hand, not by CTest:

    PYTHONPATH=build/python /usr/bin/python3 tests/python/bench_run_many.py [--runs N]
"""
import argparse
import pathlib
import time

import numpy as np

import sitewave as sw

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def timed(records, sites, jobs):
    wall, cpu = time.perf_counter(), time.process_time()
    out = sw.run_many(records, sites, input="outcrop", method="eql", jobs=jobs)
    return out, time.perf_counter() - wall, time.process_time() - cpu


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=8, help="records per site")
    n = parser.parse_args().runs
    rec = sw.read_record(EXAMPLES / "elcentro.csv")
    records = [sw.Record(rec.accel * (1 + 0.05 * k), rec.dt, name="x%d" % k) for k in range(n)]
    sites = [sw.read_site(EXAMPLES / "sites" / (s + ".toml")) for s in ("lower", "best", "upper")]
    one, w1, c1 = timed(records, sites, 1)
    two, w2, c2 = timed(records, sites, 2)
    same = all(np.array_equal(a.surface.view(np.uint32), b.surface.view(np.uint32))
               for ra, rb in zip(one, two) for a, b in zip(ra, rb))
    print("%d runs: jobs=1 wall %.2f s cpu %.2f s; jobs=2 wall %.2f s cpu %.2f s" %
          (n * len(sites), w1, c1, w2, c2))
    print("overlap (cpu / wall, jobs=2): %.2f; speed-up %.2f; same bits: %s" %
          (c2 / w2, w1 / w2, same))
    return 0 if same else 1


if __name__ == "__main__":
    raise SystemExit(main())
