"""Figures of one run: isotherms, streamlines over the speed, the three
mid-line profiles and the local Nusselt number along the hot wall, with the
benchmark values where they apply."""

import csv
import math
import os

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.ticker import FixedLocator, MaxNLocator, NullLocator  # noqa: E402
import numpy as np  # noqa: E402

from . import benchmark, figures, frame, rayleigh, records  # noqa: E402

BENCHMARK_SOURCE = "de Vahl Davis (1983)"
# field figures: the axes' longer side in inches, room for the colour bar,
# labels and title around them
FIELD_AXES = 3.6
FIELD_MARGIN = (1.75, 0.95)


class Run:
    """What a run folder holds, with the scalings the figures need.

    ``wall_at``: the walls sit that many lattice spacings inside the end
    node lines (0.5 on this lattice, see cavity.validation); positions
    are then measured from the walls in units of the height between them,
    H = m - 2 wall_at, and velocities are in alpha/H (cavity.frame, which
    the VTK file shares). 0 puts the walls on the nodes (positions as the
    files write them, H = m). ``ra``: the Rayleigh number of the cavity
    for the title and the benchmark values; by default the parameter
    file's read back by the tools' convention (cavity.rayleigh), which
    gives the number the user gave the tools. A nanofluid.json beside the
    results (cavity-nanofluid) names the suspension in the titles.
    """

    def __init__(self, folder, wall_at=0.0, ra=None):
        self.folder = folder
        self.wall_at = float(wall_at)
        self.result = records.read_result(folder)
        try:
            self.params = records.read_parameters(folder)
        except (OSError, records.FormatError):
            self.params = None
        try:
            self.nu = records.read_nu(folder)
        except (OSError, records.FormatError):
            self.nu = None
        self.suspension = suspension_text(folder)
        r = self.result
        self.t_hot = float(r.T[0, 0])  # the wall columns keep their values
        self.t_cold = float(r.T[0, -1])
        f = frame.Frame(r, self.params, self.wall_at)
        self.length, self.X, self.Y, self.width = f.length, f.X, f.Y, f.width
        self.vscale = f.velocity
        if self.params:
            self.ra_solver, self.pr = self.params["Ra"], self.params["Pr"]
            self.ra = (rayleigh.from_solver(self.ra_solver, r.m)
                       if ra is None else float(ra))
            self.vunit = r"$\alpha/H$"
            self.psi_scale = f.stream
        else:
            self.ra = self.pr = self.ra_solver = None
            self.vunit, self.psi_scale = r"$U_{ref}$", None

    def title_parts(self):
        """The title, short: the cavity's Ra (between the walls), Pr, the
        grid and the suspension where there is one."""
        parts = []
        if self.params:
            parts += ["Ra = %s" % _sci(self.ra), "Pr = %g" % self.pr]
        parts.append("%d x %d" % (self.result.n, self.result.m))
        if self.suspension:
            parts.append(self.suspension)
        return parts

    def title(self, sep=", "):
        return sep.join(self.title_parts())

    def theta(self):
        dt = self.t_hot - self.t_cold
        if dt == 0:
            return self.result.T, "T"
        return (self.result.T - self.t_cold) / dt, r"$(T-T_C)/(T_H-T_C)$"

    def profiles(self):
        """(y, u), (x, v), (x, T) on the mid-lines, positions over H,
        velocities scaled."""
        r, w = self.result, self.wall_at
        try:
            p = records.read_midlines(self.folder)
            (y, u), (x, v), (xt, t) = p["u"], p["v"], p["t"]
        except (OSError, records.FormatError):
            jm, im = r.m // 2, r.n // 2
            y, u = r.Y[:, im], r.U[:, im]
            x = r.X[jm, :] * r.m / r.n
            v, xt, t = r.V[jm, :], x, r.T[jm, :]
        # the files give y = j/m and x = i/n; measure from the walls
        y = (y * r.m - w) / self.length
        x = (x * r.n - w) / self.length
        xt = (xt * r.n - w) / self.length
        return (y, u * self.vscale), (x, v * self.vscale), (xt, t)

    def reference(self):
        """The published values when the cavity's Ra and Pr are a standard
        case on a square grid, else None."""
        if not self.params:
            return None
        return benchmark.benchmark_case(self.pr, self.ra, self.result.n,
                                        self.result.m)

    def local_nusselt(self):
        """(y, second-order local Nu, first-order local Nu as Nu.dat sums
        it) on the node rows between the bottom and top walls; y from the
        bottom wall in units of H."""
        r = self.result
        dt = self.t_hot - self.t_cold
        if dt == 0:
            raise ValueError("T_Hot equals T_Cold: no Nusselt number")
        _, local2 = benchmark.hot_wall_nusselt(r, self.t_hot, self.t_cold,
                                               max(self.wall_at, 0.0))
        local1 = 2.0 * r.n * (self.t_hot - r.T[:, 1]) / dt
        rows = np.arange(r.m + 1)
        inside = (rows > self.wall_at) & (rows < r.m - self.wall_at)
        y = (rows - self.wall_at) / self.length
        return y[inside], local2[inside], local1[inside]

    def wall_corrected_nu(self):
        """The mean hot-wall Nu to quote (second order, the walls half a
        spacing inside the end nodes), or None."""
        if self.t_hot == self.t_cold or self.result.n < 3:
            return None
        return benchmark.hot_wall_nusselt(self.result, self.t_hot, self.t_cold,
                                          0.5)[0]


