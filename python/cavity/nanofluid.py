"""Single-phase mixture models of a nanofluid and the choice of lattice
parameters for a run of the solver.

Units: SI throughout (kg/m^3, J/(kg K), W/(m K), 1/K, Pa s, m, K, m/s^2).
"""

import csv
import math
import os
from collections import namedtuple

from . import rayleigh

HERE = os.path.dirname(os.path.abspath(__file__))
TABLE_PATH = os.path.join(HERE, "data", "nanofluid_properties.csv")

LATTICE_SOUND_SPEED = 1.0 / math.sqrt(3.0)

Material = namedtuple("Material", "name kind rho cp k beta mu source")

# property name -> (table column, unit, description)
PROPS = {
    "rho": ("rho_kg_m3", "kg/m^3", "density"),
    "cp": ("cp_J_kgK", "J/(kg K)", "specific heat capacity"),
    "k": ("k_W_mK", "W/(m K)", "thermal conductivity"),
    "beta": ("beta_1_K", "1/K", "thermal expansion coefficient"),
    "mu": ("mu_Pa_s", "Pa s", "dynamic viscosity"),
}


def _num(text, what):
    try:
        v = float(text)
    except (TypeError, ValueError):
        raise ValueError("%s: %r is not a number" % (what, text))
    if not math.isfinite(v):
        raise ValueError("%s: %r is not finite" % (what, text))
    return v


def load_table(path=TABLE_PATH):
    """name -> Material, from the shipped CSV (or another of its layout)."""
    out = {}
    with open(path, newline="") as fh:
        for row in csv.DictReader(fh):
            name = row["name"].strip()
            kind = row["kind"].strip()
            if kind not in ("fluid", "particle"):
                raise ValueError("%s: row %s: kind must be fluid or particle"
                                 % (path, name))
            vals = {}
            for p, (col, _, _) in PROPS.items():
                txt = (row.get(col) or "").strip()
                if p == "mu" and kind == "particle":
                    vals[p] = None
                    continue
                vals[p] = _num(txt, "%s: %s %s" % (path, name, col))
            if not (row.get("source") or "").strip():
                raise ValueError("%s: row %s cites no source" % (path, name))
            out[name] = Material(name, kind, source=row["source"].strip(),
                                 **vals)
    return out


def lookup(table, name, kind):
    for key, mat in table.items():
        if key.lower() == name.lower():
            if mat.kind != kind:
                raise ValueError("%s is a %s, not a %s" % (name, mat.kind, kind))
            return mat
    names = sorted(k for k, v in table.items() if v.kind == kind)
    raise ValueError("no %s named %r in the table (have: %s)"
                     % (kind, name, ", ".join(names)))


def parse_props(text, kind, name="user"):
    """Material from 'rho=...,cp=...,k=...,beta=...[,mu=...]' (SI units)."""
    vals = {}
    for part in text.split(","):
        if not part.strip():
            continue
        if "=" not in part:
            raise ValueError("property %r: expected key=value" % part)
        key, val = (s.strip() for s in part.split("=", 1))
        if key not in PROPS:
            raise ValueError("unknown property %r (known: %s)"
                             % (key, ", ".join(PROPS)))
        vals[key] = _num(val, key)
    need = ["rho", "cp", "k", "beta"] + (["mu"] if kind == "fluid" else [])
    missing = [k for k in need if k not in vals]
    if missing:
        raise ValueError("%s properties lack %s" % (kind, ", ".join(missing)))
    for key in ("rho", "cp", "k", "mu"):
        if vals.get(key) is not None and vals[key] <= 0:
            raise ValueError("%s must be positive" % key)
    vals.setdefault("mu", None)
    return Material(name, kind, source="given by the user", **vals)


# -- models -----------------------------------------------------------------

def mix(phi, base, part):
    """Volume-fraction mixing (1 - phi) * base + phi * part."""
    return (1.0 - phi) * base + phi * part


def maxwell_ratio(k_f, k_p, phi):
    """Maxwell (1881): k_nf / k_f for dilute spheres."""
    return ((k_p + 2.0 * k_f - 2.0 * phi * (k_f - k_p))
            / (k_p + 2.0 * k_f + phi * (k_f - k_p)))


