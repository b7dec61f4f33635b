# Type stubs of the sitewave package (the docstrings of the package state the contract).
from os import PathLike
from typing import (Any, Dict, Iterable, List, Literal, Optional, Sequence, Tuple, Union,
                    overload)

import numpy as np
import numpy.typing as npt

from . import curves as curves
from . import rvt as rvt
from .curves import Curve

__version__: str

_Path = Union[str, PathLike[str]]
_Reals = npt.ArrayLike
_Units = Literal["g", "m/s2", "cm/s2", "ft/s2"]
_Input = Optional[Literal["incident", "outcrop", "within"]]

class Record:
    accel: npt.NDArray[np.float32]  # (n, 3): H1, H2, V
    time: npt.NDArray[np.float32]  # (n,) s
    dt: float  # s
    units: _Units
    name: str
    note: str
    def __init__(self, accel: _Reals, dt: float, units: _Units = ..., time: Optional[_Reals] = ...,
                 name: str = ..., note: str = ...) -> None: ...
    @property
    def nt(self) -> int: ...

def read_record(path: _Path, units: _Units = ...) -> Record: ...
def read_at2(h1: _Path, h2: _Path, v: _Path, units: _Units = ...) -> Record: ...

class Profile:
    FIELDS: Tuple[str, ...]
    layers: np.ndarray  # structured float32: density, vp, qp, fp, vs, qs, fs, thickness
    angle: float  # degrees
    nin: int  # 1 incident, 2 within
    name: str
    def __init__(self, layers: Any, angle: float = ..., nin: int = ...,
                 name: str = ...) -> None: ...

def read_profile(path: _Path) -> Profile: ...

class Layer:
    def __init__(self, thickness: float, vs: float, soil: str, vp: Optional[float] = ...,
                 poisson: Optional[float] = ..., qs: Optional[float] = ...,
                 fs: Optional[float] = ...,
                 qp: Optional[float] = ..., fp: Optional[float] = ...) -> None: ...

class Bedrock:
    def __init__(self, vs: float, unit_weight: float, damping: float, vp: Optional[float] = ...,
                 poisson: Optional[float] = ...) -> None: ...

class Soil:
    def __init__(self, unit_weight: float, model: Curve, k0: Optional[float] = ...) -> None: ...

class Site:
    toml: str
    name: str
    title: str
    angle: float
    water_table: Optional[float]
    bedrock: Dict[str, float]
    # structured: soil, top, thickness, vs, vp, unit_weight, sigma_v, sigma_m, damping_min, curve
    layers: np.ndarray
    def __init__(self, layers: Sequence[Layer], bedrock: Bedrock, soils: Dict[str, Soil],
                 water_table: Optional[float] = ..., angle: float = ..., title: str = ...,
                 name: str = ...) -> None: ...

def read_site(path: _Path) -> Site: ...

class Table(np.ndarray):
    def to_pandas(self) -> Any: ...

class Result:
    record: str
    profile_name: str
    method: Literal["linear", "eql"]
    input: Literal["incident", "outcrop", "within"]
    angle: float
    nt: int
    dt: float
    nf: int
    note: str
    input_unit: str
    surface_unit: str
    freq: npt.NDArray[np.float32]
    transfer_sh: npt.NDArray[np.complex128]  # (nfreq, 2)
    transfer_v: npt.NDArray[np.complex128]
    factor: npt.NDArray[np.float32]  # (nfreq, 3)
    fourier_input: npt.NDArray[np.float32]
    fourier_surface: npt.NDArray[np.float32]
    surface: npt.NDArray[np.float32]  # (n, 3)
    time: npt.NDArray[np.float32]
    peak_frequency: float
    peak_factor: float
    periods: npt.NDArray[np.float64]
    psa: Dict[float, Dict[str, npt.NDArray[np.float64]]]
    profile: Optional[Table]
    passes: Optional[Table]
    iterations: Optional[npt.NDArray[np.int_]]
    converged: Optional[npt.NDArray[np.bool_]]
    depths: Dict[Tuple[float, str, str], npt.NDArray[np.float32]]

_Pad = Union[Literal["auto"], None, float]

@overload
def run(record: rvt.Motion, site: Union[Site, Profile], *, input: _Input = ...,
        method: Literal["linear", "eql"] = ..., angle: Optional[float] = ...,
        oblique: bool = ..., periods: Optional[_Reals] = ...,
        damping: Union[float, Sequence[float]] = ...,
        peak_factor: Optional[Literal["clh", "vanmarcke", "bj84", "bt12", "bt15"]] = ...,
        strain_ratio: float = ..., tolerance: float = ..., max_iterations: int = ...,
        sublayer_frequency: float = ..., sublayer_fraction: float = ...,
        strict: bool = ...) -> rvt.Result: ...
@overload
def run(record: Record, site: Union[Site, Profile], *, input: _Input = ...,
        method: Literal["linear", "eql"] = ..., angle: Optional[float] = ...,
        process: Literal["none", "integrate", "differentiate"] = ...,
        band: Optional[Sequence[float]] = ..., oblique: bool = ..., padded: bool = ...,
        periods: Optional[_Reals] = ..., damping: Union[float, Sequence[float]] = ...,
        rotd: bool = ..., pad: _Pad = ..., smooth: Optional[float] = ...,
        strain_ratio: float = ..., tolerance: float = ..., max_iterations: int = ...,
        sublayer_frequency: float = ..., sublayer_fraction: float = ...,
        depths: Sequence[float] = ..., strict: bool = ...,
        vertical: Literal["linear", "poisson", "constrained"] = ..., jobs: int = ...,
        peak_factor: None = ...) -> Result: ...

def run_many(records: Iterable[Record], sites: Iterable[Union[Site, Profile]], *,
             input: _Input = ..., method: Literal["linear", "eql"] = ...,
             angle: Optional[float] = ...,
             process: Literal["none", "integrate", "differentiate"] = ...,
             band: Optional[Sequence[float]] = ..., oblique: bool = ..., padded: bool = ...,
             periods: Optional[_Reals] = ..., damping: Union[float, Sequence[float]] = ...,
             rotd: bool = ..., pad: _Pad = ..., smooth: Optional[float] = ...,
             strain_ratio: float = ..., tolerance: float = ..., max_iterations: int = ...,
             sublayer_frequency: float = ..., sublayer_fraction: float = ...,
             depths: Sequence[float] = ..., strict: bool = ...,
             vertical: Literal["linear", "poisson", "constrained"] = ..., jobs: int = ...,
             errors: Literal["raise", "keep"] = ...,
             executor: Any = ...) -> List[List[Union[Result, ValueError]]]: ...

def psa(accel: _Reals, dt: float, periods: _Reals,
        damping: float = ...) -> npt.NDArray[np.float64]: ...
def rotd(h1: _Reals, h2: _Reals, dt: float, periods: _Reals,
         damping: float = ...) -> npt.NDArray[np.float64]: ...
def log_periods(tmin: float, tmax: float, n: int) -> npt.NDArray[np.float64]: ...
