#!/usr/bin/env python3
"""A small site study, notebook style: the El Centro 1940 triple on three profiles of one site
(lower, best and upper estimates), equivalent-linear, with the mean response spectra and a figure.

Run from anywhere once the module is built (make test builds it; PYTHONPATH=build/python):
    python3 examples/python/site_study.py [--out FOLDER]
Writes FOLDER/site_study.png and FOLDER/site_study.csv (default: site-study-out/).
"""
import argparse
import pathlib

import numpy as np

import sitewave as sw

HERE = pathlib.Path(__file__).resolve().parent.parent  # examples/

# %% The inputs: three site files and one record (PEER NGA AT2 files, in g).
sites = [sw.read_site(HERE / "sites" / (name + ".toml")) for name in ("lower", "best", "upper")]
at2 = HERE / "at2"
record = sw.read_at2(at2 / "RSN6_IMPVALL.I_I-ELC180-hor1.AT2",
                     at2 / "RSN6_IMPVALL.I_I-ELC270-hor2.AT2",
                     at2 / "RSN6_IMPVALL.I_I-ELC-UP.AT2")
periods = sw.log_periods(0.02, 5.0, 60)

# %% Every record on every site, two at a time: results[i][0] is the record on sites[i].
results = sw.run_many([record], sites, input="outcrop", method="eql", max_iterations=40,
                      periods=periods, rotd=True, jobs=2)
runs = [row[0] for row in results]
for site, res in zip(sites, runs):
    print("%-30s passes H1/H2 %s, converged %s, PGA surface H1 %.3f g"
          % (site.name, res.iterations.tolist(), res.converged.tolist(),
             np.abs(res.surface[:, 0]).max()))

# %% Mean spectra over the profiles: the surface RotD50 and the amplification of H1.
t = runs[0].periods
rotd50 = np.array([r.psa[0.05]["surface_rotd"][:, 0] for r in runs])
ratio = np.array([r.psa[0.05]["surface"][:, 0] / r.psa[0.05]["input"][:, 0] for r in runs])
mean_ln = np.exp(np.log(rotd50[:, 1:]).mean(axis=0))  # period 0 (PGA) left out of the plot

# %% The figure and a table of the mean spectrum.
parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
parser.add_argument("--out", default="site-study-out")
out = pathlib.Path(parser.parse_args().out)
out.mkdir(parents=True, exist_ok=True)

import matplotlib  # noqa: E402

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

fig, (ax1, ax2, ax3) = plt.subplots(1, 3, figsize=(14, 4.5))
for site, r, row in zip(sites, runs, rotd50):
    ax1.loglog(t[1:], row[1:], lw=0.8, label=site.title or site.name)
ax1.loglog(t[1:], mean_ln, "k", lw=2, label="log mean")
ax1.loglog(t[1:], runs[0].psa[0.05]["input_rotd"][1:, 0], "k--", lw=1, label="input")
ax1.set(xlabel="period (s)", ylabel="RotD50 PSA 5% (g)", title="Surface spectra")
ax1.legend(fontsize=7)
ax2.semilogx(t[1:], ratio[:, 1:].T, lw=0.8)
ax2.semilogx(t[1:], ratio[:, 1:].mean(axis=0), "k", lw=2)
ax2.set(xlabel="period (s)", ylabel="surface / input, H1", title="Amplification")
for site, r in zip(sites, runs):
    h1 = r.profile[r.profile["component"] == 1]
    ax3.plot(h1["strain_eff"], h1["depth"], marker=".", lw=0.8, label=site.name.split("/")[-1])
ax3.invert_yaxis()
ax3.set(xscale="log", xlabel="effective strain (%)", ylabel="depth (m)", title="Strain, H1")
ax3.legend(fontsize=7)
fig.tight_layout()
fig.savefig(out / "site_study.png", dpi=110)
np.savetxt(out / "site_study.csv", np.column_stack([t[1:], mean_ln]), delimiter=",",
           header="period (s),log-mean surface RotD50 5% (g)", comments="")
print("wrote", out / "site_study.png", "and", out / "site_study.csv")