def hamilton_crosser_ratio(k_f, k_p, phi, shape_n=3.0):
    """Hamilton & Crosser (1962): k_nf / k_f with shape factor n = 3 / psi
    (psi the sphericity); n = 3 is Maxwell's formula."""
    a = shape_n - 1.0
    return ((k_p + a * k_f - a * phi * (k_f - k_p))
            / (k_p + a * k_f + phi * (k_f - k_p)))


def brinkman_ratio(phi):
    """Brinkman (1952): mu_nf / mu_f = 1 / (1 - phi)^2.5."""
    return 1.0 / (1.0 - phi) ** 2.5


def check_phi(phi):
    if not (0.0 <= phi < 1.0):
        raise ValueError("volume fraction phi must be in [0, 1), got %g" % phi)


def mixture(fluid, particle, phi, k_model="maxwell", shape_n=3.0,
            mu_model="brinkman", mu_ratio=None):
    """Effective properties of the suspension.

    Returns a dict of values (SI units) and a dict naming the model of each.
    """
    check_phi(phi)
    rho = mix(phi, fluid.rho, particle.rho)
    rho_cp = mix(phi, fluid.rho * fluid.cp, particle.rho * particle.cp)
    rho_beta = mix(phi, fluid.rho * fluid.beta, particle.rho * particle.beta)
    if k_model == "maxwell":
        k_ratio = maxwell_ratio(fluid.k, particle.k, phi)
        k_name = "Maxwell"
    elif k_model == "hamilton-crosser":
        if shape_n <= 0:
            raise ValueError("shape factor n must be positive")
        k_ratio = hamilton_crosser_ratio(fluid.k, particle.k, phi, shape_n)
        k_name = "Hamilton-Crosser, n = %g" % shape_n
    else:
        raise ValueError("unknown conductivity model %r" % k_model)
    if mu_model == "brinkman":
        m_ratio = brinkman_ratio(phi)
        mu_name = "Brinkman"
    elif mu_model == "ratio":
        if mu_ratio is None or mu_ratio <= 0:
            raise ValueError("the ratio viscosity model needs a positive "
                             "mu_nf/mu_f")
        m_ratio = float(mu_ratio)
        mu_name = "user ratio mu_nf/mu_f = %g" % m_ratio
    else:
        raise ValueError("unknown viscosity model %r" % mu_model)
    if fluid.mu is None:
        raise ValueError("base fluid %s has no viscosity" % fluid.name)
    k = fluid.k * k_ratio
    mu = fluid.mu * m_ratio
    vals = {
        "phi": phi,
        "rho": rho,
        "rho_cp": rho_cp,
        "cp": rho_cp / rho,
        "rho_beta": rho_beta,
        "beta": rho_beta / rho,
        "k": k,
        "k_ratio": k_ratio,
        "mu": mu,
        "mu_ratio": m_ratio,
        "nu": mu / rho,
        "alpha": k / rho_cp,
    }
    vals["Pr"] = vals["nu"] / vals["alpha"]
    mix_name = "volume-fraction mixing"
    models = {
        "rho": mix_name, "rho_cp": mix_name, "cp": "(rho cp)_nf / rho_nf",
        "rho_beta": mix_name, "beta": "(rho beta)_nf / rho_nf",
        "k": k_name, "k_ratio": k_name, "mu": mu_name, "mu_ratio": mu_name,
        "nu": "mu_nf / rho_nf", "alpha": "k_nf / (rho cp)_nf",
        "Pr": "nu_nf / alpha_nf",
    }
    return vals, models


def base_properties(fluid):
    """The base fluid's own values in the layout of mixture()."""
    return mixture(fluid, fluid._replace(kind="particle"), 0.0)[0]


def rayleigh_physical(props, height, delta_t, gravity=9.81):
    """Ra = g beta dT H^3 / (nu alpha)."""
    if height <= 0:
        raise ValueError("cavity height must be positive")
    return (gravity * props["beta"] * delta_t * height ** 3
            / (props["nu"] * props["alpha"]))


def rayleigh_from_base(ra_f, base, nf):
    """The suspension's Ra for the same cavity and dT as a base-fluid Ra:
    Ra_nf = Ra_f (beta_nf / beta_f) (nu_f alpha_f) / (nu_nf alpha_nf)."""
    return (ra_f * (nf["beta"] / base["beta"])
            * (base["nu"] * base["alpha"]) / (nf["nu"] * nf["alpha"]))


