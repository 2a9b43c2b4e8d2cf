"""The package's compiled module and its own build of the solver."""

import filecmp
import os
import shutil
import subprocess
import sys

import pytest

import cavity
from cavity import programs

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLE = os.path.join(os.path.dirname(os.path.dirname(HERE)), "examples",
                       "Input_Parameters.Input")
FILES = ("Result.dat", "Nu.dat", "V_Velocity_MidLine.dat",
         "TEMPERATURE_MidLine.dat", "U_Velocity_Vertical_MidLine.dat")


def environment(**extra):
    env = {k: v for k, v in os.environ.items() if k != "CAVITY_KERNELS"}
    env.update(extra)
    return env


def test_module_tells_the_version_and_kernels_the_program_prints():
    """cavity._solver is built from the same libraries as the programs the
    package installs: cavity/bin/cavity and the cavity on the environment's
    PATH print what the module tells."""
    solver = cavity._solver
    expected = "cavity %s (%s kernels of %s)\n" % (
        solver.__version__, solver.kernel_set(), ", ".join(solver.kernel_sets_built()))
    on_path = shutil.which("cavity", path=os.path.dirname(sys.executable))
    for program in (programs.PACKAGED, on_path):
        proc = subprocess.run([program, "--version"], capture_output=True,
                              text=True, env=environment(), timeout=60)
        assert (proc.returncode, proc.stdout) == (0, expected), program


def run(program, folder, **env):
    os.makedirs(folder)
    shutil.copy(EXAMPLE, folder)
    return subprocess.run([program], input=b"16\n16\n\n", cwd=folder,
                          capture_output=True, env=environment(**env), timeout=120)


def test_packaged_fast_program_writes_the_reference_programs_bytes(tmp_path):
    """The package's own build (position-independent, of its own CMake
    folder) keeps the fast steps equal to the straightforward ones, with
    every set of kernels the processor runs."""
    reference = run(programs.PACKAGED + "-reference", str(tmp_path / "reference"))
    assert reference.returncode == 0, reference.stderr
    compared = 0
    for kernels in cavity._solver.kernel_sets_built():
        fast = run(programs.PACKAGED, str(tmp_path / kernels), CAVITY_KERNELS=kernels)
        if fast.returncode == 1 and b"does not run these kernels" in fast.stderr:
            continue
        assert fast.returncode == 0, fast.stderr
        assert fast.stdout == reference.stdout, kernels
        match, mismatch, errors = filecmp.cmpfiles(
            tmp_path / "reference", tmp_path / kernels, FILES, shallow=False)
        assert (mismatch, errors) == ([], []), kernels
        compared += 1
    if compared == 0:
        pytest.fail("the processor runs none of the kernels built")
