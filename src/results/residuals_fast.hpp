#pragma once
#include "lattice/lattice.hpp"

// Compute_Residuals, paying for the single-precision summation chain only
// when its exact value matters: when `exact` is asked for (the residuals are
// printed in the next report) or when the chain could decide the stop. The
// sums are first formed in double in any order; a rigorous bound on the
// rounding of the float chain then tells whether either residual could fall
// below 1e-7. If not, the residuals are left at the double estimates (above
// the threshold) and the old copies are refreshed; otherwise the exact
// procedure runs; so it does where a float sum could overflow, to trap as the
// exact procedure does.
void Compute_Residuals_Fast(int n, int m, float& Residual_Flow, float& Residual_T, const Field& U,
                            const Field& V, const Field& T, Field& U_Old, Field& V_Old,
                            Field& T_Old, bool exact);

// The same, also giving the denominator sum of the flow residual, as the
// exact procedure does wherever the residuals could stop the run (an estimate
// elsewhere: there neither residual can be below the stop).
void Compute_Residuals_Fast(int n, int m, float& Residual_Flow, float& Residual_T, const Field& U,
                            const Field& V, const Field& T, Field& U_Old, Field& V_Old,
                            Field& T_Old, bool exact, float& Norm_Flow_Out);

// The four sums of the residuals formed in double: numerators and
// denominators of the flow and of the temperature.
struct Residual_Sums {
    double num_flow, den_flow, num_t, den_t;
};

// Whether the float chain of one of the sums could overflow.
bool Could_Overflow(const Residual_Sums& s);

// The parts of Compute_Residuals_Fast, for callers that share the nodes out
// among threads: the four sums in double over the nodes of rows j0 .. j1 - 1
// (the denominators without their 1e-30 start), in any order; and, from
// the sums over all nodes, the residuals set to their estimates, or false
// where the exact procedure must decide (the old copies are not touched).
Residual_Sums Residual_Sums_Of(int n, int j0, int j1, const Field& U, const Field& V,
                               const Field& T, const Field& U_Old, const Field& V_Old,
                               const Field& T_Old);
bool Residuals_From_Sums(int n, int m, Residual_Sums s, float& Residual_Flow, float& Residual_T);

// The flow denominator the estimate stands for (the sums without their start):
// its 1e-30 start unchanged where the velocity is zero on every node.
float Norm_Flow_Estimate(const Residual_Sums& s);

// Residual_Sums_Of as one instruction set's build of it has it
// (lattice/kernel_set.hpp).
struct Residual_Kernels {
    decltype(&Residual_Sums_Of) residual_sums_of;
};
