#!/usr/bin/env python3
"""The equivalent-linear run of sitewave-batch against a numpy loop of its own.

Usage: reference.py SITEWAVE_BATCH. A five-layer clay-and-sand site (Darendeli curves) over rock, a
synthetic record as an outcrop motion; the loop here solves the column with the Thomson-Haskell
recursion of its own (Kramer's complex velocity), takes each sublayer's mid-depth strain back to time
with numpy's FFT and reads its own Darendeli curves. Agreement: G/Gmax within 0.002, damping within
0.001 (ratio) per sublayer, surface PGA within 0.5 %.
"""
import csv
import math
import pathlib
import subprocess
import sys
import tempfile

import numpy as np

G = 9.80665
LAYERS = [  # soil, thickness, vs, unit weight, pi, ocr
    ("clay_a", 4.0, 150.0, 18.0, 30.0, 1.0),
    ("sand_a", 6.0, 220.0, 19.5, 0.0, 1.0),
    ("clay_b", 8.0, 200.0, 18.5, 20.0, 2.0),
    ("sand_b", 10.0, 320.0, 20.0, 0.0, 1.0),
    ("clay_c", 12.0, 380.0, 19.0, 15.0, 1.5),
]
ROCK = (1200.0, 22.0, 0.01)  # vs, unit weight, damping
WATER = 3.0
K0 = 0.5


def use_site(path):
    """Takes the layers, rock and water table of a site file whose soils are all Darendeli's
    (pi and ocr; k0 0.5, 1 Hz, 10 cycles) in place of the five layers above."""
    import tomllib
    global LAYERS, ROCK, WATER
    with open(path, "rb") as f:
        site = tomllib.load(f)
    soils = {s["name"]: s for s in site["soil"]}
    for s in soils.values():
        if s.get("model") != "darendeli" or any(k in s for k in ("k0", "frequency", "cycles")):
            raise SystemExit("%s: soil %s: only Darendeli's defaults here" % (path, s["name"]))
    LAYERS = [(l["soil"], float(l["thickness"]), float(l["vs"]),
               float(soils[l["soil"]]["unit_weight"]), float(soils[l["soil"]].get("pi", 0.0)),
               float(soils[l["soil"]].get("ocr", 1.0))) for l in site["layer"]]
    rock = site["bedrock"]
    ROCK = (float(rock["vs"]), float(rock["unit_weight"]), float(rock["damping"]))
    WATER = float(site.get("water_table", 1e9))


def site_toml():
    text = 'title = "five layers"\nwater_table = %g\n\n' % WATER
    for soil, _h, _vs, uw, pi, ocr in LAYERS:
        text += ('[[soil]]\nname = "%s"\nunit_weight = %g\nmodel = "darendeli"\npi = %g\n'
                 'ocr = %g\n\n' % (soil, uw, pi, ocr))
    for soil, h, vs, _uw, _pi, _ocr in LAYERS:
        text += '[[layer]]\nsoil = "%s"\nthickness = %g\nvs = %g\nvp = %g\n\n' % (soil, h, vs, 4 * vs)
    text += "[bedrock]\nvs = %g\nvp = %g\nunit_weight = %g\ndamping = %g\n" % (
        ROCK[0], 2 * ROCK[0], ROCK[1], ROCK[2])
    return text


def record(dt=0.01, nt=2000):
    t = np.arange(nt) * dt
    env = (t / 4.0) ** 2 * np.exp(-t / 2.0)
    env /= env.max()
    rng = np.random.default_rng(7)
    comps = []
    for peak in (0.15, 0.08):
        x = np.zeros(nt)
        for f in np.linspace(0.5, 12.0, 40):
            x += np.sin(2 * np.pi * f * t + rng.uniform(0, 2 * np.pi)) / (1 + f / 3)
        x *= env
        comps.append(x * peak / np.abs(x).max())
    comps.append(0.3 * comps[0])
    return dt, t, comps


def darendeli(pi, ocr, sigma_m):
    gr = (0.0352 + 0.0010 * pi * ocr ** 0.3246) * sigma_m ** 0.3483
    a = 0.9190
    dmin = (0.8005 + 0.0129 * pi * ocr ** -0.1069) * sigma_m ** -0.2889
    b = 0.6329 - 0.0057 * math.log(10.0)
    c1 = -1.1143 * a * a + 1.8618 * a + 0.2523
    c2 = 0.0805 * a * a - 0.0710 * a - 0.0095
    c3 = -0.0005 * a * a + 0.0002 * a + 0.0003

    def at(g):
        mod = 1.0 / (1.0 + (g / gr) ** a)
        d1 = (100 / math.pi) * (4 * (g - gr * math.log((g + gr) / gr)) / (g * g / (g + gr)) - 2)
        dm = c1 * d1 + c2 * d1 ** 2 + c3 * d1 ** 3
        return mod, (b * mod ** 0.1 * dm + dmin) / 100.0

    return at


def sublayers():
    out = []  # (layer index, thickness, vs, density, sigma_v)
    total = 0.0
    top = 0.0
    for li, (_s, h, vs, uw, _pi, _ocr) in enumerate(LAYERS):
        limit = 0.2 * vs / 20.0
        n = math.ceil(h / limit) if h > limit else 1
        for k in range(n):
            mid = top + h / n * (k + 0.5)
            sv = total + uw * (mid - top) - 9.81 * max(0.0, mid - WATER)
            out.append((li, h / n, vs, uw / G, sv))
        total += uw * h
        top += h
    return out


