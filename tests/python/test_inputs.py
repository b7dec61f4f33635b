"""Refusals: each kind of bad input raises the right exception with the library's message, and
nothing passed in is changed."""
import pickle

import numpy as np
import pytest

import sitewave as sw
from conftest import AT2, EXAMPLES, assert_bits

ELCENTRO = EXAMPLES / "elcentro.csv"


@pytest.fixture(scope="module")
def rec():
    return sw.read_record(ELCENTRO)


@pytest.fixture(scope="module")
def profile():
    return sw.read_profile(EXAMPLES / "soil_dat.csv")


@pytest.mark.parametrize("reader", [sw.read_record, sw.read_profile, sw.read_site,
                                    lambda p: sw.read_at2(p, AT2[1], AT2[2])])
@pytest.mark.parametrize("where,error", [("missing.csv", FileNotFoundError),
                                         (".", IsADirectoryError)])
def test_files_that_cannot_be_read_raise_oserror(tmp_path, reader, where, error):
    with pytest.raises(error) as e:
        reader(tmp_path / where)
    assert e.value.filename == str(tmp_path / where)


@pytest.mark.parametrize("name,text,message", [
    ("bad.csv", "t,a,b,c\n0,1,2,x\n", "bad.csv"),
    ("bad.toml", "title = 'x'\n[bedrock]\nvs = 760\n", "bad.toml"),
    ("nolayer.toml", "[bedrock]\nvs = 760.0\nvp = 1800.0\nunit_weight = 22.0\ndamping = 0.01\n",
     "nolayer.toml"),
    ("soil.csv", "title\n0\n3\ntext\n1\nNo,Density\n", "soil.csv"),
    ("offstep.csv", "t,a,b,c\n0,0,0,0\n0.01,1,1,1\n0.025,0,0,0\n",
     "offstep.csv: line 4: time 0.025 is off the constant time step 0.01"),
])
def test_malformed_files_raise_valueerror_naming_them(tmp_path, name, text, message):
    path = tmp_path / name
    path.write_text(text)
    reader = {"bad.csv": sw.read_record, "offstep.csv": sw.read_record,
              "soil.csv": sw.read_profile}.get(name, sw.read_site)
    with pytest.raises(ValueError, match=message):
        reader(path)


@pytest.mark.parametrize("accel,message", [
    (np.zeros((10, 2)), r"not \(n, 3\)"),
    (np.zeros(30), "dimension"),
    (np.zeros((10, 3), dtype=complex), "real numbers"),
    (np.array([["a", "b", "c"]]), "real numbers"),
    (np.array([[0.0, np.nan, 0.0]] * 4), "sample 1 is not finite"),
    (np.array([[0.0, 0.0, np.inf]] * 4), "not finite"),
])
def test_records_of_the_wrong_kind_are_refused(accel, message):
    with pytest.raises(ValueError, match=message):
        sw.Record(accel, dt=0.01)


@pytest.mark.parametrize("dt", [0.0, -0.01, np.nan, np.inf, 1e300])
def test_time_steps_that_are_not_positive_and_finite_are_refused(dt):
    with pytest.raises(ValueError, match="dt"):
        sw.Record(np.zeros((8, 3)), dt=dt)


@pytest.mark.parametrize("n", [0, 1])
def test_records_too_short_to_transform_are_refused_by_the_run(profile, n):
    r = sw.Record(np.zeros((n, 3)), dt=0.01)
    with pytest.raises(ValueError, match="record"):
        sw.run(r, profile)


@pytest.mark.parametrize("kw,message", [
    (dict(input="sideways"), "input"),
    (dict(method="nonlinear"), "method"),
    (dict(process="square"), "process"),
    (dict(band=(1, 2, 3)), "band"),
    (dict(band=(5, 4, 3, 2)), "--band"),
    (dict(periods=[0.1], damping=1.5), "--damping"),
    (dict(periods=[-1.0]), "--periods"),
    (dict(periods=[]), "periods"),
    (dict(rotd=True), "--rotd"),
    (dict(pad="forever"), "pad"),
    (dict(pad=-1.0), "--pad"),
    (dict(jobs=0), "--jobs"),
    (dict(method="eql"), "not a site"),
    (dict(depths=[5.0]), "--depths"),
    (dict(strain_ratio=0.0), "--strain-ratio"),
    (dict(smooth=0.5), "--smooth"),
    (dict(angle=np.nan), "--angle"),
])
def test_options_out_of_range_are_refused(rec, profile, kw, message):
    with pytest.raises(ValueError, match=message):
        sw.run(rec, profile, **kw)


