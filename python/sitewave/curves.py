"""Modulus-reduction and damping curves: G/Gmax and the damping ratio against shear strain (%).

A curve is a description (the model and its parameters). In a `sitewave.Soil` it is completed by
each layer's mean effective stress; called on strains it is evaluated with its own `sigma_m`
(atm, 1 by default):

>>> g, d = sitewave.curves.darendeli(pi=30, ocr=1, sigma_m=1.0)([1e-4, 1e-2, 1.0])

`g` is G/Gmax, `d` the damping ratio (not %), both float64 arrays of the strains' shape.
"""

import numpy as _np

from . import _sitewave

__all__ = ["Curve", "darendeli", "menq", "table", "published", "linear", "published_names"]


class Curve:
    """A curve set: `model` (darendeli, menq, table, published, linear) and its parameters.

    `curve(strains)` returns (G/Gmax, damping ratio) at the strains (%), as float64 arrays of
    their shape; a strain at or below zero reads the small-strain end. `damping_min` (a ratio)
    shifts the whole damping curve so that its small-strain value is that. Refusals of the
    parameters raise ValueError with the library's message, when the curve is made.
    """

    __slots__ = ("model", "params")

    def __init__(self, model, **params):
        self.model = str(model)
        self.params = {k: v for k, v in params.items() if v is not None}
        _sitewave.curve_name(self.model, self._native())  # checked now, not at the first use

    def _native(self):
        out = {}
        for k, v in self.params.items():
            if isinstance(v, str):
                out[k] = v
            elif _np.ndim(v) > 0:
                out[k] = [float(x) for x in _np.asarray(v, dtype=float).ravel()]
            else:
                out[k] = float(v)
        return out

    @property
    def name(self):
        """The library's name of the set (for published curves "modulus | damping")."""
        return _sitewave.curve_name(self.model, self._native())

    def __call__(self, strains):
        s = _np.asarray(strains)
        if s.dtype.kind not in "fiu":
            raise ValueError("strains: not an array of numbers (%s)" % s.dtype)
        return _sitewave.curve(self.model, self._native(), _np.ascontiguousarray(s, dtype=float))

    def toml_keys(self):
        """The keys of a [[soil]] table of a site file that give this curve (sigma_m left out:
        a site computes it per layer)."""
        keys = {"model": self.model}
        for k, v in self.params.items():
            if k == "sigma_m":
                continue
            keys[k] = v
        return keys

    def __eq__(self, other):
        return isinstance(other, Curve) and self.toml_keys() == other.toml_keys() and \
            self.params.get("sigma_m") == other.params.get("sigma_m")

    def __repr__(self):
        args = ", ".join("%s=%r" % kv for kv in self.params.items())
        return "sitewave.curves.%s(%s)" % (self.model, args)

    def __reduce__(self):
        return (_make, (self.model, self.params))


def _make(model, params):
    return Curve(model, **params)


def darendeli(pi, ocr=1.0, sigma_m=None, frequency=None, cycles=None, damping_min=None):
    """Darendeli (2001): plasticity index (%), overconsolidation ratio, mean effective stress (atm;
    in a site, each layer's), loading frequency (Hz, 1) and number of cycles (10)."""
    return Curve("darendeli", pi=pi, ocr=ocr, sigma_m=sigma_m, frequency=frequency,
                 cycles=cycles, damping_min=damping_min)


def menq(cu, d50, sigma_m=None, cycles=None, damping_min=None):
    """Menq (2003): coefficient of uniformity, median grain size d50 (mm), mean effective stress
    (atm; in a site, each layer's) and number of cycles (10)."""
    return Curve("menq", cu=cu, d50=d50, sigma_m=sigma_m, cycles=cycles, damping_min=damping_min)


def table(strain, modulus, damping_percent, damping_strain=None, damping_min=None):
    """A table: strains (%), G/Gmax and damping (%), the damping on its own strains when
    `damping_strain` is given; linear in ln(strain), clamped at the ends."""
    return Curve("table", strain=strain, modulus=modulus, damping_percent=damping_percent,
                 damping_strain=damping_strain, damping_min=damping_min)


def published(modulus_curve=None, damping_curve=None, damping_min=None):
    """The curves shipped with the library by their names: the modulus reduction of one set and
    the damping of another (the same when `damping_curve` is None). Without a name, the list of
    the names (`published_names()`)."""
    if modulus_curve is None:
        return published_names()
    return Curve("published", modulus_curve=modulus_curve,
                 damping_curve=modulus_curve if damping_curve is None else damping_curve,
                 damping_min=damping_min)


def linear(damping):
    """G/Gmax 1 and a constant damping ratio in [0, 1)."""
    return Curve("linear", damping=damping)


def published_names():
    """The names of the published curve tables shipped with the library, in their file's order."""
    return list(_sitewave.published_names())
