"""Tests of sitewave-plot's figures of equivalent-linear runs (profile.csv)."""

import csv
import os
import subprocess
import sys
import unittest

import matplotlib

matplotlib.use("Agg")

import numpy as np  # noqa: E402

from test_sitewave_plot import (  # noqa: E402
    SCRIPT, PlotTestCase, load_plot_module, write_batch_folder)

# The titles sitewave-batch writes.
HEADER = ["component", "sublayer", "layer", "soil", "top (m)", "bottom (m)", "Vs initial (m/s)",
          "Vs final (m/s)", "G/Gmax", "damping (%)", "effective strain (%)", "max strain (%)",
          "max shear stress (kPa)", "vertical effective stress (kPa)", "stress ratio", "clamped"]


def write_profile(path, seed=0, sublayers=6, extra=()):
    """A soft clay over a sand, softer with depth as strong motion would leave it. `extra` adds
    (title, values per sublayer) columns at the end."""
    rng = np.random.default_rng(seed)
    edges = np.linspace(0.0, 24.0, sublayers + 1)
    header = HEADER + [title for title, _ in extra]
    lines = [",".join(header)]
    for c, component in enumerate(("H1", "H2")):
        for i in range(sublayers):
            vs0 = 150.0 + 15 * i
            g = 0.8 - 0.07 * i - 0.02 * c + 0.01 * rng.random()
            strain = 0.01 * (1 + i) * (1 + 0.1 * seed)
            stress = 10.0 * (i + 1)
            cells = [component, str(i + 1), str(1 + i // 3), "clay, soft" if i < 3 else "sand",
                     f"{edges[i]:g}", f"{edges[i + 1]:g}", f"{vs0:g}", f"{vs0 * g ** 0.5:.6g}",
                     f"{g:.6g}", f"{2 + 10 * (1 - g):.6g}", f"{strain:.6g}",
                     f"{strain / 0.65:.6g}", f"{stress:g}", f"{18 * (i + 0.5) * 4:g}",
                     f"{stress / (18 * (i + 0.5) * 4):.6g}", "no" if i else "yes"]
            cells = [f'"{x}"' if "," in x else x for x in cells]
            cells += [f"{values[i]:g}" for _, values in extra]
            lines.append(",".join(cells))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="") as f:
        f.write("\n".join(lines) + "\n")


def run_plot(*args):
    return subprocess.run([sys.executable, SCRIPT, *args], capture_output=True, text=True,
                          timeout=300)