def suspension_text(folder):
    """'Cu-water, phi = 0.1' from a nanofluid.json in ``folder``, or ''."""
    import json
    try:
        with open(os.path.join(folder, "nanofluid.json")) as fh:
            s = json.load(fh)["suspension"]
        if not s["phi"]:
            return "%s, $\\phi$ = 0" % s["fluid"]["name"]
        return "%s-%s, $\\phi$ = %g" % (s["particle"]["name"],
                                          s["fluid"]["name"], s["phi"])
    except (OSError, ValueError, KeyError, TypeError):
        return ""


def _sci(x):
    if x > 0 and abs(math.log10(x) - round(math.log10(x))) < 1e-9:
        return r"$10^{%d}$" % round(math.log10(x))
    return "%.6g" % x


def _levels(a, count):
    lo, hi = float(np.nanmin(a)), float(np.nanmax(a))
    if not hi > lo:
        return None
    return np.linspace(lo, hi, count)


def field_size(run):
    """Figure size (inches) whose axes follow the cavity's aspect ratio."""
    aspect = run.width  # W / H
    if aspect >= 1:
        w, h = FIELD_AXES, FIELD_AXES / aspect
    else:
        w, h = FIELD_AXES * aspect, FIELD_AXES
    # a very slender cavity still leaves room for the title and the labels
    w, h = max(w, 1.6), max(h, 1.2)
    return w + FIELD_MARGIN[0], h + FIELD_MARGIN[1]


def _field_axes(run, size, style):
    fig, ax = plt.subplots(figsize=size or field_size(run), dpi=style.dpi,
                           layout="constrained")
    ax.set_aspect("equal")
    ax.set_xlim(0, run.width)
    ax.set_ylim(0, 1)
    for axis, span in ((ax.xaxis, run.width), (ax.yaxis, 1.0)):
        axis.set_major_locator(MaxNLocator(nbins=max(3, int(round(5 * span))),
                                           steps=[1, 2, 2.5, 5, 10]))
    ax.set_xlabel("x / H")
    ax.set_ylabel("y / H")
    figures.title(style, ax, run.title_parts())
    return fig, ax


def label_positions(paths_by_level, width, min_gap=0.12):
    """One label point a contour level: the vertex farthest from the walls
    (the box [0, width] x [0, 1]) that keeps ``min_gap`` from the labels
    already placed, so labels sit in the open rather than crowd where
    the contours bunch up at the walls."""
    placed = []
    for verts in paths_by_level:
        if len(verts) == 0:
            continue
        v = np.asarray(verts)
        wall = np.minimum.reduce([v[:, 0], width - v[:, 0], v[:, 1], 1 - v[:, 1]])
        score = wall.copy()
        for p in placed:
            d = np.hypot(v[:, 0] - p[0], v[:, 1] - p[1])
            score = np.where(d < min_gap, score - 1.0, score)
        k = int(np.argmax(score))
        placed.append((float(v[k, 0]), float(v[k, 1])))
    return placed


