"""sitewave.rvt: runs of random vibration theory from Python against sitewave-batch's files for
the same inputs (every number), pickling, and refusals."""
import pickle

import numpy as np
import pytest

import sitewave as sw
from conftest import EXAMPLES, assert_bits, column, run_batch

SITE = EXAMPLES / "sites" / "best.toml"


def write_fas(path, f, a):
    with open(path, "w") as out:
        out.write("frequency (Hz),FAS (g*s)\n")
        for x, y in zip(f, a):
            out.write("%r,%r\n" % (float(x), float(y)))


@pytest.mark.parametrize("method", ["linear", "eql"])
def test_equals_batch(tmp_path, method):
    f = np.logspace(-1.2, 1.9, 50)
    a = 0.03 / (1 + (f / 6) ** 2)
    write_fas(tmp_path / "fas.csv", f, a)
    run_batch(tmp_path / "o", "--soil", SITE, "--input", "outcrop", "--method", method,
              "--fas", tmp_path / "fas.csv", "--duration", "7", "--magnitude", "6",
              "--distance", "25", "--region", "cena",
              "--source", "--magnitude", "7", "--distance", "30", "--region", "wna")
    site = sw.read_site(SITE)
    motions = {"fas": sw.rvt.Motion.from_fas(f, a, 7, magnitude=6, distance=25, region="cena"),
               "source-M7-R30-wna": sw.rvt.Motion.from_source(7, 30, "wna")}
    for folder, m in motions.items():
        res = sw.run(m, site, input="outcrop", method=method)
        run = tmp_path / "o" / "best" / folder
        assert res.method == "bt15"
        assert_bits(res.freq, column(run / "spectra.csv", "frequency (Hz)", np.float64), "f")
        assert_bits(res.fourier_input, column(run / "spectra.csv", "input H1 (g·s)", np.float64),
                    "input FAS")
        assert_bits(res.fourier_surface,
                    column(run / "spectra.csv", "surface H1 (g·s)", np.float64), "surface FAS")
        assert_bits(res.factor, column(run / "transfer.csv", "factor H1", np.float64), "factor")
        psa = run / "psa.csv"
        assert_bits(res.periods, column(psa, "period (s)", np.float64), "periods")
        for side in ("input", "surface"):
            assert_bits(res.psa[0.05][side], column(psa, side + " H1 5%", np.float64), side)
        if method == "eql":
            assert_bits(res.profile["g_ratio"], column(run / "profile.csv", "G/Gmax", np.float64),
                        "G/Gmax")
            assert_bits(res.profile["strain_max"],
                        column(run / "profile.csv", "max strain (%)", np.float64), "strain")
            assert res.converged and res.iterations == len(res.passes)


def test_targets_pickling_and_refusals():
    site = sw.read_site(SITE)
    src = sw.run(sw.rvt.Motion.from_source(6.5, 20, "wna"), site, input="outcrop",
                 periods=np.logspace(-2, 1, 30))
    keep = src.periods > 0
    target = sw.rvt.Motion.from_target(src.periods[keep], src.psa[0.05]["input"][keep],
                                       src.duration, magnitude=6.5, distance=20, region="wna")
    back = sw.run(target, site, input="outcrop", periods=src.periods[keep])
    rms = np.sqrt(np.mean((back.psa[0.05]["input"][1:] / src.psa[0.05]["input"][keep] - 1) ** 2))
    assert rms < 0.02 and "target misfit" in back.note
    for x in (target, back):
        y = pickle.loads(pickle.dumps(x))
        assert type(y) is type(x)
    again = pickle.loads(pickle.dumps(back))
    assert np.array_equal(again.factor, back.factor)
    cases = [
        (lambda: sw.rvt.Motion.from_fas([1, 2, 3], [1, 2], 5), "freq and fas"),
        (lambda: sw.rvt.Motion.from_source(6, 10, "east"), "region"),
        (lambda: sw.run(sw.rvt.Motion.from_source(12, 10, "wna"), site, input="outcrop"),
         "--magnitude 12 is not from 2 to 9.5"),
        (lambda: sw.run(sw.rvt.Motion.from_fas([1, 2], [0.1, 0.1], 5), site, input="outcrop",
                        peak_factor="bt15"), "needs --magnitude, --distance and --region"),
        (lambda: sw.run(sw.rvt.Motion.from_fas([1, 2], [0.1, -1], 5), site, input="outcrop"),
         "the second not negative"),
        (lambda: sw.run(sw.rvt.Motion.from_source(6, 10, "wna"), site, input="outcrop",
                        depths=[3]), "depths: a record's option"),
        (lambda: sw.run(sw.rvt.Motion.from_source(6, 10, "wna"), site, input="outcrop",
                        peak_factor="x"), "peak_factor"),
    ]
    for make, message in cases:
        with pytest.raises(ValueError, match=message):
            make()
