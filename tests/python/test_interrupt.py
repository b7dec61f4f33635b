"""Ctrl-C during run_many: the suite stops (runs under way end first) with KeyboardInterrupt and
the interpreter goes on."""
import os
import subprocess
import sys
import textwrap

from conftest import EXAMPLES

CHILD = textwrap.dedent("""
    import os, signal, threading
    import sitewave as sw
    rec = sw.read_record(%r)
    sites = [sw.read_site(%r)] * 3
    threading.Timer(0.5, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
    try:
        sw.run_many([rec] * 400, sites, input="outcrop", method="eql", jobs=2)
        print("finished")
    except KeyboardInterrupt:
        print("interrupted")
    res = sw.run(rec, sites[0], input="outcrop")
    print("then ran", res.surface.shape)
""")


def test_keyboard_interrupt_stops_run_many():
    code = CHILD % (str(EXAMPLES / "elcentro.csv"), str(EXAMPLES / "sites" / "best.toml"))
    p = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                       timeout=300, env=dict(os.environ))
    assert p.returncode == 0, p.stderr
    assert p.stdout.splitlines()[0] == "interrupted"
    assert "then ran (5346, 3)" in p.stdout
