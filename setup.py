"""Builds orvlib's native modules with CMake for pip (see pyproject.toml).

ORV_BUILD_DIR names an existing CMake build tree (configured with the Python binding) whose
modules are brought up to date and packaged; without it a Release tree of its own is configured
under setuptools' build directory.
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent
# setuptools' own scratch files, kept out of the source tree's top and apart from CMake's.
SCRATCH = "build/python-package"


def version():
    cmake = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(orv VERSION ([0-9.]+)", cmake).group(1)


class CMakeBuild(build_ext):
    """Builds the CMake target orvlib and copies its modules where setuptools expects them."""

    def build_extensions(self):
        tree = self.cmake_tree()
        subprocess.run(["cmake", "--build", str(tree), "--target", "orvlib"], check=True)
        built = tree / "python" / "orvlib"
        suffix = sysconfig.get_config_var("EXT_SUFFIX")
        for ext in list(self.extensions):
            module = built / (ext.name.rpartition(".")[2] + suffix)
            if not module.exists():
                if ext.optional:  # the emulator, absent when the tools are not built
                    self.extensions.remove(ext)
                    continue
                sys.exit(f"{module} is missing: the build tree's modules were built for another "
                         f"Python than {sys.executable}")
            target = pathlib.Path(self.get_ext_fullpath(ext.name))
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(module, target)

    def cmake_tree(self):
        given = os.environ.get("ORV_BUILD_DIR")
        if given:
            tree = pathlib.Path(given).resolve()
            cache = tree / "CMakeCache.txt"
            if not cache.exists():
                sys.exit(f"ORV_BUILD_DIR={given} is not a CMake build tree")
            if "ORV_BUILD_PYTHON:BOOL=ON" not in cache.read_text():
                sys.exit(f"ORV_BUILD_DIR={given} is configured without the Python binding "
                         "(ORV_BUILD_PYTHON; needs pybind11-dev and python3-dev)")
            return tree
        tree = pathlib.Path(self.build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", str(ROOT), "-B", str(tree), "-DCMAKE_BUILD_TYPE=Release",
                     "-DORV_BUILD_PYTHON=ON", "-DORV_BUILD_TESTS=OFF", "-DORV_BUILD_BENCH=OFF",
                     "-DORV_BUILD_EXAMPLES=OFF", f"-DPython3_EXECUTABLE={sys.executable}"]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        if shutil.which("ccache"):
            configure += ["-DCMAKE_C_COMPILER_LAUNCHER=ccache",
                          "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
        subprocess.run(configure, check=True)
        return tree


os.makedirs(ROOT / SCRATCH, exist_ok=True)
setup(
    version=version(),
    packages=["orvlib"],
    package_dir={"orvlib": "python/orvlib"},
    package_data={"orvlib": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("orvlib._orvlib", sources=[]),
                 Extension("orvlib._emulator", sources=[], optional=True)],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": SCRATCH}, "egg_info": {"egg_base": SCRATCH}},
    zip_safe=False,
)
