#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/<target>/) from the end-to-end cases and
the examples. Run from the repository root; the corpus is kept in the repository, with every input
that once made a target fail added by hand to fuzz/regressions/<target>/."""
import os
import re

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CASES = os.path.join(ROOT, "tests", "e2e", "cases")
OUT = os.path.join(ROOT, "fuzz", "corpus")
SEP = b"\n--\n"


def put(target, name, data):
    d = os.path.join(OUT, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def read(path, max_lines=None):
    with open(path, "rb") as f:
        data = f.read()
    if max_lines is not None:
        data = b"".join(data.splitlines(keepends=True)[:max_lines])
    return data


def at2_short(path, n=60):
    lines = read(path).splitlines(keepends=True)
    head = lines[:3] + [re.sub(rb"NPTS=\s*\d+", b"NPTS=  %d" % n, lines[3])]
    return b"".join(head + lines[4:4 + n // 5])


def main():
    for case in sorted(os.listdir(CASES)):
        cdir = os.path.join(CASES, case)
        if not os.path.isdir(cdir):
            continue
        stdin = read(os.path.join(cdir, "stdin.txt"))
        name = stdin.split(b"\n")[0].strip().decode("latin-1")
        record = os.path.join(cdir, name)
        soil = os.path.join(cdir, "soil_dat.csv")
        rec = read(record, 400) if name and os.path.isfile(record) else b""
        sl = read(soil) if os.path.isfile(soil) else b""
        answers = b"\n".join(stdin.split(b"\n")[1:])
        if rec:
            put("record", case, rec)
            put("list_read", case, bytes([0x55, 0]) + rec[:2000])
        if sl:
            put("soil", case, sl)
            put("list_read", case + "-soil", bytes([0x6a, 1]) + sl)
        if rec and sl and len(rec) < 16000:
            put("run", case, rec + SEP + sl + SEP + answers)
    ex = os.path.join(ROOT, "examples")
    put("record", "elcentro", read(os.path.join(ex, "elcentro.csv"), 300))
    at2 = [os.path.join(ex, "at2", f) for f in ("RSN6_IMPVALL.I_I-ELC180-hor1.AT2",
                                                "RSN6_IMPVALL.I_I-ELC270-hor2.AT2",
                                                "RSN6_IMPVALL.I_I-ELC-UP.AT2")]
    put("at2", "elcentro", SEP.join(at2_short(p) for p in at2))
    put("at2", "elcentro-other-form", SEP.join(
        re.sub(rb"NPTS=\s*(\d+), DT=\s*([.0-9]+) SEC,", rb"\1 \2 NPTS, DT", at2_short(p, 40))
        for p in at2))
    for name in ("lower", "best", "upper"):
        put("soil", "profile-" + name, read(os.path.join(ex, "profiles", name + ".csv")))
    put("batch_cli", "suite", b"--soil\nlower.csv\n--soil\nbest.csv\n--input\noutcrop\n--spectra\n"
        b"@LIST\n--at2\na.AT2\nb.AT2\nc.AT2" + SEP + b"# records\nr1.csv\n\nh1.AT2, h2.AT2, v.AT2\n")
    put("batch_cli", "options", b"--soil\ns.csv\n--band\n0.1,0.2,20,25\n--process\nintegrate\n"
        b"--jobs\n2\n--angle\n30\n--impedance\noblique\n--out\nx\nr.csv")
    put("batch_cli", "help", b"--help")
    # The public steps: a byte of 0 picks each sound argument, so zeros are a whole sound run;
    # the others take other entries of the lists, or raw values (bytes from 0xe0 and 0xf0 up).
    put("steps", "sound", bytes(64))
    put("steps", "ones", bytes([1]) * 64)
    put("steps", "ascending", bytes(range(1, 129)))
    put("steps", "raw-values", bytes([0xff, 0x7f, 0xc0, 0x00, 0x01]) * 24)
    put("batch_cli", "spectra", b"--soil\ns.csv\n--spectra\n--damping\n0.02,0.05\n--periods\n"
        b"0.05,4,20\nr.csv")
    put("batch_cli", "rvt", b"--soil\ns.toml\n--input\noutcrop\n--fas\nf.csv\n--duration\n8\n"
        b"--source\n--magnitude\n6.5\n--distance\n20\n--region\nwna\n--peak-factor\nbt15")
    for name in ("lower", "best", "upper", "soft_clay"):
        put("site", name, read(os.path.join(ex, "sites", name + ".toml")))
    pars = read(os.path.join(ROOT, "data", "rvt", "wna_bt15_trms4osc.pars"), 12)
    put("rvt", "fas", pars + SEP + b"f,a\n0.1,0.01\n1,0.05\n10,0.02\n50,0.002\n" + SEP + b"\x03")
    put("rvt", "target", b"t\nnm, nr:\n2 2\nh\n1 1 1 1 1 1 1 1 1\n2 1 1 1 1 1 1 1 1\n"
        b"1 2 1 1 1 1 1 1 1\n2 2 1 1 1 1 1 1 1" + SEP + b"T,psa\n0.01,0.2\n0.1,0.45\n0.5,0.3\n"
        b"2,0.05\n" + SEP + b"\x08")


if __name__ == "__main__":
    main()
