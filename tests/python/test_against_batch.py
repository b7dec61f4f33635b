"""Runs from Python against sitewave-batch's tidy files for the same inputs: equal, bit for bit."""
import numpy as np
import pytest

import sitewave as sw
from conftest import AT2, EXAMPLES, assert_bits, column, read_table, run_batch

PROFILES = ["lower", "best", "upper"]


@pytest.fixture(scope="module")
def example_suite(tmp_path_factory):
    """The example suite (the AT2 triple on three profiles, as an outcrop motion, with spectra
    and RotD) by the batch tool and by run_many on two threads."""
    out = tmp_path_factory.mktemp("suite")
    args = []
    for p in PROFILES:
        args += ["--soil", EXAMPLES / "profiles" / (p + ".csv")]
    run_batch(out, *args, "--input", "outcrop", "--spectra", "--rotd", "--at2", *AT2)
    rec = sw.read_at2(*AT2)
    profiles = [sw.read_profile(EXAMPLES / "profiles" / (p + ".csv")) for p in PROFILES]
    results = sw.run_many([rec], profiles, input="outcrop", periods=sw.log_periods(0.01, 10, 100),
                          rotd=True, jobs=2)
    return out, results


def compare_run(folder, res, eql=False):
    surface = folder / "surface.csv"
    for k, c in enumerate(("H1", "H2", "V")):
        assert_bits(res.surface[:, k], column(surface, "surface %s (%s)" % (c, res.surface_unit)),
                    "surface " + c)
        assert_bits(res.fourier_surface[:, k],
                    column(folder / "spectra.csv",
                           "surface %s (%s)" % (c, "g·s" if res.surface_unit == "g" else
                                                {"m/s": "m", "m/s3": "m/s2"}[res.surface_unit])),
                    "spectrum " + c)
    assert_bits(res.time, column(surface, "time (s)"), "time")
    assert_bits(res.freq, column(folder / "transfer.csv", "frequency (Hz)"), "frequency")
    names = ("factor H1", "factor H2", "factor V") if eql else ("factor H", "factor H", "factor V")
    for k, name in enumerate(names):
        assert_bits(res.factor[:, k], column(folder / "transfer.csv", name), name)


@pytest.mark.parametrize("p", range(3))
def test_example_suite_equals_batch(example_suite, p):
    out, results = example_suite
    res = results[p][0]
    folder = out / PROFILES[p] / "RSN6_IMPVALL.I_I-ELC180-hor1"
    compare_run(folder, res)
    psa = folder / "psa.csv"
    assert_bits(res.periods, column(psa, "period (s)", np.float64), "periods")
    spectra = res.psa[0.05]
    for side in ("input", "surface"):
        for k, c in enumerate(("H1", "H2", "V")):
            assert_bits(spectra[side][:, k], column(psa, "%s %s 5%%" % (side, c), np.float64),
                        side + " PSA " + c)
        for k, c in enumerate(("RotD50", "RotD100")):
            assert_bits(spectra[side + "_rotd"][:, k],
                        column(psa, "%s %s 5%%" % (side, c), np.float64), side + " " + c)
    # The summary's peak factor.
    head, rows = read_table(out / "summary.csv")
    row = rows[p]
    assert np.float32(row[head.index("peak factor H frequency (Hz)")]) == res.peak_frequency
    assert np.float32(row[head.index("peak factor H")]) == res.peak_factor


@pytest.mark.parametrize("p", range(3))
def test_psa_and_rotd_of_the_surface_equal_batch(example_suite, p):
    out, results = example_suite
    res = results[p][0]
    psa = out / PROFILES[p] / "RSN6_IMPVALL.I_I-ELC180-hor1" / "psa.csv"
    periods = column(psa, "period (s)", np.float64)
    for k, c in enumerate(("H1", "H2", "V")):
        assert_bits(sw.psa(res.surface[:, k], res.dt, periods),
                    column(psa, "surface %s 5%%" % c, np.float64), "psa " + c)
    r = sw.rotd(res.surface[:, 0], res.surface[:, 1], res.dt, periods)
    assert_bits(r[:, 0], column(psa, "surface RotD50 5%", np.float64), "RotD50")
    assert_bits(r[:, 1], column(psa, "surface RotD100 5%", np.float64), "RotD100")


