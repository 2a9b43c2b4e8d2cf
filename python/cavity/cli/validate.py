"""Validation against de Vahl Davis (1983): the square cavity at Pr = 0.71,
Ra = 1e3 ... 1e6, and a grid study at Ra = 1e4.

usage: cavity-validate run    [--set four|grid|water|all|quick] [-o DIR] [--jobs N]
                              [--bin PATH] [--no-settle] [GNU parallel options]
       cavity-validate report DIR [DIR ...] [--markdown FILE] [--csv FILE]
                              [--figures DIR]
       cavity-validate cases  [--set ...]
       cavity-validate --quick [-o DIR]    (run --set quick: Ra 1e4 and 1e5
                                            on small grids, under a minute)

`run` writes the case table, runs it through cavity-sweep and prints the
report; `report` analyses the case folders found in the folders of earlier
runs (the grid study takes its finest grid from the four-case run ra1e4).
"""

import argparse
import csv
import math
import os
import subprocess
import sys
import time

from cavity import folder_lock, programs, records, validation as va
from cavity.figures import Style, add_arguments as add_figure_arguments
from cavity.figures import check as check_figure_options

TIMING_FILE = "sweep-time.txt"


def read_summary(outdir):
    path = os.path.join(outdir, "summary.csv")
    if not os.path.exists(path):
        return {}
    with open(path, newline="") as fh:
        return {r["name"]: r for r in csv.DictReader(fh)}


def cmd_cases(args):
    sys.stdout.write(va.case_table(va.SETS[args.set], args.t_init))
    return 0


def cmd_run(args, passthrough):
    cases = va.SETS[args.set]
    try:
        folder_lock.take(args.outdir, "cavity-validate run")
    except (OSError, folder_lock.Busy) as exc:
        print("cavity-validate: %s" % exc, file=sys.stderr)
        return 2
    table = os.path.join(args.outdir, "cases.csv")
    with open(table, "w") as fh:
        fh.write(va.case_table(cases, args.t_init))
    cmd = programs.tool("sweep") + [table, "-o", args.outdir,
                                    "--jobs", str(args.jobs)]
    if args.bin:
        cmd += ["--bin", args.bin]
    if args.no_settle:
        cmd += ["--no-settle"]
    else:
        cmd += ["--settle", repr(args.settle)]
        if args.settle_window is not None:
            cmd += ["--settle-window", str(args.settle_window)]
    cmd += passthrough
    print("cavity-validate: %s" % " ".join(cmd), file=sys.stderr)
    t0 = time.time()
    proc = subprocess.run(cmd, env=folder_lock.child_env(args.outdir))
    wall = time.time() - t0
    with open(os.path.join(args.outdir, TIMING_FILE), "w") as fh:
        fh.write("%.1f s wall time for %d case(s), --set %s, --jobs %s\n"
                 % (wall, len(cases), args.set, args.jobs))
    if proc.returncode == 2:
        return 2
    args.dirs = [args.outdir] + list(args.with_runs or [])
    rc = cmd_report(args)
    return rc or (1 if proc.returncode else 0)


def _stop_text(summary_row, run):
    row = summary_row or {}
    stop = row.get("stop", "") or "?"
    at = row.get("end_step", "")
    if stop == "residual":
        return "residual < 1e-7" + (" at %s" % at if at else "")
    if stop == "settled":
        return "settled at %s" % at
    if stop == "step-limit":
        return "1,000,000 steps"
    return stop


def analyse_all(outdirs, cases):
    summaries = [(d, read_summary(d)) for d in outdirs]
    runs, missing = {}, []
    for c in cases:
        found = [(d, s[c.name]) for d, s in summaries if c.name in s]
        if not found:
            continue
        outdir, row = found[0]
        folder = os.path.join(outdir, c.name)
        if row is not None and row.get("status") != "ok":
            missing.append("%s: %s (%s)" % (c.name, row.get("status"),
                                            row.get("message")))
            continue
        try:
            run = va.analyse_run(folder, c.ra)
        except (OSError, records.FormatError, ValueError) as exc:
            missing.append("%s: %s" % (c.name, exc))
            continue
        run["case"] = c
        run["summary"] = row or {}
        run["stop"] = _stop_text(row, run)
        for key in ("run_time_s", "cpu_time_s"):
            try:
                run[key] = float(row.get(key) or "nan")
            except (TypeError, ValueError):
                run[key] = math.nan
        runs[c.name] = run
    return runs, missing


