"""A simulation: the solver run in this process, stepped from Python.

    import cavity
    case = cavity.Case(64, 64, Pr=0.71, Ra=1e5)       # Ra between the walls
    sim = cavity.Simulation(case, settle=1e-5)          # the program's --settle
    sim.run()                                           # to its stop, with progress
    ds = sim.fields()                                   # an xarray.Dataset
    sim.nusselt(), sim.reports()                        # Nu, the report history

The simulation is the program's time loop, step for step: the same fields,
the same reports and, in its folder, the same result files and checkpoints,
byte for byte, on any number of threads and any set of kernels. The solver
works with the interpreter's lock released, in chunks of about a tenth of a
second; Ctrl-C (or a notebook's stop button) ends a call between two chunks
with the state whole, and the next call goes on as if it had not stopped.
A floating-point trap of the solver's arithmetic raises
cavity.FloatingPointError and leaves the interpreter, and every other
simulation, as they were.
"""

import os
import threading
import time
import warnings

import numpy as np

from . import errors
from .case import Case
from .progress import Progress

CHUNK_SECONDS = 0.1  # the solver's work between two looks at Ctrl-C


def _solver():
    from . import _solver as module
    return module


def program_options(threads=None, settle=None, settle_window=None, accelerate=False,
                    checkpoint=None, checkpoint_every=None, start_from=None,
                    files_every=None, scheme=None, residual_stop=True):
    """The program's command-line options for these settings (the solver
    reads and checks them as it reads its command line)."""
    opts = []
    if threads:
        opts += ["--threads", "%d" % threads]
    if settle is not None:
        opts += ["--settle", repr(float(settle))]
    if settle_window is not None:
        opts += ["--settle-window", "%d" % settle_window]
    if accelerate:
        opts.append("--accelerate")
    if checkpoint is not None:
        opts += ["--checkpoint", str(checkpoint)]
    if checkpoint_every is not None:
        opts += ["--checkpoint-every", "%d" % checkpoint_every]
    if start_from is not None:
        opts += ["--start-from", str(start_from)]
    if files_every is not None:
        opts += ["--files-every", "%d" % files_every]
    if scheme is not None:
        opts += ["--scheme", str(scheme)]
    if not residual_stop:
        opts.append("--no-residual-stop")
    return opts


