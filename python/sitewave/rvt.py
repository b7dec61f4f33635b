"""Random vibration theory: site response from a Fourier amplitude spectrum, a point source or a
target response spectrum, without time histories.

>>> import sitewave as sw
>>> m = sw.rvt.Motion.from_source(magnitude=6.5, distance=20, region="wna")
>>> res = sw.run(m, sw.read_site("examples/sites/best.toml"), input="outcrop", method="eql")
>>> res.peak_surface, res.psa[0.05]["surface"]

Each run is the one `sitewave-batch --fas/--source/--target` makes for the same values and options
(H1 only); the numbers are those of its files.
"""

import math as _math

import numpy as _np

from . import _sitewave
from ._inputs import Profile, Site, _Slotted
from ._runs import Table, _options, _passes_table, _profile_table

_REGIONS = ("wna", "cena")
_PEAK_FACTORS = ("clh", "vanmarcke", "bj84", "bt12", "bt15")


def _pairs(x, y, what):
    a = _np.asarray(x)
    b = _np.asarray(y)
    for v, name in ((a, what[0]), (b, what[1])):
        if v.dtype.kind not in "fiu" or v.ndim != 1:
            raise ValueError("%s: not a one-dimensional array of numbers" % name)
    if a.shape != b.shape:
        raise ValueError("%s and %s: %d and %d values" % (what[0], what[1], a.size, b.size))
    if a.size < 2:
        raise ValueError("%s: two or more values are needed" % what[0])
    return [float(v) for v in a], [float(v) for v in b]


def _optional(x, what):
    if x is None:
        return None
    x = float(x)
    if not _math.isfinite(x):
        raise ValueError("%s: %r is not finite" % (what, x))
    return x


class Motion(_Slotted):
    """An input of random vibration theory. Make one with `from_fas`, `from_source` or
    `from_target`; pass it to `sitewave.run` in place of a record.

    kind        "fas", "source" or "target"
    x, y        frequencies (Hz) and FAS (g*s), or periods (s) and PSA (g); None for a source
    duration    the ground motion's duration (s); a source's comes from its model when None
    magnitude, distance (km), region ("wna" or "cena")   the event, which the Boore-Thompson
                peak factors (bt12, bt15) need
    stress_drop (bar), kappa (s)   a source's, instead of the region's defaults
    damping     a target's damping ratio (0.05)
    name        names the input in messages and results

    The values are checked when the motion runs, as the batch tool checks its inputs (ValueError
    with its message). Motions can be pickled.
    """

    __slots__ = ("kind", "x", "y", "duration", "magnitude", "distance", "region", "stress_drop",
                 "kappa", "damping", "name")

    def __init__(self, kind, x=None, y=None, duration=None, magnitude=None, distance=None,
                 region=None, stress_drop=None, kappa=None, damping=0.05, name=None):
        if kind not in ("fas", "source", "target"):
            raise ValueError("kind: %r is not fas, source or target" % (kind,))
        if region is not None and region not in _REGIONS:
            raise ValueError("region: %r is not wna or cena" % (region,))
        self.kind = kind
        if kind == "source":
            self.x = self.y = None
        else:
            names = ("freq", "fas") if kind == "fas" else ("periods", "psa")
            self.x, self.y = _pairs(x, y, names)
        self.duration = _optional(duration, "duration")
        self.magnitude = _optional(magnitude, "magnitude")
        self.distance = _optional(distance, "distance")
        self.region = region
        self.stress_drop = _optional(stress_drop, "stress_drop")
        self.kappa = _optional(kappa, "kappa")
        self.damping = float(damping)
        if kind == "source":
            # As the batch tool names a source's run.
            name = "source-M%g-R%g-%s" % (self.magnitude or 0, self.distance or 0,
                                         region or "wna")
        self.name = name if name is not None else kind

    @classmethod
    def from_fas(cls, freq, fas, duration, *, magnitude=None, distance=None, region=None,
                 name="fas"):
        """A Fourier amplitude spectrum: frequencies (Hz, any order, no repeats) and FAS (g*s,
        log-log interpolated, 0 outside their range), with the duration (s)."""
        return cls("fas", freq, fas, duration, magnitude, distance, region, name=name)

    @classmethod
    def from_source(cls, magnitude, distance, region, *, stress_drop=None, kappa=None,
                    duration=None):
        """A Brune point source (Boore 2003) of moment magnitude 2 to 9.5 at a distance (km, up
        to 2000) in a region ("wna" or "cena"), with the region's stress drop, Q and kappa unless
        given; its duration 1/f_c + the path's unless given."""
        return cls("source", None, None, duration, magnitude, distance, region, stress_drop,
                   kappa, name=None)

    @classmethod
    def from_target(cls, periods, psa, duration, *, damping=0.05, magnitude=None, distance=None,
                    region=None, name="target"):
        """A target response spectrum: periods (s) and PSA (g) at `damping`; the FAS that gives
        it is found by iteration (the run's note says the misfit)."""
        return cls("target", periods, psa, duration, magnitude, distance, region, damping=damping,
                   name=name)

    def _native(self):
        return {"kind": self.kind, "name": self.name, "x": self.x or [], "y": self.y or [],
                "duration": self.duration, "magnitude": self.magnitude,
                "distance": self.distance, "region": self.region,
                "stress_drop": self.stress_drop, "kappa": self.kappa, "damping": self.damping}

    def __repr__(self):
        if self.kind == "source":
            return "<sitewave.rvt.Motion source M%g R%g km %s>" % (self.magnitude or 0,
                                                                  self.distance or 0,
                                                                  self.region)
        return "<sitewave.rvt.Motion %s %r, %d values>" % (self.kind, self.name, len(self.x))


