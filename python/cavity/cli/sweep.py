"""Run a table of cavity cases in parallel and summarise them.

usage: cavity-sweep CASES.csv [-o OUTDIR] [--summary FILE] [--bin PATH]
                    [--settle TOL] [--settle-window STEPS] [--no-settle]
                    [--threads N] [--jobs N] [--sshlogin ...] [--transfer]
                    [other GNU parallel options]
       cavity-sweep CASES.csv -o OUTDIR --slurm [--partition P] [--time T]
                    [--cpus-per-case C] [--array-limit K] [--sbatch-arg=ARG ...]
                    [--no-wait] [--resume]
       cavity-sweep collect OUTDIR [--summary FILE]

--jobs, --sshlogin and --sshloginfile go to GNU parallel, and so does every
other option this tool does not know (write those as --opt=value, e.g.
--timeout=600).
"""

import argparse
import os
import sys
import textwrap

from cavity import (chain, folder_lock, gci, grid_study, programs, provenance,
                    rayleigh, slurm, sweep, sweep_progress, target_sweep)


def cores():
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def sharing(args, ncases):
    """How the jobs and the solver's threads share the cores, in a line."""
    threads = "%d solver thread%s each" % (args.threads,
                                           "" if args.threads == 1 else "s")
    if args.sshlogin or args.sshloginfile:
        jobs = ("%s job(s) at once on each host" % args.jobs if args.jobs
                else "one job a core on each host")
        return "%d case(s): %s, %s" % (ncases, jobs, threads)
    c = cores()
    try:
        jobs = int(args.jobs) if args.jobs else c
    except ValueError:
        return ("%d case(s): --jobs %s, %s, on this machine's %d core(s)"
                % (ncases, args.jobs, threads, c))
    line = ("%d case(s): %d job(s) at once, %s, on this machine's %d core(s)"
            % (ncases, min(jobs, ncases), threads, c))
    if min(jobs, ncases) * args.threads > c:
        line += ("; warning: %d threads on %d cores slow each other down"
                 % (min(jobs, ncases) * args.threads, c))
    return line


def parse(argv):
    ap = argparse.ArgumentParser(
        prog="cavity-sweep",
        description=textwrap.fill("Run the cases of a CSV table (columns n, m, Pr, Ra, "
        "T_Hot, T_Cold, T_Init, Tau_T, optional name) with GNU parallel, one "
        "folder a case, and write a summary CSV. Ra is the Rayleigh number "
        "of the cavity between the walls; the parameter files get "
        "Ra (m/(m-1))^3. Options not listed here go to GNU parallel as they "
        "are; write them as --opt=value (e.g. --timeout=600)."),
        epilog="Summary columns:\n" + sweep.SUMMARY_LEGEND,
        formatter_class=argparse.RawDescriptionHelpFormatter,
        allow_abbrev=False)  # --ssh=... and the like are parallel's
    ap.add_argument("cases", help="CSV table of cases")
    ap.add_argument("-o", "--outdir", default="sweep",
                    help="folder for the case folders (default: ./sweep)")
    ap.add_argument("--summary", help="summary CSV (default: OUTDIR/summary.csv)")
    ap.add_argument("--bin", default=programs.solver(),
                    help="solver executable (default: %s)" % programs.SEARCH)
    ap.add_argument("--settle", type=float, default=sweep.SETTLE_TOL,
                    metavar="TOL",
                    help="the solver ends a case once its reported Nu has "
                    "neither drifted nor swung by more than TOL (relative) "
                    "over its settle window (default %g)" % sweep.SETTLE_TOL)
    ap.add_argument("--settle-window", type=int, default=sweep.SETTLE_WINDOW,
                    metavar="STEPS",
                    help="steps of the settle window (default: the "
                    "solver's, which follows the case and the swings of Nu "
                    "it has seen)")
    ap.add_argument("--no-settle", action="store_true",
                    help="let each case run until the solver's own stop (a "
                    "residual below 1e-7, or 1,000,000 steps)")
    ap.add_argument("--threads", type=int, default=1, metavar="N",
                    help="threads of each solver run (default 1: the jobs "
                    "share the cores, one a core)")
    ap.add_argument("-j", "--jobs",
                    help="jobs at once per host (GNU parallel's --jobs; "
                    "default: one a core)")
    ap.add_argument("-S", "--sshlogin", action="append", default=[],
                    help="GNU parallel's --sshlogin (repeatable)")
    ap.add_argument("--slf", "--sshloginfile", dest="sshloginfile",
                    action="append", default=[],
                    help="GNU parallel's --sshloginfile (repeatable)")
    ap.add_argument("--transfer", action="store_true",
                    help="copy each case's inputs to the host that runs it and "
                    "its files back (for hosts that do not see OUTDIR); the "
                    "solver must be at --bin there, or give --bin cavity for "
                    "the one on the host's PATH")
    ap.add_argument("--grids", metavar="M1,M2,M3",
                    help="grid study: run each case on each of these grid "
                    "heights m (three or more; width from the case's aspect "
                    "ratio, Tau_T as given on every grid) and report per case "
                    "the second-order Nu on each grid, the observed order, the "
                    "extrapolated Nu and its Grid Convergence Index "
                    "(OUTDIR/grid_study.csv)")
    ap.add_argument("--order", type=float, default=None,
                    metavar="P",
                    help="formal order of the scheme's Nu, which sets the "
                    "error form a grid study fits (default for --grids %g: "
                    "the program's own scheme's insulated walls add a "
                    "first-order term; with --target 2 for the bounce-back "
                    "schemes, 1 for copy)" % gci.FORMAL_ORDER)
    ap.add_argument("--report-only", action="store_true",
                    help="with --grids: report the runs already in OUTDIR "
                    "(its summary.csv) without running anything")
    ap.add_argument("--dry-run", action="store_true",
                    help="prepare the folders and print the parallel (or "
                    "sbatch) command only")
    slurm.add_arguments(ap)
    target_sweep.add_arguments(ap)
    return ap.parse_known_args(argv)


