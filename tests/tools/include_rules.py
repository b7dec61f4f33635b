#!/usr/bin/env python3
"""The rooms of src/ include only the rooms docs/architecture.md allows them.

Run from anywhere: include_rules.py SOURCE_ROOT. Prints each include that breaks a rule (file, line,
room included) and exits 1 if there is one. Public headers (sitewave/...) may be included by any
room; the programs in app/ include only public headers and their own, the Python module in python/
only public headers.
"""
import pathlib
import re
import sys

# The rooms each room may include, besides itself and the public headers.
ALLOWED = {
    "arith": set(),
    "threads": {"textio"},
    "textio": set(),
    "fft": {"arith", "threads"},
    "layered": {"arith", "threads"},
    "soil": {"textio", "arith", "layered"},
    "steps": {"arith", "fft", "layered", "soil", "textio", "threads"},
    "overlap": {"steps", "soil", "layered", "textio", "arith", "threads"},
    "dialogue": {"overlap", "steps", "soil", "textio", "arith", "fft", "threads"},
    "response": {"arith"},
    "spectral": {"arith"},
    "batch": {"steps", "soil", "layered", "fft", "response", "spectral", "textio", "arith"},
    "curves": set(),
    "site": {"curves", "textio"},
    "propagation": set(),
    "eql": {"arith"},
    "rvt": set(),
    "variation": set(),
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def faults(root):
    src = root / "src"
    rooms = {p.name for p in src.iterdir() if p.is_dir()}
    found = []
    for room in sorted(rooms - ALLOWED.keys()):
        found.append(f"src/{room}: a room without rules (add it to include_rules.py and the page)")
    sources = [(p, p.relative_to(root).parts[1]) for p in src.rglob("*") if p.suffix in (".cpp", ".hpp")]
    sources += [(p, "app") for p in (root / "app").rglob("*") if p.suffix in (".cpp", ".hpp")]
    # The Python module is a front end too: public headers only.
    sources += [(p, "public") for p in (root / "python").rglob("*") if p.suffix in (".cpp", ".hpp")]
    sources += [(p, "public") for p in (root / "include").rglob("*") if p.suffix in (".cpp", ".hpp")]
    for path, room in sources:
        for n, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            target = m.group(1)
            first = target.split("/")[0] if "/" in target else None
            if first == "sitewave":
                continue
            if room in ("app", "public"):
                ok = first is None and room == "app"
            else:
                ok = first is None or first == room or first in ALLOWED.get(room, set())
            if not ok:
                found.append(f"{path.relative_to(root)}:{n}: {room} includes \"{target}\"")
    return found


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    found = faults(root)
    for f in found:
        print(f)
    print(f"include rules: {len(found)} fault(s)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
