"""A small suite run by sitewave-batch, checked against numpy and hashlib.

    /usr/bin/python3 suite_check.py SITEWAVE_BATCH EXAMPLES_DIR

- statistics.csv: every row's n, mean, geometric mean, ln std (ddof 1) and envelope recomputed
  from the runs' psa.csv files (failed runs left out);
- --smooth: the smoothed columns of spectra.csv and transfer.csv against the Konno-Ohmachi sums
  over every frequency, from the columns as written;
- run.json: valid UTF-8 JSON, the command line as given, each input's size and SHA-256, the runs'
  outcomes, a name that is not UTF-8 written as its text and its bytes;
- --force replaces statistics.csv and run.json that are links, never what they point to.
"""

import csv
import hashlib
import json
import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np

BATCH = EXAMPLES = None


def write_record(path, t, comps):
    with open(path, "w") as f:
        f.write("Time(s),H1(g),H2(g),V1(g)\n")
        for i in range(t.size):
            f.write(f"{t[i]:.2f},{comps[0][i]:.7e},{comps[1][i]:.7e},{comps[2][i]:.7e}\n")


def read_table(path):
    with open(path, newline="", encoding="utf-8", errors="surrogateescape") as f:
        rows = list(csv.reader(f))
    return rows[0], rows[1:]


def ko_full(values, b):
    """Konno-Ohmachi over every positive frequency of an even grid (index = frequency)."""
    n = values.size
    out = values.copy()
    j = np.arange(1, n, dtype=float)
    for k in range(1, n):
        with np.errstate(divide="ignore", invalid="ignore"):
            x = b * np.log10(j / k)
            w = (np.sin(x) / x) ** 4
        w[k - 1] = 1.0
        out[k] = np.sum(w * values[1:]) / np.sum(w)
    return out