# Options that change every file: (batch arguments, run keywords, record unit).
VARIANTS = [
    (["--input", "within", "--padded"], dict(input="within", padded=True), "g"),
    (["--units", "m/s2", "--spectra", "--damping", "0.02,0.05",
      "--periods", "list:0.1,0.5,1,2"],
     dict(periods=[0.1, 0.5, 1, 2], damping=[0.02, 0.05]), "m/s2"),
    (["--process", "integrate", "--band", "0.1,0.2,20,25", "--angle", "20",
      "--impedance", "oblique"],
     dict(process="integrate", band=(0.1, 0.2, 20, 25), angle=20, oblique=True), "g"),
    (["--process", "differentiate", "--pad", "none", "--units", "cm/s2"],
     dict(process="differentiate", pad=None), "cm/s2"),
    (["--pad", "30", "--input", "incident"], dict(pad=30.0, input="incident"), "g"),
]


@pytest.mark.parametrize("args,kw,units", VARIANTS)
def test_linear_run_equals_batch(tmp_path, args, kw, units):
    run_batch(tmp_path, "--soil", EXAMPLES / "soil_dat.csv", EXAMPLES / "elcentro.csv", *args)
    rec = sw.read_record(EXAMPLES / "elcentro.csv", units=units)
    res = sw.run(rec, sw.read_profile(EXAMPLES / "soil_dat.csv"), **kw)
    folder = tmp_path / "soil_dat" / "elcentro"
    compare_run(folder, res)
    if "periods" in kw:
        for z in kw["damping"]:
            assert_bits(res.psa[z]["surface"][:, 0],
                        column(folder / "psa.csv", "surface H1 %g%%" % (100 * z), np.float64),
                        "psa")


def test_array_record_equals_the_file(tmp_path):
    """A Record made from numpy arrays (float64, Fortran order) runs as the file it came from."""
    _, rows = read_table(EXAMPLES / "elcentro.csv")
    data = np.array([[float(x) for x in r] for r in rows])
    rec = sw.Record(np.asfortranarray(data[:, 1:]), dt=data[1, 0] - data[0, 0], time=data[:, 0])
    site = sw.read_site(EXAMPLES / "sites" / "best.toml")
    a = sw.run(rec, site, input="outcrop")
    b = sw.run(sw.read_record(EXAMPLES / "elcentro.csv"), site, input="outcrop")
    assert_bits(a.surface, b.surface, "surface")
    assert_bits(a.transfer_sh, b.transfer_sh, "transfer")


@pytest.fixture(scope="module")
def eql_suite(tmp_path_factory):
    out = tmp_path_factory.mktemp("eql")
    run_batch(out, "--soil", EXAMPLES / "sites" / "soft_clay.toml", "--input", "outcrop",
              "--method", "eql", "--max-iterations", "40", "--depths", "0,8,22", "--spectra",
              EXAMPLES / "elcentro.csv")
    res = sw.run(sw.read_record(EXAMPLES / "elcentro.csv"),
                 sw.read_site(EXAMPLES / "sites" / "soft_clay.toml"), input="outcrop",
                 method="eql", max_iterations=40, depths=[0, 8, 22],
                 periods=sw.log_periods(0.01, 10, 100))
    return out / "soft_clay" / "elcentro", res


