"""The one Rayleigh-number convention of the tools.

The user gives the Rayleigh number of the cavity between the walls. The
solver's walls act half a spacing inside the end node lines, so that cavity
is m - 1 spacings high, while the solver scales its Ra with m (its buoyancy
coefficient is Ra nu alpha / (dT m^3)). Every tool therefore writes
Ra (m / (m - 1))^3 into the parameter file, and reads a parameter file back
as Ra_file ((m - 1) / m)^3. python/README.md ("The Rayleigh number") says so
for the user.
"""

WALL_OFFSET = 0.5  # lattice spacings from an end node line to its wall

NOTE = ("Ra is the Rayleigh number of the cavity between the walls "
        "(m - 1 spacings high); the parameter file gets Ra (m/(m-1))^3, "
        "as the solver scales Ra with m (python/README.md, \"The Rayleigh "
        "number\")")


def cavity_height(m, wall_at=WALL_OFFSET):
    """Lattice spacings between the bottom and top walls of m cells."""
    return m - 2.0 * wall_at


def to_solver(ra, m, wall_at=WALL_OFFSET):
    """The Ra to write into the parameter file of an m-high grid so that
    the cavity between the walls has Rayleigh number ``ra``."""
    return float(ra) * (m / cavity_height(m, wall_at)) ** 3


def from_solver(ra_file, m, wall_at=WALL_OFFSET):
    """The Rayleigh number of the cavity between the walls of a run whose
    parameter file says ``ra_file``."""
    return float(ra_file) * (cavity_height(m, wall_at) / m) ** 3


def label(ra, m):
    """Label line for the Ra of a parameter file written by the tools."""
    return ("Rayleigh number Ra for the solver: the cavity's Ra = %.10g "
            "between the walls, times (m/(m-1))^3 = (%d/%d)^3"
            % (float(ra), m, m - 1))
