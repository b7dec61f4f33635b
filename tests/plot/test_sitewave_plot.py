"""Tests of tools/sitewave-plot on small synthetic result folders.

Run from the repository root:  /usr/bin/python3 -m unittest discover -s tests/plot
The script is found beside this file (../../tools/sitewave-plot) or through SITEWAVE_PLOT.
"""

import csv
import math
import importlib.machinery
import importlib.util
import os
import subprocess
import sys
import tempfile
import unittest

import matplotlib

matplotlib.use("Agg")

import matplotlib.image as mpimg  # noqa: E402
import numpy as np  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.environ.get("SITEWAVE_PLOT") or os.path.join(HERE, "..", "..", "tools", "sitewave-plot")
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


# --- synthetic results -----------------------------------------------------------------------
# One soft layer over a stiffer half-space gives transfer functions with clear resonances; the
# input is enveloped filtered noise and the surface motion the input times the transfer function.

def layer_transfer(f, vs, thickness, ratio, zeta):
    k = 2 * np.pi * f / (vs * (1 + 1j * zeta))
    within = 1 / np.cos(k * thickness)  # surface over the top of the half-space
    outcrop = 1 / (np.cos(k * thickness) + 1j * ratio * np.sin(k * thickness))
    return 2 * outcrop, within  # surface over incident, surface over the top of the half-space


def synthetic_run(seed, n=1024, dt=0.01):
    rng = np.random.default_rng(seed)
    t = np.arange(n) * dt
    envelope = (t / 2.0) * np.exp(1 - t / 2.0)
    given = np.array([np.convolve(rng.normal(size=n), np.hanning(9), "same") * envelope * s
                      for s in (0.1, 0.08, 0.05)])
    f = np.fft.rfftfreq(n, dt)
    sh = layer_transfer(f, 180.0 + 20 * seed, 25.0, 0.3, 0.05)
    pv = layer_transfer(f, 600.0, 25.0, 0.4, 0.03)
    factors = (sh[0] / 2, pv[0] / 2)
    spec_in = np.fft.rfft(given, axis=1)
    spec_out = spec_in * np.array([factors[0], factors[0], factors[1]])
    surface = np.fft.irfft(spec_out, n, axis=1)
    return t, f, given, surface, sh, pv, factors, np.abs(spec_in) * dt, np.abs(spec_out) * dt


def psa_by_fft(a, dt, periods, zeta):
    """Steady-state periodic response of each oscillator, ample for a picture."""
    m = 4 * a.size
    w = 2 * np.pi * np.fft.rfftfreq(m, dt)
    fourier = np.fft.rfft(a, m)
    out = []
    for period in periods:
        if period <= 0:
            out.append(np.max(np.abs(a)))
            continue
        wn = 2 * np.pi / period
        u = np.fft.irfft(-fourier / (wn**2 - w**2 + 2j * zeta * wn * w), m)
        out.append(wn**2 * np.max(np.abs(u)))
    return np.array(out)


def write_tidy(path, header, columns):
    data = np.column_stack(columns)
    with open(path, "w", newline="\n") as f:
        f.write(",".join(header) + "\n")
        for row in data:
            f.write(",".join(f"{v:.6g}" for v in row) + "\n")