def test_a_site_needs_an_input_kind(rec):
    with pytest.raises(ValueError, match="input"):
        sw.run(rec, sw.read_site(EXAMPLES / "sites" / "best.toml"))


def test_strict_refuses_a_run_not_converged(rec):
    site = sw.read_site(EXAMPLES / "sites" / "soft_clay.toml")
    with pytest.raises(ValueError, match="not converged"):
        sw.run(rec, site, input="outcrop", method="eql", max_iterations=2, strict=True)
    res = sw.run(rec, site, input="outcrop", method="eql", max_iterations=2)
    assert not res.converged.all() and "not converged" in res.note
    assert res.iterations.tolist() == [2, 2]


def test_run_many_keeps_or_raises_a_failed_run(profile):
    good = sw.read_record(ELCENTRO)
    bad = sw.Record(np.zeros((1, 3)), dt=0.01, name="short")
    with pytest.raises(ValueError, match="short"):
        sw.run_many([good, bad], [profile])
    out = sw.run_many([good, bad], [profile], errors="keep")
    assert isinstance(out[0][0], sw.Result) and isinstance(out[0][1], ValueError)
    with pytest.raises(ValueError, match="unit"):
        sw.run_many([good, sw.Record(np.zeros((4, 3)), 0.01, units="m/s2")], [profile])
    with pytest.raises(ValueError, match="at least one"):
        sw.run_many([], [profile])


@pytest.mark.parametrize("make,message", [
    (lambda: sw.Site(layers=[], bedrock=sw.Bedrock(760, 22, 0.01, vp=1800),
                     soils={"clay": sw.Soil(17, sw.curves.darendeli(pi=30))}), "layer"),
    (lambda: sw.Site(layers=[sw.Layer(10, 180, "clay")], bedrock=sw.Bedrock(760, 22, 0.01),
                     soils={"sand": sw.Soil(19, sw.curves.linear(0.02))}), "no soil named"),
    (lambda: sw.Site(layers=[sw.Layer(-1, 180, "clay")], bedrock=sw.Bedrock(760, 22, 0.01),
                     soils={"clay": sw.Soil(17, sw.curves.darendeli(pi=30))}), "thickness"),
    (lambda: sw.Site(layers=[sw.Layer(10, np.nan, "clay")], bedrock=sw.Bedrock(760, 22, 0.01),
                     soils={"clay": sw.Soil(17, sw.curves.darendeli(pi=30))}), "vs"),
    (lambda: sw.Soil(17, "darendeli"), "curve"),
    (lambda: sw.curves.darendeli(pi=-3), "plasticity index"),
    (lambda: sw.curves.published("no such curve"), "no such curve"),
    (lambda: sw.curves.table([1, 0.1], [1, 0.5], [1, 2]), "strain"),
    (lambda: sw.curves.linear(1.5), "linear"),
])
def test_sites_and_curves_the_library_refuses(make, message):
    with pytest.raises(ValueError, match=message):
        make()


@pytest.mark.parametrize("columns,message", [
    (dict(vs=[180.0, np.nan]), "vs|Vs|finite"),
    (dict(thickness=[5.0]), ""),
    (dict(density=[[1.0, 2.0]]), "dimension"),
    (dict(vp=["a", "b"]), "real numbers"),
])
def test_profiles_the_library_refuses(profile, columns, message):
    layers = {f: profile.layers[f][:2].copy() for f in sw.Profile.FIELDS}
    layers.update({k: np.asarray(v) for k, v in columns.items()})
    with pytest.raises(ValueError, match=message):
        sw.Profile(layers)


def test_inputs_are_not_changed(profile):
    accel = np.asfortranarray(np.random.default_rng(1).normal(size=(512, 3)) * 0.1)
    before = accel.copy()
    rec = sw.Record(accel, dt=0.01)
    layers = profile.layers.copy()
    sw.run(rec, profile, periods=[0.1, 1.0])
    assert_bits(accel, before, "accel")
    assert_bits(profile.layers.view(np.float32), layers.view(np.float32), "layers")
    accel[0, 0] = 5.0  # the record owns its samples
    assert rec.accel[0, 0] == np.float32(before[0, 0])


