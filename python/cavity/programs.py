"""Where the tools find the solver, and how one tool starts another."""

import os
import shutil
import sys

HERE = os.path.dirname(os.path.realpath(__file__))
# The solver the package build put beside these modules, and the one a
# build of the source tree leaves in build/ (when the tools run from there).
PACKAGED = os.path.join(HERE, "bin", "cavity")
BUILT = os.path.join(os.path.dirname(os.path.dirname(HERE)), "build", "cavity")

SEARCH = ("$CAVITY_BIN, else the cavity installed with this package, else "
          "build/cavity of the source tree, else cavity on the PATH")


def solver():
    """The solver to run: see SEARCH."""
    env = os.environ.get("CAVITY_BIN")
    if env:
        return env
    for candidate in (PACKAGED, BUILT):
        if os.access(candidate, os.X_OK):
            return candidate
    return shutil.which("cavity") or BUILT


def tool(name):
    """The command line that runs the tool module cavity.cli.NAME with this
    interpreter, so that a tool started by another is of the same install."""
    return [sys.executable, "-m", "cavity.cli." + name]
