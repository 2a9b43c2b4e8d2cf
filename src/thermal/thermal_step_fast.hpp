#pragma once
// The thermal step of the fast path, a row at a time, over distributions
// held as rows of nine planes; the same values as Thermal_Step. As in the
// flow step, each row is collided into a row of its own and a row is
// streamed from the collided rows around it; the insulated walls then copy
// from the rows next to them, so the bottom row is finished after row 1 and
// the top row after row m - 1.
#include "lattice/lanes.hpp"
#include "lattice/lattice.hpp"
#include "lattice/row_planes.hpp"
#include "lattice/row_streaming.hpp"

// Equilibrium and collision of the nodes i = 1..n-1 of row j (any row):
// `row` holds the row's distributions, `out` receives them collided (the
// side-wall nodes as they are).
void Thermal_Collide_Row(int n, int j, const Divisor& Tau_T, const Field& U, const Field& V,
                         const Field& T, Plane_Set row, Plane_Set out);

// Row j of `out` after streaming and the wall conditions, from the collided
// rows around it, and the temperature of its nodes i = 1..n-1. Row 1 also
// finishes row 0, and row m reads row m - 1 of `out`: rows 0 and 1 are
// taken in this order, and so are rows m - 1 and m.
void Thermal_Stream_Row(int n, int m, int j, const Rows_Around& collided, Distribution_Rows& out,
                        Field& T, float T_Hot, float T_Cold);

// The kernels above as one instruction set's build of them has them
// (lattice/kernel_set.hpp).
struct Thermal_Kernels {
    decltype(&Thermal_Collide_Row) collide_row;
    decltype(&Thermal_Stream_Row) stream_row;
};
