"""examples/python/lorenz_fit.py runs end to end on a short series."""

import re
import subprocess
import sys

from conftest import EXAMPLES


def test_the_lorenz_example_fits_prints_and_plots(tmp_path):
    picture = tmp_path / "lorenz.png"
    run = subprocess.run([sys.executable, str(EXAMPLES / "python" / "lorenz_fit.py"), "--vectors", "1200",
                          "--output", str(picture)], capture_output=True, text=True, timeout=120, cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert lines[0] == "1200 vectors, the first 900 fitted with order-2 polynomials:"
    # sigma = 10: dx1/dt is about -10 x1 + 10 x2.
    terms = re.search(r"dx1/dt = \S+ ([-+] [\d.]+) x1 ([-+] [\d.]+) x2 ", lines[1])
    x1, x2 = (float(term.replace(" ", "")) for term in terms.groups())
    assert abs(x1 + 10) < 0.5 and abs(x2 - 10) < 0.5
    assert lines[-1] == f"wrote {picture}"
    assert picture.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
