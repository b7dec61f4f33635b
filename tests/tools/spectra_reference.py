#!/usr/bin/python3
"""psa.csv of sitewave-batch against an independent computation: each oscillator simulated by
scipy.signal.lsim (the state-space solution with the input linear between samples), the 180
rotated responses of the two horizontals formed with numpy, their peaks sorted for RotD50 and
RotD100.

    spectra_reference.py SITEWAVE_BATCH SOIL_FILE

Exit status 0 when every value agrees within 1e-6 (relative), 1 otherwise, 77 without scipy.
"""
import csv
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np

try:
    from scipy import signal
except ImportError:  # the check needs scipy
    sys.exit(77)


def record(path, n=1500, dt=0.01):
    t = np.arange(n) * dt
    env = t / 3.0 * np.exp(1.0 - t / 3.0)
    h1 = env * (np.sin(7.3 * t) + 0.6 * np.sin(23.1 * t + 1.0) + 0.3 * np.sin(2.9 * t))
    h2 = env * (np.sin(5.1 * t + 0.7) + 0.5 * np.sin(17.3 * t) + 0.4 * np.sin(1.9 * t + 2.0))
    v = 0.5 * env * np.sin(11.0 * t + 0.3)
    with open(path, "w") as f:
        f.write("t,H1,H2,V\n")
        for row in zip(t, h1, h2, v):
            f.write("%.2f,%.9g,%.9g,%.9g\n" % row)


def response(a, dt, period, zeta):
    """Relative displacement u of u'' + 2 zeta w u' + w^2 u = -a, from rest."""
    w = 2.0 * np.pi / period
    system = signal.StateSpace([[0.0, 1.0], [-w * w, -2.0 * zeta * w]], [[0.0], [-1.0]],
                               [[1.0, 0.0]], [[0.0]])
    t = np.arange(len(a)) * dt
    _, u, _ = signal.lsim(system, a, t, interp=True)
    return u, w * w


def rotd(u1, u2):
    theta = np.radians(np.arange(180.0))
    peaks = np.abs(np.outer(np.cos(theta), u1) + np.outer(np.sin(theta), u2)).max(axis=1)
    s = np.sort(peaks)
    return 0.5 * (s[89] + s[90]), s[-1]


def main():
    batch, soil = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="sitewave-spectra-")
    try:
        return check(batch, soil, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def check(batch, soil, work):
    rec = os.path.join(work, "rec.csv")
    record(rec)
    out = os.path.join(work, "out")
    subprocess.run([batch, "--soil", soil, "--spectra", "--rotd", "--damping", "0.02,0.05",
                    "--periods", "list:0.05,0.1,0.3,1,3", "--out", out, rec], check=True,
                   stdout=subprocess.DEVNULL)
    stem = os.path.splitext(os.path.basename(soil))[0]
    run = os.path.join(out, stem, "rec")
    with open(os.path.join(run, "psa.csv")) as f:
        rows = list(csv.reader(f))
    head, rows = rows[0], [[float(x) for x in r] for r in rows[1:]]
    motions = {}
    for side, name in (("input", "input.csv"), ("surface", "surface.csv")):
        with open(os.path.join(run, name)) as f:
            data = np.array([[float(x) for x in r] for r in list(csv.reader(f))[1:]])
        motions[side] = data[:, 1:4].astype(np.float32).astype(np.float64)
    dt = 0.01
    worst = 0.0
    for row in rows:
        period = row[0]
        for z in (0.02, 0.05):
            pct = "%g%%" % (z * 100)
            for side, m in motions.items():
                if period == 0.0:
                    u = [m[:, k] for k in range(3)]
                    scale = 1.0
                else:
                    u, scale = [], 1.0
                    for k in range(3):
                        uk, scale = response(m[:, k], dt, period, z)
                        u.append(uk)
                want = {"H1": scale * np.abs(u[0]).max(), "H2": scale * np.abs(u[1]).max(),
                        "V": scale * np.abs(u[2]).max()}
                r50, r100 = rotd(u[0], u[1])
                want["RotD50"], want["RotD100"] = scale * r50, scale * r100
                for comp, value in want.items():
                    got = row[head.index("%s %s %s" % (side, comp, pct))]
                    err = abs(got - value) / value
                    worst = max(worst, err)
                    if err > 1e-6:
                        print("%s %s %s T %g: psa.csv %.10g, reference %.10g" % (
                            side, comp, pct, period, got, value))
    print("largest relative difference %.2e" % worst)
    return 0 if worst <= 1e-6 else 1


if __name__ == "__main__":
    sys.exit(main())
