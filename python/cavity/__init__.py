"""The cavity solver as a library, and the tools beside it.

    import cavity
    case = cavity.Case(64, 64, Pr=0.71, Ra=1e5)   # Ra of the cavity between the walls
    sim = cavity.Simulation(case, settle=1e-5)
    sim.run()                                       # with a progress bar
    sim.fields()                                    # xarray.Dataset: T, U, V, ...
    sim.nusselt(), sim.reports()                    # Nu; the reports as a DataFrame

cavity.Case and cavity.nanofluid_case describe a case, cavity.Simulation
runs it in this process (the solver's compiled module cavity._solver),
cavity.run_sweep and cavity.run_grid_study run many through cavity-sweep; the
exceptions are in cavity.errors. The modules beside them are the tools'
library: reading the solver's result files, the benchmark helpers used for
validation, the nanofluid property models, and the parts of the
command-line tools (cavity.cli) worth testing on their own. The compiled
module is loaded on first use, so the helpers work from a source tree
where it was never built.
"""

import importlib

# name -> the module that defines it, imported on first use
_EXPORTS = {
    "Case": "case", "nanofluid_case": "case",
    "Simulation": "simulation",
    "run_sweep": "studies", "run_grid_study": "studies",
    "SolverError": "errors", "CaseError": "errors", "CheckpointError": "errors",
    "RunError": "errors", "FloatingPointError": "errors",
}

__all__ = sorted(_EXPORTS)


def __getattr__(name):
    if name == "_solver":
        return importlib.import_module("cavity._solver")
    if name in _EXPORTS:
        return getattr(importlib.import_module("cavity." + _EXPORTS[name]), name)
    raise AttributeError("module 'cavity' has no attribute %r" % name)
