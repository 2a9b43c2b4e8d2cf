"""cavity-sweep --target: each case of a table answered to a stated
accuracy by a ladder of grids (cavity.target), one job a case on the
sweep's back end, and the summary, figures and report of the answers."""

import math
import os
import platform
import sys

from . import gci, nanofluid, records, target

COLUMNS = (
    "name", "Pr", "Ra", "Tau_T", "hold", "scheme", "order", "target", "met",
    "reason", "status", "Nu", "U", "U_rel", "discretisation", "settle_part",
    "float_part", "compressibility", "amplification", "form", "p_observed",
    "order_used", "Fs", "fit_residual", "grids", "Nu_per_grid", "steps_per_grid",
    "cpu_s_per_grid", "steps", "cpu_time_s", "settle_tolerance", "first_grid",
    "ratio", "flags",
)

NANOFLUID_COLUMNS = ("name", "phi", "Pr", "Ra", "Tau_T", "k_ratio", "met", "status",
                     "Nu", "U", "Nu_ref", "U_ref", "enhancement", "grids",
                     "cpu_time_s", "scheme")

LEGEND = """\
name              case of the table; its grids ran in NAME/mMMM, its ladder's record
                  is NAME/target-result.json and NAME/ladder.csv
Pr, Ra, Tau_T     the case (Ra of the cavity between the walls); Tau_T of every grid
                  (hold tau), or of the first (hold mach: U_Ref held)
hold              tau: Tau_T held on every grid, the compressibility error falls with
                  the grid and is inside the band; mach: U_Ref held, its error added
scheme, order     the solver's scheme (its options) and the formal order of its Nu,
                  which sets the error form fitted
target            the accuracy asked for, relative
met               yes when the status is converged and the budget is within the target
reason            met, or why the ladder stopped short: a limit (--max-grids,
                  --max-cpu) or a failed grid
status            of the grid study (cavity.gci): converged, too close to resolve,
                  oscillatory, divergent, order out of band, not asymptotic, noisy
                  fit, fewer than three grids
Nu                the extrapolated second-order mean hot-wall Nu (the answer)
U, U_rel          its uncertainty, all parts added, absolute and relative: the
                  answer is Nu +- U
discretisation    the grids' band over Nu (the GCI band, safety factor Fs)
settle_part       amplification x the settle tolerance of each run
float_part        amplification x the float floor 1e-5
compressibility   the Tau_T study's bound at the held Mach number (0 with hold tau)
amplification     the sum of the absolute weights of the grids' values in the
                  extrapolated Nu: how much an error of each run can move it
form              error form fitted: h^1, h^2 (fixed order), h^p (free), h+h^2
                  (order 1) or h^2+h^3 (order 2), two terms
p_observed        observed order (three finest grids, or the least-squares fit)
order_used        order of the form fitted (empty for two terms)
Fs                safety factor of the band
fit_residual      standard deviation of the least-squares fit (four grids or more)
grids             grid heights m, coarse to fine (; between them)
Nu_per_grid       second-order mean hot-wall Nu of each grid
steps_per_grid    steps each grid ran (chained: from the grid before's state)
cpu_s_per_grid    CPU seconds of each grid's solver
steps, cpu_time_s all grids together (the CPU time with that of a grid stopped
                  by --max-cpu)
settle_tolerance  the --settle of every run: the target over 40, at least 3e-5
first_grid, ratio the ladder's first grid height and grid ratio
flags             the grid study's reasons for a status other than converged
"""


# the insulated walls of the bounce-back schemes bring Nu to second order
# (observed 1.9 to 2.6) and within 0.1 % of the benchmarks; the TRT collision
# keeps that where Tau_T exceeds 0.6
DEFAULT_SCHEME = "bounce-back-trt"


