"""Nanofluid set-up for the cavity solver: from base fluid, particle and
volume fraction to Pr and Ra (and a ready parameter file), and from the
solver's Nusselt number back to one referred to the base fluid.

usage: cavity-nanofluid table
       cavity-nanofluid props   SUSPENSION [RAYLEIGH]
       cavity-nanofluid write   SUSPENSION RAYLEIGH --grid NxM [-o DIR]
       cavity-nanofluid cases   SUSPENSION RAYLEIGH --grid NxM --phi LIST
       cavity-nanofluid sweep   SUSPENSION RAYLEIGH --grid NxM --phi LIST [-o DIR]
       cavity-nanofluid nusselt RUN_FOLDER [--base BASE_RUN] [SUSPENSION]

SUSPENSION: --fluid NAME | --fluid-props rho=..,cp=..,k=..,beta=..,mu=..
            --particle NAME | --particle-props rho=..,cp=..,k=..,beta=..
            --phi PHI  [--k-model maxwell|hamilton-crosser --shape-factor N]
            [--mu-model brinkman|ratio --mu-ratio R]
RAYLEIGH:   --ra-f RA_OF_THE_BASE_FLUID | --height H --delta-t DT [--gravity G]
"""

import argparse
import csv
import json
import math
import os
import sys

from cavity import nanofluid as nf
from cavity import figures, folder_lock, programs, rayleigh, records

SIDECAR = "nanofluid.json"
SETTLE_TOL = 1e-5
CS = nf.LATTICE_SOUND_SPEED


def g(x):
    return "%.6g" % x


class Suspension:
    def __init__(self, fluid, particle, phi, k_model, shape_n, mu_model, mu_ratio):
        self.fluid, self.particle, self.phi = fluid, particle, phi
        self.k_model, self.shape_n = k_model, shape_n
        self.mu_model, self.mu_ratio = mu_model, mu_ratio
        self.props, self.models = nf.mixture(fluid, particle, phi, k_model,
                                             shape_n, mu_model, mu_ratio)
        self.base = nf.base_properties(fluid)

    @property
    def name(self):
        if self.phi == 0:
            return "%s (base fluid, phi = 0)" % self.fluid.name
        return "%s-%s, phi = %g" % (self.particle.name, self.fluid.name, self.phi)

    def as_json(self):
        return {"fluid": self.fluid._asdict(), "particle": self.particle._asdict(),
                "phi": self.phi, "k_model": self.k_model, "shape_n": self.shape_n,
                "mu_model": self.mu_model, "mu_ratio": self.mu_ratio}

    @classmethod
    def from_json(cls, d):
        return cls(nf.Material(**d["fluid"]), nf.Material(**d["particle"]),
                   d["phi"], d["k_model"], d["shape_n"], d["mu_model"],
                   d["mu_ratio"])


def add_suspension(ap, required=True):
    s = ap.add_argument_group("suspension")
    s.add_argument("--table", default=nf.TABLE_PATH,
                   help="property table (CSV; default: the shipped one)")
    s.add_argument("--fluid", help="base fluid from the table (default water)")
    s.add_argument("--fluid-props", metavar="rho=..,cp=..,k=..,beta=..,mu=..",
                   help="base fluid properties in SI units instead of --fluid")
    s.add_argument("--particle", help="particle material from the table")
    s.add_argument("--particle-props", metavar="rho=..,cp=..,k=..,beta=..",
                   help="particle properties in SI units instead of --particle")
    s.add_argument("--phi", type=float, default=None if required else None,
                   help="particle volume fraction, 0 <= phi < 1")
    s.add_argument("--k-model", choices=("maxwell", "hamilton-crosser"),
                   default="maxwell", help="conductivity model (default maxwell)")
    s.add_argument("--shape-factor", type=float, default=None,
                   help="Hamilton-Crosser shape factor n (3 = spheres)")
    s.add_argument("--sphericity", type=float, default=None,
                   help="Hamilton-Crosser sphericity psi; n = 3 / psi")
    s.add_argument("--mu-model", choices=("brinkman", "ratio"), default="brinkman",
                   help="viscosity model (default brinkman)")
    s.add_argument("--mu-ratio", type=float,
                   help="mu_nf / mu_f for --mu-model ratio")


def add_rayleigh(ap):
    r = ap.add_argument_group("Rayleigh number")
    r.add_argument("--ra-f", type=float,
                   help="Rayleigh number of the base fluid in the same cavity")
    r.add_argument("--height", type=float, help="cavity height H, m")
    r.add_argument("--delta-t", type=float, help="T_hot - T_cold of the walls, K")
    r.add_argument("--gravity", type=float, default=9.81,
                   help="gravitational acceleration, m/s^2 (default 9.81)")