# -- lattice parameters -----------------------------------------------------

class NoFit(ValueError):
    """No Tau_T meets the stability limits; the message says why."""

    def __init__(self, message, m_needed=None):
        ValueError.__init__(self, message)
        self.m_needed = m_needed


def lattice_for(tau_t, pr, ra, m):
    """Derived lattice values of a run (as the solver derives them) whose
    cavity between the walls has Rayleigh number ``ra``: the parameter file
    gets Ra_solver = Ra (m/(m-1))^3 (cavity.rayleigh)."""
    diff = (tau_t - 0.5) / 3.0
    visc = diff * pr
    ra_solver = rayleigh.to_solver(ra, m)
    u_ref = math.sqrt(ra_solver * pr) * diff / m
    return {
        "Tau_T": tau_t, "Tau_F": 3.0 * visc + 0.5, "Diffusivity": diff,
        "Viscosity": visc, "U_Ref": u_ref, "Ra_solver": ra_solver,
        "Mach": u_ref / LATTICE_SOUND_SPEED,
    }


# What the Tau_T study measured (cavity-nanofluid tau-study; the tables
# are in docs/nanofluid.md, "Choosing Tau_T"): three suspensions on 64 x 64
# (water and Cu-water at phi = 0.2 for Ra_f = 1e5, and Pr 6.2 at Ra 1e4) at
# U_Ref = 0.05 ... 0.3 of the lattice sound speed, each run until it ended
# settled (--settle 1e-05 over 20000 steps) or by the solver's own stop.
# STUDY_ERROR: the largest |Nu / Nu(0.05 c_s) - 1| of the three at each
# Mach number; the choice never goes beyond the Mach numbers measured. The
# study's air-like cases (Pr 0.71, Ra 1e5 and 1e6) moved less at every Mach
# number and change none of these maxima. The solver warns above 0.25 c_s,
# where they reach about 0.5 %.
STUDY_ERROR = ((0.05, 0.0), (0.075, 0.00052), (0.1, 0.00076),
               (0.15, 0.00223), (0.2, 0.00352), (0.3, 0.00578))
# a quarter of the 1 % the validation holds Nu to: U_Ref up to 0.15 c_s
DEFAULT_ACCURACY = 0.0025
# steps to settle, in diffusive times (m - 1)^2 / alpha: the study's
# longest at each Ra, 0.865 at Ra 1e4, 0.709 at 3e4, 0.558 at 1e5, fall as
# 0.87 (Ra / 1e4)^-0.19
SETTLE_TIMES_AT_1E4 = 0.87
SETTLE_TIMES_EXPONENT = -0.19
# one solver thread of the study's machine (an AVX-512 Xeon), node steps a
# second: 4.14e7 ... 4.29e7 over the study's 18 runs
NODE_STEPS_PER_SECOND = 4.2e7
TAU_MIN = 0.505  # the study ran stably down to Tau_T = 0.507
MAX_STEPS = 1000000


def mach_for_accuracy(accuracy=DEFAULT_ACCURACY):
    """The largest Mach number of the study whose Nu stayed within
    ``accuracy`` (relative) of the lowest-Mach value in every case."""
    fit = [ma for ma, err in STUDY_ERROR if err <= accuracy]
    if not fit:
        raise ValueError("no Mach number of the study is within %g" % accuracy)
    return max(fit)


def settle_diffusive_times(ra):
    """Steps to settle in units of (m - 1)^2 / alpha, the study's upper
    envelope (measured for Ra 1e4 ... 1e5)."""
    return SETTLE_TIMES_AT_1E4 * (float(ra) / 1e4) ** SETTLE_TIMES_EXPONENT


def expected_run(n, m, tau_t, ra):
    """(steps, seconds on one thread) a run on n x m at Tau_T and cavity Ra
    is expected to take to settle, from the study; the step limit caps the
    steps."""
    alpha = (float(tau_t) - 0.5) / 3.0
    steps = min(MAX_STEPS, int(settle_diffusive_times(ra) * (m - 1.0) ** 2 / alpha))
    return steps, steps * (n + 1.0) * (m + 1.0) / NODE_STEPS_PER_SECOND


