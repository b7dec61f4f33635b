"""Records, soil profiles and sites: values the runs take, each checked when it is made."""

import math as _math

import numpy as _np

from . import _sitewave
from .curves import Curve

_UNITS = ("g", "m/s2", "cm/s2", "ft/s2")


def _numbers(x, what, dtype, ndim=None):
    a = _np.asarray(x)
    if a.dtype.kind not in "fiu":
        raise ValueError("%s: not an array of real numbers (dtype %s)" % (what, a.dtype))
    if ndim is not None and a.ndim != ndim:
        raise ValueError("%s: %d dimension(s), %d expected (shape %s)"
                         % (what, a.ndim, ndim, a.shape))
    return _np.array(a, dtype=dtype, order="C", copy=True)


class _Slotted:
    """Pickling of a class with __slots__ (and no __dict__): its slots by name."""

    __slots__ = ()

    def __getstate__(self):
        return {k: getattr(self, k) for k in self.__slots__}

    def __setstate__(self, state):
        for k, v in state.items():
            object.__setattr__(self, k, v)


class Record(_Slotted):
    """A three-component ground-motion record: H1, H2 and V at a constant time step.

    accel  (n, 3) array: H1, H2, V (any real dtype and layout; kept as float32, the library's
           samples), in `units`: "g" (the default), "m/s2", "cm/s2" or "ft/s2".
    dt     the time step (s), positive and finite (kept as float32).
    time   the samples' times (s); by default k*dt.
    name   names the record in messages.

    Attributes: accel, time (float32 arrays the record owns), dt, units, name, nt, note (what a
    reader had to cut). Refused (ValueError): a shape other than (n, 3), values or times that are
    not finite, more than 2**20 samples, a dt that is not positive and finite, an unknown unit.
    """

    __slots__ = ("accel", "time", "dt", "units", "name", "note")

    def __init__(self, accel, dt, units="g", time=None, name="record", note=""):
        a = _numbers(accel, "accel", _np.float32, 2)
        if a.shape[1:] != (3,):
            raise ValueError("accel: shape %s, not (n, 3) (H1, H2, V)" % (a.shape,))
        if a.shape[0] > 1 << 20:
            raise ValueError("accel: %d samples, more than %d" % (a.shape[0], 1 << 20))
        if not _np.isfinite(a).all():
            k = int(_np.argwhere(~_np.isfinite(a))[0][0])
            raise ValueError("%s: sample %d is not finite" % (name, k + 1))
        dt = float(dt)
        if not (_math.isfinite(dt) and 0.0 < dt <= float(_np.finfo(_np.float32).max)):
            raise ValueError("dt: %r is not a positive, finite time step" % dt)
        if units not in _UNITS:
            raise ValueError("units: %r is not one of %s" % (units, ", ".join(_UNITS)))
        if time is None:
            t = (_np.arange(a.shape[0], dtype=_np.float64) * dt).astype(_np.float32)
        else:
            t = _numbers(time, "time", _np.float32, 1)
            if t.shape[0] != a.shape[0]:
                raise ValueError("time: %d values for %d samples" % (t.shape[0], a.shape[0]))
            if not _np.isfinite(t).all():
                raise ValueError("time: a value is not finite")
        self.accel, self.time, self.dt = a, t, float(_np.float32(dt))
        self.units, self.name, self.note = units, str(name), str(note)

    @property
    def nt(self):
        """The number of samples."""
        return self.accel.shape[0]

    def _native(self):
        return (self.name, self.time, self.accel, self.dt)

    def __repr__(self):
        return "<sitewave.Record %r: %d samples, dt %g s, %s>" % (self.name, self.nt, self.dt,
                                                                  self.units)


def read_record(path, units="g"):
    """A record file as sitewave-batch reads it: a line of four titles, then `time,H1,H2,V1` per
    line (dt from the first two times, every time on that step within a thousandth of it).
    OSError for a file that cannot be read (missing, a folder); ValueError for its content (a
    time off the step too), with the batch tool's message."""
    d = _sitewave.read_record(str(path))
    return _from_native(d, str(path), units)


def read_at2(h1, h2, v, units="g"):
    """A PEER NGA triple of AT2 files (H1, H2, V) as sitewave-batch reads it; components of
    different lengths are cut to the shortest (`note` says so). The files' unit is g."""
    d = _sitewave.read_at2(str(h1), str(h2), str(v))
    return _from_native(d, str(h1), units, d.get("note", ""))