class SuiteCheck(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls._tmp = tempfile.TemporaryDirectory()
        tmp = cls.tmp = cls._tmp.name
        data = np.loadtxt(os.path.join(EXAMPLES, "elcentro.csv"), delimiter=",", skiprows=1)
        t, a = data[:2000, 0], data[:2000, 1:].T
        # Three records that differ in shape, not only in scale.
        recs = {
            "one.csv": a,
            "two.csv": a * (1.0 + 0.6 * np.sin(2 * np.pi * t / 5.0)),
            "three.csv": np.array([a[1] * 0.8, a[0] * 1.3, a[2][::-1]]),
        }
        for name, comps in recs.items():
            write_record(os.path.join(tmp, name), t, comps)
        # A record whose name is not UTF-8.
        os.rename(os.path.join(tmp, "three.csv"), os.path.join(os.fsencode(tmp), b"thr\xe9e.csv"))
        cls.out = os.path.join(tmp, "b")
        profiles = [os.path.join(EXAMPLES, "profiles", p) for p in ("lower.csv", "best.csv")]
        cls.argv = [BATCH]
        for p in profiles:
            cls.argv += ["--soil", p]
        cls.argv += ["--input", "outcrop", "--spectra", "--damping", "0.02,0.05", "--periods",
                     "0.05,2,9", "--smooth", "ko:30", "--jobs", "2", "--out", cls.out,
                     os.path.join(tmp, "one.csv"), os.path.join(tmp, "two.csv"),
                     os.fsdecode(os.path.join(os.fsencode(tmp), b"thr\xe9e.csv")),
                     os.path.join(tmp, "missing.csv")]
        cls.result = subprocess.run(cls.argv, capture_output=True, timeout=600)

    @classmethod
    def tearDownClass(cls):
        cls._tmp.cleanup()

    def test_the_batch_ran(self):
        # The missing record fails on both profiles; status 1.
        self.assertEqual(self.result.returncode, 1, self.result.stderr)
        self.assertEqual(self.result.stdout.count(b"\nfailed ") + self.result.stdout.startswith(
            b"failed "), 2, self.result.stdout)

    def psa_tables(self):
        _, rows = read_table(os.path.join(self.out, "summary.csv"))
        tables = {}
        for r in rows:
            profile_dir, status = r[2].split("/")[0], r[3]
            if status != "ok":
                continue
            head, body = read_table(os.path.join(self.out, r[2], "psa.csv"))
            tables.setdefault(profile_dir, []).append((head, np.array(body, dtype=float)))
        return tables

    def test_statistics_against_numpy(self):
        tables = self.psa_tables()
        self.assertEqual(sorted(tables), ["best", "lower"])
        self.assertEqual([len(v) for v in tables.values()], [3, 3])
        head, rows = read_table(os.path.join(self.out, "statistics.csv"))
        self.assertEqual(head, ["group", "quantity", "component", "damping", "period (s)", "n",
                                "mean", "geometric mean", "ln std", "envelope"])
        seen = set()
        for r in rows:
            group, quantity, comp, damping, period = r[:5]
            side = "surface" if quantity == "surface psa" else "ratio"
            groups = list(tables) if group == "all" else [group]
            values, means = [], []
            for g in groups:
                vs = []
                for h, data in tables[g]:
                    names = [f"{side} {comp} {damping}", f"{side} {comp} PSA {damping}"]
                    col = next(h.index(n) for n in names if n in h)
                    row = np.flatnonzero(data[:, 0] == float(period))
                    self.assertEqual(row.size, 1, r)
                    vs.append(data[row[0], col])
                values += vs
                means.append(np.mean(vs))
            x = np.array(values)
            self.assertEqual(int(r[5]), x.size, r)
            np.testing.assert_allclose(float(r[6]), np.mean(x), rtol=1e-13, err_msg=str(r))
            np.testing.assert_allclose(float(r[7]), np.exp(np.mean(np.log(x))), rtol=1e-12,
                                       err_msg=str(r))
            np.testing.assert_allclose(float(r[8]), np.std(np.log(x), ddof=1), rtol=1e-9,
                                       atol=1e-14, err_msg=str(r))
            if group == "all":
                np.testing.assert_allclose(float(r[9]), max(means), rtol=1e-13, err_msg=str(r))
            else:
                self.assertEqual(r[9], "", r)
            seen.add((group, quantity, comp, damping))
        # Every group, quantity, component present in psa.csv, and damping has its rows.
        comps = {"H1", "H2", "V", "RotD50"}
        h = tables["best"][0][0]
        expected = set()
        for g in ("lower", "best", "all"):
            for name in h[1:]:
                w = name.replace(" PSA ", " ").split()
                if w[0] in ("surface", "ratio") and w[1] in comps:
                    expected.add((g, "surface psa" if w[0] == "surface" else "rrs", w[1], w[2]))
        self.assertEqual(seen, expected)
        self.assertEqual(len(rows), len(expected) * tables["best"][0][1].shape[0])

    def test_smoothed_columns_against_the_full_sums(self):
        run = os.path.join(self.out, "best", "two")
        head, body = read_table(os.path.join(run, "spectra.csv"))
        data = np.array(body, dtype=float)
        for name in ("input H2 (g·s)", "surface H1 (g·s)", "surface V (g·s)"):
            raw = data[:, head.index(name)]
            got = data[:, head.index("smoothed " + name)]
            want = ko_full(raw, 30.0)
            np.testing.assert_allclose(got, want, rtol=2e-6, atol=1e-30, err_msg=name)
        head, body = read_table(os.path.join(run, "transfer.csv"))
        data = np.array(body, dtype=float)
        for name in ("factor H", "factor V"):
            got = data[:, head.index("smoothed " + name)]
            want = ko_full(data[:, head.index(name)], 30.0)
            np.testing.assert_allclose(got, want, rtol=2e-6, err_msg=name)

    def test_run_record(self):
        with open(os.path.join(self.out, "run.json"), "rb") as f:
            raw = f.read()
        doc = json.loads(raw.decode("utf-8"))  # strict: valid UTF-8
        self.assertEqual(doc["program"], "sitewave-batch")
        self.assertEqual(doc["status"], "complete")
        self.assertEqual(doc["counts"], {"runs": 8, "ok": 6, "failed": 2, "interrupted": 0})
        # The command line as given; the name that is not UTF-8 as its text and bytes.
        line = doc["command line"]
        self.assertEqual(len(line), len(self.argv))
        for given, written in zip(self.argv, line):
            b = os.fsencode(given)
            if isinstance(written, dict):
                self.assertEqual(bytes.fromhex(written["bytes"]), b)
                self.assertEqual(written["text"], b.decode("utf-8", "replace"))
            else:
                self.assertEqual(written.encode("utf-8"), b)
        self.assertEqual(doc["options"]["smooth"], {"method": "konno-ohmachi", "bandwidth": 30.0})
        self.assertEqual(doc["options"]["damping"], [0.02, 0.05])
        self.assertEqual(doc["options"]["jobs"], 2)
        # The response-spectrum options after their defaults.
        self.assertEqual((doc["options"]["rotd"], doc["options"]["units"], doc["options"]["pad"]),
                         (False, "g", "auto"))
        roles = {}
        for entry in doc["inputs"]:
            p = entry["path"]
            path = bytes.fromhex(p["bytes"]) if isinstance(p, dict) else os.fsencode(p)
            roles.setdefault(entry["role"], []).append(path)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    content = f.read()
                self.assertEqual(entry["size"], len(content))
                self.assertEqual(entry["sha256"], hashlib.sha256(content).hexdigest())
            else:
                self.assertEqual(entry["error"], "missing")
        self.assertEqual(len(roles["profile"]), 2)
        self.assertEqual(len(roles["record"]), 4)
        statuses = [r["status"] for r in doc["runs"]]
        self.assertEqual(statuses.count("failed"), 2)
        self.assertEqual([r["folder"] for r in doc["runs"]][:2], ["lower/one", "lower/two"])

    def test_force_replaces_links_not_their_targets(self):
        out = os.path.join(self.tmp, "forced")
        os.makedirs(out)
        keep = os.path.join(self.tmp, "keep.txt")
        with open(keep, "w") as f:
            f.write("mine\n")
        for own in ("statistics.csv", "run.json", "summary.csv"):
            os.symlink(keep, os.path.join(out, own))
        argv = [BATCH, "--soil", os.path.join(EXAMPLES, "profiles", "best.csv"), "--spectra",
                "--periods", "0.1,1,2", "--out", out, os.path.join(self.tmp, "one.csv")]
        refused = subprocess.run(argv, capture_output=True, timeout=600)
        self.assertEqual(refused.returncode, 2, refused.stderr)
        # An input that --force would replace: refused before anything is touched.
        for own in ("statistics.csv", "run.json"):
            other = os.path.join(self.tmp, "given-" + own)
            os.makedirs(other)
            own_path = os.path.join(other, own)
            with open(own_path, "w") as f:
                f.write("mine\n")
            given = subprocess.run(argv[:-2] + [other, argv[-1], "--force", own_path],
                                   capture_output=True, timeout=600)
            self.assertEqual(given.returncode, 2, given.stderr)
            self.assertIn(f"--force would replace {own_path}, given as input {own_path}\n"
                          .encode(), given.stderr)
            self.assertEqual(os.listdir(other), [own])
        done = subprocess.run(argv + ["--force"], capture_output=True, timeout=600)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(keep) as f:
            self.assertEqual(f.read(), "mine\n")
        for own in ("statistics.csv", "run.json", "summary.csv"):
            self.assertFalse(os.path.islink(os.path.join(out, own)), own)
        # One record: n 1, no ln std; the rows of "all" carry the envelope.
        _, rows = read_table(os.path.join(out, "statistics.csv"))
        self.assertTrue(all(r[5] == "1" and r[8] == "" for r in rows))
        self.assertTrue(all((r[9] != "") == (r[0] == "all") for r in rows))


if __name__ == "__main__":
    BATCH, EXAMPLES = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
