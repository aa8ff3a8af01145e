"""The BLAS kernels the extension runs with.

OpenBLAS picks its kernels when it is loaded, from the processor it recognises; on a processor model newer
than the library it falls back to generic kernels, several times slower for large fits. It reads
OPENBLAS_CORETYPE only when it is loaded, so the package sets it before numpy or the extension load the
library: to the best kernels the processor's instructions allow, and only when it is not set already.

A process that loaded OpenBLAS before importing odefit (numpy imported first, say) keeps the kernels the
library chose then: set OPENBLAS_CORETYPE before starting Python, or import odefit first.
"""

import os

# Instruction sets, as /proc/cpuinfo names them, and the kernels they allow, best first.
_AVX512 = {"avx512f", "avx512cd", "avx512bw", "avx512dq", "avx512vl", "avx2", "fma"}
_RULES = (
    (_AVX512 | {"avx512_bf16"}, "Cooperlake"),
    (_AVX512, "SkylakeX"),
    ({"avx2", "fma"}, "Haswell"),
)


def core_type_for(flags):
    """The OpenBLAS core type for a processor with these feature flags, or None for the generic kernels."""
    flags = set(flags)
    for needed, core in _RULES:
        if needed <= flags:
            return core
    return None


def processor_flags(cpuinfo="/proc/cpuinfo"):
    """The feature flags of the first processor in `cpuinfo` (an empty set when it cannot be read)."""
    try:
        with open(cpuinfo, encoding="ascii", errors="replace") as lines:
            for line in lines:
                name, _, value = line.partition(":")
                if name.strip() == "flags":
                    return set(value.split())
    except OSError:
        pass
    return set()


def choose_kernels(environ=None, cpuinfo="/proc/cpuinfo"):
    """Sets OPENBLAS_CORETYPE in `environ` (os.environ) for this processor unless it is set; returns its value."""
    environ = os.environ if environ is None else environ
    if "OPENBLAS_CORETYPE" not in environ:
        core = core_type_for(processor_flags(cpuinfo))
        if core is not None:
            environ["OPENBLAS_CORETYPE"] = core
    return environ.get("OPENBLAS_CORETYPE")
