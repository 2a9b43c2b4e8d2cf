"""The measured study behind cavity-nanofluid's choice of Tau_T.

On one grid, each case runs at several reference velocities U_Ref (Mach
numbers U_Ref / c_s), that is at several Tau_T, until it settles. The Nu of
each run is compared with the case's Nu at the lowest Mach number, where
the compressibility error is smallest, and the run time with the Mach
number.
A larger Tau_T settles sooner (the diffusive time m^2 / alpha falls as
1 / (Tau_T - 1/2)) and costs accuracy; the study says how much.
"""

import csv
import math


from . import history, nanofluid as nf, rayleigh

GRID = 64
MACHS = (0.05, 0.075, 0.1, 0.15, 0.2, 0.3)
# (name, Pr, Ra of the cavity, grid height m, Mach numbers, T_Init): water
# and Cu-water at phi = 0.2 from cavity-nanofluid at Ra_f = 1e5 (the ends
# of the Cu-water sweep), a water-like Pr at a tenth of that Ra (these
# three started from T_Init = 0), then air-like Pr 0.71 at Ra 1e5 and 1e6
# and Pr 6.2 at Ra 1e6, started from T_Init = T_Ref = 0.5, which settles
# sooner (the steady state does not depend on the start). At Ra 1e6 the
# grid is finer, and the lowest Mach numbers are left out: their Tau_F
# would be below 0.51 (Pr 0.71) or their runs too long (Pr 6.2).
CASES = (
    ("water", 5.828777, 1e5, GRID, MACHS, 0.0),
    ("cu20", 2.171922, 29825.5, GRID, MACHS, 0.0),
    ("pr62", 6.2, 1e4, GRID, MACHS, 0.0),
    ("pr071_ra1e5", 0.71, 1e5, GRID, (0.05, 0.1, 0.15, 0.2, 0.3, 0.5), 0.5),
    ("pr071_ra1e6", 0.71, 1e6, 128, (0.1, 0.15, 0.2, 0.3), 0.5),
    ("pr62_ra1e6", 6.2, 1e6, 96, (0.1, 0.15, 0.2, 0.3), 0.5),
)


# a run whose Nu history still scatters by more than this (relative) over
# its tail ended while its Nu oscillated: the settle rule compared two
# window means that happened to agree. Its Nu is shown, not taken as Nu_0.
OSCILLATING = 1e-3


def tau_t(pr, ra, m, mach):
    """Tau_T that gives U_Ref = mach c_s on an m-high grid (Ra of the
    cavity, converted as for the parameter file)."""
    ra_s = rayleigh.to_solver(ra, m)
    return 0.5 + 3.0 * mach * nf.LATTICE_SOUND_SPEED * m / math.sqrt(ra_s * pr)


def case_rows(cases=CASES):
    rows = []
    for name, pr, ra, m, machs, t_init in cases:
        for ma in machs:
            rows.append({"name": "%s_ma%g" % (name, ma), "n": m, "m": m,
                         "Pr": repr(pr), "Ra": repr(ra), "T_Hot": 1,
                         "T_Cold": 0, "T_Init": t_init,
                         "Tau_T": "%.6f" % tau_t(pr, ra, m, ma)})
    return rows


def write_table(path, rows):
    with open(path, "w", newline="") as fh:
        w = csv.DictWriter(fh, fieldnames=list(rows[0]))
        w.writeheader()
        w.writerows(rows)