def write_run_folder(folder, seed=1, with_input=True, with_psa=True, dampings=("5%",),
                     psa_names="new", smoothed=False):
    os.makedirs(folder, exist_ok=True)
    t, f, given, surface, sh, pv, factors, amp_in, amp_out = synthetic_run(seed)
    names = ("H1 (g)", "H2 (g)", "V (g)")
    smooth = (lambda y: np.convolve(y, np.ones(9) / 9, "same")) if smoothed else None
    extra_names = ["smoothed factor H", "smoothed factor V"] if smoothed else []
    extra = [smooth(abs(factors[0])), smooth(abs(factors[1]))] if smoothed else []
    write_tidy(os.path.join(folder, "transfer.csv"),
               ["frequency (Hz)", "Samp1", "Samp2", "Pamp1", "Pamp2", "factor H", "factor V"]
               + extra_names,
               [f, abs(sh[0]), abs(sh[1]), abs(pv[0]), abs(pv[1]), abs(factors[0]),
                abs(factors[1])] + extra)
    sides = ("input", "surface") + (("smoothed input", "smoothed surface") if smoothed else ())
    spectra = [*amp_in, *amp_out] + ([smooth(a) for a in (*amp_in, *amp_out)] if smoothed else [])
    write_tidy(os.path.join(folder, "spectra.csv"),
               ["frequency (Hz)"] + [f"{side} {n}" for side in sides for n in names],
               [f, *spectra])
    write_tidy(os.path.join(folder, "surface.csv"),
               ["time (s)"] + [f"surface {n}" for n in names], [t, *surface])
    if with_input:
        write_tidy(os.path.join(folder, "input.csv"),
                   ["time (s)"] + [f"input {n}" for n in names], [t, *given])
    if with_psa:
        periods = np.concatenate([[0.0], np.geomspace(0.02, 5.0, 40)])
        header, columns = ["period (s)"], [periods]
        for d in dampings:
            zeta = float(d.rstrip("%")) / 100
            spectra = [psa_by_fft(x, 0.01, periods, zeta) for x in (*given, *surface)]
            if psa_names == "old":  # the titles of the first psa.csv files
                header += [f"{where} {c} PSA {d}" for where in ("input", "surface")
                           for c in ("H1", "H2", "V")] + [f"ratio H1 {d}", f"ratio H2 {d}"]
                columns += spectra + [spectra[3] / spectra[0], spectra[4] / spectra[1]]
            else:
                header += [f"{where} {c} {d}" for where in ("input", "surface", "ratio")
                           for c in ("H1", "H2", "V")]
                columns += spectra + [spectra[3 + k] / spectra[k] for k in range(3)]
        write_tidy(os.path.join(folder, "psa.csv"), header, columns)


def write_statistics(folder, groups):
    """statistics.csv of the batch folder from its runs' psa.csv, as sitewave-batch computes it:
    `groups` maps a profile folder to its run folders."""
    rows = []
    per_group = {}
    for g, runs in list(groups.items()) + [("all", [r for rs in groups.values() for r in rs])]:
        tables = [np.loadtxt(os.path.join(folder, r, "psa.csv"), delimiter=",", skiprows=1)
                  for r in runs]
        with open(os.path.join(folder, runs[0], "psa.csv")) as f:
            head = f.readline().strip().split(",")
        for quantity, side in (("surface psa", "surface"), ("rrs", "ratio")):
            for comp in ("H1", "H2", "V"):
                col = head.index(f"{side} {comp} 5%")
                x = np.array([t[:, col] for t in tables])
                mean = x.mean(axis=0)
                per_group[(g, quantity, comp)] = mean
                for i, period in enumerate(tables[0][:, 0]):
                    logs = np.log(x[:, i])
                    std = f"{np.std(logs, ddof=1)!r}" if x.shape[0] > 1 else ""
                    env = ""
                    if g == "all":
                        env = repr(max(per_group[(p, quantity, comp)][i] for p in groups))
                    rows.append([g, quantity, comp, "5%", repr(period), str(x.shape[0]),
                                 repr(mean[i]), repr(float(np.exp(logs.mean()))), std, env])
    with open(os.path.join(folder, "statistics.csv"), "w", newline="") as f:
        f.write("group,quantity,component,damping,period (s),n,mean,geometric mean,ln std,"
                "envelope\n")
        for r in rows:
            f.write(",".join(r) + "\n")


