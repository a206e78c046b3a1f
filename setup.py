"""Builds the module vantorel._vantorel with CMake (python/CMakeLists.txt) for pip.

The version is the CMake project's. VANTOREL_CMAKE_BUILD_DIR chooses the CMake build
folder (default: build/python-package/cmake under the source tree) so that rebuilds are quick.
"""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
BUILD_BASE = ROOT / "build" / "python-package"


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(Vantorel VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    """Configures the project with only the module to build, then copies it into place."""

    def build_extension(self, ext):
        build_dir = Path(os.environ.get("VANTOREL_CMAKE_BUILD_DIR", BUILD_BASE / "cmake"))
        module_dir = build_dir / "module"
        subprocess.run(
            ["cmake", "-S", str(ROOT), "-B", str(build_dir),
             "-DCMAKE_BUILD_TYPE=Release",
             "-DVANTOREL_BUILD_PYTHON=ON",
             "-DBUILD_TESTING=OFF",
             "-DVANTOREL_BUILD_BENCHMARKS=OFF",
             f"-DPython_EXECUTABLE={sys.executable}",
             f"-DVANTOREL_PYTHON_OUTPUT_DIR={module_dir}"],
            check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "_vantorel",
                        "--parallel", jobs], check=True)
        built = [p for p in module_dir.glob("_vantorel*.so")]
        if len(built) != 1:
            raise RuntimeError(f"expected one built module in {module_dir}, found {built}")
        destination = Path(self.get_ext_fullpath(ext.name))
        destination.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], destination)


setup(
    version=project_version(),
    ext_modules=[Extension("vantorel._vantorel", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": str(BUILD_BASE)}},
    zip_safe=False,
)
