"""Importing the package changes nothing in the process's environment and loads no desktop toolkit."""

import os
import subprocess
import sys

SHOW = (
    "import os, json; before = dict(os.environ); import odefit; "
    "maps = open('/proc/self/maps').read(); "
    "print(json.dumps([dict(os.environ) == before, 'libQt' in maps]))"
)


def test_import_leaves_the_environment_and_loads_no_toolkit():
    for extra in ({}, {"OPENBLAS_CORETYPE": "Haswell"}):
        env = {k: v for k, v in os.environ.items() if k not in ("OPENBLAS_CORETYPE", "OPENBLAS_NUM_THREADS")}
        env.update(extra)
        shown = subprocess.run([sys.executable, "-c", SHOW], env=env, capture_output=True, text=True, check=True)
        assert shown.stdout.strip() == "[true, false]", shown.stderr