def write_batch_folder(folder, with_psa=True, with_statistics=False):
    os.makedirs(folder, exist_ok=True)
    rows = []
    # The batch's layout: <profile stem>/<record stem>, the profile column holding the file.
    plan = [("soft_clay", "elcentro"), ("soft_clay", "kobe"), ("soft_clay", "northridge"),
            ("rock_weathered", "elcentro"), ("rock_weathered", "kobe")]
    for i, (stem, record) in enumerate(plan):
        profile = f"profiles/{stem}.csv"
        run = f"{stem}/{record}"
        status = "failed" if (stem, record) == ("rock_weathered", "kobe") else "ok"
        if status == "ok":
            write_run_folder(os.path.join(folder, run), seed=i + 1, with_psa=with_psa)
        rows.append({"profile": profile, "record": record, "folder": run, "status": status,
                     "message": "" if status == "ok" else 'record "kobe": too long, refused'})
    with open(os.path.join(folder, "summary.csv"), "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=["profile", "record", "folder", "status", "message"])
        w.writeheader()
        w.writerows(rows)
    if with_statistics:
        groups = {}
        for r in rows:
            if r["status"] == "ok":
                groups.setdefault(r["folder"].split("/")[0], []).append(r["folder"])
        write_statistics(folder, groups)


def fortran_e(v):
    """Fortran E10.4 (0.1234E+01)."""
    if v == 0:
        return "  0.0000E+00"
    e = int(np.floor(np.log10(abs(v)))) + 1
    digits = round(abs(v) / 10.0**e * 1e4)
    if digits == 10000:  # 0.99996 rounds up to 0.1000E+01
        digits, e = 1000, e + 1
    return f"{'-' if v < 0 else ' '}0.{digits:04d}E{e:+03d}".rjust(12)


def write_dialogue_folder(folder, overflow_rows=(5, 17)):
    """The three files of the dialogue program, with rows of asterisks in amp1.csv."""
    os.makedirs(folder, exist_ok=True)
    t, f, _, surface, sh, pv, _, _, amp_out = synthetic_run(3)
    with open(os.path.join(folder, "Amp-Factors.csv"), "w") as out:
        out.write(" frequency (Hz),Samp1,Samp2,Pamp1,Pamp2\n")
        for i in range(f.size):
            vals = (abs(sh[0][i]), abs(sh[1][i]), abs(pv[0][i]), abs(pv[1][i]))
            out.write(f"{f[i]:8.4f}," + ",".join(fortran_e(v) for v in vals) + ",\n")
    with open(os.path.join(folder, "amp1.csv"), "w") as out:
        out.write(" frequency(Hz),H1(g)     ,H2(g)     \n")
        for i in range(1, f.size):
            if i in overflow_rows:
                out.write(f"{f[i]:8.4f},**********,  Infinity,\n")
            else:
                out.write(f"{f[i]:8.4f},{fortran_e(amp_out[0][i])},{fortran_e(amp_out[1][i])},\n")
    with open(os.path.join(folder, "wave1.csv"), "w") as out:
        out.write(" Time(s)   ,H1(g)     ,H2(g)     \n")
        for i in range(t.size):
            out.write(f"{t[i]:10.5f},{fortran_e(surface[0][i])},{fortran_e(surface[1][i])},\n")


def replace_cell(path, line, column, text):
    """Writes `text` into one cell of a comma-separated file (line 1 is the header)."""
    with open(path) as f:
        lines = f.read().split("\n")
    cells = lines[line - 1].split(",")
    cells[column] = text
    lines[line - 1] = ",".join(cells)
    with open(path, "w") as f:
        f.write("\n".join(lines))


def rename_run(batch, old, new):
    """Gives a run of a batch folder the name `new` (bytes: any, UTF-8 or not), in its folder
    and in summary.csv, as sitewave-batch writes the names it was given."""
    os.rename(os.path.join(os.fsencode(batch), old), os.path.join(os.fsencode(batch), new))
    summary = os.path.join(batch, "summary.csv")
    with open(summary, "rb") as f:
        text = f.read()
    with open(summary, "wb") as f:
        f.write(text.replace(old, new))


# --- tests -----------------------------------------------------------------------------------

def run_plot(*args):
    return subprocess.run([sys.executable, SCRIPT, *args], capture_output=True, text=True,
                          timeout=300)


def run_plot_bytes(*args):
    return subprocess.run([sys.executable, SCRIPT, *args], capture_output=True, timeout=300)


def load_plot_module():
    """The script as a module, to look into the figures it makes."""
    loader = importlib.machinery.SourceFileLoader("sitewave_plot", SCRIPT)
    spec = importlib.util.spec_from_loader("sitewave_plot", loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


class PlotTestCase(unittest.TestCase):
    """A scratch folder per test, and the check that an image was drawn."""

    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory()
        self.tmp = self._tmp.name

    def tearDown(self):
        self._tmp.cleanup()

    def assert_png(self, path):
        self.assertTrue(os.path.isfile(path), path)
        with open(path, "rb") as f:
            self.assertEqual(f.read(8), PNG_SIGNATURE)
        image = mpimg.imread(path)
        self.assertGreater(image.shape[0], 100)
        self.assertGreater(image.shape[1], 100)
        # Something is drawn: not a blank page.
        self.assertGreater(float(np.std(image[..., :3])), 0.01)


class SitewavePlotTest(PlotTestCase):

    def test_fortran_numbers(self):
        # The reader's number rule, through the public path: a dialogue file whose rows use each
        # Fortran form, with the rows that must be refused counted.
        folder = os.path.join(self.tmp, "forms")
        os.makedirs(folder)
        rows = [("0.1000E+01", True), ("0.1000D+01", True), ("0.1000+100", True),
                ("-.5000E-02", True), ("**********", False), ("Infinity", False),
                ("NaN", False), ("", False), ("-Infinity", False)]
        with open(os.path.join(folder, "amp1.csv"), "w") as f:
            f.write(" frequency(Hz),H1(g)     ,H2(g)     \n")
            for i, (text, _) in enumerate(rows):
                f.write(f"{i + 1:8.4f},{text:>12},  0.1000E+01,\n")
        result = run_plot(folder)
        refused = sum(1 for _, ok in rows if not ok)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(f"amp1.csv: {refused} rows skipped (unreadable values)", result.stderr)

    def test_dialogue_folder_with_overflow_marks(self):
        folder = os.path.join(self.tmp, "dialogue")
        write_dialogue_folder(folder, overflow_rows=(5, 17, 40))
        result = run_plot(folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("sitewave-plot: amp1.csv: 3 rows skipped (unreadable values)", result.stderr)
        self.assertNotIn("wave1.csv", result.stderr)
        self.assert_png(os.path.join(folder, "sitewave.png"))

    def test_dialogue_subset_and_other_formats(self):
        folder = os.path.join(self.tmp, "dialogue")
        write_dialogue_folder(folder, overflow_rows=())
        os.remove(os.path.join(folder, "Amp-Factors.csv"))
        out = os.path.join(self.tmp, "images")
        for fmt, magic in (("svg", b"<?xml"), ("pdf", b"%PDF")):
            result = run_plot(folder, "--format", fmt, "--out", out)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(os.path.join(out, f"sitewave.{fmt}"), "rb") as f:
                self.assertEqual(f.read(len(magic)), magic)
        self.assertFalse(os.path.exists(os.path.join(folder, "sitewave.svg")))

    def test_run_folder_with_and_without_optional_files(self):
        cases = [
            {"with_input": True, "with_psa": True, "dampings": ("5%", "2.5%")},
            {"with_input": True, "with_psa": True, "psa_names": "old"},
            {"with_input": True, "with_psa": True, "smoothed": True},
            {"with_input": False, "with_psa": False},
        ]
        for i, case in enumerate(cases):
            with self.subTest(**case):
                folder = os.path.join(self.tmp, f"run{i}")
                write_run_folder(folder, **case)
                result = run_plot(folder)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assert_png(os.path.join(folder, "sitewave.png"))

    def test_batch_folder(self):
        folder = os.path.join(self.tmp, "batch")
        write_batch_folder(folder)
        result = run_plot(folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        # One image per profile, named after it; the quoted name with a comma is one profile.
        self.assertEqual(sorted(p for p in os.listdir(folder) if p.endswith(".png")),
                         ["psa-rock_weathered.png", "psa-soft_clay.png"])
        for name in ("psa-soft_clay.png", "psa-rock_weathered.png"):
            self.assert_png(os.path.join(folder, name))

    def test_variation_folder(self):
        # A suite with realizations: variation.png from statistics.csv (the rrs rows, or the
        # transfer rows without spectra) and profile-statistics.csv; a value that is not finite
        # is an error naming the file and the line.
        folder = os.path.join(self.tmp, "variation")
        os.makedirs(folder)
        head = ("group,quantity,component,damping,period (s),n,mean,geometric mean,ln std,"
                "envelope,median,p16,p84,frequency (Hz)\n")
        rows = []
        for k, t in enumerate(np.geomspace(0.01, 10, 30)):
            m = 1.0 + math.exp(-((math.log(t) - math.log(0.5)) ** 2))
            rows.append(f"all,rrs,H1,5%,{t},20,{m},{m},0.2,,{m},{m * 0.8},{m * 1.25},")
        for f in np.geomspace(0.1, 25, 20):
            rows.append(f"all,transfer,H1,,,20,2,2,0.1,,2,1.8,2.2,{f}")
        with open(os.path.join(folder, "statistics.csv"), "w") as f:
            f.write(head + "\n".join(rows) + "\n")
        prof = ["group,quantity,depth (m),n,mean,geometric mean,ln std,median,p16,p84"]
        for z in np.linspace(0, 30, 31):
            vs = 150 + 10 * z
            prof.append(f"all,vs,{z},20,{vs},{vs},0.3,{vs},{vs * 0.75},{vs * 1.3}")
        with open(os.path.join(folder, "profile-statistics.csv"), "w") as f:
            f.write("\n".join(prof) + "\n")
        with open(os.path.join(folder, "realizations.csv"), "w") as f:
            f.write("profile,realization,layer,depth (m),thickness (m),vs (m/s),soil,"
                    "modulus deviate,damping deviate\n")
        result = run_plot(folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_png(os.path.join(folder, "variation.png"))
        replace_cell(os.path.join(folder, "profile-statistics.csv"), 3, 7, "inf")
        self.assert_one_line_error(run_plot(folder),
                                   "profile-statistics.csv: line 3: 'inf' is not a finite number")

    def test_batch_folder_with_statistics(self):
        # rrs.png besides the profiles' figures; the figures read statistics.csv: a value in it
        # that is not finite is an error naming it, with or without rrs.png.
        folder = os.path.join(self.tmp, "batch")
        write_batch_folder(folder, with_statistics=True)
        result = run_plot(folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(p for p in os.listdir(folder) if p.endswith(".png")),
                         ["psa-rock_weathered.png", "psa-soft_clay.png", "rrs.png"])
        for name in ("psa-soft_clay.png", "rrs.png"):
            self.assert_png(os.path.join(folder, name))
        replace_cell(os.path.join(folder, "statistics.csv"), 5, 6, "nan")
        self.assert_one_line_error(run_plot(folder),
                                   "statistics.csv: line 5: 'nan' is not a finite number")

    def test_rrs_figure_components_and_envelope(self):
        # RotD50 alone when the statistics have it, else H1 and H2; each profile's mean and the
        # envelope of "all", at the first damping ratio.
        plot = load_plot_module()
        period = np.array([0.0, 0.1, 1.0])

        def series(mean, envelope=np.nan):
            return {"period": period, "n": np.full(3, 2.0), "mean": np.array(mean),
                    "geometric mean": np.array(mean), "ln std": np.zeros(3),
                    "envelope": np.full(3, envelope) if np.isscalar(envelope) else
                    np.array(envelope)}

        base = {("a", "rrs", "H1", "2%"): series([1, 2, 3]),
                ("a", "rrs", "H1", "5%"): series([1, 1.5, 2]),
                ("a", "rrs", "H2", "2%"): series([1, 2, 2]),
                ("b", "rrs", "H1", "2%"): series([1, 3, 1]),
                ("b", "rrs", "H2", "2%"): series([1, 1, 1]),
                ("all", "rrs", "H1", "2%"): series([1, 2.5, 2], [1, 3, 3]),
                ("all", "rrs", "H2", "2%"): series([1, 1.5, 1.5], [1, 2, 2])}
        rotd = dict(base)
        rotd[("a", "rrs", "RotD50", "2%")] = series([1, 2, 2])
        rotd[("all", "rrs", "RotD50", "2%")] = series([1, 2, 2], [1, 2, 2])
        figures = []
        plot.save = lambda fig, path, fmt, **kw: figures.append(fig)
        for stats, titles in ((base, ["RRS H1, 2% damping", "RRS H2, 2% damping"]),
                              (rotd, ["RRS RotD50, 2% damping"])):
            with self.subTest(titles=titles):
                figures.clear()
                self.assertTrue(plot.draw_rrs(stats, ["a", "b"], "x.png", "png"))
                axes = figures[0].get_axes()
                self.assertEqual([ax.get_title(loc="left") for ax in axes], titles)
                lines = axes[0].get_lines()
                labels = [ln.get_label() for ln in lines]
                self.assertIn("envelope of the profiles' means", labels)
                envelope = lines[labels.index("envelope of the profiles' means")]
                np.testing.assert_array_equal(envelope.get_xdata(), [0.1, 1.0])  # T > 0
                np.testing.assert_array_equal(envelope.get_ydata(),
                                              stats[("all", "rrs", titles[0].split()[1].rstrip(","), "2%")]
                                              ["envelope"][1:])
                self.assertEqual(sum(lab.endswith("(n = 2)") for lab in labels),
                                 2 if len(titles) == 2 else 1)
        self.assertFalse(plot.draw_rrs({("a", "surface psa", "H1", "5%"): series([1, 1, 1])},
                                       ["a"], "x.png", "png"))

    def test_input_spectra_and_units_on_the_spectrum_figures(self):
        plot = load_plot_module()
        # The Fourier amplitude axis: the record's unit times seconds.
        self.assertEqual(plot.fourier_label(["frequency (Hz)", "input H1(g)", "input H2(g)"]),
                         "Fourier amplitude (g\u00b7s)")
        self.assertEqual(plot.fourier_label(["frequency(Hz)", "H1 (m/s2)"]),
                         "Fourier amplitude (m/s2\u00b7s)")
        self.assertEqual(plot.fourier_label(["frequency (Hz)", "input H1", "surface H1"]),
                         "Fourier amplitude (record unit \u00b7 s)")
        # A profile's figure shows each record's input PSA too.
        folder = os.path.join(self.tmp, "batch")
        write_batch_folder(folder, with_statistics=True)
        figures = []
        plot.save = lambda fig, path, fmt, **kw: figures.append(fig)
        plot.plot_batch(folder, folder, "png")
        labels = [ln.get_label() for ln in figures[0].get_axes()[0].get_lines()]
        self.assertIn("input, each record", labels)
        self.assertIn("surface, geometric mean", labels)
        # The mean ratio is statistics.csv's: its RRS line is drawn from it.
        ratio_labels = [ln.get_label() for ln in figures[0].get_axes()[2].get_lines()]
        self.assertIn("ratio H1: mean (RRS)", ratio_labels)

    def test_batch_folder_without_spectra(self):
        folder = os.path.join(self.tmp, "batch")
        write_batch_folder(folder, with_psa=False)
        result = run_plot(folder)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("--spectra", result.stderr)
        self.assertFalse([p for p in os.listdir(folder) if p.endswith(".png")])

    def test_refusals(self):
        def empty(folder):
            os.makedirs(folder)
            with open(os.path.join(folder, "notes.txt"), "w") as f:
                f.write("nothing to draw\n")

        def heading_only(folder):
            os.makedirs(folder)
            with open(os.path.join(folder, "wave1.csv"), "w") as f:
                f.write(" Time(s)   ,H1(g)     ,H2(g)     \n   0.00000,**********,  NaN,\n")

        def ragged(folder):
            write_run_folder(folder, with_psa=False)
            with open(os.path.join(folder, "surface.csv"), "a") as f:
                f.write("99.0,1.0,2.0\n")

        def bad_psa_width(folder):
            write_run_folder(folder, with_psa=False)
            write_tidy(os.path.join(folder, "psa.csv"), ["period (s)", "a", "b"],
                       [np.array([0.1, 0.2])] * 3)

        cases = [
            ("missing", None, "no such folder"),
            ("empty", empty, "no result files"),
            ("heading_only", heading_only, "no readable numeric rows"),
            ("ragged", ragged, "surface.csv: line"),
            ("bad_psa_width", bad_psa_width, "psa.csv"),
        ]
        for name, make, message in cases:
            with self.subTest(name):
                folder = os.path.join(self.tmp, name)
                if make:
                    make(folder)
                result = run_plot(folder)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertTrue(result.stderr.startswith("sitewave-plot: error: "), result.stderr)

    def assert_one_line_error(self, result, *names):
        """Status 1 and one line 'sitewave-plot: error: ...' naming each of `names`."""
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertNotIn("Traceback", result.stderr)
        self.assertTrue(result.stderr.startswith("sitewave-plot: error: "), result.stderr)
        self.assertEqual(result.stderr.count("\n"), 1, result.stderr)
        for name in names:
            self.assertIn(name, result.stderr)

    def test_names_that_are_not_utf8(self):
        # sitewave-batch names runs after the files it was given, in whatever bytes they have:
        # such a run is read and drawn, its name shown as Latin-1.
        cases = [
            ("record", b"soft_clay/kobe", b"soft_clay/k\xe9be", ["psa-soft_clay.png"]),
            ("profile", b"rock_weathered", b"r\xf6ck", ["psa-r_ck.png", "psa-soft_clay.png"]),
            ("both", b"soft_clay", b"soft\xa0clay", ["psa-soft_clay.png"]),
        ]
        for what, old, new, images in cases:
            with self.subTest(what):
                folder = os.path.join(self.tmp, what)
                write_batch_folder(folder)
                rename_run(folder, old, new)
                result = run_plot_bytes(folder)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertNotIn(b"Traceback", result.stderr)
                for name in images:
                    self.assert_png(os.path.join(folder, name))
        # A run folder whose own path is not UTF-8: its image path is printed as its bytes.
        folder = os.path.join(os.fsencode(self.tmp), b"r\xe9c")
        write_run_folder(os.fsdecode(folder), with_psa=False)
        result = run_plot_bytes(folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, os.path.join(folder, b"sitewave.png") + b"\n")

    def test_non_finite_values_are_named_errors(self):
        # Each file of a run with an infinite or NaN value: one line naming the file, the line
        # and the value, status 1, no image.
        cases = [("transfer.csv", "inf"), ("spectra.csv", "nan"), ("surface.csv", "-inf"),
                 ("input.csv", "Infinity"), ("psa.csv", "NaN"), ("psa.csv", "1e999")]
        for filename, text in cases:
            with self.subTest(file=filename, value=text):
                folder = os.path.join(self.tmp, f"{filename}-{text}")
                write_run_folder(folder)
                replace_cell(os.path.join(folder, filename), 4, 2, text)
                result = run_plot(folder)
                self.assert_one_line_error(
                    result, f"{filename}: line 4: '{text}' is not a finite number")
                self.assertFalse(os.path.exists(os.path.join(folder, "sitewave.png")))
        # In a batch folder, the run is named too.
        folder = os.path.join(self.tmp, "batch")
        write_batch_folder(folder)
        replace_cell(os.path.join(folder, "soft_clay", "kobe", "psa.csv"), 7, 4, "nan")
        self.assert_one_line_error(
            run_plot(folder), "soft_clay/kobe/psa.csv: line 7: 'nan' is not a finite number")

    def test_data_that_cannot_be_drawn(self):
        # Finite values too large to lay out an axis: one line naming the file, not a traceback;
        # and a summary the csv module refuses.
        def huge_frequency(folder):
            write_run_folder(folder, with_psa=False)
            replace_cell(os.path.join(folder, "transfer.csv"), 3, 0, "1e308")
            return "transfer.csv: cannot be drawn"

        def huge_spectrum(folder):
            write_run_folder(folder, with_psa=False)
            replace_cell(os.path.join(folder, "spectra.csv"), 5, 1, "1e308")
            return "spectra.csv: cannot be drawn"

        def bad_summary(folder):
            write_batch_folder(folder)
            with open(os.path.join(folder, "summary.csv"), "a") as f:
                f.write('"' + "x" * 200000 + '"\n')  # a field beyond the csv module's limit
            return "summary.csv: "

        for make in (huge_frequency, huge_spectrum, bad_summary):
            with self.subTest(make.__name__):
                folder = os.path.join(self.tmp, make.__name__)
                message = make(folder)
                self.assert_one_line_error(run_plot(folder), message)


if __name__ == "__main__":
    unittest.main()
