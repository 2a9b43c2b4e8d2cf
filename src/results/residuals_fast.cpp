#include "results/residuals_fast.hpp"

#include "results/residuals.hpp"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Lower bound of the residual the float chain gives, from the double sums.
double Lower_Bound(double num, double den, double terms) {
    const double uf = 0x1p-24, ud = 0x1p-53;
    // Each chain step rounds to double, then to float: relative error eps,
    // plus half the smallest subnormal spacing where the sum is that small.
    const double eps = uf + ud + uf * ud;
    const double n_eps = terms * eps;
    if (n_eps >= 0.5)
        return 0.0; // no useful bound: let the exact chain decide
    const double gamma = n_eps / (1.0 - n_eps);
    const double gamma_d = terms * ud / (1.0 - terms * ud); // the double sums
    const double tiny = terms * 0x1p-150 * (1.0 + gamma);
    // Twice every margin, against slips in this reasoning.
    const double num_lo = num / (1.0 + 2 * gamma_d) * (1.0 - 2 * gamma) - 2 * tiny;
    const double den_hi = den / (1.0 - 2 * gamma_d) * (1.0 + 2 * gamma) + 2 * tiny;
    if (num_lo <= 0.0)
        return 0.0;
    // Two square roots and a division in double, then the rounding to float.
    return std::sqrt(num_lo / den_hi) * (1.0 - 2 * (3 * ud + uf));
}

bool Could_Stop(const Residual_Sums& s, double terms, float threshold) {
    return Lower_Bound(s.num_flow, s.den_flow, terms) < double(threshold) ||
           Lower_Bound(s.num_t, s.den_t, terms) < double(threshold);
}

} // namespace

bool Could_Overflow(const Residual_Sums& s) {
    // The float chain ends near the true sum; far below the largest float it
    // cannot overflow, near it the exact chain decides (and traps as it
    // would).
    const double limit = 0.5 * double(std::numeric_limits<float>::max());
    return s.num_flow >= limit || s.den_flow >= limit || s.num_t >= limit || s.den_t >= limit;
}

bool Residuals_From_Sums(int n, int m, Residual_Sums s, float& Residual_Flow, float& Residual_T) {
    s.den_flow += double(1e-30f);
    s.den_t += double(1e-30f);
    if (Could_Stop(s, double(Node_Count(n, m)), Stop_Threshold) || Could_Overflow(s))
        return false;
    // Certainly no stop: these estimates stay above the threshold.
    Residual_Flow = float(std::sqrt(s.num_flow) / std::sqrt(s.den_flow));
    Residual_T = float(std::sqrt(s.num_t) / std::sqrt(s.den_t));
    return true;
}

float Norm_Flow_Estimate(const Residual_Sums& s) {
    return float(double(Norm_Start) + s.den_flow);
}

void Compute_Residuals_Fast(int n, int m, float& Residual_Flow, float& Residual_T, const Field& U,
                            const Field& V, const Field& T, Field& U_Old, Field& V_Old,
                            Field& T_Old, bool exact) {
    float Norm_Flow = Norm_Start;
    Compute_Residuals_Fast(n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old, exact,
                           Norm_Flow);
}

void Compute_Residuals_Fast(int n, int m, float& Residual_Flow, float& Residual_T, const Field& U,
                            const Field& V, const Field& T, Field& U_Old, Field& V_Old,
                            Field& T_Old, bool exact, float& Norm_Flow_Out) {
    if (!exact) {
        const Residual_Sums sums = Residual_Sums_Of(n, 0, m + 1, U, V, T, U_Old, V_Old, T_Old);
        if (Residuals_From_Sums(n, m, sums, Residual_Flow, Residual_T)) {
            Norm_Flow_Out = Norm_Flow_Estimate(sums);
            const std::size_t nodes = Node_Count(n, m);
            std::memcpy(U_Old.data(), U.data(), nodes * sizeof(float));
            std::memcpy(V_Old.data(), V.data(), nodes * sizeof(float));
            std::memcpy(T_Old.data(), T.data(), nodes * sizeof(float));
            return;
        }
    }
    Compute_Residuals(n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old, Norm_Flow_Out);
}
