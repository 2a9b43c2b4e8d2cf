"""Grid studies of a sweep: each case of a table run on several grids, and
per case the second-order Nu on each grid with its observed order, the
Richardson-extrapolated value and the Grid Convergence Index (gci.py).

Each case keeps its Tau_T on every grid (diffusive scaling): the
diffusivity in lattice units stays, so U_Ref = sqrt(Ra Pr) alpha / m falls
as 1/m and the compressibility error, of order U_Ref^2, falls with the
square of the spacing like the rest of the discretisation error. The
coarsest grid therefore has the largest U_Ref.

The Nu studied is the second-order mean Nu on the hot wall from
Result.dat, with the walls half a spacing inside the end node lines
(benchmark.hot_wall_nusselt), over T_Hot - T_Cold; Nu.dat's formula carries
factors of order 1/m (docs/validation.md) that would bias the order.
"""

import csv
import math
import os

from . import benchmark, gci, records

WALL_AT = 0.5
SUFFIX = "_m%03d"


class GridError(ValueError):
    pass


def parse_grids(text):
    """Grid heights from "32,48,64": three or more different whole numbers
    of at least 4, returned coarse to fine."""
    try:
        ms = [int(v) for v in text.split(",") if v.strip()]
    except ValueError:
        raise GridError("--grids %r: give three or more grid heights m "
                        "separated by commas, e.g. 32,48,64" % text)
    if len(set(ms)) < 3 or len(set(ms)) != len(ms) or min(ms) < 4:
        raise GridError("--grids %r: give three or more different grid "
                        "heights m of at least 4, e.g. 32,48,64" % text)
    return sorted(ms)


def width_for(case, m):
    """Grid width on an m-high grid with the case's aspect ratio between
    the walls, (n - 1)/(m - 1)."""
    return max(4, int(round((case["n"] - 1.0) * (m - 1.0) / (case["m"] - 1.0)
                            + 1.0)))


def expand(cases, ms):
    """The case table run on each grid: case NAME on grid m becomes
    NAME_mMMM, with the width from the aspect ratio and everything else as
    given (Tau_T included). The finest grids come first, so that the
    longest runs start first and do not end the sweep alone."""
    out = []
    for m in sorted(ms, reverse=True):
        for c in cases:
            n = width_for(c, m)
            g = dict(c, n=n, m=m, name=c["name"] + SUFFIX % m, study=c["name"])
            text = dict(c.get("text", {}))
            text.update(n="%d" % n, m="%d" % m)
            g["text"] = text
            out.append(g)
    return out


# what reading a case folder's Nu can raise: unreadable or cut files, a
# parameter missing, T_Hot = T_Cold
READ_ERRORS = (OSError, records.FormatError, ValueError, ArithmeticError,
               LookupError)


def case_nusselt(folder, why=None):
    """The second-order mean hot-wall Nu of a finished case folder, over
    T_Hot - T_Cold, or nan when its files cannot be read (the reason then
    appended to the list ``why``)."""
    try:
        p = records.read_parameters(folder)
        res = records.read_result(folder)
        nu, _ = benchmark.hot_wall_nusselt(res, p["T_Hot"], p["T_Cold"], WALL_AT)
    except READ_ERRORS as exc:
        if why is not None:
            why.append("%s: no Nu (%s)" % (os.path.basename(folder), exc))
        return math.nan
    return nu


def safe_study(ms, nus, order=gci.FORMAL_ORDER):
    """gci.study, with anything it cannot judge a flagged result."""
    try:
        return gci.study(ms, nus, WALL_AT, order)
    except (ValueError, ArithmeticError) as exc:
        out = gci.study([], [], WALL_AT, order)
        out["grids"] = sorted(zip(ms, nus))
        out["flags"] = ["no grid study: %s" % exc]
        return out


def analyse(cases, rows, order=gci.FORMAL_ORDER, scheme=""):
    """One grid study a case of the original table. ``cases``: the table's
    cases; ``rows``: the summary rows of the expanded sweep; ``order``: the
    formal order of the scheme's Nu. A grid whose run did not end normally
    counts as missing; numbers the GCI cannot judge are a flagged result."""
    out = []
    for c in cases:
        ms, nus, status, why = [], [], [], []
        for r in rows:
            if _study_of(r["name"]) == c["name"]:
                ms.append(int(r["m"]))
                ok = r["status"] == "ok"
                nus.append(case_nusselt(r["folder"], why) if ok else math.nan)
                status.append((int(r["m"]), r["status"], r.get("stop", "")))
        res = safe_study(ms, nus, order)
        res["flags"] += why
        res.update(name=c["name"], case=c, runs=sorted(status), scheme=scheme,
                   order=order)
        out.append(res)
    return out