def analyse(summary_rows, cases=CASES):
    """Per case: Nu_0 (the Nu of the lowest Mach number) and, per Mach
    number, Tau_T, Tau_F, stop, steps, the steps in diffusive times
    (steps alpha / (m - 1)^2), wall and processor seconds, the Nu error
    against Nu_0 and the drift left (how far the Nu history still was from
    the value it was heading for, cavity.history.tail_fit)."""
    by_name = {r["name"]: r for r in summary_rows}
    out = []
    for name, pr, ra, m, _, _ in cases:
        runs = []
        for key, r in by_name.items():
            if not key.startswith(name + "_ma") or r["status"] != "ok":
                continue
            ma = float(key[len(name) + 3:])
            t = float(r["Tau_T"])
            alpha = (t - 0.5) / 3.0
            steps = int(r["end_step"] or r["last_reported_step"] or 0)
            runs.append({"mach": ma, "Tau_T": t, "Tau_F": 0.5 + pr * (t - 0.5),
                         "stop": r["stop"], "steps": steps,
                         "diffusive_times": steps * alpha / (m - 1.0) ** 2,
                         "wall_s": float(r["run_time_s"] or "nan"),
                         "cpu_s": float(r["cpu_time_s"] or "nan"),
                         "nu": float(r["Nu"]),
                         "drift": _drift(r["folder"]),
                         "scatter": _scatter(r["folder"])})
        runs.sort(key=lambda x: x["mach"])
        for x in runs:
            x["oscillating"] = x["scatter"] > OSCILLATING
        steady = [x for x in runs if not x["oscillating"]]
        if len(runs) < 2 or not steady:
            continue
        nu0 = steady[0]["nu"]
        for x in runs:
            x["error"] = x["nu"] / nu0 - 1.0
        out.append({"name": name, "Pr": pr, "Ra": ra, "m": m, "nu0": nu0,
                    "mach0": steady[0]["mach"], "runs": runs})
    return out


def _tail(folder):
    """The tail fit of a run's Nu history (cavity.history) and its last
    Nu, or None where the run left no history."""
    try:
        steps, nu, _, _ = history.read_console(folder)
    except OSError:
        return None
    if nu.size == 0:
        return None
    return history.tail_fit(steps, nu), nu[-1]


def _drift(folder):
    tail = _tail(folder)
    return math.nan if tail is None else tail[0]["remaining"] / tail[1]


def _scatter(folder):
    """Relative scatter of the Nu history's tail: large when the run ended
    while its Nu still oscillated."""
    tail = _tail(folder)
    return math.nan if tail is None else tail[0]["scatter"] / abs(tail[1])


def _fmt_s(s):
    if not s == s:
        return "-"
    return "%.0f s" % s if s < 120 else "%.1f min" % (s / 60.0)


def markdown(results):
    """The study's tables: per case, each Mach number's Tau_T, Tau_F, how
    the run ended, its steps (and in diffusive times), times and Nu error."""
    out = []
    for c in results:
        m = c["m"]
        out.append("**%s**: Pr = %.4g, Ra = %.6g (cavity between the walls), "
                   "%d x %d; Nu_0 = %.6g "
                   "(Nu.dat at U_Ref = %g c_s)\n" % (c["name"], c["Pr"], c["Ra"],
                                                   m, m, c["nu0"], c["mach0"]))
        out.append("| U_Ref / c_s | Tau_T | Tau_F | ended by | steps | "
                   "steps alpha / (m-1)^2 | wall time | CPU time | Nu.dat | "
                   "Nu / Nu_0 - 1 | drift left |")
        out.append("|---|---|---|---|---|---|---|---|---|---|---|")
        for x in c["runs"]:
            out.append("| %g | %.6g | %.4g | %s | %d | %.3f | %s | %s | %.6g | "
                       "%+.3f %% | %+.3f %% |"
                       % (x["mach"], x["Tau_T"], x["Tau_F"],
                          x["stop"] + (" (still oscillating, %.1g)" % x["scatter"]
                                       if x["oscillating"] else ""),
                          x["steps"], x["diffusive_times"], _fmt_s(x["wall_s"]),
                          _fmt_s(x["cpu_s"]), x["nu"], 100 * x["error"],
                          100 * x["drift"]))
        out.append("")
    return "\n".join(out) + "\n"


CSV_COLUMNS = ("case", "Pr", "Ra", "m", "mach", "Tau_T", "Tau_F", "stop",
               "steps", "diffusive_times", "wall_s", "cpu_s", "nu", "drift",
               "nu0", "error", "scatter")