def drift_text(run):
    t = run["tail"]
    if t is None:
        return "-"
    if t["flat"]:
        return "flat (scatter %.1g)" % (t["scatter"] / run["nu_file"])
    rem = t["remaining"] / run["nu_file"]
    s = "%+.3f %% (tau %d steps)" % (100 * rem, t["tau"])
    if t["drifting"]:
        s += ", still linear"
    return s


def report_four(runs, cases, md, out):
    four = [c for c in cases if c.group in ("four", "quick") and c.name in runs]
    four = [c for c in four if va.benchmark.benchmark_case(c.pr, c.ra, rel=1e-6)]
    if not four:
        return []
    setup = []
    for c in four:
        r = runs[c.name]
        setup.append((c.name, "%d x %d" % (r["n"], r["m"]), ra_text(c.ra),
                      "%.7g" % r["Ra_solver"], "%.6g" % r["Tau_T"],
                      "%.4g" % r["Tau_F"], "%.4g" % r["U_Ref"],
                      "%d" % r["steps"], r["stop"], drift_text(r),
                      fmt_time(r["run_time_s"]), fmt_time(r["cpu_time_s"])))
    md.append("### Set-up and runs\n")
    md.append(va.markdown_table(
        ("case", "grid", "Ra (cavity between the walls)",
         "Ra (parameter file)", "Tau_T", "Tau_F",
         "U_Ref", "last report (step)", "ended by", "Nu.dat drift left",
         "wall time", "CPU time"), setup))
    md.append("")
    md.append("### Published (de Vahl Davis 1983) and ours\n")
    rows, verdicts = [], []
    for c in four:
        r = runs[c.name]
        for q, pub, ours, err in va.compare(r):
            rows.append((ra_text(c.ra), va.LABELS[q], va.fmt(pub, 5),
                         va.fmt(ours, 5), va.pct(err)))
        ok, note = (va.verdict(r, va.QUICK_TARGET, va.QUICK_TARGET_VELOCITY)
                    if c.group == "quick" else va.verdict(r))
        verdicts.append((c.name, ok, note))
    md.append(va.markdown_table(("Ra (cavity)", "quantity", "published", "ours",
                                 "rel. error"), rows))
    md.append("")
    md.append("### Solver's Nu.dat against the second-order Nu\n")
    frows = []
    for c in four:
        r = runs[c.name]
        f = r["factors"]
        frows.append((ra_text(c.ra), va.fmt(r["nu_file"], 5), va.fmt(r["nu2"], 5),
                      va.pct(r["nu_file"] / r["nu2"] - 1),
                      "%.5f" % f["width"], "%.5f" % f["rows"],
                      "%.5f" % f["gradient"], "%.5f" % f["product"],
                      va.fmt(r["nu2_cold"], 5)))
    md.append(va.markdown_table(
        ("Ra (cavity)", "Nu.dat", "Nu 2nd order", "Nu.dat / Nu2 - 1", "width n/(n-1)",
         "rows (m+1 rows over m)", "1st-order gradient", "product",
         "cold-wall Nu 2nd order"), frows))
    md.append("")
    for name, ok, note in verdicts:
        out.write("%-8s %s: %s\n" % (name, "PASS" if ok else "MISS", note))
    return verdicts


def ra_text(ra):
    e = math.log10(ra)
    return "1e%d" % round(e) if abs(e - round(e)) < 1e-9 else "%g" % ra


def report_walls(runs, cases, md):
    rows = []
    for c in cases:
        r = runs.get(c.name)
        if not r:
            continue
        w = r["walls"]
        rows.append((c.name, "%d x %d" % (r["n"], r["m"]), "%.4g" % r["Tau_F"],
                     "%.3f" % w["T_hot"], "%.3f" % w["v_hot"],
                     "%.3f" % w["v_cold"], "%.3f" % w["u_bottom"],
                     "%.3f" % w["u_top"]))
    if not rows:
        return
    md.append("### Where the walls act (lattice spacings from the end node line)\n")
    md.append("Parabola through the three nodes next to the wall, extrapolated "
              "to T_Hot (temperature on the middle row) or to zero (v on the "
              "middle row, u on the middle column):\n")
    md.append(va.markdown_table(("case", "grid", "Tau_F", "T = T_Hot, hot wall",
                                 "v = 0, hot wall", "v = 0, cold wall",
                                 "u = 0, bottom", "u = 0, top"), rows))
    md.append("")


