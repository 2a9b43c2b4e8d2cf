import os
import shutil
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

FAKE_SOLVER = os.path.join(HERE, "fakesolver.py")


def tool(name):
    """The console script NAME of the package installed for this interpreter
    (beside it in a virtual environment, else on the PATH)."""
    path = os.path.join(os.path.dirname(sys.executable), name)
    if not os.access(path, os.X_OK):
        path = shutil.which(name)
    if path is None:
        pytest.fail("%s is not installed for %s: install the package "
                    "(python/install.sh) and run tests/python/run.sh"
                    % (name, sys.executable))
    return path


@pytest.fixture
def solver():
    """(path, is_real): the solver named by CAVITY_BIN, else the stand-in."""
    env = os.environ.get("CAVITY_BIN")
    if env:
        return os.path.abspath(env), True
    return FAKE_SOLVER, False
