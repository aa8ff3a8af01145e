"""Builds the extension module odefit._odefit with CMake (the library and its bindings, nothing else of
the project) and packages it with the pure-Python part in python/odefit. Metadata is in pyproject.toml.

When the project has been built already (./run or ./test made build/), the module is built in that tree,
so only the bindings are compiled; otherwise the CMake build tree is kept in build-python/. Either way
ODEFIT_PYTHON_BUILD_DIR changes it, and installing again after a change rebuilds only what changed. CMAKE_BUILD_PARALLEL_LEVEL sets the number of compile jobs.
ODEFIT_PYTHON_MODULE names a module already built by the project's own build (-DODEFIT_BUILD_PYTHON=ON),
which is then packaged as it is: ./test builds the library once for both.
"""

import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(odefit VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        prebuilt = os.environ.get("ODEFIT_PYTHON_MODULE")
        if prebuilt:
            shutil.copyfile(prebuilt, target)
            return

        import pybind11

        # The interpreter a virtual environment is made from: its headers are the ones the module needs,
        # and a new environment then does not make CMake look for Python again.
        python = getattr(sys, "_base_executable", None) or sys.executable
        project_build = ROOT / "build"
        if "ODEFIT_PYTHON_BUILD_DIR" in os.environ:
            build_dir = Path(os.environ["ODEFIT_PYTHON_BUILD_DIR"])
        elif (project_build / "CMakeCache.txt").exists():
            build_dir = project_build
        else:
            build_dir = ROOT / "build-python" / "cmake"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build_dir), "-DODEFIT_BUILD_PYTHON=ON",
                     f"-DPython_EXECUTABLE={python}", f"-Dpybind11_DIR={pybind11.get_cmake_dir()}"]
        if build_dir != project_build:
            # A tree of its own builds the library and the module only; the project's keeps its settings.
            configure += ["-DCMAKE_BUILD_TYPE=Release", "-DODEFIT_BUILD_TESTS=OFF", "-DODEFIT_BUILD_BENCH=OFF",
                          "-DODEFIT_BUILD_APP=OFF", "-DODEFIT_INSTALL=OFF"]
        if shutil.which("ninja") and not (build_dir / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(self.parallel or os.cpu_count() or 1)
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "_odefit", "-j", jobs], check=True)

        built = build_dir / "python" / ("_odefit" + sysconfig.get_config_var("EXT_SUFFIX"))
        shutil.copyfile(built, target)


setup(
    version=project_version(),
    package_dir={"": "python"},
    packages=["odefit"],
    ext_modules=[Extension("odefit._odefit", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Not build/: that is the CMake build tree of ./test.
    options={"build": {"build_base": "build-python/setuptools"}},
)
