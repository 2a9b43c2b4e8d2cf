"""Sweeps and grid studies from Python: thin functions over cavity-sweep,
which runs each case as the program in a folder of its own, on this machine,
over ssh or on Slurm, and summarises them. The results come back as pandas
DataFrames of the CSV files the sweep writes (python/README.md, "CSV
columns").
"""

import csv
import os
import tempfile

from . import errors
from .case import Case

TABLE_COLUMNS = ("name", "n", "m", "Pr", "Ra", "T_Hot", "T_Cold", "T_Init", "Tau_T")


def _rows(cases):
    """Case-table rows from cavity.Case objects, dicts of the table's
    columns, or a DataFrame of them."""
    if hasattr(cases, "to_dict"):
        cases = cases.to_dict("records")
    rows = []
    for k, c in enumerate(cases, 1):
        row = c.row() if isinstance(c, Case) else dict(c)
        row.setdefault("name", "case%03d" % k)
        rows.append(row)
    return rows


def _write_table(path, rows):
    columns = list(TABLE_COLUMNS) + (["start_from"] if any("start_from" in r for r in rows)
                                     else [])
    with open(path, "w", newline="") as fh:
        w = csv.DictWriter(fh, fieldnames=columns, extrasaction="ignore")
        w.writeheader()
        for r in rows:
            w.writerow({c: ("" if r.get(c) is None else r.get(c, "")) for c in columns})


def _sweep_argv(table, outdir, settle, settle_window, threads, jobs, sshlogin, transfer,
                slurm, options):
    argv = [table, "-o", outdir, "--threads", "%d" % threads]
    if settle is None:
        argv.append("--no-settle")
    else:
        argv += ["--settle", repr(float(settle))]
    if settle_window is not None:
        argv += ["--settle-window", "%d" % settle_window]
    if jobs is not None:
        argv += ["--jobs", str(jobs)]
    for host in sshlogin:
        argv += ["--sshlogin", host]
    if transfer:
        argv.append("--transfer")
    if slurm:
        argv.append("--slurm")
    return argv + list(options)


def _run(cases, outdir, extra, **settings):
    from .cli import sweep as sweep_cli
    with tempfile.TemporaryDirectory() as tmp:
        table = os.path.join(tmp, "cases.csv")
        _write_table(table, _rows(cases))
        argv = _sweep_argv(table, outdir, **settings) + extra
        status = sweep_cli.main(argv)
    if status != 0:
        raise errors.RunError("cavity-sweep %s: ended with exit status %d (its message is "
                              "above, on standard error)" % (" ".join(argv[1:]), status))


def run_sweep(cases, outdir, *, settle=1e-5, settle_window=None, threads=1, jobs=None,
              sshlogin=(), transfer=False, slurm=False, options=()):
    """Runs ``cases`` (cavity.Case objects, dicts of the case table's
    columns with Ra the cavity's, or a DataFrame of them) with cavity-sweep
    into the folder ``outdir`` and returns its summary (summary.csv) as a
    DataFrame: how each case ended, its wall-corrected Nu, its times.

    ``settle``: each case ends once Nu is steady within this tolerance
    (None: the solver's own stop); ``threads`` a case, ``jobs`` at once;
    ``sshlogin`` (hosts of GNU parallel) and ``transfer`` spread them over
    machines, ``slurm`` submits them as a job array; ``options``: more of
    cavity-sweep's command line (e.g. ["--partition", "debug"])."""
    import pandas as pd
    _run(cases, outdir, [], settle=settle, settle_window=settle_window, threads=threads,
         jobs=jobs, sshlogin=sshlogin, transfer=transfer, slurm=slurm, options=options)
    return pd.read_csv(os.path.join(outdir, "summary.csv"))


def run_grid_study(cases, grids, outdir, *, settle=1e-5, settle_window=None, threads=1,
                   jobs=None, sshlogin=(), transfer=False, slurm=False, options=()):
    """Runs each of ``cases`` on each grid height of ``grids`` (three or
    more; the width keeps each case's aspect ratio, Tau_T as given) with
    cavity-sweep --grids, and returns the grid study (grid_study.csv) as a
    DataFrame: per case the wall-corrected Nu of each grid, the observed
    order ``p``, the extrapolated Nu and the Grid Convergence Index of the
    finest grid (``GCI_fine``, relative; ``GCI_band``, its error bar). The
    runs' summary is in OUTDIR/summary.csv. Settings as for run_sweep."""
    import pandas as pd
    _run(cases, outdir, ["--grids", ",".join("%d" % m for m in grids)], settle=settle,
         settle_window=settle_window, threads=threads, jobs=jobs, sshlogin=sshlogin,
         transfer=transfer, slurm=slurm, options=options)
    return pd.read_csv(os.path.join(outdir, "grid_study.csv"))