def _save_field(fig, path, size, style):
    """A figure of the default size is cut to what was drawn (the equal
    aspect of a slender cavity leaves blank beside it); one of a given size
    keeps exactly that size."""
    if size:
        figures.save(fig, path, style)
    else:
        figures.save(fig, path, style, bbox_inches="tight", pad_inches=0.08)


def plot_isotherms(run, path, size=None, style=figures.Style(), lines=11):
    fig, ax = _field_axes(run, size, style)
    th, label = run.theta()
    lv = _levels(th, 41)
    if lv is not None:
        cf = ax.contourf(run.X, run.Y, th, levels=lv, cmap="coolwarm")
        fig.colorbar(cf, ax=ax, label=label, ticks=MaxNLocator(6), shrink=0.9)
        cl = ax.contour(run.X, run.Y, th,
                        levels=np.linspace(lv[0], lv[-1], lines)[1:-1],
                        colors="k", linewidths=0.7)
        verts = [np.concatenate(seg) if seg else [] for seg in cl.allsegs]
        ax.clabel(cl, fmt="%.1f", fontsize=7, inline_spacing=2,
                  manual=label_positions(verts, run.width))
    _save_field(fig, path, size, style)


def plot_streamlines(run, path, size=None, style=figures.Style(), lines=14):
    fig, ax = _field_axes(run, size, style)
    r = run.result
    speed = np.hypot(r.U, r.V) * run.vscale
    lv = _levels(speed, 41)
    if lv is not None:
        cf = ax.contourf(run.X, run.Y, speed, levels=lv, cmap="viridis")
        fig.colorbar(cf, ax=ax, label="|u| / (%s)" % run.vunit,
                     ticks=MaxNLocator(6), shrink=0.9)
    psi = r.Stream * run.psi_scale if run.psi_scale else r.Stream
    plv = _levels(psi, lines + 2)
    if plv is not None:
        ax.contour(run.X, run.Y, psi, levels=plv[1:-1], colors="w",
                   linewidths=0.8, linestyles="solid")
    name = r"$\psi/\alpha$" if run.psi_scale else "stream function (lattice units)"
    lo, hi = float(np.min(psi)), float(np.max(psi))
    ax.text(0.02, 0.02, "%s: %.4g to %.4g" % (name, lo, hi),
            transform=ax.transAxes, fontsize=7, color="w")
    _save_field(fig, path, size, style)


def nusselt_caption(run, ref):
    """Which Nu the run gives, the one to quote first, and which published
    value it is set against."""
    parts = []
    nu2 = run.wall_corrected_nu()
    if nu2 is not None:
        parts.append("mean hot-wall Nu (wall-corrected) %.4f" % nu2)
    if run.nu is not None:
        parts.append("Nu.dat (the file's first-order value) %.4f" % run.nu)
    text = "; ".join(parts)
    if ref and parts:
        text += "; %s mean hot-wall Nu %.4g" % (BENCHMARK_SOURCE, ref["nu"])
    return text


