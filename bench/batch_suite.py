#!/usr/bin/env python3
"""Times a code-based suite: 11 records of El Centro size on 3 profiles (33 runs), as one batch
with --jobs 1 and --jobs 2, against 33 runs of the dialogue program; and the same batch with
response spectra (--spectra) and with RotD (--spectra --rotd), against the batch without them.

    bench/batch_suite.py BUILD_DIR [--repeat N]

BUILD_DIR holds sitewave and sitewave-batch (a Release build). The 11 records are the bundled
El Centro record scaled by 0.5, 0.6, ... 1.5. Prints the median and spread of the wall times and
of the processor time (user + system, of the batch alone) and the ratios of the spectra's
variants to the plain batch (targets: --spectra at most 1.5 times the plain batch, --rotd at most
1 more).
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROFILES = [os.path.join(ROOT, "examples", "profiles", p + ".csv") for p in ("lower", "best", "upper")]


def make_records(folder):
    with open(os.path.join(ROOT, "examples", "elcentro.csv")) as f:
        lines = f.read().splitlines()
    names = []
    for k in range(11):
        scale = 0.5 + 0.1 * k
        out = [lines[0]]
        for line in lines[1:]:
            t, *v = line.split(",")
            out.append(",".join([t] + ["%.7g" % (float(x) * scale) for x in v]))
        name = os.path.join(folder, "rec%02d.csv" % k)
        with open(name, "w") as f:
            f.write("\n".join(out) + "\n")
        names.append(name)
    return names


def timed(fn):
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def processor(fn):
    """Processor time (user + system) of the children fn runs."""
    before = os.times()
    fn()
    after = os.times()
    return (after.children_user - before.children_user) + (after.children_system - before.children_system)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("build")
    ap.add_argument("--repeat", type=int, default=5)
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    batch = os.path.join(build, "sitewave-batch")
    dialogue = os.path.join(build, "sitewave")
    work = tempfile.mkdtemp(prefix="sitewave-suite-")
    try:
        records = make_records(work)
        soil_args = [x for p in PROFILES for x in ("--soil", p)]

        def run_batch(jobs, extra=()):
            out = os.path.join(work, "out")
            shutil.rmtree(out, ignore_errors=True)
            subprocess.run([batch, *soil_args, "--jobs", str(jobs), *extra, "--out", out, *records],
                           check=True, stdout=subprocess.DEVNULL)

        def run_dialogues():
            for p in PROFILES:
                for r in records:
                    d = os.path.join(work, "d", os.path.basename(p) + os.path.basename(r))
                    os.makedirs(d, exist_ok=True)
                    shutil.copy(p, os.path.join(d, "soil_dat.csv"))
                    with open(os.devnull, "wb") as null:
                        subprocess.run([dialogue], cwd=d, input=(r + "\n0\n0\n").encode(),
                                       check=True, stdout=null)

        cases = [("batch --jobs 1", lambda: run_batch(1)), ("batch --jobs 2", lambda: run_batch(2)),
                 ("33 dialogue runs", run_dialogues)]
        print("33 runs (11 records x 3 profiles, 5346 samples each), %d repeats" % a.repeat)
        medians = {}
        for label, fn in cases:
            fn()  # warm-up
            t = [timed(fn) for _ in range(a.repeat)]
            medians[label] = statistics.median(t)
            print("%-18s median %7.1f ms   (min %.1f, max %.1f)" % (label, 1e3 * medians[label],
                                                                  1e3 * min(t), 1e3 * max(t)))
        print("dialogue / batch --jobs 2: %.2fx" % (medians["33 dialogue runs"] / medians["batch --jobs 2"]))

        # Response spectra: the same batch (--jobs 1) plain, with --spectra, with --rotd; wall
        # and processor time, and the ratios to the plain batch.
        variants = [("plain", ()), ("--spectra", ("--spectra",)),
                    ("--spectra --rotd", ("--spectra", "--rotd"))]
        wall, cpu = {}, {}
        for label, extra in variants:
            run_batch(1, extra)  # warm-up
            w, c = [], []
            for _ in range(a.repeat):
                start = time.perf_counter()
                c.append(processor(lambda: run_batch(1, extra)))
                w.append(time.perf_counter() - start)
            wall[label], cpu[label] = statistics.median(w), statistics.median(c)
            print("batch --jobs 1 %-17s wall median %7.1f ms (min %.1f)   processor median %7.1f ms"
                  " (min %.1f)" % (label, 1e3 * wall[label], 1e3 * min(w), 1e3 * cpu[label],
                                   1e3 * min(c)))
        for key, times in (("wall", wall), ("processor", cpu)):
            print("%-9s --spectra / plain %.2fx (target <= 1.5), RotD adds %.2fx of plain "
                  "(target <= 1), --spectra --rotd / plain %.2fx" % (
                      key, times["--spectra"] / times["plain"],
                      (times["--spectra --rotd"] - times["--spectra"]) / times["plain"],
                      times["--spectra --rotd"] / times["plain"]))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
