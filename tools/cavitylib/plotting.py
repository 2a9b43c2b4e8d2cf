"""Figures of one run: isotherms, streamlines over the speed, and the three
mid-line profiles with the benchmark points where they apply."""

import math
import os

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.ticker import MaxNLocator  # noqa: E402
import numpy as np  # noqa: E402

from . import benchmark, records  # noqa: E402


class Run:
    """What a run folder holds, with the scalings the figures need.

    ``wall_at``: the walls sit that many lattice spacings inside the end
    node lines (0.5 on this lattice, see cavitylib.validation); positions
    are then measured from the walls in units of the height between them,
    L = m - 2 wall_at, and velocities are in alpha/L. 0 puts the walls on
    the nodes (positions as the files write them, L = m). ``ra``: the
    Rayleigh number of the cavity for the title and the benchmark points;
    by default the solver's Ra referred to L, Ra (L/m)^3.
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
        r = self.result
        self.t_hot = float(r.T[0, 0])  # the wall columns keep their values
        self.t_cold = float(r.T[0, -1])
        w, m = self.wall_at, r.m
        self.length = m - 2.0 * w  # L in lattice spacings
        # node coordinates in units of L, from the hot and bottom walls
        self.X = (r.X * m - w) / self.length
        self.Y = (r.Y * m - w) / self.length
        self.width = (r.n - 2.0 * w) / self.length
        if self.params:
            self.ra_solver, self.pr = self.params["Ra"], self.params["Pr"]
            self.ra = (self.ra_solver * (self.length / m) ** 3
                       if ra is None else float(ra))
            self.vscale = (benchmark.velocity_scale(self.ra_solver, self.pr)
                           * self.length / m)
            self.vunit = r"$\alpha/L$"
            self.diff = (self.params["Tau_T"] - 0.5) / 3.0
        else:
            self.ra = self.pr = self.ra_solver = None
            self.vscale, self.vunit, self.diff = 1.0, r"$U_{ref}$", None

    def title(self):
        parts = []
        if self.params:
            parts.append("Ra = %s, Pr = %g" % (_sci(self.ra), self.pr))
        parts.append("%d x %d" % (self.result.n, self.result.m))
        return ", ".join(parts)

    def theta(self):
        dt = self.t_hot - self.t_cold
        if dt == 0:
            return self.result.T, "T"
        return (self.result.T - self.t_cold) / dt, r"$(T-T_C)/(T_H-T_C)$"

    def profiles(self):
        """(y, u), (x, v), (x, T) on the mid-lines, velocities scaled."""
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
        y = (y * r.m - w) / (r.m - 2.0 * w)
        x = (x * r.n - w) / (r.n - 2.0 * w)
        xt = (xt * r.n - w) / (r.n - 2.0 * w)
        return (y, u * self.vscale), (x, v * self.vscale), (xt, t)

    def reference(self):
        if not self.params:
            return None
        ref = benchmark.benchmark_case(self.pr, self.ra, self.result.n,
                                       self.result.m)
        if ref is None and self.ra_solver is not None:
            ref = benchmark.benchmark_case(self.pr, self.ra_solver,
                                           self.result.n, self.result.m)
        return ref


def _sci(x):
    if x > 0 and abs(math.log10(x) - round(math.log10(x))) < 1e-9:
        return r"$10^{%d}$" % round(math.log10(x))
    return "%g" % x


def _levels(a, count):
    lo, hi = float(np.nanmin(a)), float(np.nanmax(a))
    if not hi > lo:
        return None
    return np.linspace(lo, hi, count)


def _field_axes(run, size, dpi):
    fig, ax = plt.subplots(figsize=size, dpi=dpi, layout="constrained")
    ax.set_aspect("equal")
    ax.set_xlim(0, run.width)
    ax.set_ylim(0, 1)
    ax.set_xlabel("x / H")
    ax.set_ylabel("y / H")
    ax.set_title(run.title())
    return fig, ax


def plot_isotherms(run, path, size=(5.0, 4.2), dpi=200, lines=11):
    fig, ax = _field_axes(run, size, dpi)
    r = run.result
    th, label = run.theta()
    lv = _levels(th, 41)
    if lv is not None:
        cf = ax.contourf(run.X, run.Y, th, levels=lv, cmap="coolwarm")
        fig.colorbar(cf, ax=ax, label=label, ticks=MaxNLocator(6))
        cl = ax.contour(run.X, run.Y, th, levels=np.linspace(lv[0], lv[-1], lines)[1:-1],
                        colors="k", linewidths=0.7)
        ax.clabel(cl, fmt="%.1f", fontsize=7)
    fig.savefig(path, dpi=dpi)
    plt.close(fig)


def plot_streamlines(run, path, size=(5.0, 4.2), dpi=200, lines=14):
    fig, ax = _field_axes(run, size, dpi)
    r = run.result
    speed = np.hypot(r.U, r.V) * run.vscale
    lv = _levels(speed, 41)
    if lv is not None:
        cf = ax.contourf(run.X, run.Y, speed, levels=lv, cmap="viridis")
        fig.colorbar(cf, ax=ax, label="|u| (%s)" % run.vunit,
                     ticks=MaxNLocator(6))
    psi = r.Stream / run.diff if run.diff else r.Stream
    plv = _levels(psi, lines + 2)
    if plv is not None:
        plv = plv[1:-1]
        ax.contour(run.X, run.Y, psi, levels=plv, colors="w", linewidths=0.8,
                   linestyles="solid")
    name = r"$\psi/\alpha$" if run.diff else "stream function (lattice units)"
    lo, hi = float(np.min(psi)), float(np.max(psi))
    ax.text(0.02, 0.02, "%s: %.4g to %.4g" % (name, lo, hi), transform=ax.transAxes,
            fontsize=7, color="w")
    fig.savefig(path, dpi=dpi)
    plt.close(fig)


def plot_midlines(run, path, size=(11.0, 3.8), dpi=200, show_reference=True):
    (y, u), (x, v), (xt, t) = run.profiles()
    ref = run.reference() if show_reference else None
    fig, axs = plt.subplots(1, 3, figsize=size, dpi=dpi, layout="constrained")
    a, b, c = axs
    a.plot(u, y, "-", color="C0", label="this run")
    a.set_xlabel("u (%s) at x = W/2" % run.vunit)
    a.set_ylabel("y / H")
    a.set_ylim(0, 1)
    b.plot(x, v, "-", color="C0", label="this run")
    b.set_xlabel("x / W")
    b.set_ylabel("v (%s) at y = H/2" % run.vunit)
    b.set_xlim(0, 1)
    c.plot(xt, t, "-", color="C3", label="this run")
    c.set_xlabel("x / W")
    c.set_ylabel("T at y = H/2")
    c.set_xlim(0, 1)
    yu, um = benchmark.parabolic_peak(y, u)
    xv, vm = benchmark.parabolic_peak(x, v)
    a.plot([um], [yu], "x", color="C0", label="max %.4g at y = %.3f" % (um, yu))
    b.plot([xv], [vm], "x", color="C0", label="max %.4g at x = %.3f" % (vm, xv))
    if ref:
        src = "de Vahl Davis (1983)"
        a.plot([ref["u_max"]], [ref["y"]], "o", mfc="none", color="k",
               label="%s: %.4g at %.3f" % (src, ref["u_max"], ref["y"]))
        b.plot([ref["x"]], [ref["v_max"]], "o", mfc="none", color="k",
               label="%s: %.4g at %.3f" % (src, ref["v_max"], ref["x"]))
    for ax in axs:
        ax.grid(alpha=0.3)
        ax.legend(fontsize=7, loc="best")
    t = run.title()
    if run.nu is not None:
        t += ", Nu (Nu.dat) = %.4g" % run.nu
    if run.wall_at > 0 and run.t_hot != run.t_cold:
        nu2, _ = benchmark.hot_wall_nusselt(run.result, run.t_hot, run.t_cold,
                                            run.wall_at)
        t += ", Nu (2nd order) = %.4g" % nu2
    if ref and (run.nu is not None or run.wall_at > 0):
        t += " (de Vahl Davis: %.4g)" % ref["nu"]
    fig.suptitle(t)
    fig.savefig(path, dpi=dpi)
    plt.close(fig)


FIGURES = (("isotherms", plot_isotherms), ("streamlines", plot_streamlines),
           ("midlines", plot_midlines))


def plot_run(folder, outdir=None, prefix="", dpi=200, field_size=(5.0, 4.2),
             profile_size=(11.0, 3.8), show_reference=True, wall_at=0.0,
             ra=None):
    run = Run(folder, wall_at, ra)
    outdir = outdir or folder
    os.makedirs(outdir, exist_ok=True)
    paths = []
    for name, fn in FIGURES:
        p = os.path.join(outdir, "%s%s.png" % (prefix, name))
        if fn is plot_midlines:
            fn(run, p, size=profile_size, dpi=dpi, show_reference=show_reference)
        else:
            fn(run, p, size=field_size, dpi=dpi)
        paths.append(p)
    return paths


def plot_grid_study(runs, path, size=(6.0, 4.2), dpi=110):
    """Relative error against the published values over the grid spacing
    h = 1/L (log-log), with slopes 1 and 2 for reference. ``runs`` are
    analysed runs of one benchmark Ra (cavitylib.validation.analyse_run)."""
    from . import validation as va
    ref = benchmark.benchmark_case(va.PR, runs[0]["ra"], rel=1e-6)
    h = np.array([1.0 / va.cavity_length(r["m"]) for r in runs])
    fig, ax = plt.subplots(figsize=size, dpi=dpi, layout="constrained")
    marks = {"nu_file": "s", "nu2": "o", "u_max": "^", "v_max": "v"}
    for q, mk in marks.items():
        err = np.array([abs(va.rel_error(r[q], ref[va.PUBLISHED_KEY[q]]))
                        for r in runs])
        ax.loglog(h, 100 * err, mk + "-", label=va.LABELS[q])
    hh = np.array([h.min(), h.max()])
    for p, ls in ((1, ":"), (2, "--")):
        y0 = 0.3 * (hh / hh.min()) ** p
        ax.loglog(hh, y0, "k" + ls, lw=0.8, label="slope %d" % p)
    ax.set_xlabel("h = 1 / (m - 1)")
    ax.set_ylabel("|relative error| vs de Vahl Davis (1983), %")
    ax.set_title("Grid study, Ra = %s, Pr = 0.71" % _sci(ref["ra"]))
    ax.grid(alpha=0.3, which="both")
    ax.legend(fontsize=7)
    fig.savefig(path, dpi=dpi)
    plt.close(fig)
