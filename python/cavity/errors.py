"""The exceptions of the solver run in this process (cavity.Simulation).

Each carries the solver's own one-line message: what was being read or
done, the value and the remedy, as the program writes it on standard error.
"""

import builtins


class SolverError(RuntimeError):
    """An error the solver reports, with its one-line message."""


class CaseError(SolverError, ValueError):
    """A case or an option the solver refuses: a parameter out of range,
    equal wall temperatures, a parameter file it cannot read, an option
    value the program would refuse on its command line."""


class CheckpointError(SolverError):
    """A checkpoint that cannot be used: written for another grid or other
    parameters, damaged, cut short, of another format version."""


class RunError(SolverError):
    """A run that cannot go on or start: no flow at the first report, a
    result file or folder that cannot be written, storage that cannot be
    had, a simulation already closed."""


class FloatingPointError(SolverError, builtins.FloatingPointError):
    """The solver's arithmetic raised a floating-point trap (invalid,
    divide by zero or overflow) at ``step``: the run ends there, as the
    program ends with its line "floating-point error: KIND at step N", and
    the message is that line, with the likely cause and its remedy where the
    solver warned of one (``cause``). The interpreter and every other
    simulation go on; the simulation keeps the state of the fault for
    inspection and cannot be advanced further."""

    def __init__(self, kind, step, cause=""):
        SolverError.__init__(self, "floating-point error: %s at step %d%s"
                             % (kind, step, ": " + cause if cause else ""))
        self.kind = kind
        self.step = step
        self.cause = cause