def test_results_are_picklable(rec, profile):
    site = sw.Site(layers=[sw.Layer(thickness=10, vs=180, vp=700, soil="clay"),
                           sw.Layer(thickness=15, vs=300, poisson=0.3, soil="sand")],
                   bedrock=sw.Bedrock(vs=760, vp=1800, unit_weight=22.0, damping=0.01),
                   soils={"clay": sw.Soil(unit_weight=17.0,
                                          model=sw.curves.darendeli(pi=30, ocr=1)),
                          "sand": sw.Soil(unit_weight=19.0, model=sw.curves.menq(cu=3, d50=0.4),
                                          k0=0.45)},
                   water_table=2.0)
    res = sw.run(rec, site, input="outcrop", method="eql", depths=[5, 10], periods=[0.2, 1])
    for obj in (rec, profile, site, res, sw.curves.darendeli(pi=30)):
        back = pickle.loads(pickle.dumps(obj))
        assert type(back) is type(obj)
    back = pickle.loads(pickle.dumps(res))
    assert isinstance(back.profile, sw.Table) and isinstance(back.passes, sw.Table)
    assert_bits(back.surface, res.surface, "surface")
    assert_bits(back.profile["g_ratio"], res.profile["g_ratio"], "profile")
    assert back.depths.keys() == res.depths.keys()
    s2 = pickle.loads(pickle.dumps(site))
    assert s2.toml == site.toml and s2.layers.tolist() == site.layers.tolist()
    again = sw.run(rec, s2, input="outcrop", method="eql", depths=[5, 10], periods=[0.2, 1])
    assert_bits(again.surface, res.surface, "surface of the unpickled site")


def test_psa_refusals_and_rigid_oscillator():
    a = np.sin(np.linspace(0, 20, 2000)).astype(np.float32)
    with pytest.raises(ValueError, match="dt"):
        sw.psa(a, 0.0, [0.1])
    with pytest.raises(ValueError, match="damping"):
        sw.psa(a, 0.01, [0.1], damping=1.0)
    with pytest.raises(ValueError, match="finite"):
        sw.psa(a, 0.01, [np.nan])
    with pytest.raises(ValueError, match="one length"):
        sw.rotd(a, a[:-1], 0.01, [0.1])
    with pytest.raises(ValueError, match="dimension"):
        sw.psa(a.reshape(2, -1), 0.01, [0.1])
    # The rigid oscillator reads the peak ground acceleration; an empty record gives 0.
    assert sw.psa(a, 0.01, [0.0])[0] == np.abs(a).max().astype(np.float64)
    assert sw.psa(np.zeros(0), 0.01, [0.5])[0] == 0.0


def test_profile_to_pandas(rec):
    pandas = pytest.importorskip("pandas")
    res = sw.run(rec, sw.read_site(EXAMPLES / "sites" / "best.toml"), input="outcrop",
                 method="eql")
    frame = res.profile.to_pandas()
    assert isinstance(frame, pandas.DataFrame) and len(frame) == len(res.profile)
    assert list(frame.columns) == list(res.profile.dtype.names)


def test_a_site_made_from_values_runs_as_its_file(rec):
    """examples/sites/soft_clay.toml written out in Python: the same layers and the same run."""
    crust = sw.curves.table([0.0001, 0.001, 0.01, 0.1, 1.0], [1.0, 0.97, 0.80, 0.42, 0.12],
                            [1.5, 2.0, 3.8, 9.5, 17.0])
    site = sw.Site(
        title="Soft clay over rock", angle=0.0, water_table=2.0,
        soils={"crust": sw.Soil(17.5, crust),
               "clay": sw.Soil(16.0, sw.curves.darendeli(pi=45.0, ocr=1.0, frequency=1.0,
                                                         cycles=10), k0=0.6),
               "stiff_clay": sw.Soil(18.5, sw.curves.darendeli(pi=25.0, ocr=1.5,
                                                               damping_min=0.015))},
        layers=[sw.Layer(2.0, 120.0, "crust", poisson=0.35),
                sw.Layer(6.0, 90.0, "clay", vp=1450.0),
                sw.Layer(6.0, 130.0, "clay", vp=1480.0),
                sw.Layer(8.0, 240.0, "stiff_clay", vp=1550.0)],
        bedrock=sw.Bedrock(vs=900.0, vp=2000.0, unit_weight=23.0, damping=0.01))
    file = sw.read_site(EXAMPLES / "sites" / "soft_clay.toml")
    assert site.layers.tolist() == file.layers.tolist()
    kw = dict(input="outcrop", method="eql", max_iterations=40)
    a, b = sw.run(rec, site, **kw), sw.run(rec, file, **kw)
    assert_bits(a.surface, b.surface, "surface")
    assert_bits(a.profile["strain_eff"], b.profile["strain_eff"], "strain")
