"""sitewave: site response of layered soil to three-component earthquake records, numpy in and out.

The functions take values and give back new ones; nothing is changed behind the caller.

>>> import sitewave as sw
>>> site = sw.read_site("examples/sites/best.toml")
>>> rec = sw.read_at2("H1.AT2", "H2.AT2", "V.AT2")
>>> res = sw.run(rec, site, input="outcrop", method="eql", depths=[5, 10])
>>> res.surface            # (n, 3) float32: surface H1, H2, V in g
>>> res.profile            # the sublayers at the end of the iteration (a structured array)

Inputs: `Record` (`read_record`, `read_at2`), `Profile` (`read_profile`: a soil file), `Site`
(`read_site`, or `Site(layers=[Layer...], bedrock=Bedrock(...), soils={name: Soil(...)})`).
Runs: `run`, `run_many` (a suite on threads, the GIL released). Spectra: `psa`, `rotd`,
`log_periods`. Curves: `sitewave.curves`. Random vibration theory: `sitewave.rvt` (a `rvt.Motion` runs
through `run` in place of a record). Refusals raise ValueError (bad input) or OSError (files)
with the library's message. Results, records, profiles and sites can be pickled.
"""

from . import curves, rvt
from ._inputs import (Bedrock, Layer, Profile, Record, Site, Soil, read_at2, read_profile,
                      read_record, read_site)
from ._runs import Result, Table, log_periods, psa, rotd, run, run_many
from ._sitewave import version as __version__

__all__ = ["__version__", "Bedrock", "Layer", "Profile", "Record", "Result", "Site", "Soil",
           "Table", "curves", "rvt", "log_periods", "psa", "read_at2", "read_profile", "read_record",
           "read_site", "rotd", "run", "run_many"]
