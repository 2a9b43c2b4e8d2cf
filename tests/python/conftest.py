import os
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TOOLS = os.path.join(ROOT, "tools")
sys.path.insert(0, TOOLS)
sys.path.insert(0, HERE)

FAKE_SOLVER = os.path.join(HERE, "fakesolver.py")


def tool(name):
    return os.path.join(TOOLS, name)


@pytest.fixture
def solver():
    """(path, is_real): the solver named by CAVITY_BIN, else the stand-in."""
    env = os.environ.get("CAVITY_BIN")
    if env:
        return os.path.abspath(env), True
    return FAKE_SOLVER, False