def fmt_time(s):
    if s is None or not (s == s):
        return "-"
    if s < 120:
        return "%.0f s" % s
    return "%.1f min" % (s / 60.0)


def report_grid(runs, cases, md, out):
    grid = [c for c in va.grid_cases(cases) if c.name in runs]
    if len(grid) < 3:
        return
    md.append("### Grid study at Ra = 1e4 (Tau_T = %g on every grid)\n"
              % grid[-1].tau_t)
    h = [1.0 / va.cavity_length(c.m) for c in grid]
    quantities = ("nu2", "nu_file", "u_max", "v_max", "y", "x")
    rows = []
    ref = va.benchmark.DE_VAHL_DAVIS[1e4]
    for c, hh in zip(grid, h):
        r = runs[c.name]
        rows.append(["%d" % c.m, "%.5f" % hh, "%.4g" % r["U_Ref"]]
                    + ["%s (%s)" % (va.fmt(r[q], 6),
                                    va.pct(va.rel_error(r[q], ref[va.PUBLISHED_KEY[q]])))
                       for q in quantities]
                    + [r["stop"], drift_text(r), fmt_time(r["run_time_s"]),
                       fmt_time(r["cpu_time_s"])])
    md.append(va.markdown_table(
        ["m", "h = 1/(m-1)", "U_Ref"] + [va.LABELS[q] for q in quantities]
        + ["ended by", "Nu.dat drift left", "wall time", "CPU time"], rows))
    md.append("")
    orows = []
    for q in quantities:
        f = [runs[c.name][q] for c in grid]
        p3, finf3 = va.observed_order(h[-3:], f[-3:])
        pf, finff, _ = va.fit_order(h, f)
        pub = ref[va.PUBLISHED_KEY[q]]
        orows.append((va.LABELS[q], va.fmt(p3, 3), va.fmt(finf3, 6),
                      va.pct(va.rel_error(finf3, pub)) if finf3 == finf3 else "-",
                      va.fmt(pf, 3), va.fmt(finff, 6), va.fmt(pub, 6)))
    md.append("Observed order p from the three finest grids (m = %s) and from "
              "a least-squares fit f = f_inf + C h^p over all %d grids:\n"
              % (", ".join(str(c.m) for c in grid[-3:]), len(grid)))
    md.append(va.markdown_table(
        ("quantity", "p (3 finest)", "f_inf (3 finest)", "f_inf vs published",
         "p (fit, all)", "f_inf (fit, all)", "published"), orows))
    md.append("")


def water_study(runs, cases, ra):
    """Analysed runs of one Pr 6.2 grid sequence, coarse to fine, and per
    quantity (p, f_inf) from the three finest grids and (p, f_inf) of the
    fit over all grids."""
    grid = [c for c in va.water_cases(cases, ra) if c.name in runs]
    if len(grid) < 3:
        return grid, {}
    h = [1.0 / va.cavity_length(c.m) for c in grid]
    orders = {}
    for q in va.SHOWN:
        f = [runs[c.name][q] for c in grid]
        p3, finf3 = va.observed_order(h[-3:], f[-3:])
        pf, finff, _ = va.fit_order(h, f)
        orders[q] = (p3, finf3, pf, finff)
    return grid, orders