class ProfilePlotTest(PlotTestCase):
    def test_run_folder_profile(self):
        # profile.csv alone is enough for the figure; beside a run's files it is drawn as well.
        folder = os.path.join(self.tmp, "run")
        write_profile(os.path.join(folder, "profile.csv"))
        result = run_plot(folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), os.path.join(folder, "profile.png"))
        self.assert_png(os.path.join(folder, "profile.png"))

    def test_panels_and_steps(self):
        plot = load_plot_module()
        path = os.path.join(self.tmp, "p", "profile.csv")
        write_profile(path, sublayers=4,
                      extra=[("peak acceleration (g)", [0.4, 0.35, 0.3, 0.25])])
        profile = plot.read_profile(path)
        figures = []
        plot.save = lambda fig, path, fmt, **kw: figures.append(fig)
        plot.plot_profile_run(os.path.dirname(path), profile, self.tmp, "png")
        axes = figures[0].get_axes()
        self.assertEqual([ax.get_xlabel() for ax in axes][1:],
                         ["G/Gmax", "damping (%)", "effective strain (%)",
                          "peak acceleration (g)", "stress ratio"])
        self.assertEqual(axes[3].get_xscale(), "log")
        self.assertTrue(axes[0].yaxis_inverted())  # depth downwards
        # Vs: H1 and H2, each initial (dashed) and final (solid), as steps over the sublayers.
        vs = axes[0].get_lines()
        self.assertEqual([ln.get_linestyle() for ln in vs], ["--", "-", "--", "-"])
        np.testing.assert_allclose(vs[0].get_ydata(), [0, 6, 6, 12, 12, 18, 18, 24])
        np.testing.assert_allclose(vs[0].get_xdata(), [150, 150, 165, 165, 180, 180, 195, 195])
        np.testing.assert_allclose(axes[4].get_lines()[0].get_xdata()[::2],
                                   [0.4, 0.35, 0.3, 0.25])

    def test_mean_over_other_sublayers(self):
        plot = load_plot_module()
        a = {"top (m)": np.array([0.0, 10.0]), "bottom (m)": np.array([10.0, 20.0]),
             "G/Gmax": np.array([0.8, 0.6])}
        b = {"top (m)": np.array([0.0, 5.0]), "bottom (m)": np.array([5.0, 10.0]),
             "G/Gmax": np.array([0.4, 0.2])}
        top, bottom = plot.common_layers([a, b])
        np.testing.assert_allclose(top, [0, 5, 10])
        np.testing.assert_allclose(bottom, [5, 10, 20])
        np.testing.assert_allclose(plot.on_layers(b, "G/Gmax", top, bottom), [0.4, 0.2, np.nan])
        np.testing.assert_allclose(plot.on_layers(a, "G/Gmax", top, bottom), [0.8, 0.8, 0.6])

    def test_batch_folder_profiles(self):
        # Two runs of soft_clay (and one of rock_weathered) with profile.csv: a profile figure
        # per profile beside the spectra's; without psa.csv the profiles are still drawn.
        for with_psa in (True, False):
            with self.subTest(with_psa=with_psa):
                folder = os.path.join(self.tmp, f"batch{with_psa}")
                write_batch_folder(folder, with_psa=with_psa)
                for seed, run in enumerate(("soft_clay/elcentro", "soft_clay/kobe",
                                            "rock_weathered/elcentro")):
                    write_profile(os.path.join(folder, run, "profile.csv"), seed=seed)
                result = run_plot(folder)
                self.assertEqual(result.returncode, 0, result.stderr)
                images = sorted(p for p in os.listdir(folder) if p.startswith("profile-"))
                self.assertEqual(images, ["profile-rock_weathered.png", "profile-soft_clay.png"])
                self.assert_png(os.path.join(folder, "profile-soft_clay.png"))
                self.assertEqual(os.path.isfile(os.path.join(folder, "psa-soft_clay.png")),
                                 with_psa)

    def test_batch_mean_is_thick(self):
        plot = load_plot_module()
        folder = os.path.join(self.tmp, "batch")
        write_batch_folder(folder, with_psa=False)
        for seed, run in enumerate(("soft_clay/elcentro", "soft_clay/kobe")):
            write_profile(os.path.join(folder, run, "profile.csv"), seed=seed)
        figures = []
        plot.save = lambda fig, path, fmt, **kw: figures.append(fig)
        plot.plot_batch(folder, folder, "png")
        strain = figures[0].get_axes()[3].get_lines()
        widths = [ln.get_linewidth() for ln in strain]
        self.assertEqual(widths.count(2.4), 2)  # the means of H1 and H2
        self.assertEqual(len(widths), 6)  # two records, two components, and the means
        thin = [ln.get_xdata() for ln in strain if ln.get_linewidth() < 1]
        np.testing.assert_allclose(strain[2].get_xdata(), (thin[0] + thin[1]) / 2)

    def test_bad_profile_files(self):
        def missing_column(path):
            write_profile(path)
            with open(path) as f:
                text = f.read()
            with open(path, "w") as f:
                f.write(text.replace("stress ratio,", "ratio,", 1))
            return "profile.csv: the header lacks the column(s) stress ratio"

        def not_finite(path):
            write_profile(path)
            with open(path, newline="") as f:
                rows = list(csv.reader(f))
            rows[3][9] = "nan"
            with open(path, "w", newline="") as f:
                csv.writer(f, lineterminator="\n").writerows(rows)
            return "profile.csv: line 4: 'nan' in 'damping (%)' is not a finite number"

        def unreadable(path):
            write_profile(path)
            with open(path, "a") as f:
                f.write('"' + "x" * 200000 + '"\n')  # a field beyond the csv module's limit
            return "profile.csv: cannot be read"

        def empty(path):
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, "w").close()
            return "profile.csv: empty file"

        for make in (missing_column, not_finite, unreadable, empty):
            with self.subTest(make.__name__):
                folder = os.path.join(self.tmp, make.__name__)
                os.makedirs(folder)
                with open(os.path.join(folder, "surface.csv"), "w") as f:
                    f.write("time (s),surface H1 (g),surface H2 (g),surface V (g)\n0,0,0,0\n0.01,0,0,0\n")
                message = make(os.path.join(folder, "profile.csv"))
                result = run_plot(folder)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertNotIn("Traceback", result.stderr)
                self.assertEqual(result.stderr.count("\n"), 1, result.stderr)
                self.assertTrue(result.stderr.startswith("sitewave-plot: error: "))
                self.assertIn(message, result.stderr)
        # In a batch folder the run is named.
        folder = os.path.join(self.tmp, "batch")
        write_batch_folder(folder, with_psa=False)
        not_finite(os.path.join(folder, "soft_clay", "kobe", "profile.csv"))
        result = run_plot(folder)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("soft_clay/kobe/profile.csv: line 4:", result.stderr)


if __name__ == "__main__":
    unittest.main()
