"""Runs (linear and equivalent-linear), their results, and response spectra."""

import math as _math

import numpy as _np

from . import _sitewave
from ._inputs import Profile, Record, Site

_PROCESS = {"none": 0, "integrate": 1, "differentiate": 2}


class Table(_np.ndarray):
    """A numpy structured array, one row per entry, with `to_pandas()` (needs pandas)."""

    def to_pandas(self):
        """The table as a pandas DataFrame, one column per field."""
        import pandas
        return pandas.DataFrame(_np.asarray(self))


def _profile_table(cols):
    """profile.csv's rows as a Table, from the library's columns."""
    width = max([1] + [len(s) for s in cols["soil"]])
    fields = [("component", _np.int32), ("sublayer", _np.int32), ("layer", _np.int32),
              ("soil", "U%d" % width)]
    names = ["top", "bottom", "depth", "vs_initial", "vs", "g_ratio", "damping",
             "strain_eff", "strain_max", "stress_max", "sigma_v", "stress_ratio",
             "peak_accel", "displacement"]
    fields += [(f, _np.float64) for f in names] + [("clamped", _np.bool_)]
    fields += [(f, _np.float64) for f in ("density", "unit_weight") if f in cols]
    # Fields the library adds later come after these, as they come.
    known = {f for f, _ in fields}
    for k, v in cols.items():
        if k not in known:
            fields.append((k, _np.asarray(v).dtype))
    a = _np.zeros(len(cols["component"]), dtype=fields)
    for f, _ in fields:
        a[f] = cols[f]
    return a.view(Table)


def _passes_table(rows):
    """iterations.csv's rows as a Table."""
    p = _np.zeros(len(rows), dtype=[
        ("pass", _np.int32), ("component", _np.int32), ("error_g", _np.float64),
        ("error_d", _np.float64), ("sublayer_g", _np.int32), ("sublayer_d", _np.int32)])
    for i, row in enumerate(rows):
        p[i] = row
    return p.view(Table)