def add_lattice(ap):
    lat = ap.add_argument_group("lattice")
    lat.add_argument("--grid", required=True, help="grid n x m, e.g. 128x128")
    lat.add_argument("--accuracy", type=float, default=100 * nf.DEFAULT_ACCURACY,
                     metavar="PERCENT",
                     help="how far Nu may move with the choice of Tau_T, in "
                     "percent of Nu; sets the largest U_Ref from the measured "
                     "study (default %(default)g)")
    lat.add_argument("--mach", type=float, default=None,
                     help="largest U_Ref in units of the lattice sound speed "
                     "1/sqrt(3), instead of the one --accuracy gives")
    lat.add_argument("--tau-min", type=float, default=nf.TAU_MIN,
                     help="smallest Tau_T and Tau_F allowed (default %g)"
                     % nf.TAU_MIN)
    lat.add_argument("--tau-max", type=float, default=2.0,
                     help="largest Tau_T and Tau_F allowed (default 2.0)")
    lat.add_argument("--tau-t", type=float,
                     help="use this Tau_T instead of choosing one (still checked)")
    lat.add_argument("--t-hot", type=float, default=1.0, help="T_Hot (default 1)")
    lat.add_argument("--t-cold", type=float, default=0.0, help="T_Cold (default 0)")
    lat.add_argument("--t-init", type=float, default=None,
                     help="T_Init (default (T_Hot + T_Cold)/2, the mean wall "
                     "temperature: the quickest start; the steady state does "
                     "not depend on it)")


def t_init(args):
    """T_Init: --t-init, else the mean wall temperature T_Ref."""
    if args.t_init is not None:
        return args.t_init
    return 0.5 * (args.t_hot + args.t_cold)


def suspension_from(args, phi=None):
    table = nf.load_table(args.table)
    if args.fluid_props:
        fluid = nf.parse_props(args.fluid_props, "fluid")
    else:
        fluid = nf.lookup(table, args.fluid or "water", "fluid")
    phi = args.phi if phi is None else phi
    if phi is None:
        raise ValueError("give the volume fraction --phi")
    if args.particle_props:
        part = nf.parse_props(args.particle_props, "particle")
    elif args.particle:
        part = nf.lookup(table, args.particle, "particle")
    elif phi == 0:
        part = fluid._replace(kind="particle")
    else:
        raise ValueError("give --particle or --particle-props")
    if args.sphericity is not None and args.shape_factor is not None:
        raise ValueError("give --shape-factor or --sphericity, not both")
    if args.sphericity is not None:
        if not 0 < args.sphericity <= 1:
            raise ValueError("sphericity must be in (0, 1]")
        shape_n = 3.0 / args.sphericity
    else:
        shape_n = 3.0 if args.shape_factor is None else args.shape_factor
    if (args.shape_factor is not None or args.sphericity is not None) \
            and args.k_model != "hamilton-crosser":
        raise ValueError("a shape factor needs --k-model hamilton-crosser")
    if args.mu_ratio is not None and args.mu_model != "ratio":
        raise ValueError("--mu-ratio needs --mu-model ratio")
    return Suspension(fluid, part, phi, args.k_model, shape_n, args.mu_model,
                      args.mu_ratio)


def rayleigh_from(args, s, required):
    phys = (args.height, args.delta_t)
    if args.ra_f is not None and any(v is not None for v in phys):
        raise ValueError("give --ra-f or --height and --delta-t, not both")
    if args.ra_f is not None:
        if args.ra_f <= 0:
            raise ValueError("--ra-f must be positive")
        return (args.ra_f, nf.rayleigh_from_base(args.ra_f, s.base, s.props),
                "Ra_f (beta_nf/beta_f) (nu_f alpha_f)/(nu_nf alpha_nf), Ra_f = %s"
                % g(args.ra_f))
    if all(v is not None for v in phys):
        if args.delta_t <= 0:
            raise ValueError("--delta-t must be positive (hot wall on the left)")
        ra_b = nf.rayleigh_physical(s.base, args.height, args.delta_t, args.gravity)
        ra = nf.rayleigh_physical(s.props, args.height, args.delta_t, args.gravity)
        return (ra_b, ra, "g beta dT H^3 / (nu alpha), g = %s m/s^2, H = %s m, "
                "dT = %s K" % (g(args.gravity), g(args.height), g(args.delta_t)))
    if any(v is not None for v in phys):
        raise ValueError("give both --height and --delta-t")
    if required:
        raise ValueError("give --ra-f, or --height and --delta-t")
    return None


