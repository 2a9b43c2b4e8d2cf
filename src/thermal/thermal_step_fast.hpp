#pragma once
// The thermal step of the fast path, a row at a time, over distributions
// held as rows of nine planes; the same values as Thermal_Step. As in the
// flow step, each row is collided into a row of its own and a row is
// streamed from the collided rows around it; the insulated walls then copy
// from the rows next to them, so the bottom row is finished after row 1 and
// the top row after row m - 1. With bounce-back insulated walls the rows 0
// and m do not collide and reflect what they receive; their temperature,
// that of the row next to them, is likewise set after row 1 and row m - 1.
#include "lattice/lanes.hpp"
#include "lattice/lattice.hpp"
#include "lattice/row_planes.hpp"
#include "lattice/row_streaming.hpp"
#include "lattice/scheme.hpp"

// The thermal scheme as the kernels take it: the relaxation and its times as
// divisors (tau_even only for TRT) and the rule of the insulated walls.
struct Thermal_Rule {
    Relaxation relaxation = Relaxation::BGK;
    Insulated_Walls walls = Insulated_Walls::Copy;
    Divisor tau, tau_even;
};
Thermal_Rule Thermal_Rule_Of(const Scheme& scheme, float Tau_T);

// Equilibrium and collision of the nodes i = 1..n-1 of row j: `row` holds
// the row's distributions, `out` receives them collided (the side-wall
// nodes as they are; a bounce-back wall row whole, as it is).
void Thermal_Collide_Row(int n, int m, int j, const Thermal_Rule& rule, const Field& U,
                         const Field& V, const Field& T, Plane_Set row, Plane_Set out);

// Row j of `out` after streaming and the wall conditions, from the collided
// rows around it, and the temperature of its nodes i = 1..n-1. Row 1 also
// finishes row 0, and row m reads row m - 1 of `out`: rows 0 and 1 are
// taken in this order, and so are rows m - 1 and m.
void Thermal_Stream_Row(int n, int m, int j, const Thermal_Rule& rule, const Rows_Around& collided,
                        Distribution_Rows& out, Field& T, float T_Hot, float T_Cold);

// The kernels above as one instruction set's build of them has them
// (lattice/kernel_set.hpp).
struct Thermal_Kernels {
    void (*collide_row)(int, int, int, const Thermal_Rule&, const Field&, const Field&,
                        const Field&, Plane_Set, Plane_Set);
    void (*stream_row)(int, int, int, const Thermal_Rule&, const Rows_Around&, Distribution_Rows&,
                       Field&, float, float);
};