class Result:
    """The results of one run: the columns of sitewave-batch's tidy files for the same inputs and
    options, bit for bit. Arrays are new ones the caller owns.

    record, profile_name  names of the record and the profile (or site)
    input        what the record was taken as: "incident", "outcrop" or "within"
    angle        incidence angle (degrees); nt, dt (s): the record's samples and step; nf: the
                 transform's length (the record with its zero padding)
    note         what the run had to cut; a component that did not converge
    input_unit, surface_unit   units of the histories: "g" (accelerations), "m/s" (integrated),
                 "m/s3" (differentiated)
    freq         (nfreq,) float32: frequency (Hz) of each row, 0 to the Nyquist frequency
    transfer_sh  (nfreq, 2) complex128: the factors applied to H1 and H2 (the linear run's table
                 column, widened exactly from float32; the equivalent-linear run's final transfer
                 function of each component), surface over input
    transfer_v   (nfreq,) complex128: the factor applied to V (the vertical table)
    factor       (nfreq, 3) float32: the moduli as transfer.csv writes them (H1, H2, V)
    fourier_input, fourier_surface  (nfreq, 3) float32: Fourier amplitudes of H1, H2, V
                 (spectra.csv; the histories' unit times s)
    surface      (n, 3) float32: surface H1, H2, V (surface.csv) in `surface_unit`, at `time`
    time         (n,) float32: the record's times (continued over the padding with padded=True)
    peak_frequency, peak_factor   the largest factor of H1 (Hz, ratio), as summary.csv has them
    periods      (nper,) float64: periods (s) of the response spectra (0 first), with periods=
    psa          {damping: {"input": (nper, 3), "surface": (nper, 3)[, "input_rotd": (nper, 2),
                 "surface_rotd": (nper, 2)]}}: PSA in g of H1, H2, V (RotD50, RotD100)
    method       "linear" or "eql"; for "eql" also:
    profile      structured array, one row per sublayer of each component (profile.csv):
                 component (1 H1, 2 H2), sublayer, layer, soil, top, bottom, depth (mid-depth,
                 m), vs_initial, vs (final, m/s), g_ratio, damping (ratio), strain_eff,
                 strain_max (%), stress_max, sigma_v (kPa), stress_ratio, peak_accel (g, at
                 the top), displacement (m, the top's peak relative to the half-space's top),
                 clamped, density (t/m3), unit_weight (kN/m3); .to_pandas() gives a DataFrame
    passes       structured array (iterations.csv): pass, component, error_g, error_d (%),
                 sublayer_g, sublayer_d
    iterations   (2,) int: passes made for H1 and H2; converged: (2,) bool
    depths       {(depth m, "H1"|"H2", "within"|"outcrop"): (nt,) float32} motions at depth
                 (depth.csv), in `input_unit`
    """

    _ARRAYS = ("freq", "transfer_sh", "transfer_v", "factor", "fourier_input",
               "fourier_surface", "surface", "time", "periods", "profile", "passes",
               "iterations", "converged")

    def __init__(self, d, record, profile_name, time):
        self.record, self.profile_name = record, profile_name
        for k in ("input", "angle", "nt", "dt", "nf", "note", "input_unit", "surface_unit",
                  "freq", "transfer_sh", "transfer_v", "factor", "fourier_input",
                  "fourier_surface", "surface", "peak_frequency", "peak_factor", "periods"):
            setattr(self, k, d[k])
        self.dt = float(self.dt)
        self.angle = float(self.angle)
        n = self.surface.shape[0]
        self.time = _np.empty(n, dtype=_np.float32)
        self.time[:min(n, len(time))] = time[:n]
        extra = _np.arange(len(time), n, dtype=_np.float32)
        self.time[len(time):] = extra * _np.float32(self.dt)
        self.psa = {}
        for s in d["spectra"]:
            self.psa[float(s["damping"])] = {k: v for k, v in s.items() if k != "damping"}
        self.method = "eql" if d["eql"] else "linear"
        self.profile = self.passes = None
        self.iterations = self.converged = None
        self.depths = {}
        if d["eql"]:
            self._eql(d)

    def _eql(self, d):
        self.profile = _profile_table(d["profile"])
        self.passes = _passes_table(d["passes"])
        self.iterations = _np.array(d["iterations"], dtype=int)
        self.converged = _np.array(d["converged"], dtype=bool)
        for depth, comp, outcrop, values in d["depths"]:
            key = (float(depth), "H%d" % comp, "outcrop" if outcrop else "within")
            self.depths[key] = values

    def __repr__(self):
        return "<sitewave.Result %s: %r on %r, %d samples>" % (self.method, self.record,
                                                              self.profile_name, self.nt)


def _options(input, method, angle, process, band, oblique, padded, periods, damping, rotd,
             units, pad, smooth, strain_ratio, tolerance, max_iterations, sublayer_frequency,
             sublayer_fraction, depths, strict, vertical, jobs):
    if process not in _PROCESS:
        raise ValueError("process: %r is not none, integrate or differentiate" % (process,))

    def floats(x, what, ndim=1):
        a = _np.asarray(x)
        if a.dtype.kind not in "fiu" or a.ndim != ndim:
            raise ValueError("%s: not a %d-dimensional array of numbers" % (what, ndim))
        return [float(v) for v in a.ravel()]

    if isinstance(damping, (int, float)):
        damping = [damping]
    if band is not None:
        band = floats(band, "band")
        if len(band) != 4:
            raise ValueError("band: four corner frequencies (Hz), %d given" % len(band))
    jobs = int(jobs)
    return {
        "input": "profile" if input is None else str(input),
        "method": str(method),
        "angle": None if angle is None else float(angle),
        "nyes": _PROCESS[process],
        "band": band,
        "oblique": bool(oblique),
        "padded": bool(padded),
        "periods": None if periods is None else floats(periods, "periods"),
        "damping": floats(damping, "damping"),
        "rotd": bool(rotd),
        "units": units,
        "pad": pad,
        "smooth": None if smooth is None else float(smooth),
        "strain_ratio": float(strain_ratio),
        "tolerance": float(tolerance),
        "max_iterations": int(max_iterations),
        "sublayer_frequency": float(sublayer_frequency),
        "sublayer_fraction": float(sublayer_fraction),
        "depths": floats(depths, "depths"),
        "strict": bool(strict),
        "vertical": str(vertical),
        "jobs": jobs,
    }


