#pragma once
#include "lattice/lattice.hpp"

// The run stops as soon as either residual is below this.
inline constexpr float Stop_Threshold = 1e-7f;

// Relative root-sum-square change of the velocity and of the temperature
// since the last call, over all nodes; refreshes the old copies.
void Compute_Residuals(int n, int m, float& Residual_Flow, float& Residual_T, const Field& U,
                       const Field& V, const Field& T, Field& U_Old, Field& V_Old, Field& T_Old);