def write_csv(path, results):
    cols = CSV_COLUMNS
    with open(path, "w", newline="") as fh:
        w = csv.writer(fh)
        w.writerow(cols)
        for c in results:
            for x in c["runs"]:
                w.writerow([c["name"], "%.6g" % c["Pr"], "%.6g" % c["Ra"], c["m"]]
                           + ["%.6g" % x[k] if isinstance(x[k], float) else x[k]
                              for k in cols[4:14]]
                           + ["%.6g" % c["nu0"], "%.4g" % x["error"],
                              "%.3g" % x["scatter"]])


def plot(results, path, style=None):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from . import figures
    style = style or figures.Style(dpi=110)
    fig, (a, b) = plt.subplots(1, 2, figsize=(10, 4.0), dpi=style.dpi,
                               layout="constrained")
    for k, c in enumerate(results):
        ma = [x["mach"] for x in c["runs"]]
        lab = "%s (Pr %.3g, cavity Ra %.3g, %d x %d)" % (
            c["name"], c["Pr"], c["Ra"], c["m"], c["m"])
        ok = [x for x in c["runs"] if not x["oscillating"]]
        a.plot([x["mach"] for x in ok], [100 * x["error"] for x in ok], "o-",
               color="C%d" % k, label=lab)
        for x in c["runs"]:  # ended while Nu oscillated: no measure of U_Ref
            if x["oscillating"]:
                a.plot([x["mach"]], [100 * x["error"]], "x", color="C%d" % k)
        b.plot(ma, [x["cpu_s"] for x in c["runs"]], "-", color="C%d" % k,
               label=lab)
        for x in c["runs"]:  # hollow: ended by the solver's own stop
            b.plot([x["mach"]], [x["cpu_s"]], "o", color="C%d" % k,
                   mfc="C%d" % k if x["stop"] == "settled" else "white")
    a.axhline(0, color="0.5", lw=0.6)
    a.set_xlabel("U_Ref / c_s (Mach number of the reference velocity)")
    a.set_ylabel("Nu.dat / Nu_0 - 1, %")
    figures.title(style, a, ["Nu.dat against its value at the lowest Mach "
                             "number"], width=0.45)
    b.set_xlabel("U_Ref / c_s")
    b.set_ylabel("CPU time of the run, s (one thread)")
    figures.title(style, b, ["Time to the end:", "settled (filled) or "
                             "residual stop (hollow)"], width=0.45, sep=" ")
    b.set_yscale("log")
    b.yaxis.set_major_locator(matplotlib.ticker.LogLocator(subs=(1, 2, 5)))
    b.yaxis.set_minor_locator(matplotlib.ticker.NullLocator())
    b.yaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(lambda v, _: "%g" % v))
    for ax in (a, b):
        ax.grid(alpha=0.3, which="both")
        ax.legend(fontsize=7)
    figures.save(fig, path, style)


def read_csv(path):
    """The results of write_csv read back (for tables and figures of runs
    whose folders are gone); files without the m column are 64 x 64."""
    out = {}
    with open(path, newline="") as fh:
        for r in csv.DictReader(fh):
            c = out.setdefault(r["case"], {
                "name": r["case"], "Pr": float(r["Pr"]), "Ra": float(r["Ra"]),
                "m": int(r.get("m") or GRID), "nu0": float(r["nu0"]),
                "mach0": None, "runs": []})
            x = {k: float(r[k]) for k in ("mach", "Tau_T", "Tau_F",
                                          "diffusive_times", "wall_s", "cpu_s",
                                          "nu", "drift", "error")}
            x.update(stop=r["stop"], steps=int(r["steps"]),
                     scatter=float(r.get("scatter") or 0.0))
            x["oscillating"] = x["scatter"] > OSCILLATING
            c["runs"].append(x)
    for c in out.values():
        c["mach0"] = min(x["mach"] for x in c["runs"] if x["error"] == 0.0)
    return list(out.values())