def _native_site(s, k):
    if not isinstance(s, (Site, Profile)):
        raise ValueError("sites[%d]: not a sitewave.Site or sitewave.Profile" % k)
    return s._native()


def run_many(records, sites, *, input=None, method="linear", angle=None, process="none",
             band=None, oblique=False, padded=False, periods=None, damping=0.05, rotd=False,
             pad="auto", smooth=None, strain_ratio=0.65, tolerance=1.0, max_iterations=15,
             sublayer_frequency=20.0, sublayer_fraction=0.2, depths=(), strict=False,
             vertical="linear", jobs=1, errors="raise", executor=None):
    """Every record on every site or profile, as `sitewave-batch` runs a suite; see `run` for the
    options. The runs share what the batch tool shares (a record's transform, a profile's
    tables) and go on `jobs` threads with the GIL released: the results do not depend on `jobs`.
    Ctrl-C (KeyboardInterrupt) stops the suite: runs under way end first, none is begun after.

    Returns a list per site of a list per record: results[i][j] is records[j] on sites[i]. A run
    that fails raises ValueError with its message (errors="raise"), or stands as the ValueError
    in its place (errors="keep"). The records must all be in one unit (that of records[0]).

    executor: any concurrent.futures-style executor (its submit(fn, *args, **kwargs) returns a
    future with result()), a dask.distributed Client among them. The suite is then shared out a
    record at a time (the unit whose work the runs of a record share): each task runs one record
    on every site with `jobs` threads, wherever the executor puts it, and the results are the
    same as without it. The records, sites and results travel pickled.
    """
    if executor is not None:
        records, sites = list(records), list(sites)
        options = dict(input=input, method=method, angle=angle, process=process, band=band,
                       oblique=oblique, padded=padded, periods=periods, damping=damping,
                       rotd=rotd, pad=pad, smooth=smooth, strain_ratio=strain_ratio,
                       tolerance=tolerance, max_iterations=max_iterations,
                       sublayer_frequency=sublayer_frequency,
                       sublayer_fraction=sublayer_fraction, depths=depths, strict=strict,
                       vertical=vertical, jobs=jobs, errors="keep")
        if not hasattr(executor, "submit"):
            raise ValueError("executor: has no submit(); a concurrent.futures.Executor or a "
                             "dask.distributed Client is expected")
        futures = [executor.submit(run_many, [r], sites, **options) for r in records]
        columns = [f.result() for f in futures]
        results = [[columns[j][i][0] for j in range(len(records))] for i in range(len(sites))]
        if errors == "raise":
            for row in results:
                for r in row:
                    if isinstance(r, ValueError):
                        raise r
        elif errors != "keep":
            raise ValueError("errors: \"raise\" or \"keep\"")
        return results
    records, sites = list(records), list(sites)
    if not records or not sites:
        raise ValueError("run_many: at least one record and one site")
    for k, r in enumerate(records):
        if not isinstance(r, Record):
            raise ValueError("records[%d]: not a sitewave.Record" % k)
        if r.units != records[0].units:
            raise ValueError("records[%d]: unit %s, not %s as records[0]"
                             % (k, r.units, records[0].units))
    if errors not in ("raise", "keep"):
        raise ValueError("errors: \"raise\" or \"keep\"")
    o = _options(input, method, angle, process, band, oblique, padded, periods, damping, rotd,
                 records[0].units, pad, smooth, strain_ratio, tolerance, max_iterations,
                 sublayer_frequency, sublayer_fraction, depths, strict, vertical, jobs)
    out = _sitewave.run(o, [_native_site(s, k) for k, s in enumerate(sites)],
                        [r._native() for r in records])
    results = []
    for i, s in enumerate(sites):
        row = []
        for j, r in enumerate(records):
            d = out[i * len(records) + j]
            if isinstance(d, str):
                if errors == "raise":
                    raise ValueError(d)
                row.append(ValueError(d))
            else:
                row.append(Result(d, r.name, s.name, r.time))
        results.append(row)
    return results


