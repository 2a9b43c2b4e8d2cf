#pragma once
#include "lattice/lattice.hpp"
#include "lattice/scheme.hpp"

#include <string>

// The mass-flux stream function: zero on the hot wall column, integrated
// along the bottom row with -Rho V, then up each column with Rho U, by the
// trapezoid rule.
void Compute_Stream(int n, int m, const Field& Rho, const Field& U, const Field& V, Field& Stream);

// Mean of 2 n (T_Hot - T(1, j)) over the m + 1 rows, divided by m.
float Compute_Nu_Hot(int n, int m, float T_Hot, const Field& T);

// The mean Nusselt numbers of the hot and the cold wall, second order, with
// the walls where the lattice puts them: half a spacing inside the end node
// columns and rows. The local value is the slope at the wall of the parabola
// through the wall temperature there and the next two node columns,
// (8/3 T_Hot - 3 T(1, j) + 1/3 T(2, j)) (n - 1) / (T_Hot - T_Cold) and its
// mirror at the cold wall, averaged over the wall height [0.5, m - 0.5] by
// the trapezoid rule (the ends interpolated between rows; at m = 1 the value
// halfway between the two rows). In double from the float fields. Needs
// n >= 3: two fluid columns beside each wall.
void Compute_Wall_Nusselt(int n, int m, float T_Hot, float T_Cold, const Field& T, double& Nu_Hot_2,
                          double& Nu_Cold_2);

// The note at the end of a run: both wall-corrected Nusselt numbers, how far
// they differ (the heat balance of the run) and where Nu.dat (Nu_Hot, the
// first-order sum at the nodes) stands against them; a scheme other than the
// original is named in it.
std::string Wall_Nusselt_Note(int n, int m, float T_Hot, float T_Cold, float Nu_Hot,
                              const Field& T, const Scheme& scheme = Scheme{});
