#pragma once
#include "lattice/lattice.hpp"

// The mass-flux stream function: zero on the hot wall column, integrated
// along the bottom row with -Rho V, then up each column with Rho U, by the
// trapezoid rule.
void Compute_Stream(int n, int m, const Field& Rho, const Field& U, const Field& V, Field& Stream);

// Mean of 2 n (T_Hot - T(1, j)) over the m + 1 rows, divided by m.
float Compute_Nu_Hot(int n, int m, float T_Hot, const Field& T);