def read_summary(path):
    with open(path, newline="") as fh:
        return list(csv.DictReader(fh))


def _study_of(name):
    base, _, tail = name.rpartition("_m")
    return base if tail.isdigit() else None


COLUMNS = ("name", "grids", "Nu_per_grid", "p", "Nu_extrapolated", "e_a",
           "e_ext", "GCI_fine", "GCI_band", "GCI_32", "asymptotic_ratio",
           "flags", "status", "form", "order_used", "Fs", "fit_residual", "scheme",
           "order")

LEGEND = """\
name              case of the table (its runs are NAME_mMMM, one a grid)
grids             grid heights m, coarse to fine (; between them)
Nu_per_grid       second-order mean Nu on the hot wall on each grid (Result.dat,
                  walls half a spacing inside the end nodes, over T_Hot - T_Cold)
p                 observed order (three finest grids; with four or more, the
                  least-squares fit of free order)
Nu_extrapolated   the extrapolated Nu of the error form chosen (column form)
e_a, e_ext        relative difference of the two finest grids, and of the finest
                  grid from the extrapolated value
GCI_fine          the band's half-width over the finest grid's Nu: with three
                  grids Fs e_a / (r21^p - 1), Fs = 1.25
GCI_band          the band's half-width U: the error bar, around Nu_extrapolated
GCI_32            the GCI of the coarser pair
asymptotic_ratio  GCI_32 / (r21^p GCI_fine); near 1 in the asymptotic range
flags             why the grids look outside the asymptotic range (oscillatory
                  convergence, an order far from the formal one, the ratio off
                  1); empty when none
status            converged, too close to resolve, oscillatory, divergent, order
                  out of band, not asymptotic, noisy fit or fewer than three
                  grids: only a converged band is a 95 % band (cavity.gci)
form              the error form fitted: h^1 or h^2 (fixed order), h^p (free
                  order), h+h^2 or h^2+h^3 (two terms at formal order 1
                  or 2, four grids or more)
order_used        the order of that form (empty for two terms)
Fs                the safety factor of the band (1.25, or 3 where the grids do
                  not confirm the form)
fit_residual      the standard deviation of the least-squares fit (four grids
                  or more)
scheme            the solver's scheme of the runs (--scheme)
order             the formal order of its Nu, which sets the error forms fitted
"""


def _g(x, fmt="%.6g"):
    return "" if x is None or x != x else fmt % x


def csv_rows(results):
    for r in results:
        yield {"name": r["name"],
               "grids": ";".join("%d" % m for m, _ in r["grids"]),
               "Nu_per_grid": ";".join(_g(v) for _, v in r["grids"]),
               "p": _g(r["p"], "%.4g"), "Nu_extrapolated": _g(r["f_ext"]),
               "e_a": _g(r["e_a"], "%.4g"), "e_ext": _g(r["e_ext"], "%.4g"),
               "GCI_fine": _g(r["gci"], "%.4g"), "GCI_band": _g(r["band"], "%.4g"),
               "GCI_32": _g(r["gci_32"], "%.4g"),
               "asymptotic_ratio": _g(r["ratio"], "%.4g"),
               "flags": "; ".join(r["flags"]), "status": r["status"],
               "form": r["form"], "order_used": _g(r["p_used"], "%.4g"),
               "Fs": _g(r["fs"], "%g"), "fit_residual": _g(r["s"], "%.3g"),
               "scheme": r.get("scheme", ""), "order": _g(r.get("order"), "%g")}


def write_csv(path, results):
    records.write_table(path, COLUMNS, csv_rows(results), LEGEND)


def text_table(results):
    """Lines for the terminal: per case Nu on each grid, p, the
    extrapolated Nu with its GCI band, and the flags."""
    lines = []
    for r in results:
        grids = "  ".join("m=%d: %s" % (m, _g(v, "%.5f") or "-")
                          for m, v in r["grids"])
        lines.append("%s  %s" % (r["name"], grids))
        if r["f_ext"] == r["f_ext"]:
            lines.append("    p = %.2f, Nu extrapolated (form %s) = %.5f +- %.5f "
                         "(%.3f %% of the finest grid's %.5f), GCI_32/(r^p GCI) = %.3f"
                         % (r["p"], r["form"] or "none", r["f_ext"], r["band"],
                            100 * r["gci"], r["f1"], r["ratio"]))
        lines.append("    %s%s" % (r["status"], ": " + "; ".join(r["flags"])
                                   if r["flags"] else ", in the asymptotic range"))
    return lines