def check(args, passthrough):
    stray = [a for a in passthrough if not a.startswith("-")]
    if stray:
        return ("unexpected argument(s) %s; give GNU parallel options as "
                "--opt=value" % " ".join(stray))
    if not args.no_settle and (not args.settle > 0 or
                               (args.settle_window is not None and
                                args.settle_window < 2 * sweep.REPORT_INTERVAL)):
        return ("--settle needs TOL > 0 and --settle-window at least %d "
                "steps (two reports)" % (2 * sweep.REPORT_INTERVAL))
    if args.threads < 1:
        return "--threads must be at least 1"
    if args.report_only and not args.grids:
        return "--report-only goes with --grids"
    if args.order is not None and not args.order > 0:
        return "--order needs a formal order above 0, e.g. 1 or 2"
    problem = target_sweep.check(args)
    if problem:
        return problem
    return slurm.check(args, passthrough)


def run(args, passthrough, cases, job=None):
    """Runs the cases through GNU parallel; ``job`` = (prepare, binary,
    options): another program each job runs in its case folder instead of
    the solver (the ladder of cavity.target), and how to prepare the
    folder for it."""
    if args.jobs:
        passthrough += ["--jobs", args.jobs]
    for s in args.sshlogin:
        passthrough += ["--sshlogin", s]
    for s in args.sshloginfile:
        passthrough += ["--sshloginfile", s]
    outdir = os.path.abspath(args.outdir)
    os.makedirs(outdir, exist_ok=True)
    folders = []
    for case in cases:
        folder = os.path.join(outdir, case["name"])
        (job[0] if job else sweep.prepare_case)(folder, case)
        folders.append(folder)
        for w in sweep.case_warnings(case):
            print("cavity-sweep: warning: %s: %s" % (case["name"], w),
                  file=sys.stderr)
    chained = chain.used(cases)
    if chained:
        chain.write_options(folders, cases)
    for folder, case in zip(folders, cases):
        extra = []
        if chained:
            with open(os.path.join(folder, chain.OPTIONS_FILE)) as fh:
                extra = fh.read().split()
        provenance.write_case(folder, case, args.provenance, extra)
    binary = args.bin if args.transfer and os.sep not in args.bin \
        else os.path.abspath(args.bin)
    settle = None if args.no_settle else (args.settle, args.settle_window)
    options = sweep.solver_options(settle, args.threads)
    if job:
        binary, options = job[1], job[2]
    command = sweep.job_command(binary, options,
                                shell_options=chain.OPTIONS_SHELL if chained else "")
    if args.transfer:
        passthrough = sweep.transfer_options() + passthrough
    waves = chain.waves(cases) if chained else [list(range(len(cases)))]
    if not args.dry_run:
        print("cavity-sweep: %s" % rayleigh.NOTE, file=sys.stderr)
        print("cavity-sweep: %s in %s" % (sharing(args, len(cases)), outdir),
              file=sys.stderr)
    progress = sweep_progress.Progress(len(cases), jobs_at_once(args, len(cases)))
    jobs = {}
    for w, wave in enumerate(waves, start=1):
        suffix = "-%d" % w if len(waves) > 1 else ""
        jobfile = os.path.join(outdir, "jobs%s.txt" % suffix)
        names = [cases[k]["name"] if args.transfer else folders[k] for k in wave]
        with open(jobfile, "w") as fh:
            fh.write("".join(f + "\n" for f in names))
        joblog = os.path.join(outdir, "joblog%s.tsv" % suffix)
        if os.path.exists(joblog):
            os.remove(joblog)
        argv_p = sweep.parallel_argv(command, joblog, jobfile, passthrough)
        if args.dry_run:
            print(" ".join(argv_p[:-1] + ["'%s'" % argv_p[-1]]))
            continue
        # parallel's own exit status counts failed jobs; the summary says which
        rc = sweep_progress.run(argv_p, outdir, joblog, [folders[k] for k in wave],
                                progress, started_known=not args.transfer)
        if rc > 100:
            print("cavity-sweep: GNU parallel ended with status %d" % rc,
                  file=sys.stderr)
        for seq, row in sweep.read_joblog(joblog).items():
            jobs[wave[seq - 1]] = row
    if args.dry_run:
        return None
    return [sweep.collect_case(f, c, jobs.get(k), args.threads)
            for k, (f, c) in enumerate(zip(folders, cases))]