def run(record, site, *, input=None, method="linear", angle=None, process="none", band=None,
        oblique=False, padded=False, periods=None, damping=0.05, rotd=False, pad="auto",
        smooth=None, strain_ratio=0.65, tolerance=1.0, max_iterations=15,
        sublayer_frequency=20.0, sublayer_fraction=0.2, depths=(), strict=False,
        vertical="linear", jobs=1, peak_factor=None):
    """One run of `record` (a sitewave.Record) on `site` (a sitewave.Site or sitewave.Profile):
    what `sitewave-batch` computes for them with the same options, returned as a `Result`
    instead of written into files; every number equals the batch tool's, bit for bit. Nothing
    passed in is changed.

    input     what the record is: "incident" (the up-going wave in the bedrock), "outcrop" (a
              rock-outcrop motion, twice the incident wave), "within" (observed within the
              bedrock); None: a Profile's wave type (a Site needs one of the three)
    method    "linear", or "eql": H1 and H2 iterated on the site's curves (a Site only; the
              vertical as `vertical` says)
    angle     incidence angle in degrees (None: the profile's or site's)
    process   "none", "integrate" (surface in m/s) or "differentiate" (m/s3)
    band      (fl1, fl2, fh1, fh2) Hz: the trapezoidal band-pass filter; None: no filter
    oblique   the impedance with the obliquity factor
    pad       "auto" (zeros until the site's response dies away), None (none: the dialogue's
              length), or a time in seconds
    padded    the surface over the padded tail too
    periods   periods (s) of the response spectra (psa, with 0 first); None: no spectra
    damping   damping ratio(s) of the spectra (0.05); rotd: RotD50 and RotD100 too
    smooth    Konno-Ohmachi bandwidth b: the smoothed columns of the files (not in the Result)
    eql:      strain_ratio (effective / peak strain, 0.65), tolerance (%, 1), max_iterations
              (15), sublayer_frequency (Hz, 20; 0 keeps the layers whole), sublayer_fraction
              (0.2), depths (m: motions at depth), strict (a run that has not converged fails),
              vertical ("linear": V on the site's layer table; "poisson" or "constrained": on
              the final profile of H1 and H2, as --vertical); angle and oblique apply to the
              horizontals' iteration too
    jobs      threads for the transfer tables' rows

    Units: the record's (Record.units); the results are written in g (accelerations, PSA),
    m/s or m/s3, as the batch tool writes them; frequencies in Hz, depths in m, velocities in
    m/s, stresses in kPa, strains in %.

    Returns a Result (help(sitewave.Result) lists every attribute): freq (Hz), transfer_sh
    ((nfreq, 2) complex, H1 and H2), transfer_v, factor, fourier_input, fourier_surface,
    surface ((n, 3) float32: H1, H2, V), time, peak_frequency, peak_factor, periods and psa
    (with periods=), and for method="eql" profile (a structured array per sublayer: depth, vs,
    g_ratio, damping, strain_eff, strain_max, ...), passes, iterations, converged, depths.
    Every array is new and the caller's.

    A sitewave.rvt.Motion in place of the record runs by random vibration theory
    (help(sitewave.rvt.run): the options of records that have no meaning there are refused;
    peak_factor is its own) and returns a sitewave.rvt.Result.

    Raises ValueError with the library's message for input it refuses (an option out of its
    range, a record of fewer than two samples, a site that cannot be run, a result that is not
    finite, a component not converged with strict=True); nothing aborts the interpreter.
    KeyboardInterrupt stops it.
    """
    from . import rvt
    if isinstance(record, rvt.Motion):
        given = {"process": process != "none", "band": band is not None, "padded": padded,
                 "rotd": rotd, "pad": pad != "auto", "smooth": smooth is not None,
                 "depths": len(depths) > 0, "vertical": vertical != "linear"}
        for name, set_ in given.items():
            if set_:
                raise ValueError("%s: a record's option, not for a sitewave.rvt.Motion" % name)
        return rvt.run(record, site, input=input, method=method, angle=angle, oblique=oblique,
                       periods=periods, damping=damping, peak_factor=peak_factor,
                       strain_ratio=strain_ratio, tolerance=tolerance,
                       max_iterations=max_iterations, sublayer_frequency=sublayer_frequency,
                       sublayer_fraction=sublayer_fraction, strict=strict)
    if peak_factor is not None:
        raise ValueError("peak_factor: for a sitewave.rvt.Motion, not a record")
    if not isinstance(record, Record):
        raise ValueError("record: not a sitewave.Record or sitewave.rvt.Motion")
    return run_many([record], [site], input=input, method=method, angle=angle, process=process,
                    band=band, oblique=oblique, padded=padded, periods=periods,
                    damping=damping, rotd=rotd, pad=pad, smooth=smooth,
                    strain_ratio=strain_ratio, tolerance=tolerance,
                    max_iterations=max_iterations, sublayer_frequency=sublayer_frequency,
                    sublayer_fraction=sublayer_fraction, depths=depths, strict=strict,
                    vertical=vertical, jobs=jobs)[0][0]


