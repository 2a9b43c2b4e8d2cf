"""The one scaling of lengths and velocities that the figures and the VTK
file share.

Lengths are measured from the hot (left) and the bottom wall in units of
the cavity height H between the walls, which act half a spacing inside the
end node lines: H = m - 1 lattice spacings. Velocities are in units of the
thermal velocity alpha/H (u H/alpha, the benchmark's unit), the stream
function in units of alpha. Result.dat writes X = i/m, Y = j/m and U, V
over U_Ref = sqrt(Ra Pr) alpha/m (Ra the parameter file's), so
u H/alpha = (U/U_Ref) sqrt(Ra Pr) (m - 1)/m.
"""

import math

WALL_AT = 0.5  # lattice spacings from the end node lines to the walls

LENGTH_TEXT = ("positions x/H, y/H from the hot and the bottom wall, H the "
               "height between the walls (m - 1 lattice spacings: the walls "
               "act half a spacing inside the end node lines)")
VELOCITY_TEXT = ("velocities u H/alpha, v H/alpha (in units of the thermal "
                 "velocity alpha/H: U/U_Ref of Result.dat times "
                 "sqrt(Ra Pr) (m - 1)/m, Ra the parameter file's), the stream "
                 "function in units of alpha; without a parameter file beside "
                 "Result.dat, velocities stay U/U_Ref and the stream function "
                 "in lattice units")


class Frame:
    """Scalings of a run's Result.dat (``result``, cavity.records) with its
    parameters (a dict, or None where there is no parameter file).
    ``wall_at`` 0 puts the walls on the end node lines (H = m)."""

    def __init__(self, result, params, wall_at=WALL_AT):
        m, w = result.m, float(wall_at)
        self.wall_at = w
        self.length = m - 2.0 * w  # H in lattice spacings
        self.X = (result.X * m - w) / self.length
        self.Y = (result.Y * m - w) / self.length
        self.width = (result.n - 2.0 * w) / self.length  # W / H
        self.thermal = params is not None
        if self.thermal:
            self.velocity = (math.sqrt(params["Ra"] * params["Pr"])
                             * self.length / m)
            self.stream = 3.0 / (params["Tau_T"] - 0.5)  # 1 / alpha
        else:
            self.velocity, self.stream = 1.0, 1.0

    def x_over_w(self, x_over_n, n):
        """A mid-line file's i/n as the distance from the hot wall over the
        width between the walls."""
        return (x_over_n * n - self.wall_at) / (n - 2.0 * self.wall_at)