def back_end(args):
    """Where the cases run, in words, for the provenance."""
    if args.slurm:
        return "slurm" + (" partition %s" % args.partition if args.partition else "")
    hosts = args.sshlogin + ["file %s" % f for f in args.sshloginfile]
    if hosts:
        return "ssh %s%s" % (", ".join(hosts), " --transfer" if args.transfer else "")
    return "this machine"


def jobs_at_once(args, ncases):
    """The cases that run at once on this machine (for the time left)."""
    try:
        return min(int(args.jobs), ncases) if args.jobs else min(cores(), ncases)
    except ValueError:
        return 1


def nu_text(r):
    """The Nu to quote first, then the file's, each named."""
    if r["Nu_wall_corrected"]:
        return ("Nu (wall-corrected) %s; Nu.dat (the file's first-order value) %s"
                % (r["Nu_wall_corrected"], r["Nu_dat_first_order"]))
    if r["Nu"]:
        return "Nu.dat (the file's first-order value) %s" % r["Nu"]
    if r["Nu_last_report_before_failure"]:
        return "Nu - (last report %s)" % r["Nu_last_report_before_failure"]
    return "Nu -"


def finish(summary, rows, record=None):
    """Writes the summary, its column legend and provenance (``record``,
    the sweep's), prints a line a case; the exit status."""
    sweep.write_summary(summary, rows)
    with open(os.path.splitext(summary)[0] + ".columns.txt", "w") as fh:
        fh.write(sweep.SUMMARY_LEGEND)
    provenance.write_summary(summary, record, rows)
    provenance.note_where_run(rows)
    bad = [r for r in rows if r["status"] != "ok"]
    for r in rows:
        print("%-16s %-8s %-10s step %-8s %s  %ss  %s"
              % (r["name"], r["status"], r["stop"] or "-",
                 r["end_step"] or r["last_reported_step"] or "-", nu_text(r),
                 r["run_time_s"] or "-", r["message"]))
    print("cavity-sweep: summary in %s (%d ok, %d not ok)"
          % (summary, len(rows) - len(bad), len(bad)), file=sys.stderr)
    return 1 if bad else 0


