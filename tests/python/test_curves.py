"""Curves against their closed forms and tables; the published names."""
import numpy as np
import pytest

import sitewave as sw

STRAINS = np.logspace(-5, 1, 25)


@pytest.mark.parametrize("pi,ocr,sigma_m", [(0, 1, 1.0), (30, 1, 1.0), (45, 2, 0.4),
                                            (15, 1.5, 3.0)])
def test_darendeli_modulus_is_its_hyperbola(pi, ocr, sigma_m):
    # Darendeli (2001): gamma_r = (0.0352 + 0.0010 PI OCR^0.3246) sigma'^0.3483 (%), a = 0.919.
    gamma_r = (0.0352 + 0.0010 * pi * ocr ** 0.3246) * sigma_m ** 0.3483
    g, d = sw.curves.darendeli(pi=pi, ocr=ocr, sigma_m=sigma_m)(STRAINS)
    np.testing.assert_allclose(g, 1.0 / (1.0 + (STRAINS / gamma_r) ** 0.919), rtol=1e-12)
    assert (np.diff(g) < 0).all() and (np.diff(d[STRAINS < 0.1]) > 0).all()
    assert g.dtype == np.float64 and g.shape == STRAINS.shape


def test_table_reads_its_rows_and_interpolates_in_log_strain():
    strain = [1e-4, 1e-2, 1.0]
    c = sw.curves.table(strain, [1.0, 0.6, 0.1], [1.0, 5.0, 20.0])
    g, d = c(np.array(strain))
    np.testing.assert_allclose(g, [1.0, 0.6, 0.1], rtol=1e-15)
    np.testing.assert_allclose(d, [0.01, 0.05, 0.20], rtol=1e-15)
    g, d = c([1e-3, 1e-6, 10.0])  # half way in ln(strain), then the ends held
    np.testing.assert_allclose(g, [0.8, 1.0, 0.1], rtol=1e-14)
    np.testing.assert_allclose(d, [0.03, 0.01, 0.20], rtol=1e-14)


def test_damping_min_shifts_the_small_strain_end():
    base = sw.curves.menq(cu=3, d50=0.4)
    shifted = sw.curves.menq(cu=3, d50=0.4, damping_min=0.03)
    g0, d0 = base(STRAINS)
    g1, d1 = shifted(STRAINS)
    np.testing.assert_array_equal(g0, g1)
    np.testing.assert_allclose(d1 - d0, 0.03 - base([0.0])[1][0], rtol=1e-9, atol=1e-15)


def test_linear_curve_is_constant():
    g, d = sw.curves.linear(0.02)(STRAINS.reshape(5, 5))
    assert g.shape == (5, 5) and (g == 1.0).all() and (d == 0.02).all()


def test_published_names_each_read():
    names = sw.curves.published_names()
    assert sw.curves.published() == names
    assert len(names) > 3 and len(set(names)) == len(names)
    for n in names[:10]:
        try:
            g, d = sw.curves.published(n)([1e-4, 1.0])
        except ValueError as e:  # a set with only one of the two quantities names it
            assert n in str(e)
            continue
        assert 0 < g[1] < g[0] <= 1 and d[1] > d[0]


def test_curves_refuse_strings_as_strains():
    with pytest.raises(ValueError, match="strains"):
        sw.curves.darendeli(pi=10)(["a"])