def _from_native(d, name, units, note=""):
    r = Record.__new__(Record)
    r.accel, r.time, r.dt = d["accel"], d["time"], float(d["dt"])
    if units not in _UNITS:
        raise ValueError("units: %r is not one of %s" % (units, ", ".join(_UNITS)))
    r.units, r.name, r.note = units, name, note
    return r


_COLUMNS = ("dns", "vp", "qp", "fp", "vs", "qs", "fs", "thk")


class Profile(_Slotted):
    """A soil file's profile (the linear run's layer table), top first, the half-space last.

    layers  a structured float32 array with the fields density, vp, qp, fp, vs, qs, fs,
            thickness (m/s, m; quality factors Q = q f^e): the soil file's columns.
    angle   the incidence angle (degrees from the vertical); nin: 1 incident, 2 within.
    Checked as the soil file is (ValueError with the library's message).
    """

    FIELDS = ("density", "vp", "qp", "fp", "vs", "qs", "fs", "thickness")

    __slots__ = ("layers", "angle", "nin", "name")

    def __init__(self, layers, angle=0.0, nin=1, name="profile"):
        cols = {}
        for field, col in zip(self.FIELDS, _COLUMNS):
            try:
                values = layers[field]
            except (KeyError, ValueError, IndexError, TypeError):
                raise ValueError("layers: no field %r" % field) from None
            cols[col] = _numbers(values, field, _np.float32, 1)
        d = _sitewave.check_profile({**cols, "angle": float(angle), "nin": int(nin)}, str(name))
        self._set(d, name)

    def _set(self, d, name):
        n = len(d["dns"])
        a = _np.zeros(n, dtype=[(f, _np.float32) for f in self.FIELDS])
        for field, col in zip(self.FIELDS, _COLUMNS):
            a[field] = d[col]
        self.layers, self.angle, self.nin, self.name = a, float(d["angle"]), int(d["nin"]), name

    def _native(self):
        cols = {col: _np.ascontiguousarray(self.layers[f]) for f, col in zip(self.FIELDS, _COLUMNS)}
        return ("profile", self.name, {**cols, "angle": self.angle, "nin": self.nin})

    def __repr__(self):
        return "<sitewave.Profile %r: %d rows>" % (self.name, len(self.layers))


def read_profile(path):
    """A soil file (soil_dat.csv layout). OSError for a file that cannot be read, ValueError for
    its content."""
    d = _sitewave.read_profile(str(path))
    p = Profile.__new__(Profile)
    p._set(d, str(path))
    return p


class Layer:
    """A layer of a site: thickness (m), vs (m/s), the soil type's name, and vp (m/s) or
    Poisson's ratio (0.35 when neither is given); optional quality factors qs, fs, qp, fp for
    the linear run."""

    def __init__(self, thickness, vs, soil, vp=None, poisson=None, qs=None, fs=None, qp=None,
                 fp=None):
        self.thickness, self.vs, self.soil = thickness, vs, soil
        self.vp, self.poisson, self.qs, self.fs, self.qp, self.fp = vp, poisson, qs, fs, qp, fp

    def _keys(self):
        keys = {"soil": self.soil, "thickness": self.thickness, "vs": self.vs}
        for k in ("vp", "poisson", "qs", "fs", "qp", "fp"):
            if getattr(self, k) is not None:
                keys[k] = getattr(self, k)
        return keys


class Bedrock:
    """The half-space: vs, vp (m/s, or Poisson's ratio), unit weight (kN/m3), damping ratio."""

    def __init__(self, vs, unit_weight, damping, vp=None, poisson=None):
        self.vs, self.vp, self.poisson = vs, vp, poisson
        self.unit_weight, self.damping = unit_weight, damping

    def _keys(self):
        keys = {"vs": self.vs, "unit_weight": self.unit_weight, "damping": self.damping}
        for k in ("vp", "poisson"):
            if getattr(self, k) is not None:
                keys[k] = getattr(self, k)
        return keys


class Soil:
    """A soil type: unit weight (kN/m3), its curve (`sitewave.curves`), and k0 (the ratio of
    horizontal to vertical effective stress, for the mean stress of Darendeli's and Menq's
    curves; 0.5 when not given)."""

    def __init__(self, unit_weight, model, k0=None):
        if not isinstance(model, Curve):
            raise ValueError("model: %r is not a sitewave.curves curve" % (model,))
        self.unit_weight, self.model, self.k0 = unit_weight, model, k0

    def _keys(self, name):
        keys = {"name": name, "unit_weight": self.unit_weight}
        keys.update(self.model.toml_keys())
        if self.k0 is not None:
            keys["k0"] = self.k0
        return keys


