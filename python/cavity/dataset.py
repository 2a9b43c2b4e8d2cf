"""A simulation's fields as a self-describing xarray.Dataset, and as a
netCDF file.

Dimensions ``y`` (node rows j = 0..m) and ``x`` (node columns i = 0..n).
The dimension coordinates are the cavity's: x/H and y/H from the hot and
the bottom wall, H the height between the walls, which act half a spacing
inside the end node lines (cavity.frame); ``i`` and ``j`` are the lattice
node indices. The variables are the solver's fields in lattice units as it
holds them (float32: T, U, V, Rho, and the stream function Stream of
Result.dat), and the velocities and the stream function in the cavity's
units (u, v in units of alpha/H; psi in units of alpha), as the figures
and the VTK file scale them. The attributes carry the case and the run:
Pr, both Rayleigh numbers, the wall temperatures, Tau_T, Tau_F, U_Ref,
T_Ref, the step, the Nusselt numbers, the program's version and kernels.
The netCDF file follows the CF conventions (coordinate variables, units,
long names), so that xarray.open_dataset reads it back as it was and
ParaView's netCDF reader shows its fields on the cavity's coordinates.
"""

import numpy as np

from . import frame, rayleigh


def _solver():
    from . import _solver as module
    return module


def _coordinates(n, m):
    height = m - 2.0 * frame.WALL_AT
    x = (np.arange(n + 1) - frame.WALL_AT) / height
    y = (np.arange(m + 1) - frame.WALL_AT) / height
    return x, y, height


def _attributes(sim, consts, nu):
    case = sim.case
    n, m = sim.grid
    attrs = {
        "Conventions": "CF-1.8",
        "title": "side-heated cavity, %s, %d x %d, step %d" % (case.name, n, m, sim.step),
        "source": "cavity %s (%s kernels)" % (_solver().__version__, _solver().kernel_set()),
        "case": case.name,
        "n": n, "m": m, "step": sim.step, "ending": sim.ending,
        "Pr": consts["Pr"],
        "Ra": rayleigh.from_solver(consts["Ra"], m),
        "Ra_file": consts["Ra"],
        "Ra_note": rayleigh.NOTE,
        "T_Hot": consts["T_Hot"], "T_Cold": consts["T_Cold"], "T_Init": consts["T_Init"],
        "T_Ref": consts["T_Ref"], "Tau_T": consts["Tau_T"], "Tau_F": consts["Tau_F"],
        "U_Ref": consts["U_Ref"], "G_Beta": consts["G_Beta"],
        "program_version": _solver().__version__,
        "kernel_set": _solver().kernel_set(),
        "Nu_dat_first_order": nu["Nu_dat_first_order"],
        "Nu_wall_corrected_hot": nu["Nu_wall_corrected_hot"],
        "Nu_wall_corrected_cold": nu["Nu_wall_corrected_cold"],
        "options": " ".join(sim.options),
    }
    if case.suspension:
        s = case.suspension
        attrs.update({"suspension": s["name"], "phi": s["phi"], "k_ratio": s["k_ratio"],
                      "mu_ratio": s["mu_ratio"], "Ra_f": s["Ra_f"]})
    return attrs


def simulation_dataset(sim):
    """The Dataset of a cavity.Simulation's present fields."""
    import xarray as xr
    n, m = sim.grid
    consts = sim.constants()
    nu = sim.nusselt()
    x, y, height = _coordinates(n, m)
    alpha = (consts["Tau_T"] - 0.5) / 3.0  # the diffusivity, as the figures take it
    f = {name: sim.field(name) for name in ("T", "U", "V", "Rho", "Stream")}
    dims = ("y", "x")
    lattice = "lattice units (spacings, steps)"
    data = {
        "T": (dims, f["T"], {"long_name": "temperature (in the units of T_Hot and T_Cold)",
                             "units": "1"}),
        "U": (dims, f["U"], {"long_name": "x velocity, lattice units", "units": "1",
                             "comment": lattice}),
        "V": (dims, f["V"], {"long_name": "y velocity, lattice units", "units": "1",
                             "comment": lattice}),
        "Rho": (dims, f["Rho"], {"long_name": "density, lattice units", "units": "1"}),
        "Stream": (dims, f["Stream"], {"long_name": "stream function of the mass flux "
                                       "(Result.dat), lattice units", "units": "1"}),
        "u": (dims, f["U"] * (height / alpha), {"long_name": "x velocity over alpha/H",
                                                "units": "1"}),
        "v": (dims, f["V"] * (height / alpha), {"long_name": "y velocity over alpha/H",
                                                "units": "1"}),
        "psi": (dims, f["Stream"] / alpha, {"long_name": "stream function over alpha",
                                            "units": "1"}),
    }
    # no "axis" attributes: ParaView's reader takes axes X and Y for
    # longitude and latitude, and the cavity for a piece of a sphere
    coords = {
        "x": ("x", x, {"long_name": "distance from the hot wall over the height H "
                       "between the walls", "units": "1"}),
        "y": ("y", y, {"long_name": "height above the bottom wall over the height H "
                       "between the walls", "units": "1"}),
        "i": ("x", np.arange(n + 1, dtype=np.int32), {"long_name": "lattice node column",
                                                      "units": "1"}),
        "j": ("y", np.arange(m + 1, dtype=np.int32), {"long_name": "lattice node row",
                                                      "units": "1"}),
    }
    return xr.Dataset(data, coords=coords, attrs=_attributes(sim, consts, nu))


def write_netcdf(ds, path):
    """``ds`` as a netCDF-4 file (classic model, which every netCDF reader
    takes) at ``path``."""
    ds.to_netcdf(path, engine="netcdf4", format="NETCDF4_CLASSIC")
    return path
