"""The Python package's tests: the built package on PYTHONPATH (CTest sets it), sitewave-batch's
path in SITEWAVE_BATCH and the examples' folder in SITEWAVE_EXAMPLES."""
import csv
import os
import pathlib
import subprocess

import numpy as np
import pytest

EXAMPLES = pathlib.Path(os.environ.get("SITEWAVE_EXAMPLES",
                                       pathlib.Path(__file__).resolve().parents[2] / "examples"))
AT2 = [str(EXAMPLES / "at2" / n) for n in ("RSN6_IMPVALL.I_I-ELC180-hor1.AT2",
                                           "RSN6_IMPVALL.I_I-ELC270-hor2.AT2",
                                           "RSN6_IMPVALL.I_I-ELC-UP.AT2")]


def batch_exe():
    exe = os.environ.get("SITEWAVE_BATCH")
    if not exe:
        pytest.skip("SITEWAVE_BATCH is not set")
    return exe


def run_batch(out, *args):
    """sitewave-batch with `args` into the folder `out`; its run folders."""
    p = subprocess.run([batch_exe(), *map(str, args), "--out", str(out)], capture_output=True,
                       text=True)
    assert p.returncode == 0, p.stderr
    return out


def read_table(path):
    """A tidy CSV file: its header and its rows of cells (text)."""
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    return rows[0], rows[1:]


def column(path, name, dtype=np.float32):
    """The column `name` of a tidy file, each cell read back to the value it was written from
    (the shortest decimal of a float32 or a float64 reads back exactly)."""
    head, rows = read_table(path)
    k = head.index(name)
    return np.array([dtype(r[k]) for r in rows], dtype=dtype)


def assert_bits(actual, expected, what=""):
    """Equal bit for bit; the first differing entry named otherwise."""
    actual = np.ascontiguousarray(actual)
    expected = np.ascontiguousarray(np.asarray(expected).astype(actual.dtype))
    assert actual.shape == expected.shape, (what, actual.shape, expected.shape)
    a = actual.reshape(-1).view(np.uint8).reshape(actual.size, -1)
    b = expected.reshape(-1).view(np.uint8).reshape(expected.size, -1)
    differ = (a != b).any(axis=1) if actual.size else np.zeros(0, bool)
    if differ.any():
        bad = np.flatnonzero(differ)
        i = bad[0]
        raise AssertionError("%s: %d values differ, first at %d: %r != %r"
                             % (what, bad.size, i, actual.reshape(-1)[i],
                                expected.reshape(-1)[i]))