def add_arguments(ap):
    g = ap.add_argument_group(
        "an answer to a stated accuracy (python/README.md, \"--target\")")
    g.add_argument("--target", metavar="ACC",
                   help="run each case on a ladder of grids, each from the "
                   "steady state of the one before, until its extrapolated Nu "
                   "is known within ACC (1%% or 0.01) counting every error, or a "
                   "limit is reached; the table's n and m give the aspect ratio")
    g.add_argument("--max-grids", type=int, default=target.MAX_GRIDS, metavar="N",
                   help="with --target: at most N grids a case (default %d)"
                   % target.MAX_GRIDS)
    g.add_argument("--max-cpu", type=float, metavar="SECONDS",
                   help="with --target: no further grid once the CPU time of a "
                   "case's grids would pass SECONDS (a run that passes it is "
                   "stopped)")
    g.add_argument("--ratio", type=float, default=target.RATIO, metavar="R",
                   help="with --target: grid ratio, 1.25 to 1.5 (default %g)"
                   % target.RATIO)
    g.add_argument("--layer-spacings", type=float, default=None,
                   metavar="S",
                   help="with --target: spacings across the thinnest wall layer "
                   "on the first grid (default, measured: %g at formal order 2, "
                   "%g at order 1)" % (target.LAYER_SPACINGS_SECOND_ORDER,
                                       target.LAYER_SPACINGS))
    g.add_argument("--scheme", metavar="NAME",
                   help="the solver's scheme, passed to it as --scheme NAME; "
                   "with --grids or --target the default is %s, whose Nu "
                   "converges at second order (copy: the program's own scheme, "
                   "first order, the default of a plain sweep); named in every "
                   "output" % DEFAULT_SCHEME)
    g.add_argument("--scheme-args", metavar="\"OPTIONS\"",
                   help="the solver options that select the scheme, when "
                   "they are not --scheme NAME")
    g.add_argument("--choose-tau", action="store_true",
                   help="with --target: Tau_T by the accuracy policy for the "
                   "first grid (U_Ref at --mach of the sound speed there), "
                   "instead of the table's")
    g.add_argument("--mach", type=float, default=None, metavar="MA",
                   help="with --choose-tau: U_Ref on the first grid over the "
                   "lattice sound speed (default %g)" % nanofluid.mach_for_accuracy())
    g.add_argument("--hold", choices=("tau", "mach"), default="tau",
                   help="with --target: hold Tau_T on every grid (default: the "
                   "compressibility error falls with the grid) or U_Ref (its "
                   "error is then added from the Tau_T study)")


def check(args):
    if not args.target:
        return None
    try:
        target.parse_target(args.target)
    except target.TargetError as exc:
        return str(exc)
    if args.grids:
        return "--target chooses the grids itself; leave out --grids"
    if args.no_settle:
        return ("--target settles every run at a tolerance from the target; "
                "leave out --no-settle (or give --settle TOL)")
    if not 1.1 <= args.ratio <= 2.0:
        return "--ratio: give a grid ratio from 1.1 to 2 (1.25 to 1.5 is usual)"
    if args.max_grids < 3:
        return "--max-grids: at least 3 (the band needs three grids)"
    if args.max_cpu is not None and not args.max_cpu > 0:
        return "--max-cpu: give seconds above 0"
    if args.layer_spacings is not None and not args.layer_spacings > 0:
        return "--layer-spacings: give a number of spacings above 0"
    return None


def scheme_of(args):
    """(label, solver options) of the scheme."""
    if args.scheme_args:
        return args.scheme or args.scheme_args, args.scheme_args
    scheme = args.scheme or DEFAULT_SCHEME
    return scheme, "--scheme %s" % scheme


def order_of(args, label):
    """The formal order of the scheme's Nu: as given, else 2 for the
    bounce-back schemes (docs/accuracy.md) and 1 for the others."""
    if args.order is not None:
        return args.order
    return 2.0 if label.startswith("bounce-back") else gci.FORMAL_ORDER


def prepare(args, cases, solver, settle_given):
    """The case rows (Tau_T chosen where asked) and the function that writes
    each case folder's target.json for the back end."""
    acc = target.parse_target(args.target)
    label, sargs = scheme_of(args)
    threads = args.cpus_per_case if args.slurm else args.threads
    order = order_of(args, label)
    spacings = args.layer_spacings or target.layer_spacings_for(order)
    opts = {"solver": solver, "threads": threads, "max_grids": args.max_grids,
            "max_cpu": args.max_cpu, "order": order, "scheme": label,
            "scheme_args": sargs, "hold": args.hold, "ratio": args.ratio,
            "layer_spacings": spacings, "resume": args.resume,
            "settle": args.settle if settle_given else None}
    if args.choose_tau:
        mach = args.mach or nanofluid.mach_for_accuracy()
        for c in cases:
            c["Tau_T"] = target.choose_tau(c, acc, mach, spacings)
            c.setdefault("text", {})["Tau_T"] = "%r" % c["Tau_T"]

    def prepare_case(folder, case):
        target.write_ladder(folder, case, acc, opts)
    return cases, prepare_case