def report_water(runs, cases, md, figures_dir=None, style=Style(dpi=110)):
    for ra in sorted(va.WATER_GRIDS):
        grid, orders = water_study(runs, cases, ra)
        if not orders:
            continue
        md.append("### Pr = %g, Ra = %s (Tau_T = %g on every grid)\n"
                  % (va.WATER_PR, ra_text(ra), grid[0].tau_t))
        rows = []
        for c in grid:
            r = runs[c.name]
            rows.append(["%d" % c.m, "%.5f" % (1.0 / va.cavity_length(c.m)),
                         "%.4g" % r["Tau_F"], "%.4g" % r["U_Ref"]]
                        + [va.fmt(r[q], 6) for q in va.SHOWN]
                        + [r["stop"], drift_text(r), fmt_time(r["run_time_s"]),
                           fmt_time(r["cpu_time_s"])])
        md.append(va.markdown_table(
            ["m", "h = 1/(m-1)", "Tau_F", "U_Ref"]
            + [va.LABELS[q] for q in va.SHOWN]
            + ["ended by", "Nu.dat drift left", "wall time", "CPU time"], rows))
        md.append("")
        finest = runs[grid[-1].name]
        orows = []
        for q in va.SHOWN:
            p3, finf3, pf, finff = orders[q]
            orows.append((va.LABELS[q], va.fmt(p3, 3), va.fmt(finf3, 6),
                          va.pct(va.rel_error(finest[q], finf3))
                          if finf3 == finf3 else "-",
                          va.fmt(pf, 3), va.fmt(finff, 6)))
        md.append("Richardson extrapolation with the observed order p of the "
                  "three finest grids (m = %s), the finest grid's distance "
                  "from that limit, and a least-squares fit f = f_inf + C h^p "
                  "over all %d grids:\n"
                  % (", ".join(str(c.m) for c in grid[-3:]), len(grid)))
        md.append(va.markdown_table(
            ("quantity", "p (3 finest)", "f_inf (3 finest)",
             "finest grid vs f_inf", "p (fit, all)", "f_inf (fit, all)"), orows))
        md.append("")
        if figures_dir:
            from cavity import plotting
            limit = {q: (orders[q][1] if orders[q][1] == orders[q][1]
                         else orders[q][3]) for q in va.SHOWN}
            # both Nu estimate one wall flux: set both against the limit of
            # the second-order one, whose convergence is the cleaner
            limit["nu_file"] = limit["nu2"]
            p = style.path(os.path.join(figures_dir, "pr62_ra%s_grid_convergence"
                                        % ra_text(ra)))
            plotting.plot_grid_study(
                [runs[c.name] for c in grid], p, style=style, reference=limit,
                against="against the extrapolated limits (both Nu: the 2nd-order Nu's)")
            md.append("![Grid study, Pr = 6.2, Ra = %s](figures/%s)\n"
                      % (ra_text(ra), os.path.basename(p)))


def cmd_report(args):
    cases = va.ALL
    runs, missing = analyse_all(args.dirs, cases)
    md = []
    out = sys.stdout
    for d in args.dirs:
        timing = os.path.join(d, TIMING_FILE)
        if os.path.exists(timing):
            with open(timing) as fh:
                md.append("Sweep in %s: %s\n" % (os.path.basename(os.path.abspath(d)),
                                                 fh.read().strip()))
    report_four(runs, cases, md, out)
    report_grid(runs, cases, md, out)
    if args.figures:
        os.makedirs(args.figures, exist_ok=True)
    report_water(runs, cases, md, args.figures, Style.of(args))
    report_walls(runs, cases, md)
    if missing:
        md.append("Not analysed: " + "; ".join(missing) + "\n")
    text = "\n".join(md) + "\n"
    out.write(text)
    if args.markdown:
        with open(args.markdown, "w") as fh:
            fh.write(text)
    if args.csv:
        write_csv(args.csv, runs, cases)
    if args.figures:
        figures(args.figures, runs, cases, Style.of(args))
    return 1 if missing else 0


CSV_COLUMNS = ("name", "grid", "Pr", "Ra", "Ra_solver", "Tau_T", "Tau_F", "U_Ref",
               "steps", "ended_by", "end_step", "run_time_s", "cpu_time_s") \
    + va.QUANTITIES + ("nu2_cold",)


def write_csv(path, runs, cases):
    cols = CSV_COLUMNS
    with open(path, "w", newline="") as fh:
        w = csv.writer(fh)
        w.writerow(cols)
        for c in cases:
            r = runs.get(c.name)
            if not r:
                continue
            w.writerow([c.name, r["m"], "%g" % c.pr, "%g" % c.ra,
                        "%.10g" % r["Ra_solver"],
                        r["Tau_T"], "%.6g" % r["Tau_F"], "%.6g" % r["U_Ref"],
                        r["steps"], r["summary"].get("stop", ""),
                        r["summary"].get("end_step", ""),
                        r["summary"].get("run_time_s", ""),
                        r["summary"].get("cpu_time_s", "")]
                       + ["%.6g" % r[q] for q in va.QUANTITIES]
                       + ["%.6g" % r["nu2_cold"]])