class Simulation:
    """A run of ``case`` (a cavity.Case) in this process.

    Options, each the program's option of the same name: ``threads`` (the
    time step's threads; None lets the solver choose and choose again as
    the program does), ``settle`` (end once Nu is steady within this
    relative tolerance), ``settle_window`` (steps), ``accelerate``,
    ``checkpoint`` (keep the run's state in this file at reports, and go on
    from it where it holds this case's state), ``checkpoint_every``
    (steps), ``start_from`` (the fields of another run's checkpoint as the
    start), ``files_every`` (steps), ``scheme`` (the insulated walls and
    collisions: "copy", the program's own, "bounce-back" or
    "bounce-back-trt", second order), ``residual_stop`` (False: the
    program's --no-residual-stop). ``folder``: where the run writes its
    five result files at reports, as the program writes them in its working
    folder, and against which relative checkpoint paths are taken; the
    folder is locked against other runs for the simulation's life. Without
    a folder no files are written until asked for (write_results).
    ``solver``: "fast" (the program's) or "reference" (the straightforward
    procedures of cavity-reference, the same bytes).

    Memory is given back when the simulation is dropped or closed.
    """

    def __init__(self, case, *, threads=None, settle=None, settle_window=None,
                 accelerate=False, checkpoint=None, checkpoint_every=None, start_from=None,
                 files_every=None, scheme=None, residual_stop=True, folder=None,
                 solver="fast"):
        if solver not in ("fast", "reference"):
            raise ValueError("solver must be 'fast' or 'reference', not %r" % (solver,))
        self.case = case
        self.folder = None if folder is None else os.path.abspath(folder)
        if self.folder is not None:
            os.makedirs(self.folder, exist_ok=True)
        self.options = program_options(threads, settle, settle_window, accelerate,
                                       self._path(checkpoint), checkpoint_every,
                                       self._path(start_from), files_every, scheme,
                                       residual_stop)
        self._lock = threading.Lock()
        self._output, self._notes, self._reports = [], [], []
        self._output_bytes = 0
        self._chunk = 50
        self._finished = False
        self._run = _solver().Run(case.n, case.m, case.solver_values, self.options,
                                  self.folder or "", solver == "reference")
        for note in self.notes:  # the program's warnings before it starts
            if note.startswith("warning:"):
                warnings.warn(note, RuntimeWarning, stacklevel=2)

    @classmethod
    def resume(cls, checkpoint, **options):
        """The simulation that goes on from a checkpoint (one the program
        wrote with --checkpoint FILE, or this package), keeping the run's
        state in the same file from then on, as the program does when
        started again with the same FILE."""
        from .checkpoint import read_checkpoint
        c = read_checkpoint(checkpoint)
        p = {k: float(v) for k, v in c.parameters.items()}
        case = Case(c.n, c.m, p["Pr"], Ra_file=p["Ra"], T_Hot=p["T_Hot"],
                    T_Cold=p["T_Cold"], T_Init=p["T_Init"], Tau_T=p["Tau_T"],
                    name=os.path.basename(checkpoint))
        return cls(case, checkpoint=os.path.abspath(checkpoint), **options)

    def _path(self, path):
        if path is None:
            return None
        return os.path.abspath(os.path.join(self.folder or os.getcwd(), os.fspath(path)))

    # -- stepping ----------------------------------------------------------

    def advance(self, steps, progress="auto"):
        """Makes up to ``steps`` more steps, each with all the program does
        at it (reports, files, settle rule, checkpoints, the stop); returns
        the number made. A run that reaches its stop is ended as the
        program ends it (final snapshot, closing lines, notes). Ctrl-C ends
        the call between two chunks of steps with KeyboardInterrupt and the
        state whole; a call from another thread to stop() ends it the same
        way without an exception. ``progress``: "auto", "notebook",
        "terminal" or None."""
        return self._advance(int(steps), Progress(progress, target=int(steps)))

    def run(self, max_steps=None, progress="auto"):
        """Advances to the run's stop (the program's own, or ``settle``),
        or by ``max_steps`` at most; returns the ending ("residual",
        "settled", "step-limit", or "running" where it did not end)."""
        steps = _solver().max_steps if max_steps is None else int(max_steps)
        self._advance(steps, Progress(progress, target=max_steps))
        return self.ending

    def stop(self):
        """Asks an advance running on another thread to return before its
        next step (where none runs, the next one returns at once)."""
        self._run.stop()

    def _advance(self, steps, progress):
        self._end_if_ended()
        made, first = 0, self.step
        try:
            while made < steps and self.ending == "running":
                want = min(self._chunk, steps - made)
                started = time.perf_counter()
                end = self._run.advance(want)
                took = time.perf_counter() - started
                made = self.step - first
                self._tune_chunk(want, took)
                self._end_if_ended()
                if end == "interrupted":
                    break
                progress.show(self, made)
        finally:
            progress.show(self, made, final=True)
        return made

    def _end_if_ended(self):
        # what the program does after its loop, once; and a trap again for
        # a caller who calls on after one
        if self.ending == "trapped":
            raise errors.FloatingPointError(self._run.trap, self.step, self._run.trap_cause)
        if self.ending in ("residual", "settled", "step-limit") and not self._finished:
            self._finished = True
            self._run.end()

    def _tune_chunk(self, want, took):
        # chunks of about CHUNK_SECONDS, so that Ctrl-C is taken soon
        if took > 0:
            rate = want / took
            self._chunk = int(min(max(1, rate * CHUNK_SECONDS), 100000))

    def finish(self):
        """Ends the run here as the program ends it: the final snapshot
        (files, where the simulation has a folder), the closing lines and
        the notes, among them the wall-corrected Nu. A run that has ended
        by its stop has been finished already."""
        self._end_if_ended()
        if self.ending == "running":
            self._finished = True
            self._run.end()

    def close(self):
        """Frees the run's memory, its folder's lock and its temporary
        files; the simulation cannot be used after it."""
        self._run.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -- what it is now ----------------------------------------------------

    @property
    def step(self):
        """The last step made."""
        return self._run.step

    @property
    def ending(self):
        """"running", or how the run ended: "residual" (the solver's stop),
        "settled", "step-limit", "stopped" (finished by its caller),
        "trapped" or "failed"."""
        return self._run.ending

    @property
    def grid(self):
        return self._run.grid

    @property
    def threads(self):
        """The threads the time step holds."""
        return self._run.threads

    def constants(self):
        """The six values as the solver holds them, the constants it
        derived, the last report's Nu_Hot and the residuals of the last
        step."""
        return self._run.constants()

    def _sync_words(self):
        with self._lock:
            out, notes = self._run.words(self._output_bytes, len(self._notes))
            self._output.append(out)
            self._output_bytes += len(out)
            self._notes.extend(notes)

    @property
    def output(self):
        """What the program would have written on standard output after its
        banner: the reports and closing lines, CR LF line ends and all."""
        self._sync_words()
        return b"".join(self._output).decode("latin-1")

    @property
    def notes(self):
        """The program's lines for standard error: warnings and notes."""
        self._sync_words()
        return list(self._notes)

    def _report_arrays(self):
        with self._lock:
            done = sum(len(r[0]) for r in self._reports)
            new = self._run.reports(done)
            if len(new[0]):
                self._reports.append(new)
            if not self._reports:
                return new
            return tuple(np.concatenate([r[k] for r in self._reports]) for k in range(4))

    def reports(self):
        """The report history as a pandas DataFrame: step, Nu (the hot-wall
        Nu of Nu.dat, as printed), Residual_T and Residual_Flow (those of the
        step before, as printed), in single precision as the solver holds
        them."""
        import pandas as pd
        steps, nu, rt, rf = self._report_arrays()
        return pd.DataFrame({"step": steps, "Nu": nu, "Residual_T": rt,
                             "Residual_Flow": rf})

    def last_report(self):
        steps, nu, rt, rf = self._report_arrays()
        if not len(steps):
            return None
        return {"step": int(steps[-1]), "Nu": float(nu[-1]), "Residual_T": float(rt[-1]),
                "Residual_Flow": float(rf[-1])}

    def nusselt(self):
        """The hot-wall Nu of the present fields: ``Nu_dat_first_order`` as
        Nu.dat has it, and the wall-corrected mean Nu of the hot and the cold
        wall (second order, the walls half a spacing inside the end nodes:
        the values of the solver's closing note; NaN on a grid less than 3
        wide)."""
        nu_file, hot, cold = self._run.nusselt()
        return {"step": self.step, "Nu_dat_first_order": nu_file,
                "Nu_wall_corrected_hot": hot, "Nu_wall_corrected_cold": cold}

    def field(self, name):
        """A copy of one node field, a float32 array [j, i]: Rho, U, V, T
        (lattice units), their copies of the step before (U_Old, V_Old,
        T_Old), or Stream (the mass-flux stream function of Result.dat)."""
        return self._run.field(name)

    def distributions(self):
        """Copies of the distributions F and G, float32 arrays [j, i, k]."""
        return self._run.distributions()

    def fields(self):
        """The present fields as an xarray.Dataset (see cavity.dataset)."""
        from .dataset import simulation_dataset
        return simulation_dataset(self)

    # -- files -------------------------------------------------------------

    def write_results(self, folder=None):
        """Writes the five result files of the present fields into
        ``folder`` (default: the simulation's), byte for byte those the
        program writes at a report of this step."""
        folder = folder or self.folder
        if folder is None:
            raise ValueError("this simulation has no folder: name one")
        os.makedirs(folder, exist_ok=True)
        self._run.write_results(os.path.abspath(folder))

    def save_checkpoint(self, path):
        """Keeps the run's state in the checkpoint ``path``, one the program
        goes on from (``cavity --checkpoint PATH`` in a folder with this
        case's parameter file) and Simulation.resume reads. A checkpoint
        holds the state of a report, so the run first makes the steps up to
        its next report (at most 50). Returns the step it holds. A run with
        --accelerate restarts its extrapolations there, as at the program's
        checkpoints."""
        path = self._path(path)
        self._run.keep_checkpoint(path)
        interval = _solver().report_interval
        self._advance(interval - self.step % interval, Progress(None))
        if self._run.checkpoint_pending:
            self._run.keep_checkpoint("")
            raise errors.RunError("run error: the run ended at step %d before its next "
                                  "report, so no checkpoint was written; a run that has "
                                  "ended has nothing to go on from" % self.step)
        return self.step

    def to_netcdf(self, path):
        """Writes the present fields as a netCDF file (CF conventions), one
        that xarray.open_dataset and ParaView's netCDF reader open."""
        from .dataset import write_netcdf
        write_netcdf(self.fields(), path)
        return path

    def __repr__(self):
        n, m = self.grid
        return "<Simulation %s %d x %d at step %d, %s>" % (self.case.name, n, m, self.step,
                                                             self.ending)

