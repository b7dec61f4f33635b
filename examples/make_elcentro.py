#!/usr/bin/env python3
"""Builds examples/elcentro.csv from the PEER NGA records of the 1940 El Centro (array #9) motion.

Usage: make_elcentro.py DIR [OUT]

DIR holds the three .AT2 files (four header lines, the fourth with NPTS= and DT=, then the
samples, five to a line, in g). The record file gets a title line and one line per sample,
"time,h1,h2,v1", for the length common to the three components, with time (k - 1)*DT. The sample
values are copied as they are written in the source files.
"""

import re
import sys
from decimal import Decimal
from pathlib import Path

COMPONENTS = (
    "RSN6_IMPVALL.I_I-ELC180-hor1.AT2",  # H1: horizontal, 180 degrees
    "RSN6_IMPVALL.I_I-ELC270-hor2.AT2",  # H2: horizontal, 270 degrees
    "RSN6_IMPVALL.I_I-ELC-UP.AT2",  # V1: vertical, up
)
TITLES = "Time(s),H1(g),H2(g),V1(g)"


def read_at2(path):
    """Returns (dt as written, samples as written) of one .AT2 file."""
    lines = path.read_text().splitlines()
    m = re.search(r"NPTS=\s*(\d+)\s*,\s*DT=\s*([0-9.Ee+-]+)", lines[3])
    if not m:
        sys.exit(f"{path}: no NPTS/DT on header line 4")
    npts, dt = int(m.group(1)), m.group(2)
    values = [v for line in lines[4:] for v in line.split()]
    if len(values) != npts:
        sys.exit(f"{path}: NPTS={npts} but {len(values)} values")
    for v in values:
        float(v)  # each one must be a number
    return dt, values


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    src = Path(sys.argv[1])
    out = Path(sys.argv[2]) if len(sys.argv) == 3 else Path(__file__).with_name("elcentro.csv")
    records = [read_at2(src / name) for name in COMPONENTS]
    dts = {Decimal(dt) for dt, _ in records}
    if len(dts) != 1:
        sys.exit("the components have different time steps")
    dt = dts.pop()
    n = min(len(values) for _, values in records)
    places = max(0, -dt.normalize().as_tuple().exponent)  # ".0100" -> 2 decimals
    rows = [TITLES]
    for k in range(n):
        time = f"{dt * k:.{places}f}"
        rows.append(",".join([time] + [values[k] for _, values in records]))
    with open(out, "w", newline="\n") as f:
        f.write("\n".join(rows) + "\n")
    print(f"{out}: {n} samples, dt = {dt} s")


if __name__ == "__main__":
    main()