def test_eql_profile_equals_batch(eql_suite):
    folder, res = eql_suite
    f = folder / "profile.csv"
    p = res.profile
    assert [("H%d" % c) for c in p["component"]] == list(
        read_table(f)[1][i][0] for i in range(len(p)))
    for field, name, scale in [("top", "top (m)", 1), ("bottom", "bottom (m)", 1),
                               ("vs_initial", "Vs initial (m/s)", 1),
                               ("vs", "Vs final (m/s)", 1), ("g_ratio", "G/Gmax", 1),
                               ("damping", "damping (%)", 100),
                               ("strain_eff", "effective strain (%)", 1),
                               ("strain_max", "max strain (%)", 1),
                               ("stress_max", "max shear stress (kPa)", 1),
                               ("sigma_v", "vertical effective stress (kPa)", 1),
                               ("stress_ratio", "stress ratio", 1),
                               ("peak_accel", "peak acceleration (g)", 1),
                               ("displacement", "max displacement relative to base (m)", 1)]:
        assert_bits(scale * p[field], column(f, name, np.float64), field)
    assert list(p["soil"]) == [r[3] for r in read_table(f)[1]]
    assert list(p["clamped"]) == [r[-1] == "yes" for r in read_table(f)[1]]
    it = folder / "iterations.csv"
    assert_bits(res.passes["error_g"], column(it, "error G (%)", np.float64), "passes")
    assert res.iterations.tolist() == [int((res.passes["component"] == c).sum()) for c in (1, 2)]
    assert res.converged.all()


def test_eql_histories_equal_batch(eql_suite):
    folder, res = eql_suite
    compare_run(folder, res, eql=True)
    f = folder / "depth.csv"
    for (z, c, w), values in res.depths.items():
        assert_bits(values, column(f, "%s %s %g m (g)" % (w, c, z)), "depth %g %s %s" % (z, c, w))
    assert len(res.depths) == 3 * 2 * 2
    assert_bits(res.psa[0.05]["surface"][:, 0],
                column(folder / "psa.csv", "surface H1 5%", np.float64), "psa")


def test_run_many_threads_give_the_same_bits():
    recs = [sw.read_record(EXAMPLES / "elcentro.csv"), sw.read_at2(*AT2)]
    sites = [sw.read_site(EXAMPLES / "sites" / n) for n in ("lower.toml", "best.toml")]
    kw = dict(input="outcrop", method="eql", periods=[0.2, 1.0])
    one = sw.run_many(recs, sites, jobs=1, **kw)
    two = sw.run_many(recs, sites, jobs=2, **kw)
    for i in range(2):
        for j in range(2):
            assert_bits(one[i][j].surface, two[i][j].surface, "surface")
            assert_bits(one[i][j].profile["g_ratio"], two[i][j].profile["g_ratio"], "G/Gmax")
            assert_bits(one[i][j].psa[0.05]["surface"], two[i][j].psa[0.05]["surface"], "psa")
    # results[i][j]: records[j] on sites[i], as run() gives it alone.
    alone = sw.run(recs[0], sites[1], **kw)
    assert_bits(alone.surface, two[1][0].surface, "surface")


@pytest.mark.parametrize("args,kw", [
    (["--vertical", "poisson", "--angle", "15", "--impedance", "oblique", "--input", "outcrop"],
     dict(vertical="poisson", angle=15, oblique=True, input="outcrop")),
    (["--vertical", "constrained", "--input", "within", "--strain-ratio", "0.5"],
     dict(vertical="constrained", input="within", strain_ratio=0.5)),
])
def test_eql_options_equal_batch(tmp_path, args, kw):
    run_batch(tmp_path, "--soil", EXAMPLES / "sites" / "best.toml", "--method", "eql",
              "--max-iterations", "30", EXAMPLES / "elcentro.csv", *args)
    res = sw.run(sw.read_record(EXAMPLES / "elcentro.csv"),
                 sw.read_site(EXAMPLES / "sites" / "best.toml"), method="eql", max_iterations=30,
                 **kw)
    folder = tmp_path / "best" / "elcentro"
    compare_run(folder, res, eql=True)
    assert_bits(res.profile["g_ratio"], column(folder / "profile.csv", "G/Gmax", np.float64),
                "G/Gmax")