def choose_tau_t(pr, ra, m, mach=None, tau_min=TAU_MIN, tau_max=2.0,
                 accuracy=DEFAULT_ACCURACY):
    """Largest Tau_T with U_Ref <= mach * c_s and both relaxation times in
    [tau_min, tau_max]: the largest settles soonest (the steps to settle
    grow as (m - 1)^2 / alpha, and alpha = (Tau_T - 1/2) / 3), while the
    Mach limit keeps Nu within ``accuracy`` of its low-Mach value (the
    limit comes from the study unless ``mach`` is given).

    Raises NoFit with the reason and, when a finer grid would help, the
    smallest height m that fits.
    """
    if pr <= 0 or ra <= 0 or m < 2:
        raise ValueError("need Pr > 0, Ra > 0 and m >= 2")
    if mach is None:
        mach = mach_for_accuracy(accuracy)
    if not (0.5 < tau_min < tau_max):
        raise ValueError("need 0.5 < tau_min < tau_max")
    # limits on the lattice diffusivity alpha = (Tau_T - 1/2) / 3,
    # with Tau_F - 1/2 = Pr (Tau_T - 1/2)
    lo_t, hi_t = (tau_min - 0.5) / 3.0, (tau_max - 0.5) / 3.0
    lo_f, hi_f = lo_t / pr, hi_t / pr
    lo = max(lo_t, lo_f)
    hi_tau = min(hi_t, hi_f)
    if lo > hi_tau:
        pr_lo = (tau_min - 0.5) / (tau_max - 0.5)
        raise NoFit(
            "Pr = %.4g cannot be run with both relaxation times in "
            "[%g, %g]: Tau_F - 0.5 = Pr (Tau_T - 0.5) needs %.4g <= Pr <= "
            "%.4g; no grid changes this (widen --tau-min/--tau-max)"
            % (pr, tau_min, tau_max, pr_lo, 1.0 / pr_lo))
    scale = math.sqrt(rayleigh.to_solver(ra, m) * pr)
    hi_u = mach * LATTICE_SOUND_SPEED * m / scale
    hi = min(hi_tau, hi_u)
    if lo > hi:
        def u_at(mm):
            return lo * math.sqrt(rayleigh.to_solver(ra, mm) * pr) / mm

        # from below: Ra_solver > Ra on every grid
        m_needed = max(2, int(lo * math.sqrt(ra * pr) / (mach * LATTICE_SOUND_SPEED)))
        while u_at(m_needed) > mach * LATTICE_SOUND_SPEED:
            m_needed += 1
        u_min = scale * lo / m
        raise NoFit(
            "on a grid of height m = %d even the smallest admissible Tau_T "
            "= %.6g (set by %s >= %g) gives U_Ref = %.4g, above %g of the "
            "lattice sound speed (%.4g); a grid of height m >= %d fits"
            % (m, 3.0 * lo + 0.5, "Tau_F" if lo_f >= lo_t else "Tau_T",
               tau_min, u_min, mach, mach * LATTICE_SOUND_SPEED, m_needed),
            m_needed=m_needed)
    def safe(tau):
        # a margin for the solver's single-precision U_Ref, which must not
        # land above a limit the double-precision one meets
        lat = lattice_for(tau, pr, ra, m)
        return (lat["Mach"] <= mach * (1.0 - 1e-5)
                and tau_min <= lat["Tau_T"] <= tau_max
                and tau_min <= lat["Tau_F"] <= tau_max)

    # a tidy value: Tau_T - 0.5 rounded down to three significant digits
    # (one unit less if rounding in the last bit lands on a limit)
    d = 3.0 * hi
    unit = 10.0 ** (math.floor(math.log10(d)) - 2)
    tau_t = None
    for k in (0, 1):
        tidy = float("%.12g" % (0.5 + (math.floor(d / unit) - k) * unit))
        if tidy - 0.5 >= 3.0 * lo and safe(tidy):
            tau_t = tidy
            break
    if tau_t is None:  # narrow window: its middle
        tau_t = 0.5 + 1.5 * (lo + hi)
    limit = "U_Ref" if hi_u <= hi_tau else "tau_max"
    return tau_t, limit