def plot_midlines(run, path, size=(11.0, 4.0), style=figures.Style(),
                  show_reference=True):
    (y, u), (x, v), (xt, t) = run.profiles()
    ref = run.reference() if show_reference else None
    fig, axs = plt.subplots(1, 3, figsize=size, dpi=style.dpi,
                            layout="constrained")
    a, b, c = axs
    a.plot(u, y, "-", color="C0", label="this run")
    a.set_xlabel("u / (%s) at x = W/2" % run.vunit)
    a.set_ylabel("y / H")
    a.set_ylim(0, 1)
    b.plot(x, v, "-", color="C0", label="this run")
    b.set_xlabel("x / H")
    b.set_ylabel("v / (%s) at y = H/2" % run.vunit)
    b.set_xlim(0, run.width)
    c.plot(xt, t, "-", color="C3", label="this run")
    c.set_xlabel("x / H")
    c.set_ylabel("T at y = H/2")
    c.set_xlim(0, run.width)
    yu, um = benchmark.parabolic_peak(y, u)
    xv, vm = benchmark.parabolic_peak(x, v)
    a.plot([um], [yu], "x", color="C0", label="max %.4g at y = %.3f" % (um, yu))
    b.plot([xv], [vm], "x", color="C0", label="max %.4g at x = %.3f" % (vm, xv))
    if ref:
        a.plot([ref["u_max"]], [ref["y"]], "o", mfc="none", color="k",
               label="%s: %.4g at %.3f" % (BENCHMARK_SOURCE, ref["u_max"], ref["y"]))
        b.plot([ref["x"]], [ref["v_max"]], "o", mfc="none", color="k",
               label="%s: %.4g at %.3f" % (BENCHMARK_SOURCE, ref["v_max"], ref["x"]))
    for ax in axs:
        ax.grid(alpha=0.3)
        ax.legend(fontsize=7, loc="best")
        ax.xaxis.set_major_locator(MaxNLocator(6))
    figures.title(style, fig, run.title_parts(), fontsize=11)
    caption = nusselt_caption(run, ref)
    if caption:
        fig.supxlabel(caption, fontsize=8)
    figures.save(fig, path, style)


def plot_local_nusselt(run, path, size=(5.0, 4.4), style=figures.Style(),
                       show_reference=True):
    """Local Nusselt number along the hot wall against the height."""
    y, nu2, nu1 = run.local_nusselt()
    ref = run.reference() if show_reference else None
    fig, ax = plt.subplots(figsize=size, dpi=style.dpi, layout="constrained")
    ax.plot(nu2, y, "-", color="C3", label="wall-corrected (2nd order, wall "
            "half a spacing out)")
    ax.plot(nu1, y, ":", color="0.4", label="1st order, as Nu.dat sums it")
    if ref:
        ax.plot([ref["nu_max"]], [ref["y_nu_max"]], "o", mfc="none", color="k",
                label="%s: max %.4g at y = %.3g" % (BENCHMARK_SOURCE, ref["nu_max"],
                                                    ref["y_nu_max"]))
        ax.plot([ref["nu_min"]], [ref["y_nu_min"]], "s", mfc="none", color="k",
                clip_on=False,  # at the top wall
                label="%s: min %.4g at y = %.3g" % (BENCHMARK_SOURCE, ref["nu_min"],
                                                    ref["y_nu_min"]))
    ax.set_xlabel("local Nusselt number on the hot wall")
    ax.set_ylabel("y / H (from the bottom wall)")
    ax.set_ylim(0, 1)
    ax.set_xlim(left=0)
    ax.xaxis.set_major_locator(MaxNLocator(6))
    ax.grid(alpha=0.3)
    ax.legend(fontsize=7, loc="upper right")
    figures.title(style, ax, run.title_parts())
    figures.save(fig, path, style)


LOCAL_NU_COLUMNS = ("j", "y_over_H", "Nu_local_2nd_order", "Nu_local_1st_order")


def write_local_nusselt(run, path):
    """CSV of the local hot-wall Nusselt number, one row a node row between
    the walls: the node row j, its height from the bottom wall over H, the
    second-order local Nu (as the mean hot-wall Nu of the validation takes
    it) and the first-order one the solver's Nu.dat sums."""
    y, nu2, nu1 = run.local_nusselt()
    first = int(math.floor(run.wall_at)) + 1
    with open(path, "w", newline="") as fh:
        w = csv.writer(fh)
        w.writerow(LOCAL_NU_COLUMNS)
        for k, (yy, a, b) in enumerate(zip(y, nu2, nu1)):
            w.writerow([first + k, "%.6g" % yy, "%.7g" % a, "%.7g" % b])