def _history(x, what):
    a = _np.asarray(x)
    if a.dtype.kind not in "fiu":
        raise ValueError("%s: not an array of real numbers (dtype %s)" % (what, a.dtype))
    if a.ndim != 1:
        raise ValueError("%s: %d dimensions, one expected" % (what, a.ndim))
    a = _np.ascontiguousarray(a, dtype=_np.float32)
    if not _np.isfinite(a).all():
        raise ValueError("%s: a value is not finite" % what)
    return a


def _periods(periods):
    t = _np.asarray(periods)
    if t.dtype.kind not in "fiu" or t.ndim > 1:
        raise ValueError("periods: not a one-dimensional array of numbers")
    return _np.ascontiguousarray(t.ravel(), dtype=_np.float64)


def psa(accel, dt, periods, damping=0.05):
    """Pseudo-spectral acceleration of one component, in its unit: omega^2 max|u| of a damped
    oscillator of each period T (s; T <= 0 is the rigid oscillator, max|a|), damping ratio in
    [0, 1). `accel` (n,) is taken as float32, the library's samples; dt (s) > 0. The values are
    those of sitewave-batch's psa.csv (bit for bit for a history in g). Returns (nper,) float64.
    """
    return _sitewave.psa(_history(accel, "accel"), None, float(dt), _periods(periods),
                         float(damping), False)["h1"]


def rotd(h1, h2, dt, periods, damping=0.05):
    """RotD50 and RotD100 (Boore 2010) of two horizontal components of one length (taken as
    float32), at the periods (s): a (nper, 2) float64 array, in the components' unit."""
    d = _sitewave.psa(_history(h1, "h1"), _history(h2, "h2"), float(dt), _periods(periods),
                      float(damping), True)
    return _np.stack([d["rotd50"], d["rotd100"]], axis=1)


def log_periods(tmin, tmax, n):
    """n periods (s) from tmin to tmax, equally spaced on a logarithmic axis (the batch tool's
    --periods MIN,MAX,N; its default 0.01, 10, 100)."""
    if not all(_math.isfinite(float(x)) for x in (tmin, tmax)):
        raise ValueError("log_periods: tmin and tmax must be finite")
    return _sitewave.log_periods(float(tmin), float(tmax), int(n))