def collect_main(argv):
    """cavity-sweep collect OUTDIR: the summary of a Slurm sweep."""
    ap = argparse.ArgumentParser(
        prog="cavity-sweep collect",
        description="Write the summary of a sweep submitted with --slurm "
        "(after --no-wait, or to look again), from its case folders and what "
        "the scheduler says of its tasks.")
    ap.add_argument("outdir", help="the sweep folder (-o of the sweep)")
    ap.add_argument("--summary", help="summary CSV (default: the sweep's)")
    args = ap.parse_args(argv)
    try:
        if os.path.isdir(args.outdir):
            folder_lock.take(args.outdir, "cavity-sweep collect",
                             "wait for that sweep to end: it writes the "
                             "summary itself")
        state = slurm.load(os.path.abspath(args.outdir))
        rows = slurm.collect(state)
        slurm.save(os.path.abspath(args.outdir), state)
    except (slurm.SlurmError, folder_lock.Busy, OSError) as exc:
        print("cavity-sweep: %s" % exc, file=sys.stderr)
        return 2
    return finish(args.summary or state["summary"], rows,
                  state.get("provenance"))


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv[:1] == ["collect"]:
        return collect_main(argv[1:])
    args, passthrough = parse(argv)
    problem = check(args, passthrough)
    if problem:
        print("cavity-sweep: %s" % problem, file=sys.stderr)
        return 2
    try:
        cases = sweep.read_cases(args.cases)
        table = cases
        if chain.used(cases):
            chain.waves(cases, args.cases)  # every start_from a case, no loops
            if args.grids or args.slurm or args.transfer or args.target:
                raise sweep.CaseError(
                    "%s: the start_from column chains cases on one machine or "
                    "a shared folder; it does not go with --grids, --target, "
                    "--slurm or --transfer" % args.cases)
        if args.grids:
            cases = grid_study.expand(table, grid_study.parse_grids(args.grids))
    except (OSError, sweep.CaseError, grid_study.GridError) as exc:
        print("cavity-sweep: %s" % exc, file=sys.stderr)
        return 2
    local = not args.transfer or os.sep in args.bin
    if not args.report_only and not args.dry_run and local and \
            not os.access(args.bin, os.X_OK):
        print("cavity-sweep: solver %s is not an executable file (set "
              "CAVITY_BIN or --bin)" % os.path.abspath(args.bin), file=sys.stderr)
        return 2
    try:  # before anything is written into the folder: one sweep a folder
        if not args.report_only or os.path.isdir(args.outdir):
            folder_lock.take(args.outdir)
    except (OSError, folder_lock.Busy) as exc:
        print("cavity-sweep: %s" % exc, file=sys.stderr)
        return 2
    if args.report_only:
        return grid_report(args, table)
    if args.target:
        return target_main(args, passthrough, cases, "--settle" in argv)
    settle = None if args.no_settle else (args.settle, args.settle_window)
    args.provenance = provenance.sweep_record(
        args.bin if args.transfer and os.sep not in args.bin
        else os.path.abspath(args.bin),
        sweep.solver_options(settle, args.cpus_per_case if args.slurm
                             else args.threads), back_end(args))
    try:
        if args.slurm:
            rows = slurm.run(args, cases, args.bin, settle)
        else:
            rows = run(args, passthrough, cases)
    except RuntimeError as exc:
        print("cavity-sweep: %s" % exc, file=sys.stderr)
        return 2
    if rows is None:
        return 0
    summary = args.summary or os.path.join(os.path.abspath(args.outdir),
                                           "summary.csv")
    status = finish(summary, rows, args.provenance)
    if args.grids:
        grid_report(args, table, rows)
    return status


def target_main(args, passthrough, cases, settle_given):
    """--target: one job a case, the ladder runner (python -m cavity.target)
    in its folder, on the sweep's back end; then the answers."""
    try:
        cases, prepare = target_sweep.prepare(
            args, cases, args.bin if args.transfer and os.sep not in args.bin
            else os.path.abspath(args.bin), settle_given)
    except ValueError as exc:  # no Tau_T fits the policy
        print("cavity-sweep: --target: %s" % exc, file=sys.stderr)
        return 2
    job = (prepare, sys.executable, ["-m", "cavity.target"])
    # each grid's own options are in NAME/mMMM/command.txt
    args.provenance = provenance.sweep_record(
        args.bin if args.transfer and os.sep not in args.bin
        else os.path.abspath(args.bin),
        ["(a ladder of grids: python -m cavity.target, target.json)"], back_end(args))
    try:
        if args.slurm:
            rows = slurm.run(args, cases, args.bin, None, job)
        else:
            rows = run(args, passthrough, cases, job)
    except RuntimeError as exc:
        print("cavity-sweep: %s" % exc, file=sys.stderr)
        return 2
    if rows is None:
        return 0
    outdir = os.path.abspath(args.outdir)
    for r in rows:  # the ladder's closing note, not the solver's
        note = target_sweep.closing_note(r["folder"])
        if note:
            r["message"] = note
    finish(args.summary or os.path.join(outdir, "summary.csv"), rows, args.provenance)
    results = target_sweep.report(outdir, cases)
    return 0 if results and all(r.get("met") for r in results) else 1


def grid_report(args, table, rows=None):
    """The grid study of each case of ``table``: printed, and written to
    OUTDIR/grid_study.csv. ``rows``: the sweep's summary rows, else read
    from OUTDIR/summary.csv."""
    outdir = os.path.abspath(args.outdir)
    if rows is None:
        path = args.summary or os.path.join(outdir, "summary.csv")
        try:
            rows = grid_study.read_summary(path)
        except OSError as exc:
            print("cavity-sweep: --report-only: %s" % exc, file=sys.stderr)
            return 2
    order = gci.FORMAL_ORDER if args.order is None else args.order
    results = grid_study.analyse(table, rows, order)
    path = os.path.join(outdir, "grid_study.csv")
    grid_study.write_csv(path, results)
    print("grid study (second-order mean Nu on the hot wall; error form "
          "for a scheme of formal order %g, band of the extrapolated Nu, "
          "cavity.gci):" % order)
    for line in grid_study.text_table(results):
        print(line)
    print("cavity-sweep: grid study in %s" % path, file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
