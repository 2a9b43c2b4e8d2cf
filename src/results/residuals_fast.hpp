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

// Whether a float running sum of `terms` non-negative terms, whose exact sum
// lies within a relative `slack` of `estimate`, could give a residual below
// `threshold`. Exposed for tests.
struct Residual_Sums {
    double num_flow, den_flow, num_t, den_t;
};
bool Could_Stop(const Residual_Sums& s, double terms, float threshold);

// Whether the float chain of one of the sums could overflow.
bool Could_Overflow(const Residual_Sums& s);
