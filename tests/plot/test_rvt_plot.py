"""tools/sitewave-plot on the folders of runs of random vibration theory: spectra.csv and
transfer.csv of H1 alone, psa.csv with the H2 and V cells empty; alone and in a batch."""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from test_sitewave_plot import PlotTestCase, run_plot, write_tidy  # noqa: E402


def write_rvt_run(folder):
    os.makedirs(folder, exist_ok=True)
    f = np.arange(1, 4097) * 100.0 / 4096
    fas = 0.05 / (1 + (f / 8) ** 2)
    factor = 1 / np.abs(np.cos(2 * np.pi * f * 20 / 200 * (1 - 0.03j)) + 0.2j *
                        np.sin(2 * np.pi * f * 20 / 200 * (1 - 0.03j)))
    write_tidy(os.path.join(folder, "spectra.csv"),
               ["frequency (Hz)", "input H1 (g\u00b7s)", "surface H1 (g\u00b7s)"],
               [f, fas, fas * factor])
    write_tidy(os.path.join(folder, "transfer.csv"), ["frequency (Hz)", "factor H1"], [f, factor])
    periods = np.concatenate([[0], np.logspace(-2, 1, 40)])
    psa_in = 0.3 / (1 + (periods / 0.3) ** 2)
    psa_out = psa_in * (1 + np.exp(-((np.log(periods + 1e-3) - np.log(0.4)) ** 2)))
    with open(os.path.join(folder, "psa.csv"), "w") as out:
        out.write("period (s),input H1 5%,input H2 5%,input V 5%,surface H1 5%,surface H2 5%,"
                  "surface V 5%,ratio H1 5%,ratio H2 5%,ratio V 5%\n")
        for t, a, b in zip(periods, psa_in, psa_out):
            out.write(f"{t:.6g},{a:.6g},,,{b:.6g},,,{b / a:.6g},,\n")


class RvtPlotTest(PlotTestCase):
    def test_run_folder(self):
        folder = os.path.join(self.tmp, "run")
        write_rvt_run(folder)
        result = run_plot(folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_png(os.path.join(folder, "sitewave.png"))

    def test_batch_folder(self):
        batch = os.path.join(self.tmp, "batch")
        write_rvt_run(os.path.join(batch, "site", "source-M6-R20-wna"))
        with open(os.path.join(batch, "summary.csv"), "w") as f:
            f.write("profile,record,folder,status,note,input kind\n"
                    "site.toml,source-M6-R20-wna,site/source-M6-R20-wna,ok,,rvt\n")
        result = run_plot(batch)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_png(os.path.join(batch, "psa-site.png"))

    def test_a_spectrum_file_of_the_wrong_width(self):
        folder = os.path.join(self.tmp, "bad")
        write_rvt_run(folder)
        write_tidy(os.path.join(folder, "spectra.csv"), ["frequency (Hz)", "input H1 (g\u00b7s)"],
                   [np.arange(1, 5), np.ones(4)])
        result = run_plot(folder)
        self.assertEqual(result.returncode, 1)
        self.assertIn("spectra.csv", result.stderr)
        self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)