def figures(outdir, runs, cases, style=Style(dpi=110)):
    from cavity import plotting
    os.makedirs(outdir, exist_ok=True)
    finest = [va.water_cases(cases, ra)[-1].name for ra in va.WATER_GRIDS]
    for c in cases:
        if c.name not in runs or (c.group != "four" and c.name not in finest):
            continue
        prefix = c.name + "_" if c.group == "four" else c.name[:10] + "_"
        for p in plotting.plot_run(runs[c.name]["folder"], outdir,
                                   prefix=prefix, style=style,
                                   wall_at=va.WALL_AT, ra=c.ra):
            print(p)
    grid = [c for c in va.grid_cases(cases) if c.name in runs]
    if len(grid) >= 3:
        p = style.path(os.path.join(outdir, "grid_convergence"))
        plotting.plot_grid_study([runs[c.name] for c in grid], p, style=style)
        print(p)


def main(argv=None):
    ap = argparse.ArgumentParser(
        prog="cavity-validate",
        description="The de Vahl Davis (1983) square cavity at Pr = 0.71, "
        "Ra = 1e3 ... 1e6, and a grid study at Ra = 1e4, run through "
        "cavity-sweep and compared with the published values. "
        "cavity-validate --quick checks Ra 1e4 and 1e5 on small grids in "
        "under a minute (run --set quick).")
    sub = ap.add_subparsers(dest="cmd", required=True)
    for name in ("run", "report", "cases"):
        p = sub.add_parser(name)
        if name != "report":
            p.add_argument("--set", choices=sorted(va.SETS), default="four",
                           help="four: the standard cases; grid: the coarser "
                           "grids of the Ra 1e4 grid study; water: the Pr 6.2 "
                           "grid sequences; all: these three; quick: Ra 1e4 "
                           "and 1e5 on small grids, in under a minute "
                           "(default four)")
            p.add_argument("--quick", dest="set", action="store_const",
                           const="quick", help="the same as --set quick")
            p.add_argument("--t-init", type=float, default=va.T_INIT,
                           metavar="T", help="T_Init of every case (default "
                           "%g, the mean wall temperature: the quickest start)"
                           % va.T_INIT)
        if name == "run":
            p.add_argument("-o", "--outdir", default="validation",
                           help="folder for the runs (default ./validation)")
            p.add_argument("-j", "--jobs", default="2",
                           help="cases at once (default 2)")
            p.add_argument("--bin", help="solver (default: %s)"
                           % programs.SEARCH)
            p.add_argument("--with-runs", action="append", metavar="DIR",
                           help="also report the cases of an earlier run "
                           "(e.g. the four cases for --set grid)")
            p.add_argument("--settle", type=float, default=va.SETTLE_TOL,
                           metavar="TOL", help="the solver's settle tolerance "
                           "(default %g; see cavity-sweep)" % va.SETTLE_TOL)
            p.add_argument("--settle-window", type=int,
                           default=va.SETTLE_WINDOW, metavar="STEPS",
                           help="the settle window in steps (default: "
                           "the solver's, which follows the case)")
            p.add_argument("--no-settle", action="store_true",
                           help="let every run go until the solver stops by "
                           "itself (up to 1,000,000 steps)")
        if name == "report":
            p.add_argument("dirs", nargs="+", metavar="DIR",
                           help="folders of earlier runs")
        if name in ("run", "report"):
            p.add_argument("--markdown", help="write the tables to this file")
            p.add_argument("--csv", help="write the numbers to this CSV file")
            p.add_argument("--figures", help="write the figures to this folder")
            add_figure_arguments(p, dpi=110)
    argv = list(sys.argv[1:] if argv is None else argv)
    if argv[:1] == ["--quick"]:
        # cavity-validate --quick [run options]: the quick check, in its own folder
        argv = ["run", "--set", "quick"] + argv[1:]
        if not any(a in ("-o", "--outdir") or a.startswith("--outdir=")
                   for a in argv):
            argv += ["-o", "validation-quick"]
    args, passthrough = ap.parse_known_args(argv)
    if args.cmd != "run" and passthrough:
        ap.error("unrecognised arguments: %s" % " ".join(passthrough))
    if args.cmd == "cases":
        return cmd_cases(args)
    if args.cmd in ("run", "report") and check_figure_options(args):
        ap.error(check_figure_options(args))
    if args.cmd == "report":
        return cmd_report(args)
    return cmd_run(args, passthrough)


if __name__ == "__main__":
    sys.exit(main())
