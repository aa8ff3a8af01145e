"""The package chooses OpenBLAS's kernels from the processor's flags before the library is loaded."""

import os
import subprocess
import sys

from odefit import _blas


def test_the_best_kernels_the_flags_allow():
    avx512 = {"avx512f", "avx512cd", "avx512bw", "avx512dq", "avx512vl", "avx2", "fma"}
    assert _blas.core_type_for(avx512 | {"avx512_bf16", "sse2"}) == "Cooperlake"
    assert _blas.core_type_for(avx512) == "SkylakeX"
    assert _blas.core_type_for((avx512 - {"avx512vl"}) | {"avx512_bf16"}) == "Haswell"
    assert _blas.core_type_for({"avx2", "fma"}) == "Haswell"
    assert _blas.core_type_for({"avx2"}) is None
    assert _blas.core_type_for(set()) is None


def test_flags_are_read_from_cpuinfo(tmp_path):
    cpuinfo = tmp_path / "cpuinfo"
    cpuinfo.write_text("processor\t: 0\nmodel name\t: X\nflags\t\t: fpu sse2 avx2 fma\n\nprocessor\t: 1\n")
    assert _blas.processor_flags(str(cpuinfo)) == {"fpu", "sse2", "avx2", "fma"}
    assert _blas.processor_flags(str(tmp_path / "missing")) == set()


def test_a_choice_already_made_is_kept(tmp_path):
    cpuinfo = tmp_path / "cpuinfo"
    cpuinfo.write_text("flags\t: avx2 fma\n")
    environ = {"OPENBLAS_CORETYPE": "Prescott"}
    assert _blas.choose_kernels(environ, str(cpuinfo)) == "Prescott"
    environ = {}
    assert _blas.choose_kernels(environ, str(cpuinfo)) == "Haswell"
    assert environ == {"OPENBLAS_CORETYPE": "Haswell"}
    environ = {}
    assert _blas.choose_kernels(environ, str(tmp_path / "missing")) is None
    assert environ == {}


def test_importing_the_package_sets_the_kernels_for_this_processor():
    env = {k: v for k, v in os.environ.items() if k != "OPENBLAS_CORETYPE"}
    shown = subprocess.run(
        [sys.executable, "-c", "import os, odefit; print(os.environ.get('OPENBLAS_CORETYPE'))"],
        env=env, capture_output=True, text=True, check=True,
    ).stdout.strip()
    assert shown == str(_blas.core_type_for(_blas.processor_flags()))
    env["OPENBLAS_CORETYPE"] = "Haswell"
    shown = subprocess.run(
        [sys.executable, "-c", "import os, odefit; print(os.environ.get('OPENBLAS_CORETYPE'))"],
        env=env, capture_output=True, text=True, check=True,
    ).stdout.strip()
    assert shown == "Haswell"