def closing_note(folder):
    """The ladder runner's note on how it ended, from its console.err."""
    try:
        with open(os.path.join(folder, "console.err"), errors="replace") as fh:
            lines = [ln.strip() for ln in fh if ln.startswith("note: target")]
    except OSError:
        return None
    return lines[-1] if lines else None


def collect(outdir, cases):
    """One result dict a case, from its folder's target-result.json."""
    out = []
    for c in cases:
        res = target._load(os.path.join(outdir, c["name"], target.RESULT))
        if res is None:
            res = {"name": c["name"], "status": "not run", "met": False,
                   "reason": "no ladder record", "done": [], "grids": []}
        res["case"] = c
        out.append(res)
    return out


def _g(x, fmt="%.6g"):
    return "" if x is None or x != x else fmt % x


def csv_rows(results):
    for r in results:
        c, b = r["case"], r.get("budget") or {}
        done = r.get("done", [])
        yield {
            "name": r["name"], "Pr": _g(c["Pr"]), "Ra": _g(c["Ra"]),
            "Tau_T": _g(c["Tau_T"]), "hold": r.get("hold", ""),
            "scheme": r.get("scheme", ""), "order": _g(r.get("order"), "%g"),
            "target": _g(r.get("target"), "%g"), "met": "yes" if r.get("met") else "no",
            "reason": r.get("reason") or "", "status": r.get("status", ""),
            "Nu": _g(r.get("Nu")), "U": _g(r.get("U_total"), "%.3g"),
            "U_rel": _g(r.get("total"), "%.3g"),
            "discretisation": _g(b.get("discretisation"), "%.3g"),
            "settle_part": _g(b.get("settle"), "%.3g"),
            "float_part": _g(b.get("float"), "%.3g"),
            "compressibility": _g(b.get("compressibility"), "%.3g"),
            "amplification": _g(r.get("amplification"), "%.3g"),
            "form": r.get("form", ""), "p_observed": _g(r.get("p"), "%.3g"),
            "order_used": _g(r.get("p_used"), "%.3g"), "Fs": _g(r.get("fs"), "%g"),
            "fit_residual": _g(r.get("s"), "%.3g"),
            "grids": ";".join("%d" % g["m"] for g in done),
            "Nu_per_grid": ";".join(_g(g["Nu"]) for g in done),
            "steps_per_grid": ";".join("%s" % (g["steps"] or "") for g in done),
            "cpu_s_per_grid": ";".join("%.2f" % g["cpu_s"] for g in done),
            "steps": "%d" % sum(g["steps"] or 0 for g in done),
            "cpu_time_s": "%.2f" % r.get("cpu_s", 0.0),
            "settle_tolerance": _g(r.get("settle"), "%g"),
            "first_grid": "%s" % r.get("m1", ""), "ratio": _g(r.get("ratio"), "%g"),
            "flags": "; ".join(r.get("flags") or []),
        }


def write_csv(path, results):
    records.write_table(path, COLUMNS, csv_rows(results), LEGEND)


def text_lines(results):
    lines = []
    for r in results:
        done = r.get("done", [])
        grids = "  ".join("m=%d: %s" % (g["m"], _g(g["Nu"], "%.5f")) for g in done)
        lines.append("%s  %s" % (r["name"], grids or "(no grid ran)"))
        if r.get("Nu") is not None and r.get("Nu") == r.get("Nu"):
            b = r["budget"]
            lines.append(
                "    Nu = %.5f +- %.5f (%.3f %%: grids %.3f, settle %.3f, float %.4f, "
                "compressibility %.3f), form %s, p = %.2f, scheme %s"
                % (r["Nu"], r["U_total"], 100 * r["total"], 100 * b["discretisation"],
                   100 * b["settle"], 100 * b["float"], 100 * b["compressibility"],
                   r["form"] or "none", r["p"] if r["p"] == r["p"] else float("nan"),
                   r.get("scheme")))
        lines.append("    %s; %s; %d steps, %.1f s CPU"
                     % ("target met" if r.get("met") else "target NOT met",
                        r.get("reason") or r.get("status"),
                        sum(g["steps"] or 0 for g in done), r.get("cpu_s", 0.0)))
    return lines


