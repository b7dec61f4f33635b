"""run_many shared out by an executor: a thread pool and a dask.distributed LocalCluster of two
worker processes give the results of the suite run here, bit for bit."""
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import sitewave as sw
from conftest import EXAMPLES

SITES = [EXAMPLES / "sites" / (n + ".toml") for n in ("lower", "best")]


def suite():
    rec = sw.read_record(EXAMPLES / "elcentro.csv")
    records = [sw.Record(rec.accel * s, rec.dt, name="x%g" % s) for s in (0.5, 1.0, 1.5)]
    return records, [sw.read_site(s) for s in SITES]


def assert_same(a, b):
    assert len(a) == len(b)
    for row_a, row_b in zip(a, b):
        assert len(row_a) == len(row_b)
        for x, y in zip(row_a, row_b):
            assert x.record == y.record and x.profile_name == y.profile_name
            assert np.array_equal(x.surface, y.surface)
            assert np.array_equal(x.profile["g_ratio"], y.profile["g_ratio"])


def test_thread_pool_and_dask_cluster():
    records, sites = suite()
    options = dict(input="outcrop", method="eql", max_iterations=40)
    here = sw.run_many(records, sites, **options)
    with ThreadPoolExecutor(2) as pool:
        assert_same(sw.run_many(records, sites, executor=pool, **options), here)
    from distributed import Client, LocalCluster
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        assert_same(sw.run_many(records, sites, executor=client, **options), here)


def test_refusals_come_back_as_in_the_suite():
    records, sites = suite()
    bad = sw.Record(np.zeros((1, 3)), 0.01, name="one-sample")
    with ThreadPoolExecutor(2) as pool:
        out = sw.run_many([records[0], bad], sites[:1], input="outcrop", executor=pool,
                          errors="keep")
        assert isinstance(out[0][1], ValueError) and not isinstance(out[0][0], ValueError)
        try:
            sw.run_many([bad], sites[:1], input="outcrop", executor=pool)
        except ValueError as e:
            assert "one-sample" in str(e) or "sample" in str(e)
        else:
            raise AssertionError("a failed run raises")
    try:
        sw.run_many(records, sites, input="outcrop", executor=object())
    except ValueError as e:
        assert "submit" in str(e)