def print_properties(s, ra=None, out=sys.stdout):
    p, b, pm, m = s.props, s.base, s.particle, s.models
    w = out.write
    w("suspension: %s  (phi: particle volume fraction, -)\n" % s.name)
    w("  fluid: %s [%s]\n" % (s.fluid.name, s.fluid.source))
    if s.phi != 0:
        w("  particle: %s [%s]\n" % (pm.name, pm.source))
    fmt = "  %-30s %-12s %-12s %-12s %-9s %s\n"
    w(fmt % ("quantity", "base fluid", "particle", "nanofluid", "unit", "model"))
    rows = [
        ("density rho", b["rho"], pm.rho, p["rho"], "kg/m^3", m["rho"]),
        ("heat capacity (rho cp)", b["rho_cp"], pm.rho * pm.cp, p["rho_cp"],
         "J/(m^3 K)", m["rho_cp"]),
        ("specific heat cp", b["cp"], pm.cp, p["cp"], "J/(kg K)", m["cp"]),
        ("expansion (rho beta)", b["rho_beta"], pm.rho * pm.beta, p["rho_beta"],
         "kg/(m^3 K)", m["rho_beta"]),
        ("expansion coefficient beta", b["beta"], pm.beta, p["beta"], "1/K",
         m["beta"]),
        ("conductivity k", b["k"], pm.k, p["k"], "W/(m K)", m["k"]),
        ("conductivity ratio k_nf/k_f", 1.0, None, p["k_ratio"], "-", m["k_ratio"]),
        ("dynamic viscosity mu", b["mu"], None, p["mu"], "Pa s", m["mu"]),
        ("viscosity ratio mu_nf/mu_f", 1.0, None, p["mu_ratio"], "-",
         m["mu_ratio"]),
        ("kinematic viscosity nu", b["nu"], None, p["nu"], "m^2/s", m["nu"]),
        ("thermal diffusivity alpha", b["alpha"], None, p["alpha"], "m^2/s",
         m["alpha"]),
        ("Prandtl number Pr", b["Pr"], None, p["Pr"], "-", m["Pr"]),
    ]
    if ra is not None:
        rows.append(("Rayleigh number Ra", ra[0], None, ra[1], "-", ra[2]))
    if s.phi == 0:
        rows = [r[:2] + (None,) + r[3:] for r in rows]
    for name, vb, vp, vn, unit, model in rows:
        w(fmt % (name, g(vb), "" if vp is None else g(vp), g(vn), unit, model))


def parse_grid(text):
    try:
        n, m = (int(v) for v in text.lower().split("x"))
    except ValueError:
        raise ValueError("--grid %r: give n x m, e.g. 128x128" % text)
    if n < 4 or m < 4:
        raise ValueError("--grid: n and m must be at least 4")
    return n, m


def mach_limit(args):
    """(largest U_Ref / c_s, where it comes from)."""
    if args.mach is not None:
        return args.mach, "--mach"
    mach = nf.mach_for_accuracy(args.accuracy / 100.0)
    return mach, ("the largest at which the Tau_T study's Nu stayed within "
                  "%g %% (--accuracy)" % args.accuracy)


def lattice_choice(args, pr, ra, n, m):
    """(Tau_T, how it was chosen); raises NoFit / ValueError."""
    args.mach, mach_why = mach_limit(args)
    if args.tau_t is not None:
        lat = nf.lattice_for(args.tau_t, pr, ra, m)
        bad = []
        if lat["Mach"] > args.mach:
            bad.append("U_Ref = %s c_s is above %g c_s" % (g(lat["Mach"]), args.mach))
        for name in ("Tau_T", "Tau_F"):
            if not args.tau_min <= lat[name] <= args.tau_max:
                bad.append("%s = %s is outside [%g, %g]"
                           % (name, g(lat[name]), args.tau_min, args.tau_max))
        if bad:
            raise nf.NoFit("the given Tau_T = %s is not safe on a grid of height "
                           "m = %d: %s" % (g(args.tau_t), m, "; ".join(bad)))
        return args.tau_t, "given"
    tau_t, limit = nf.choose_tau_t(pr, ra, m, args.mach, args.tau_min, args.tau_max)
    why = ("largest Tau_T (the soonest settled) with U_Ref <= %g c_s (%s) "
           "and Tau_T, Tau_F in [%g, %g]; limited by %s"
           % (args.mach, mach_why, args.tau_min, args.tau_max,
              "U_Ref" if limit == "U_Ref" else "tau_max"))
    return tau_t, why


def expected_text(n, m, tau_t, ra):
    steps, secs = nf.expected_run(n, m, tau_t, ra)
    return ("about %d steps to settle (%.3g diffusive times (m-1)^2/alpha, "
            "the Tau_T study's longest at this Ra), %s on one thread of an "
            "AVX-512 Xeon (%.3g node steps a second)"
            % (steps, nf.settle_diffusive_times(ra), fmt_duration(secs),
               nf.NODE_STEPS_PER_SECOND))


def fmt_duration(s):
    if s < 120:
        return "%.0f s" % s
    if s < 7200:
        return "%.0f min" % (s / 60.0)
    return "%.1f h" % (s / 3600.0)


def print_lattice(lat, n, m, why, out=sys.stdout):
    w = out.write
    w("lattice (grid n x m = %d x %d; lengths in lattice spacings dx, times in "
      "steps dt):\n" % (n, m))
    w("  Tau_T       = %-12s [-]       %s\n" % (g(lat["Tau_T"]), why))
    w("  Tau_F       = %-12s [-]       Pr (Tau_T - 0.5) + 0.5\n" % g(lat["Tau_F"]))
    w("  Diffusivity = %-12s [dx^2/dt] (Tau_T - 0.5) / 3\n" % g(lat["Diffusivity"]))
    w("  Viscosity   = %-12s [dx^2/dt] Pr Diffusivity\n" % g(lat["Viscosity"]))
    w("  Ra_solver   = %-12s [-]       %s\n" % (g(lat["Ra_solver"]), rayleigh.NOTE))
    w("  U_Ref       = %-12s [dx/dt]   sqrt(Ra_solver Pr) Diffusivity / m = %s "
      "c_s (c_s = 1/sqrt(3) dx/dt)\n" % (g(lat["U_Ref"]), g(lat["Mach"])))


