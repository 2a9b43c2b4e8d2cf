#pragma once
#include "lattice/lattice.hpp"

// The run stops as soon as either residual is below this.
inline constexpr float Stop_Threshold = 1e-7f;

// The start of both denominator sums: it keeps an all-zero field from
// dividing zero by zero.
inline constexpr float Norm_Start = 1e-30f;

// Relative root-sum-square change of the velocity and of the temperature
// since the last call, over all nodes; refreshes the old copies.
void Compute_Residuals(int n, int m, float& Residual_Flow, float& Residual_T, const Field& U,
                       const Field& V, const Field& T, Field& U_Old, Field& V_Old, Field& T_Old);

// The same, also giving the denominator sum of the flow residual. Where it is
// still Norm_Start the velocity is zero on every node (or too small to count):
// the flow residual is then 0 over nothing, which says nothing of convergence.
void Compute_Residuals(int n, int m, float& Residual_Flow, float& Residual_T, const Field& U,
                       const Field& V, const Field& T, Field& U_Old, Field& V_Old, Field& T_Old,
                       float& Norm_Flow_Out);