def curves_of_layers():
    out = []
    total, top = 0.0, 0.0
    for _s, h, _vs, uw, pi, ocr in LAYERS:
        mid = top + h / 2
        sv = total + uw * h / 2 - 9.81 * max(0.0, mid - WATER)
        out.append(darendeli(pi, ocr, sv * (1 + 2 * K0) / 3 / 101.325))
        total += uw * h
        top += h
    return out


def loop(acc, dt, nt, nf):
    """acc: one component in m/s^2 (nt samples). Returns G/Gmax, damping per sublayer, surface
    acceleration history (m/s^2, nt samples), converged, passes."""
    subs = sublayers()
    curves = curves_of_layers()
    x = np.zeros(nf)
    x[:nt] = acc
    a_in = np.fft.rfft(x) * dt
    w = np.arange(a_in.size) * 2 * np.pi / (nf * dt)
    u_in = np.zeros_like(a_in)
    u_in[1:] = -a_in[1:] / w[1:] ** 2
    mod = np.array([curves[s[0]](1e-4)[0] for s in subs])
    damp = np.array([curves[s[0]](1e-4)[1] for s in subs])
    passes, converged = 0, False
    while True:
        passes += 1
        vs = np.array([s[2] for s in subs]) * np.sqrt(mod) * (1 + 1j * damp)
        rho = np.array([s[3] for s in subs])
        vr = ROCK[0] * (1 + 1j * ROCK[2])
        rr = ROCK[1] / G
        amp_a = np.ones_like(w, dtype=complex)
        amp_b = np.ones_like(w, dtype=complex)
        tops = []
        for m in range(len(subs)):
            tops.append((amp_a.copy(), amp_b.copy()))
            k = w / vs[m]
            h = subs[m][1]
            nxt_v, nxt_r = (vs[m + 1], rho[m + 1]) if m + 1 < len(subs) else (vr, rr)
            al = rho[m] * vs[m] / (nxt_r * nxt_v)
            e = np.exp(1j * k * h)
            na = 0.5 * amp_a * (1 + al) * e + 0.5 * amp_b * (1 - al) / e
            nb = 0.5 * amp_a * (1 - al) * e + 0.5 * amp_b * (1 + al) / e
            amp_a, amp_b = na, nb
        scale = u_in / (2 * amp_a)  # outcrop input: 2 A of the rock
        transfer = 2 / (2 * amp_a)
        new_mod, new_damp = np.empty_like(mod), np.empty_like(damp)
        for m, (a, b) in enumerate(tops):
            k = w / vs[m]
            z = subs[m][1] / 2
            gam = 1j * k * (a * np.exp(1j * k * z) - b * np.exp(-1j * k * z)) * scale
            gam[0] = 0
            peak = np.abs(np.fft.irfft(gam, nf)[:nt] / dt).max() * 100
            new_mod[m], new_damp[m] = curves[subs[m][0]](0.65 * peak)
        err = max(np.max(100 * np.abs(new_mod - mod) / new_mod),
                  np.max(100 * np.abs(new_damp - damp) / new_damp))
        if err <= 1.0:
            converged = True
        if converged or passes == 15:
            break
        mod, damp = new_mod, new_damp
    surf = a_in * transfer
    surf[0] = 0
    return mod, damp, np.fft.irfft(surf, nf)[:nt] / dt, converged, passes


def main():
    exe = sys.argv[1]
    with tempfile.TemporaryDirectory() as d:
        d = pathlib.Path(d)
        (d / "five.toml").write_text(site_toml())
        dt, t, comps = record()
        with open(d / "r.csv", "w") as f:
            f.write("t,h1,h2,v\n")
            for j in range(t.size):
                f.write("%.2f,%.9g,%.9g,%.9g\n" % (t[j], comps[0][j], comps[1][j], comps[2][j]))
        subprocess.run([exe, "--soil", str(d / "five.toml"), "--input", "outcrop", "--method", "eql",
                        str(d / "r.csv"), "--out", str(d / "o")], check=True, stdout=subprocess.DEVNULL)
        summary = list(csv.DictReader(open(d / "o" / "summary.csv")))[0]
        nf = int(summary["nf"])
        rows = list(csv.DictReader(open(d / "o" / "five" / "r" / "profile.csv")))
        worst_g = worst_d = worst_pga = 0.0
        # The record as the program read it: float samples.
        for c, name in enumerate(("H1", "H2")):
            acc = np.array(comps[c], dtype=np.float32).astype(float) * G
            mod, damp, surf, converged, passes = loop(acc, dt, t.size, nf)
            got = [r for r in rows if r["component"] == name]
            assert len(got) == mod.size, (len(got), mod.size)
            for r, gm, dm in zip(got, mod, damp):
                worst_g = max(worst_g, abs(float(r["G/Gmax"]) - gm))
                worst_d = max(worst_d, abs(float(r["damping (%)"]) / 100 - dm))
            pga = np.abs(surf).max() / G
            worst_pga = max(worst_pga, abs(float(summary["peak surface " + name]) - pga) / pga)
            print(f"{name}: passes {passes} (program {summary['passes ' + name]}), converged "
                  f"{converged}, PGA {pga:.5f} g (program {summary['peak surface ' + name]})")
        print(f"largest differences: G/Gmax {worst_g:.2e}, damping {worst_d:.2e}, "
              f"PGA {100 * worst_pga:.3f} %")
        ok = worst_g <= 0.002 and worst_d <= 0.001 and worst_pga <= 0.005
        print("eql reference:", "agrees" if ok else "DISAGREES")
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