FIGURES = (("isotherms", plot_isotherms), ("streamlines", plot_streamlines),
           ("midlines", plot_midlines), ("hotwall_nusselt", plot_local_nusselt))


def plot_run(folder, outdir=None, prefix="", style=figures.Style(),
             field_size=None, profile_size=(11.0, 4.0), show_reference=True,
             wall_at=0.0, ra=None):
    """All figures of a run and the CSV of the local Nusselt number;
    returns the paths written."""
    run = Run(folder, wall_at, ra)
    outdir = outdir or folder
    os.makedirs(outdir, exist_ok=True)
    paths = []
    for name, fn in FIGURES:
        p = style.path(os.path.join(outdir, prefix + name))
        if fn is plot_midlines:
            fn(run, p, size=profile_size, style=style,
               show_reference=show_reference)
        elif fn is plot_local_nusselt:
            fn(run, p, style=style, show_reference=show_reference)
        else:
            fn(run, p, size=field_size, style=style)
        paths.append(p)
    p = os.path.join(outdir, "%shotwall_nusselt.csv" % prefix)
    write_local_nusselt(run, p)
    paths.append(p)
    return paths


def plot_grid_study(runs, path, size=(6.0, 4.4), style=figures.Style(dpi=110),
                    quantities=None, reference=None, title=None, against=None):
    """Relative error over the grid spacing h = 1/L (log-log), with slopes 1
    and 2 for reference. ``runs`` are analysed runs of one Ra
    (cavity.validation.analyse_run); the error is against ``reference``
    (quantity -> value; default: the published values)."""
    from . import validation as va
    if reference is None:
        ref = benchmark.benchmark_case(va.PR, runs[0]["ra"], rel=1e-6)
        reference = {q: ref[va.PUBLISHED_KEY[q]] for q in va.QUANTITIES}
        against = "against %s" % BENCHMARK_SOURCE
    else:
        against = against or "against the extrapolated limits"
    quantities = quantities or ("nu2", "nu_file", "u_max", "v_max")
    h = np.array([1.0 / va.cavity_length(r["m"]) for r in runs])
    fig, ax = plt.subplots(figsize=size, dpi=style.dpi, layout="constrained")
    marks = dict(zip(("nu2", "nu_file", "u_max", "v_max"), "os^v"))
    errs = []
    for q in quantities:
        err = np.array([abs(va.rel_error(r[q], reference[q])) for r in runs])
        errs.append(err[err > 0])
        ax.loglog(h, 100 * err, marks.get(q, "d") + "-", label=va.LABELS[q])
    allerr = 100 * np.concatenate(errs)
    hh = np.array([h.min(), h.max()])
    y0 = float(np.exp(np.mean(np.log(allerr)))) if allerr.size else 1.0
    for p, ls in ((1, ":"), (2, "--")):
        ax.loglog(hh, y0 * (hh / hh.max()) ** p, "k" + ls, lw=0.8,
                  label="slope %d" % p)
    # the grids themselves on x; 1-2-5 steps on y, every tick labelled
    ax.xaxis.set_major_locator(FixedLocator(h))
    ax.xaxis.set_major_formatter(matplotlib.ticker.FixedFormatter(
        ["1/%d" % (r["m"] - 1) for r in runs]))
    ax.xaxis.set_minor_locator(NullLocator())
    ax.yaxis.set_major_locator(matplotlib.ticker.LogLocator(subs=(1, 2, 5)))
    ax.yaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(
        lambda v, _: "%g" % v))
    ax.yaxis.set_minor_locator(NullLocator())
    ax.set_xlabel("grid spacing h = 1 / (m - 1)")
    ax.set_ylabel("|relative error|, %")
    figures.title(style, ax, [title or "Grid study, Ra = %s, Pr = %g"
                              % (_sci(runs[0]["ra"]), runs[0].get("Pr", va.PR)),
                              against], fontsize=9)
    ax.grid(alpha=0.3, which="both")
    ax.legend(fontsize=7)
    figures.save(fig, path, style)