def plot(results, path, dpi=110):
    """Nu against the grid spacing with the fit and the answer at h = 0, one
    panel a case."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    n = max(1, len(results))
    cols = min(3, n)
    rows = int(math.ceil(n / float(cols)))
    fig, axes = plt.subplots(rows, cols, figsize=(4.6 * cols, 3.6 * rows), squeeze=False)
    for ax, r in zip(axes.flat, results):
        done = [g for g in r.get("done", []) if g["Nu"] == g["Nu"]]
        hs = [gci.spacing(g["m"]) for g in done]
        ax.plot(hs, [g["Nu"] for g in done], "o", color="C0", label="grids")
        curve = fit_curve(r, hs, [g["Nu"] for g in done])
        if curve:
            ax.plot(curve[0], curve[1], "-", color="C1", lw=1,
                    label="fit %s" % r["form"])
        if r.get("Nu") is not None and r.get("Nu") == r.get("Nu"):
            ax.errorbar([0.0], [r["Nu"]], yerr=[r["U_total"]], fmt="s", color="C3",
                        capsize=4, label="Nu +- U (%.2g %%)" % (100 * r["total"]))
        ax.set_xlim(left=-0.002)
        ax.set_xlabel("h = 1/(m - 1)")
        ax.set_ylabel("Nu (2nd order, hot wall)")
        c = r["case"]
        ax.set_title("%s: Pr %g, Ra %g\nscheme %s, %s, %.1f s CPU"
                     % (r["name"], c["Pr"], c["Ra"], r.get("scheme", ""),
                        "met" if r.get("met") else "not met",
                        r.get("cpu_s", 0.0)), fontsize=9)
        ax.legend(fontsize=7)
        ax.grid(alpha=0.3)
    for ax in list(axes.flat)[len(results):]:
        ax.axis("off")
    cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    load = os.getloadavg()[0]
    fig.text(0.01, 0.005, "CPU seconds of the solver runs on %s, %d cores, load average "
             "%.1f when drawn%s" % (platform.node() or "this machine", cores, load,
                                    " (shared with other work)" if load > cores else ""),
             fontsize=7, color="0.35")
    fig.tight_layout(rect=(0, 0.03, 1, 1))
    fig.savefig(path, dpi=dpi)
    plt.close(fig)


def fit_curve(r, hs, nus):
    """Points of the fitted error form from h = 0 to the coarsest grid."""
    import numpy as np
    form, f0 = r.get("form"), r.get("Nu")
    if not form or f0 is None or f0 != f0 or len(hs) < 3:
        return None
    h = np.asarray(hs, float)
    f = np.asarray(nus, float)
    x = np.linspace(0.0, h.max(), 60)
    if "+" in form:
        powers = gci.form_exponents(form)
        a = np.column_stack([np.ones_like(h)] + [h ** e for e in powers])
        w = np.sqrt((1.0 / h) / np.sum(1.0 / h))
        c = np.linalg.lstsq(a * w[:, None], f * w, rcond=None)[0]
        return x, c[0] + sum(ck * x ** e for ck, e in zip(c[1:], powers))
    q = r["p_used"]
    if len(hs) == 3:
        hmin = h.min()
        amp = (f[np.argmin(h)] - f0) / hmin ** q
        return x, f0 + amp * x ** q
    a = np.column_stack([np.ones_like(h), h ** q])
    w = np.sqrt((1.0 / h) / np.sum(1.0 / h))
    c = np.linalg.lstsq(a * w[:, None], f * w, rcond=None)[0]
    return x, c[0] + c[1] * x ** q


def report(outdir, cases, quiet=False):
    """Collects, writes OUTDIR/target.csv and target.png, prints the lines;
    returns the results."""
    results = collect(outdir, cases)
    write_csv(os.path.join(outdir, "target.csv"), results)
    try:
        plot(results, os.path.join(outdir, "target.png"))
    except (ValueError, RuntimeError, OSError) as exc:
        print("cavity-sweep: --target: no figure: %s" % exc, file=sys.stderr)
    if not quiet:
        acc = results[0].get("target") if results else None
        print("answers to %s (second-order mean Nu on the hot wall, "
              "extrapolated; U counts the grids' band, the settle tolerance, "
              "the float floor and compressibility):" % _g(acc and 100 * acc, "%g %%"))
        for line in text_lines(results):
            print(line)
    print("cavity-sweep: --target: answers in %s" % os.path.join(outdir, "target.csv"),
          file=sys.stderr)
    return results