class Result:
    """The results of a run of random vibration theory (H1): the columns of its run folder.

    motion, profile_name   names of the input and the profile (or site)
    input        "incident", "outcrop" or "within"; angle (degrees)
    duration     the ground motion's duration (s); method: the peak factor used
    note         the target's misfit; a run that did not converge
    freq         (4096,) Hz: the run's frequencies, up to 100 Hz
    fourier_input, fourier_surface   (4096,) Fourier amplitudes (g*s); factor: (4096,) the
                 profile's |surface / input|
    peak_input, peak_surface   peak accelerations (g)
    periods      (nper,) s, 0 first (the peak)
    psa          {damping: {"input": (nper,), "surface": (nper,)}} PSA (g)
    method_run   "linear" or "eql"; for "eql" also profile (a Table as sitewave.Result's, H1
                 rows), passes (a Table), iterations (int), converged (bool)
    """

    def __init__(self, d, motion, profile_name):
        self.motion, self.profile_name = motion, profile_name
        for k in ("input", "angle", "duration", "method", "note", "freq", "fourier_input",
                  "fourier_surface", "factor", "peak_input", "peak_surface", "periods"):
            setattr(self, k, d[k])
        self.psa = {float(z): {"input": a, "surface": b} for z, a, b in d["spectra"]}
        self.method_run = "eql" if d["eql"] else "linear"
        self.profile = self.passes = self.iterations = self.converged = None
        if d["eql"]:
            self.profile = _profile_table(d["profile"])
            self.passes = _passes_table(d["passes"])
            self.iterations, self.converged = int(d["iterations"]), bool(d["converged"])

    def __repr__(self):
        return "<sitewave.rvt.Result %s: %r on %r, PGA %.4g g at the surface>" % (
            self.method_run, self.motion, self.profile_name, self.peak_surface)


def run(motion, site, *, input=None, method="linear", angle=None, oblique=False, periods=None,
        damping=0.05, peak_factor=None, strain_ratio=0.65, tolerance=1.0, max_iterations=15,
        sublayer_frequency=20.0, sublayer_fraction=0.2, strict=False):
    """The run of `motion` (a sitewave.rvt.Motion) on `site` (a sitewave.Site or Profile), as
    sitewave-batch runs it; `sitewave.run(motion, site, ...)` comes here.

    input        "incident", "outcrop" or "within" (a Site needs one; None: a Profile's type)
    method       "linear" or "eql" (a Site; the peak strain of a sublayer PF*sqrt(m0/T_gm) of its
                 strain spectrum)
    angle, oblique   the incidence and the impedance, as for records
    periods      the periods (s) of the response spectra; None: 100 from 0.01 to 10 s
    damping      their damping ratio(s)
    peak_factor  "clh", "vanmarcke", "bj84", "bt12" or "bt15"; None: bt15 when the motion has a
                 magnitude, distance and region, vanmarcke otherwise
    strain_ratio, tolerance, max_iterations, sublayer_frequency, sublayer_fraction, strict: the
                 equivalent-linear loop's, as for records

    Returns a sitewave.rvt.Result. Raises ValueError with the library's message for input it
    refuses (as the batch tool refuses the same options).
    """
    if not isinstance(motion, Motion):
        raise ValueError("motion: not a sitewave.rvt.Motion")
    if not isinstance(site, (Site, Profile)):
        raise ValueError("site: not a sitewave.Site or sitewave.Profile")
    if peak_factor is not None and peak_factor not in _PEAK_FACTORS:
        raise ValueError("peak_factor: %r is not one of %s" % (peak_factor,
                                                               ", ".join(_PEAK_FACTORS)))
    o = _options(input, method, angle, "none", None, oblique, False, periods, damping, False, "g",
                 "auto", None, strain_ratio, tolerance, max_iterations, sublayer_frequency,
                 sublayer_fraction, (), strict, "linear", 1)
    d = _sitewave.rvt_run(o, site._native(), motion._native(), peak_factor)
    return Result(d, motion.name, site.name)


__all__ = ["Motion", "Result", "Table", "run"]
