"""Python helpers that sit beside the cavity solver.

Reading of the solver's result files, the benchmark helpers used for
validation, the nanofluid property models, and the parts of the command
line tools (cavity.cli) that are worth testing on their own. The solver's
compiled module, cavity._solver, is loaded on first use, so the helpers
work from a source tree where it was never built.
"""

import importlib


def __getattr__(name):
    if name == "_solver":
        return importlib.import_module("cavity._solver")
    raise AttributeError("module 'cavity' has no attribute %r" % name)