def _toml_value(v, key):
    if isinstance(v, bool):
        raise ValueError("%s: %r is not a number" % (key, v))
    if isinstance(v, str):
        return '"' + v.replace("\\", "\\\\").replace('"', '\\"') + '"'
    if _np.ndim(v) > 0:
        return "[" + ", ".join(_toml_value(x, key) for x in _np.asarray(v).ravel().tolist()) + "]"
    try:
        f = float(v)
    except (TypeError, ValueError):
        raise ValueError("%s: %r is not a number" % (key, v)) from None
    if _math.isnan(f):
        return "nan"
    if _math.isinf(f):
        return "inf" if f > 0 else "-inf"
    return repr(f)


def _toml_table(header, keys):
    lines = [header]
    for k, v in keys.items():
        lines.append("%s = %s" % (k, _toml_value(v, k)))
    return "\n".join(lines) + "\n"


class Site:
    """A site for the equivalent-linear run (and the linear one): layers over a bedrock, soil
    types with their curves, the water table (m) and the angle of incidence (degrees).

    Made from values, `Site(layers=[Layer(...)], bedrock=Bedrock(...), soils={"clay":
    Soil(...)})`, or from a site file (`read_site`). Either way the library checks it as it
    checks a site file: ValueError with its message ("<name>:<line>:<column>: <key>: <what>",
    the line of the site's TOML text, `site.toml`).

    `layers` is a structured array of the layers as the library completed them: soil, top,
    thickness (m), vs, vp (m/s), unit_weight (kN/m3), sigma_v (kPa, vertical effective stress at
    mid-depth), sigma_m (atm, mean effective stress), damping_min (the small-strain damping
    ratio), curve (the curve's name).
    """

    def __init__(self, layers, bedrock, soils, water_table=None, angle=0.0, title="",
                 name="site"):
        parts = []
        head = {"title": title, "angle": angle}
        if water_table is not None:
            head["water_table"] = water_table
        parts.append(_toml_table("", head).lstrip("\n"))
        for soil_name, soil in soils.items():
            if not isinstance(soil, Soil):
                raise ValueError("soils[%r]: not a sitewave.Soil" % soil_name)
            parts.append(_toml_table("[[soil]]", soil._keys(soil_name)))
        for k, layer in enumerate(layers):
            if not isinstance(layer, Layer):
                raise ValueError("layers[%d]: not a sitewave.Layer" % k)
            parts.append(_toml_table("[[layer]]", layer._keys()))
        if not isinstance(bedrock, Bedrock):
            raise ValueError("bedrock: not a sitewave.Bedrock")
        parts.append(_toml_table("[bedrock]", bedrock._keys()))
        self._set("\n".join(parts), str(name))

    def _set(self, text, name, parsed=None):
        self.toml, self.name = text, name
        d = parsed if parsed is not None else _sitewave.parse_site(text, name)
        self.title, self.angle, self.water_table = d["title"], d["angle"], d["water_table"]
        self.bedrock = dict(d["bedrock"])
        rows = d["layers"]
        width = max([1] + [len(r["soil"]) for r in rows])
        cwidth = max([1] + [len(r["curve"]) for r in rows])
        fields = [("soil", "U%d" % width)] + [(f, _np.float64) for f in (
            "top", "thickness", "vs", "vp", "unit_weight", "sigma_v", "sigma_m",
            "damping_min")] + [("curve", "U%d" % cwidth)]
        a = _np.zeros(len(rows), dtype=fields)
        for i, r in enumerate(rows):
            a[i] = tuple(r[f] for f, _ in fields)
        self.layers = a

    def __getstate__(self):
        return (self.toml, self.name)

    def __setstate__(self, state):
        self._set(*state)

    def _native(self):
        return ("site", self.name, self.toml)

    def __repr__(self):
        return "<sitewave.Site %r: %d layers>" % (self.name, len(self.layers))


def read_site(path):
    """A site file (TOML). OSError for a file that cannot be read, ValueError (with the line and
    column) for its content."""
    text, d = _sitewave.read_site(str(path))
    s = Site.__new__(Site)
    s._set(text, str(path), d)
    return s
