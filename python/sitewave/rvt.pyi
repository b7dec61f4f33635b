# Type stubs of sitewave.rvt (the docstrings state the contract).
from typing import Dict, List, Literal, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

from . import Profile, Site, Table

_Region = Optional[Literal["wna", "cena"]]
_PeakFactor = Optional[Literal["clh", "vanmarcke", "bj84", "bt12", "bt15"]]

class Motion:
    kind: Literal["fas", "source", "target"]
    x: Optional[List[float]]
    y: Optional[List[float]]
    duration: Optional[float]
    magnitude: Optional[float]
    distance: Optional[float]
    region: _Region
    stress_drop: Optional[float]
    kappa: Optional[float]
    damping: float
    name: str
    def __init__(self, kind: str, x: Optional[npt.ArrayLike] = ..., y: Optional[npt.ArrayLike] = ...,
                 duration: Optional[float] = ..., magnitude: Optional[float] = ...,
                 distance: Optional[float] = ..., region: _Region = ...,
                 stress_drop: Optional[float] = ..., kappa: Optional[float] = ...,
                 damping: float = ..., name: Optional[str] = ...) -> None: ...
    @classmethod
    def from_fas(cls, freq: npt.ArrayLike, fas: npt.ArrayLike, duration: float, *,
                 magnitude: Optional[float] = ..., distance: Optional[float] = ...,
                 region: _Region = ..., name: str = ...) -> "Motion": ...
    @classmethod
    def from_source(cls, magnitude: float, distance: float, region: Literal["wna", "cena"], *,
                    stress_drop: Optional[float] = ..., kappa: Optional[float] = ...,
                    duration: Optional[float] = ...) -> "Motion": ...
    @classmethod
    def from_target(cls, periods: npt.ArrayLike, psa: npt.ArrayLike, duration: float, *,
                    damping: float = ..., magnitude: Optional[float] = ...,
                    distance: Optional[float] = ..., region: _Region = ...,
                    name: str = ...) -> "Motion": ...

class Result:
    motion: str
    profile_name: str
    input: str
    angle: float
    duration: float
    method: str
    note: str
    freq: npt.NDArray[np.float64]
    fourier_input: npt.NDArray[np.float64]
    fourier_surface: npt.NDArray[np.float64]
    factor: npt.NDArray[np.float64]
    peak_input: float
    peak_surface: float
    periods: npt.NDArray[np.float64]
    psa: Dict[float, Dict[str, npt.NDArray[np.float64]]]
    method_run: Literal["linear", "eql"]
    profile: Optional[Table]
    passes: Optional[Table]
    iterations: Optional[int]
    converged: Optional[bool]

def run(motion: Motion, site: Union[Site, Profile], *,
        input: Optional[Literal["incident", "outcrop", "within"]] = ...,
        method: Literal["linear", "eql"] = ..., angle: Optional[float] = ...,
        oblique: bool = ..., periods: Optional[npt.ArrayLike] = ...,
        damping: Union[float, Sequence[float]] = ..., peak_factor: _PeakFactor = ...,
        strain_ratio: float = ..., tolerance: float = ..., max_iterations: int = ...,
        sublayer_frequency: float = ..., sublayer_fraction: float = ...,
        strict: bool = ...) -> Result: ...
