"""Results of a sweep over volume fractions: the Nusselt number of each run
as the solver wrote it and referred to the base fluid, the properties that
went into each case, a markdown report and the plot against phi."""

import csv
import math
import os

from . import benchmark, grid_study, history, nanofluid as nf, records, sweep

TIMING_FILE = "sweep-time.txt"
WALL_AT = 0.5


def _summary(outdir):
    path = os.path.join(outdir, "summary.csv")
    if not os.path.exists(path):
        return {}
    with open(path, newline="") as fh:
        return {r["name"]: r for r in csv.DictReader(fh)}


def collect(outdir, cases):
    """One dict a case. ``cases``: (case-table row, Suspension) pairs.

    Nu is Nu.dat divided by T_Hot - T_Cold (the solver does not normalise
    it); nu_ref = Nu k_nf/k_f, the heat flux referred to the base fluid's
    conductivity; nu2 the second-order hot-wall Nu from Result.dat with the
    walls half a spacing inside the end nodes; nu_limit the value the Nu
    history was heading for when the run ended; enhancement is nu_ref over
    the phi = 0 case's, minus 1.
    """
    summary = _summary(outdir)
    out = []
    for row, s in cases:
        name = row["name"]
        folder = os.path.join(outdir, name)
        sm = summary.get(name, {})
        r = {"name": name, "phi": float(row["phi"]), "n": int(row["n"]),
             "m": int(row["m"]), "Pr": float(row["Pr"]), "Ra": float(row["Ra"]),
             "Tau_T": float(row["Tau_T"]), "k_ratio": s.props["k_ratio"],
             "mu_ratio": s.props["mu_ratio"], "props": s.props,
             "models": s.models, "status": sm.get("status", "not-run"),
             "stop": sm.get("stop", ""),
             "steps": sm.get("end_step") or sm.get("last_reported_step", ""),
             "run_time_s": sm.get("run_time_s", ""),
             "cpu_time_s": sm.get("cpu_time_s", ""),
             "expected_s": nf.expected_run(int(row["n"]), int(row["m"]),
                                           float(row["Tau_T"]),
                                           float(row["Ra"]))[1],
             "message": sm.get("message", "")}
        dt = float(row["T_Hot"]) - float(row["T_Cold"])
        try:
            nu = records.read_nu(folder) / dt
            res = records.read_result(folder)
            nu2, _ = benchmark.hot_wall_nusselt(res, float(row["T_Hot"]),
                                                float(row["T_Cold"]), WALL_AT)
        except (OSError, records.FormatError, ValueError) as exc:
            r.update(nu=math.nan, nu2=math.nan, nu_limit=math.nan,
                     drift=math.nan)
            if r["status"] == "ok":
                r["status"] = "unreadable"
                r["message"] = str(exc)
        else:
            try:
                steps, hist, _, _ = history.read_console(folder, sweep.CONSOLE_OUT)
                tail = history.tail_fit(steps, hist / dt) if hist.size else None
            except OSError:
                tail = None
            lim = tail["limit"] if tail else nu
            r.update(nu=nu, nu2=nu2, nu_limit=lim,
                     drift=(lim - nu) / nu if nu else math.nan)
        for k in ("nu", "nu2", "nu_limit"):
            r[k + "_ref"] = r[k] * r["k_ratio"]
        out.append(r)
    base = [r for r in out if r["phi"] == 0 and r["nu_ref"] == r["nu_ref"]]
    for r in out:
        for k in ("nu_ref", "nu2_ref"):
            b = base[0][k] if base else math.nan
            r["enh_" + k] = r[k] / b - 1.0 if b == b and b else math.nan
    return out


def add_grid_study(outdir, results, names, ms, order=1.0, scheme="copy"):
    """Adds to each result (the finest grid's, same order as ``names``) the
    grid study of its second-order Nu over the grid heights ``ms``: ``gs``
    (the gci.study dict), nu2_ext and band (extrapolated Nu and the GCI
    error bar of the finest grid's Nu2), the same referred to the base
    fluid (x k_nf/k_f), and the enhancement of the extrapolated Nu over
    the phi = 0 case's."""
    for r, name in zip(results, names):
        why = []
        nus = [grid_study.case_nusselt(os.path.join(outdir, name + grid_study.SUFFIX % m), why)
               for m in ms]
        res = grid_study.safe_study(ms, nus, order)
        res["flags"] += why
        res.update(scheme=scheme, order=order)
        r["gs"] = res
        r["nu2_ext"], r["nu2_band"] = res["f_ext"], res["band"]
        r["nu2_ext_ref"] = res["f_ext"] * r["k_ratio"]
        r["nu2_band_ref"] = res["band"] * r["k_ratio"]
        r["p"], r["gci"] = res["p"], res["gci"]
        r["grid_flags"] = "; ".join(res["flags"])
        r["grid_status"], r["grid_form"] = res["status"], res["form"]
    base = [r for r in results if r["phi"] == 0]
    b = base[0]["nu2_ext_ref"] if base else math.nan
    for r in results:
        r["enh_nu2_ext_ref"] = r["nu2_ext_ref"] / b - 1.0 if b == b and b else math.nan


