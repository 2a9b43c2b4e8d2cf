#pragma once
// The flow step of the fast path, a row at a time, over distributions held
// as rows of nine planes (lattice/row_planes.hpp); the same values as
// Flow_Step. Each row is collided into a row of its own; a row is streamed
// from the collided rows below, at and above it, reflected at the walls and
// summed for its density and velocity. Every node's values depend only on
// the step before, so the rows may be taken in any order and by any thread.
#include "lattice/lanes.hpp"
#include "lattice/lattice.hpp"
#include "lattice/row_planes.hpp"
#include "lattice/row_streaming.hpp"

// Equilibrium and collision of the interior nodes of row j: `row` holds the
// row's distributions, `out` receives them collided (the wall nodes, which
// do not collide, as they are).
void Flow_Collide_Row(int n, int m, int j, float T_Ref, float G_Beta, const Divisor& Tau_F,
                      const Field& Rho, const Field& U, const Field& V, const Field& T,
                      Plane_Set row, Plane_Set out);

// Row j after streaming and bounce-back, from the collided rows around it,
// into `out`, and the new density and velocity of its interior nodes.
void Flow_Stream_Row(int n, int m, int j, const Rows_Around& collided, Plane_Set out, Field& Rho,
                     Field& U, Field& V);

// The kernels above as one instruction set's build of them has them
// (lattice/kernel_set.hpp).
struct Flow_Kernels {
    decltype(&Flow_Collide_Row) collide_row;
    decltype(&Flow_Stream_Row) stream_row;
};