def cmd_table(args):
    table = nf.load_table(args.table)
    fmt = "%-16s %-9s %-9s %-9s %-9s %-10s %-10s %s\n"
    sys.stdout.write(fmt % ("name", "kind", "rho", "cp", "k", "beta", "mu", "source"))
    sys.stdout.write(fmt % ("", "", "kg/m^3", "J/(kg K)", "W/(m K)", "1/K", "Pa s", ""))
    for mat in table.values():
        sys.stdout.write(fmt % (mat.name, mat.kind, g(mat.rho), g(mat.cp), g(mat.k),
                                g(mat.beta), "" if mat.mu is None else g(mat.mu),
                                mat.source))
    return 0


def cmd_props(args):
    s = suspension_from(args)
    print_properties(s, rayleigh_from(args, s, required=False))
    return 0


def _no_fit(exc, n=None, m=None, prefix=""):
    msg = "cavity-nanofluid: no safe Tau_T: %s%s" % (prefix, exc)
    if getattr(exc, "m_needed", None) and n and m:
        mm = exc.m_needed
        msg += " (keeping the aspect ratio: --grid %dx%d)" % (-(-n * mm // m), mm)
    print(msg, file=sys.stderr)
    return 3


def cmd_write(args):
    s = suspension_from(args)
    ra = rayleigh_from(args, s, required=True)
    n, m = parse_grid(args.grid)
    pr = s.props["Pr"]
    print_properties(s, ra)
    try:
        tau_t, why = lattice_choice(args, pr, ra[1], n, m)
    except nf.NoFit as exc:
        return _no_fit(exc, n, m)
    lat = nf.lattice_for(tau_t, pr, ra[1], m)
    print_lattice(lat, n, m, why)
    print("expected run: %s" % expected_text(n, m, tau_t, ra[1]))
    if args.t_hot == args.t_cold:
        raise ValueError("--t-hot must differ from --t-cold")
    os.makedirs(args.outdir, exist_ok=True)
    path = os.path.join(args.outdir, records.PARAM_FILE)
    if os.path.exists(path) and not args.force:
        raise ValueError("%s exists (use --force to replace it)" % path)
    values = {"Pr": pr, "Ra": lat["Ra_solver"], "T_Hot": args.t_hot,
              "T_Cold": args.t_cold, "T_Init": t_init(args), "Tau_T": tau_t}
    models = "k: %s, mu: %s" % (s.models["k"], s.models["mu"])
    labels = ("Pr of %s (%s)" % (s.name, models),
              "%s, of %s (%s)" % (rayleigh.label(ra[1], m), s.name, ra[2]),
              "T_Hot, hot wall", "T_Cold, cold wall", "T_Init, initial fluid",
              "Tau_T for a %d x %d grid, U_Ref = %.3g c_s" % (n, m, lat["Mach"]))
    records.write_parameters(args.outdir, values, labels)
    with open(os.path.join(args.outdir, SIDECAR), "w") as fh:
        json.dump({"suspension": s.as_json(), "grid": [n, m], "Ra_f": ra[0],
                   "properties": s.props, "lattice": lat}, fh, indent=1)
        fh.write("\n")
    print("wrote %s (and %s for the nusselt mode)" % (path, SIDECAR))
    print("run it: cd %s && printf '%d\\n%d\\n\\n' | cavity --settle %g"
          % (args.outdir, n, m, SETTLE_TOL))
    return 0


def case_rows(args, n, m):
    """Case-table rows over the volume fractions of --phi-list, each with
    its suspension and Rayleigh numbers; raises nf.NoFit (with the phi in
    the message) when no Tau_T fits one of them."""
    try:
        phis = [float(v) for v in args.phi_list.split(",") if v.strip()]
    except ValueError:
        raise ValueError("--phi: give a comma-separated list, e.g. 0,0.05,0.1")
    if not phis:
        raise ValueError("--phi-list: no volume fractions")
    rows = []
    for phi in phis:
        s = suspension_from(args, phi)
        ra = rayleigh_from(args, s, required=True)
        try:
            tau_t, _ = lattice_choice(args, s.props["Pr"], ra[1], n, m)
        except nf.NoFit as exc:
            raise nf.NoFit("phi = %g: %s" % (phi, exc),
                           getattr(exc, "m_needed", None))
        rows.append(({"name": "phi%g" % phi, "n": n, "m": m,
                      "Pr": repr(s.props["Pr"]), "Ra": repr(ra[1]),
                      "T_Hot": args.t_hot, "T_Cold": args.t_cold,
                      "T_Init": t_init(args), "Tau_T": repr(tau_t),
                      "phi": phi, "k_ratio": repr(s.props["k_ratio"])}, s, ra))
    return rows


def write_case_table(path_or_file, rows):
    fields = list(rows[0][0])
    out = open(path_or_file, "w", newline="") if isinstance(path_or_file, str) \
        else path_or_file
    w = csv.DictWriter(out, fieldnames=fields)
    w.writeheader()
    w.writerows(r[0] for r in rows)
    if isinstance(path_or_file, str):
        out.close()


def cmd_cases(args):
    n, m = parse_grid(args.grid)
    try:
        rows = case_rows(args, n, m)
    except nf.NoFit as exc:
        return _no_fit(exc, n, m)
    write_case_table(args.output or sys.stdout, rows)
    print("cavity-nanofluid: the Ra column is the suspension's for the cavity "
          "between the walls, as cavity-sweep takes it; %s" % rayleigh.NOTE,
          file=sys.stderr)
    return 0


def cmd_sweep(args, passthrough):
    import subprocess
    import time
    from cavity import grid_study
    from cavity import nanofluid_sweep as nfs
    n, m = parse_grid(args.grid)
    if args.target:
        return sweep_to_target(args, passthrough, n, m)
    ms = grid_study.parse_grids(args.grids) if args.grids else [m]
    if args.grids:  # Tau_T of the coarsest grid, where U_Ref is largest
        n, m = grid_study.width_for({"n": n, "m": m}, ms[0]), ms[0]
    try:
        rows = case_rows(args, n, m)
    except nf.NoFit as exc:
        return _no_fit(exc, n, m)
    folder_lock.take(args.outdir, "cavity-nanofluid sweep")
    table = os.path.join(args.outdir, "cases.csv")
    write_case_table(table, rows)
    grids = [(grid_study.width_for({"n": n, "m": m}, mm), mm) for mm in ms]
    secs = sum(nf.expected_run(gn, gm, float(r["Tau_T"]), ra[1])[1]
               for r, _, ra in rows for gn, gm in grids)
    try:
        jobs = max(1, int(args.jobs))
    except ValueError:
        jobs = 1
    print("cavity-nanofluid: expected run: %d case(s), about %s of one "
          "thread's time to settle them (the Tau_T study's rate on an "
          "AVX-512 Xeon), about %s at %d at a time"
          % (len(rows), fmt_duration(secs), fmt_duration(secs / min(jobs, len(rows))),
             min(jobs, len(rows))), file=sys.stderr)
    for row, s, ra in rows:
        for gn, gm in grids:
            name = row["name"] + (grid_study.SUFFIX % gm if args.grids else "")
            folder = os.path.join(args.outdir, name)
            os.makedirs(folder, exist_ok=True)
            lat = nf.lattice_for(float(row["Tau_T"]), s.props["Pr"], ra[1], gm)
            with open(os.path.join(folder, SIDECAR), "w") as fh:
                json.dump({"suspension": s.as_json(), "grid": [gn, gm],
                           "Ra_f": ra[0], "properties": s.props,
                           "lattice": lat}, fh, indent=1)
                fh.write("\n")
    cmd = programs.tool("sweep") + [table, "-o", args.outdir,
                                    "--jobs", str(args.jobs)]
    if args.bin:
        cmd += ["--bin", args.bin]
    if args.grids:
        cmd += ["--grids", ",".join("%d" % mm for mm in ms)]
    if args.no_settle:
        cmd += ["--no-settle"]
    else:
        cmd += ["--settle", repr(args.settle)]
        if args.settle_window is not None:
            cmd += ["--settle-window", str(args.settle_window)]
    cmd += passthrough
    wall, returncode = None, 0
    if not args.report_only:
        print("cavity-nanofluid: %s" % " ".join(cmd), file=sys.stderr)
        t0 = time.time()
        returncode = subprocess.run(
            cmd, env=folder_lock.child_env(args.outdir)).returncode
        wall = time.time() - t0
        if returncode == 2:
            return 2
        with open(os.path.join(args.outdir, nfs.TIMING_FILE), "w") as fh:
            fh.write("%.1f s wall time for %d case(s), --jobs %s\n"
                     % (wall, len(rows) * len(grids), args.jobs))
    results = sweep_results(args.outdir, rows, grids if args.grids else None)
    text = nfs.report(results, rows[0][1], rows[0][2], wall)
    sys.stdout.write(text)
    nfs.write_csv(os.path.join(args.outdir, "nanofluid_sweep.csv"), results)
    if args.markdown:
        with open(args.markdown, "w") as fh:
            fh.write(text)
    if args.csv:
        nfs.write_csv(args.csv, results)
    style = figures.Style.of(args)
    plot = (style.file(args.plot) if args.plot else
            style.path(os.path.join(args.outdir, "nusselt_vs_phi")))
    nfs.plot(results, plot, rows[0][1], rows[0][2], style=style)
    print(plot)
    bad = [r for r in results if r["status"] != "ok"]
    return 1 if bad or returncode else 0


def _ladder_spacings(passthrough):
    """The first grid's spacings across the wall layer the sweep's ladders
    will use, from the options passed on to it (--layer-spacings, --order,
    --scheme), so that Tau_T is chosen on that grid."""
    from cavity import target, target_sweep
    given = {}
    for k, opt in enumerate(passthrough[:-1]):
        if opt in ("--layer-spacings", "--order", "--scheme"):
            given[opt] = passthrough[k + 1]
    if "--layer-spacings" in given:
        return float(given["--layer-spacings"])
    scheme = given.get("--scheme", target_sweep.DEFAULT_SCHEME)
    order = float(given.get("--order", 2.0 if scheme.startswith("bounce-back") else 1.0))
    return target.layer_spacings_for(order)


def sweep_to_target(args, passthrough, n, m):
    """sweep --target: every phi answered to the accuracy by cavity-sweep
    --target (a ladder of grids a case), Tau_T chosen for each phi's first
    grid (where U_Ref is largest) and held; the answers referred to the
    base fluid in OUTDIR/nanofluid_target.csv."""
    import subprocess
    from cavity import target, target_sweep
    if args.grids:
        raise ValueError("--target chooses the grids itself; leave out --grids")
    rows = case_rows(args, n, m)  # the suspensions; Tau_T chosen again below
    spacings = _ladder_spacings(passthrough)
    for row, s, ra in rows:
        m1 = target.first_grid(ra[1], s.props["Pr"], spacings)
        n1 = max(4, int(round((n - 1.0) * (m1 - 1.0) / (m - 1.0) + 1.0)))
        try:
            row["Tau_T"] = repr(lattice_choice(args, s.props["Pr"], ra[1], n1, m1)[0])
        except nf.NoFit as exc:
            raise nf.NoFit("phi = %g, first grid %d: %s" % (row["phi"], m1, exc),
                           getattr(exc, "m_needed", None))
    os.makedirs(args.outdir, exist_ok=True)
    table = os.path.join(args.outdir, "cases.csv")
    write_case_table(table, rows)
    cmd = programs.tool("sweep") + [table, "-o", args.outdir, "--jobs",
                                    str(args.jobs), "--target", args.target]
    if args.bin:
        cmd += ["--bin", args.bin]
    if args.settle != SETTLE_TOL:
        cmd += ["--settle", repr(args.settle)]
    returncode = 0
    if not args.report_only:
        print("cavity-nanofluid: %s" % " ".join(cmd + passthrough), file=sys.stderr)
        returncode = subprocess.run(cmd + passthrough).returncode
        if returncode == 2:
            return 2
    cases = [dict(r, n=int(r["n"]), m=int(r["m"]), Pr=float(r["Pr"]),
                  Ra=float(r["Ra"]), Tau_T=float(r["Tau_T"])) for r, _, _ in rows]
    results = target_sweep.collect(os.path.abspath(args.outdir), cases)
    for r, (_, s, _) in zip(results, rows):
        r["k_ratio"] = s.props["k_ratio"]
        ok = r.get("Nu") is not None and r.get("Nu") == r.get("Nu")
        r["nu"] = r["Nu"] if ok else math.nan
        r["u"] = r["U_total"] if ok else math.nan
    base = [r["nu"] * r["k_ratio"] for r in results if r["case"]["phi"] == 0]
    b = base[0] if base else math.nan
    path = os.path.join(args.outdir, "nanofluid_target.csv")
    with open(path, "w", newline="") as fh:
        w = csv.writer(fh)
        w.writerow(target_sweep.NANOFLUID_COLUMNS)
        for r in results:
            kr, c = r["k_ratio"], r["case"]
            w.writerow([r["name"], c["phi"], g(c["Pr"]), g(c["Ra"]), g(c["Tau_T"]),
                        g(kr), "yes" if r.get("met") else "no", r.get("status", ""),
                        g(r["nu"]), g(r["u"]), g(r["nu"] * kr), g(r["u"] * kr),
                        g(r["nu"] * kr / b - 1.0 if b == b and b else math.nan),
                        ";".join("%d" % d["m"] for d in r.get("done", [])),
                        "%.2f" % r.get("cpu_s", 0.0),
                        r.get("scheme", "")])
    print("Nu referred to the base fluid (x k_nf/k_f), extrapolated, with "
          "its uncertainty U (every part counted):")
    for r in results:
        kr = r["k_ratio"]
        if r["nu"] == r["nu"]:
            print("  phi %-6g Nu x k_nf/k_f = %.5f +- %.5f  (%s)"
                  % (r["case"]["phi"], r["nu"] * kr, r["u"] * kr,
                     "met" if r.get("met") else "not met: %s" % r.get("reason")))
        else:
            print("  phi %-6g no answer: %s" % (r["case"]["phi"], r.get("reason")))
    print(path)
    return returncode or (0 if all(r.get("met") for r in results) else 1)


def sweep_results(outdir, rows, grids=None):
    """The results of a sweep's runs; with ``grids`` [(n, m)], those of the
    finest grid with the grid study of each phi added."""
    from cavity import grid_study
    from cavity import nanofluid_sweep as nfs
    if not grids:
        return nfs.collect(outdir, [(r, s) for r, s, _ in rows])
    gn, gm = grids[-1]
    fine = [(dict(r, name=r["name"] + grid_study.SUFFIX % gm, n=gn, m=gm), s)
            for r, s, _ in rows]
    results = nfs.collect(outdir, fine)
    nfs.add_grid_study(outdir, results, [r["name"] for r, _, _ in rows],
                       [mm for _, mm in grids])
    return results


def cmd_tau_study(args, passthrough):
    """Runs (unless --report-only) and reports the study behind the choice
    of Tau_T (cavity.tau_study)."""
    import subprocess
    from cavity import tau_study as ts
    folder_lock.take(args.outdir, "cavity-nanofluid tau-study")
    table = os.path.join(args.outdir, "cases.csv")
    if not args.report_only:
        ts.write_table(table, ts.case_rows())
        cmd = programs.tool("sweep") + [table, "-o", args.outdir,
                                        "--jobs", str(args.jobs)]
        if args.bin:
            cmd += ["--bin", args.bin]
        proc = subprocess.run(cmd + passthrough,
                              env=folder_lock.child_env(args.outdir))
        if proc.returncode == 2:
            return 2
    with open(os.path.join(args.outdir, "summary.csv"), newline="") as fh:
        rows = list(csv.DictReader(fh))
    results = ts.analyse(rows)
    text = ts.markdown(results)
    sys.stdout.write(text)
    if args.markdown:
        with open(args.markdown, "w") as fh:
            fh.write(text)
    if args.csv:
        ts.write_csv(args.csv, results)
    if args.plot:
        style = figures.Style.of(args)
        ts.plot(results, style.file(args.plot), style)
    return 0 if all(r["status"] == "ok" for r in rows) else 1


def cmd_nusselt(args):
    have = any(getattr(args, k) is not None for k in
               ("phi", "particle", "particle_props", "fluid", "fluid_props"))
    if have:
        s = suspension_from(args)
        where = "from the command line"
    else:
        side = os.path.join(args.run, SIDECAR)
        if not os.path.exists(side):
            raise ValueError("no %s in %s: give the suspension (--fluid, "
                             "--particle, --phi, ...)" % (SIDECAR, args.run))
        with open(side) as fh:
            s = Suspension.from_json(json.load(fh)["suspension"])
        where = "from %s" % side
    nu, nu_dat, dt = run_nusselt(args.run)
    kr = s.props["k_ratio"]
    print("suspension: %s, %s" % (s.name, where))
    over = " over T_Hot - T_Cold = %s" % g(dt) if dt != 1.0 else ""
    print("  Nu        = %-12s [-]  mean hot-wall Nusselt number of the run to "
          "quote: wall-corrected (second order, the walls half a spacing "
          "inside the end nodes, from Result.dat), conductivity k_nf" % g(nu))
    print("  Nu.dat    = %-12s [-]  the file's first-order value%s (wall on "
          "the node column), %+.2f %% from Nu" % (g(nu_dat), over,
                                                  100.0 * (nu_dat / nu - 1.0)))
    print("  k_nf/k_f  = %-12s [-]  %s" % (g(kr), s.models["k_ratio"]))
    ref = nu * kr
    print("  Nu_f-ref  = %-12s [-]  Nu x k_nf/k_f, heat flux referred to the base "
          "fluid's conductivity" % g(ref))
    if args.base:
        side_b = os.path.join(args.base, SIDECAR)
        if os.path.exists(side_b):
            with open(side_b) as fh:
                if json.load(fh)["suspension"]["phi"] != 0:
                    print("cavity-nanofluid: warning: the base run %s is not at "
                          "phi = 0" % args.base, file=sys.stderr)
        nu_f, nu_dat_f, _ = run_nusselt(args.base)
        print("  Nu_f      = %-12s [-]  base-fluid run %s, wall-corrected"
              % (g(nu_f), args.base))
        print("  enhancement = %-10s [%%]  (Nu_f-ref / Nu_f - 1) x 100"
              % ("%.4g" % (100.0 * (ref / nu_f - 1.0))))
        print("  enhancement (Nu.dat) = %-10s [%%]  the same from the files' "
              "first-order values, Nu.dat %s and %s"
              % ("%.4g" % (100.0 * (nu_dat * kr / nu_dat_f - 1.0)), g(nu_dat),
                 g(nu_dat_f)))
    return 0


def run_nusselt(folder):
    """(wall-corrected mean hot-wall Nu, Nu.dat over T_Hot - T_Cold,
    T_Hot - T_Cold) of a run folder."""
    from cavity import benchmark
    res = records.read_result(folder)
    try:
        p = records.read_parameters(folder)
        t_hot, t_cold = p["T_Hot"], p["T_Cold"]
    except (OSError, records.FormatError):
        t_hot, t_cold = float(res.T[0, 0]), float(res.T[0, -1])
    dt = t_hot - t_cold
    nu2 = benchmark.hot_wall_nusselt(res, t_hot, t_cold, 0.5)[0]
    return nu2, records.read_nu(folder) / dt, dt


def main(argv=None):
    ap = argparse.ArgumentParser(
        prog="cavity-nanofluid",
        description="Single-phase nanofluid models (volume-fraction mixing for "
        "density, heat capacity and expansion; Maxwell or Hamilton-Crosser "
        "conductivity; Brinkman or a given viscosity ratio) turned into the "
        "Pr and Ra of the cavity solver, and back to Nusselt numbers.")
    sub = ap.add_subparsers(dest="cmd", required=True)
    p = sub.add_parser("table", help="list the property table and its sources")
    p.add_argument("--table", default=nf.TABLE_PATH)
    p = sub.add_parser("props", help="print the suspension's properties")
    add_suspension(p)
    add_rayleigh(p)
    p = sub.add_parser("write", help="write Input_Parameters.Input for a grid")
    add_suspension(p)
    add_rayleigh(p)
    add_lattice(p)
    p.add_argument("-o", "--outdir", default=".", help="run folder (default .)")
    p.add_argument("--force", action="store_true",
                   help="replace an existing parameter file")
    p = sub.add_parser("cases", help="case table over volume fractions for "
                       "cavity-sweep")
    add_suspension(p)
    add_rayleigh(p)
    add_lattice(p)
    p.set_defaults(phi=None)
    p.add_argument("--phi-list", "--phis", dest="phi_list", required=True,
                   help="volume fractions, e.g. 0,0.05,0.1,0.15,0.2")
    p.add_argument("-o", "--output", help="CSV file (default: standard output)")
    p = sub.add_parser("sweep", help="run a sweep over volume fractions through "
                       "cavity-sweep; table and plot of Nu referred to the base "
                       "fluid against phi (options it does not know go to "
                       "cavity-sweep and GNU parallel)")
    add_suspension(p)
    add_rayleigh(p)
    add_lattice(p)
    p.set_defaults(phi=None)
    p.add_argument("--phi-list", "--phis", dest="phi_list", required=True,
                   help="volume fractions, e.g. 0,0.05,0.1,0.15,0.2")
    p.add_argument("-o", "--outdir", default="nanofluid-sweep",
                   help="folder for the runs (default ./nanofluid-sweep)")
    p.add_argument("-j", "--jobs", default="2", help="cases at once (default 2)")
    p.add_argument("--bin", help="solver (default: %s)" % programs.SEARCH)
    p.add_argument("--settle", type=float, default=SETTLE_TOL, metavar="TOL",
                   help="the solver ends a case once its Nu has neither "
                   "drifted nor swung by more than TOL (relative) over its "
                   "settle window (default %g)" % SETTLE_TOL)
    p.add_argument("--settle-window", type=int, default=None, metavar="STEPS",
                   help="the settle window in steps (default: the solver's, "
                   "which follows the case)")
    p.add_argument("--grids", metavar="M1,M2,M3",
                   help="grid study: run every phi on these grid heights m "
                   "(three or more; --grid then gives the aspect ratio only), "
                   "Tau_T chosen on the coarsest and kept on all; the table "
                   "and figure give the second-order Nu of the finest grid "
                   "with its Grid Convergence Index as error bar and the "
                   "extrapolated Nu")
    p.add_argument("--target", metavar="ACC",
                   help="answer every phi to this accuracy (1%% or 0.01) by "
                   "cavity-sweep --target: a ladder of grids a phi, Tau_T "
                   "chosen for its first grid and held; --grid gives the "
                   "aspect ratio only (--max-grids, --max-cpu and the like go "
                   "to cavity-sweep)")
    p.add_argument("--report-only", action="store_true",
                   help="report the runs already in OUTDIR without running "
                   "anything")
    p.add_argument("--no-settle", action="store_true",
                   help="let each case run until the solver's own stop")
    p.add_argument("--markdown", help="also write the report to this file")
    p.add_argument("--csv", help="also write the results to this CSV file")
    p.add_argument("--plot", help="figure of Nu against phi (default "
                   "OUTDIR/nusselt_vs_phi.png, or .pdf, .svg with --format)")
    figures.add_arguments(p, dpi=110)
    p = sub.add_parser("tau-study", help="run and report the study behind the "
                       "choice of Tau_T and of the solver's U_Ref warning: six "
                       "cases (Pr 0.71 to 6.2, Ra 1e4 to 1e6) at four to six "
                       "Mach numbers each (options it does not know go to "
                       "cavity-sweep and GNU parallel)")
    p.add_argument("-o", "--outdir", default="tau-study",
                   help="folder for the runs (default ./tau-study)")
    p.add_argument("-j", "--jobs", default="2", help="cases at once (default 2)")
    p.add_argument("--bin", help="solver (default: as cavity-sweep finds it)")
    p.add_argument("--report-only", action="store_true",
                   help="report the runs already in OUTDIR")
    p.add_argument("--markdown", help="also write the tables to this file")
    p.add_argument("--csv", help="write the numbers to this CSV file")
    p.add_argument("--plot", help="figure of the Nu error and the time "
                   "against the Mach number (PNG, PDF or SVG by its extension "
                   "or --format)")
    figures.add_arguments(p, dpi=110)
    p = sub.add_parser("nusselt", help="Nusselt number of a run, referred to the "
                       "base fluid")
    p.add_argument("run", help="run folder with Nu.dat")
    p.add_argument("--base", help="run folder of the base fluid (phi = 0)")
    add_suspension(p, required=False)
    args, passthrough = ap.parse_known_args(argv)
    if passthrough and args.cmd not in ("sweep", "tau-study"):
        ap.error("unrecognised arguments: %s" % " ".join(passthrough))
    if args.cmd in ("sweep", "tau-study") and figures.check(args):
        ap.error(figures.check(args))
    handler = {"table": cmd_table, "props": cmd_props, "write": cmd_write,
               "cases": cmd_cases, "nusselt": cmd_nusselt}.get(args.cmd)
    try:
        if args.cmd == "tau-study":
            return cmd_tau_study(args, passthrough)
        if handler is None:
            return cmd_sweep(args, passthrough)
        return handler(args)
    except nf.NoFit as exc:
        return _no_fit(exc)
    except (OSError, ValueError, records.FormatError, folder_lock.Busy) as exc:
        print("cavity-nanofluid: %s" % exc, file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
