"""The package cavity: the Python tools, the solver's compiled module
cavity._solver and the solver itself, built by CMake from this tree.

    python3 -m venv --system-site-packages build/venv
    build/venv/bin/pip install --no-build-isolation --no-index .

CMake builds in build/python/cmake (with CAVITY_PYTHON=ON, everything
position-independent) the module, which goes beside the Python files, and
the programs cavity and cavity-reference, which go to cavity/bin/ where the
tools find them; cavity goes onto the environment's PATH too, with the
README and docs/ where its --help finds them. JOBS sets the build
parallelism (default 2)."""

import os
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))
# Relative to the tree, as setuptools wants its paths; beside CMake's build/.
BUILD_BASE = os.path.join("build", "python")
CMAKE_BUILD = os.path.join(BUILD_BASE, "cmake")
PROGRAMS = ("cavity", "cavity-reference")


def version():
    """The version of the CMake project, the one `cavity --version` prints."""
    with open(os.path.join(ROOT, "CMakeLists.txt")) as fh:
        return re.search(r"project\(cavity VERSION ([0-9.]+)", fh.read()).group(1)


def docs_files():
    """(folder, files) for data_files: README.md and docs/ into share/doc/cavity."""
    pairs = [("share/doc/cavity", ["README.md"])]
    for folder, _, names in sorted(os.walk("docs")):
        pairs.append((os.path.join("share/doc/cavity", folder),
                      sorted(os.path.join(folder, n) for n in names)))
    return pairs


class CMakeBuild(build_ext):
    """Builds cavity._solver and the programs with CMake and puts them into
    the package being built."""

    def build_extension(self, ext):
        build = os.path.join(ROOT, CMAKE_BUILD)
        configure = ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                     "-DCAVITY_PYTHON=ON", "-DCMAKE_POSITION_INDEPENDENT_CODE=ON",
                     "-DCAVITY_TESTS=OFF", "-DCAVITY_BENCHMARKS=OFF",
                     "-DPython_EXECUTABLE=" + sys.executable]
        # A folder configured before keeps its generator.
        if not os.path.exists(os.path.join(build, "CMakeCache.txt")) and shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", build, "-j", os.environ.get("JOBS", "2"),
                        "--target", "cavity_python", *PROGRAMS], check=True)
        module = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(module), exist_ok=True)
        built = os.path.join(build, "src", "python",
                             "_solver" + sysconfig.get_config_var("EXT_SUFFIX"))
        shutil.copy2(built, module)
        bin_dir = os.path.join(os.path.dirname(module), "bin")
        os.makedirs(bin_dir, exist_ok=True)
        for program in PROGRAMS:
            shutil.copy2(os.path.join(build, program), os.path.join(bin_dir, program))


setup(
    version=version(),
    ext_modules=[Extension("cavity._solver", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    data_files=[("bin", [os.path.join(CMAKE_BUILD, "cavity")])] + docs_files(),
    options={"build": {"build_base": BUILD_BASE},
             "egg_info": {"egg_base": BUILD_BASE}},
)