def _g(x, d=5):
    if x is None or (isinstance(x, float) and math.isnan(x)):
        return "-"
    return "%.*g" % (d, x)


def _pct(x):
    if x is None or (isinstance(x, float) and math.isnan(x)):
        return "-"
    return "%+.2f %%" % (100 * x)


def _md(header, rows):
    lines = ["| " + " | ".join(header) + " |",
             "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(str(c) for c in r) + " |" for r in rows]
    return "\n".join(lines) + "\n"


def report(results, suspension, ra, wall=None):
    """Markdown text: the properties of each case and the Nusselt numbers."""
    first = results[0]
    models = first["models"]
    text = []
    text.append("Suspension: %s in %s, models: conductivity %s, viscosity %s; "
                "density, heat capacity and expansion by %s. Rayleigh number: "
                "%s.\n" % (suspension.particle.name, suspension.fluid.name,
                           models["k"], models["mu"], models["rho"], ra[2]))
    text.append("Materials: %s [%s]; %s [%s].\n"
                % (suspension.fluid.name, suspension.fluid.source,
                   suspension.particle.name, suspension.particle.source))
    prow = []
    for r in results:
        p = r["props"]
        prow.append((_g(r["phi"], 3), _g(p["rho"]), _g(p["cp"]), _g(p["k"]),
                     _g(p["k_ratio"]), _g(p["beta"]), _g(p["mu"]),
                     _g(p["mu_ratio"]), _g(p["nu"]), _g(p["alpha"]),
                     _g(r["Pr"]), _g(r["Ra"], 6)))
    text.append("Properties of each case (SI units):\n")
    text.append(_md(("phi", "rho kg/m^3", "cp J/(kg K)", "k W/(m K)",
                     "k_nf/k_f (%s)" % models["k_ratio"], "beta 1/K",
                     "mu Pa s", "mu_nf/mu_f (%s)" % models["mu_ratio"],
                     "nu m^2/s", "alpha m^2/s", "Pr",
                     "Ra_nf (cavity between the walls)"), prow))
    rrow = []
    for r in results:
        rrow.append((_g(r["phi"], 3), "%d x %d" % (r["n"], r["m"]),
                     _g(r["Tau_T"], 6), r["stop"] or r["status"],
                     r["steps"] or "-", _g(r["nu2"]), _g(r["nu2_ref"]),
                     _pct(r["enh_nu2_ref"]), _g(r["nu"]), _pct(r["drift"]),
                     _g(r["nu_ref"]), _pct(r["enh_nu_ref"]),
                     _fmt_time(r["expected_s"]), _fmt_time(r["run_time_s"]),
                     _fmt_time(r["cpu_time_s"])))
    text.append("\nNusselt numbers (Nu (wall-corrected): the mean hot-wall Nu "
                "to quote, second order from Result.dat, walls half a spacing "
                "inside the end nodes, with the suspension's conductivity; "
                "x k_nf/k_f: referred to the base fluid's; Nu.dat: the file's "
                "first-order value over T_Hot - T_Cold, about 1/m above; "
                "drift: how far the Nu.dat history was still from the value "
                "it was heading for):\n")
    text.append(_md(("phi", "grid", "Tau_T", "ended by", "at step",
                     "Nu (wall-corrected)", "Nu (wall-corrected) x k_nf/k_f",
                     "enhancement (wall-corrected)",
                     "Nu.dat (the file's first-order value)", "drift left",
                     "Nu.dat x k_nf/k_f", "enhancement (Nu.dat)",
                     "expected time (1 thread)", "wall time", "CPU time"), rrow))
    if "gs" in first:
        text.append(grid_table(results))
    if wall is not None:
        text.append("\nSweep wall time: %.0f s (%.1f min).\n" % (wall, wall / 60.0))
    bad = [r for r in results if r["status"] != "ok"]
    for r in bad:
        text.append("\n%s: %s %s\n" % (r["name"], r["status"], r["message"]))
    return "".join(text)


def grid_table(results):
    """Markdown: per phi the second-order Nu on each grid, the observed
    order, the finest grid's Nu2 x k_nf/k_f with its GCI error bar, the
    extrapolated value and its enhancement, and the flags."""
    ms = [m for m, _ in results[0]["gs"]["grids"]]
    rows = []
    for r in results:
        rows.append([_g(r["phi"], 3)] + [_g(v) for _, v in r["gs"]["grids"]]
                    + [_g(r["p"], 3), "%s +- %s" % (_g(r["nu2_ref"]), _g(r["nu2_band_ref"], 2)),
                       "%.2f %%" % (100 * r["gci"]) if r["gci"] == r["gci"] else "-",
                       _g(r["nu2_ext_ref"]), _pct(r["enh_nu2_ext_ref"]),
                       r["grid_flags"] or "-"])
    head = (["phi"] + ["Nu 2nd order, m = %d" % m for m in ms]
            + ["observed order p", "finest x k_nf/k_f +- GCI band", "GCI",
               "extrapolated x k_nf/k_f", "enhancement (extrapolated)",
               "outside the asymptotic range?"])
    gs = results[0]["gs"]
    return ("\nGrid study of the second-order Nu (scheme %s; Tau_T of the "
            "coarsest grid on every grid; extrapolation with the error form of "
            "formal order %g and its band, safety factor 1.25; cavity.gci):\n"
            % (gs.get("scheme", "copy"), gs.get("order", 1.0))
            + _md(head, rows))


def _fmt_time(s):
    try:
        s = float(s)
    except (TypeError, ValueError):
        return "-"
    return "%.0f s" % s if s < 120 else "%.1f min" % (s / 60.0)


CSV_COLUMNS = ("name", "phi", "n", "m", "Pr", "Ra", "Tau_T", "k_ratio",
               "mu_ratio", "status", "stop", "steps", "expected_s",
               "run_time_s", "cpu_time_s", "nu",
               "nu_limit", "drift", "nu_ref", "enh_nu_ref", "nu2", "nu2_ref",
               "enh_nu2_ref")


GRID_COLUMNS = ("p", "gci", "nu2_band", "nu2_band_ref", "nu2_ext",
                "nu2_ext_ref", "enh_nu2_ext_ref", "grid_flags", "grid_status",
                "grid_form")

# the Nusselt columns again under names that say which Nu each is (after
# the others, whose names and places scripts may rely on)
NAMED_COLUMNS = (("Nu_wall_corrected", "nu2"),
                 ("Nu_wall_corrected_x_k_ratio", "nu2_ref"),
                 ("enhancement_wall_corrected", "enh_nu2_ref"),
                 ("Nu_dat_first_order", "nu"),
                 ("Nu_dat_first_order_x_k_ratio", "nu_ref"),
                 ("enhancement_Nu_dat", "enh_nu_ref"))


def write_csv(path, results):
    keys = CSV_COLUMNS + (GRID_COLUMNS if results and "gs" in results[0] else ())
    keys += tuple(k for _, k in NAMED_COLUMNS)
    with open(path, "w", newline="") as fh:
        w = csv.writer(fh)
        w.writerow(keys[:len(keys) - len(NAMED_COLUMNS)]
                   + tuple(name for name, _ in NAMED_COLUMNS))
        for r in results:
            w.writerow([("%.6g" % r[c]) if isinstance(r[c], float) else r[c]
                        for c in keys])


def plot(results, path, suspension, ra, size=(6.0, 4.2), style=None):
    """Nu against phi: the wall-corrected Nu referred to the base fluid
    (with its GCI error bars and the extrapolated values after a grid
    study), the same with the suspension's conductivity, and the file's
    first-order Nu.dat referred to the base fluid, each labelled."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from . import figures
    style = style or figures.Style(dpi=110)
    ok = [r for r in results if r["nu2"] == r["nu2"]]
    phi = [r["phi"] for r in ok]
    fig, ax = plt.subplots(figsize=size, dpi=style.dpi, layout="constrained")
    if ok and "gs" in ok[0]:
        ax.errorbar(phi, [r["nu2_ref"] for r in ok],
                    yerr=[r["nu2_band_ref"] for r in ok], fmt="s-", capsize=3,
                    label=r"Nu (wall-corrected) $\times k_{nf}/k_f$, finest "
                    "grid, GCI error bar")
        ax.plot(phi, [r["nu2_ext_ref"] for r in ok], "x", color="k",
                label="extrapolated (three grids)")
    else:
        ax.plot(phi, [r["nu2_ref"] for r in ok], "s-",
                label=r"Nu (wall-corrected) $\times k_{nf}/k_f$")
    ax.plot(phi, [r["nu2"] for r in ok], "s--", color="C0", mfc="none",
            label="Nu (wall-corrected), conductivity of the suspension")
    ax.plot(phi, [r["nu_ref"] for r in ok], "o:", color="0.55", mfc="none",
            label=r"Nu.dat (the file's first-order value) $\times k_{nf}/k_f$")
    ax.set_xlabel(r"particle volume fraction $\phi$")
    ax.set_ylabel("mean Nusselt number on the hot wall")
    grid = "%d x %d" % (ok[0]["n"], ok[0]["m"]) if ok else ""
    if ok and "gs" in ok[0]:
        grid = "grids m = %s" % ", ".join("%d" % m for m, _ in ok[0]["gs"]["grids"])
    parts = ["%s-%s" % (suspension.particle.name, suspension.fluid.name)]
    if ra[0]:
        parts.append("Ra_f = %g" % ra[0])
    figures.title(style, ax, parts + [grid])
    ax.grid(alpha=0.3)
    ax.legend(fontsize=7)
    figures.save(fig, path, style)
