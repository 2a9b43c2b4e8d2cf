#include "results/residuals.hpp"

#include <cmath>

void Compute_Residuals(int n, int m, float& Residual_Flow, float& Residual_T, const Field& U,
                       const Field& V, const Field& T, Field& U_Old, Field& V_Old, Field& T_Old) {
    float Norm_Flow = Norm_Start;
    Compute_Residuals(n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old, Norm_Flow);
}

void Compute_Residuals(int n, int m, float& Residual_Flow, float& Residual_T, const Field& U,
                       const Field& V, const Field& T, Field& U_Old, Field& V_Old, Field& T_Old,
                       float& Norm_Flow_Out) {
    Residual_Flow = 0.0f;
    Residual_T = 0.0f;
    float Norm_Flow = Norm_Start;
    float Norm_T = Norm_Start;
    // i outer, j inner: the order fixes the rounding of the float sums.
    for (int i = 0; i <= n; ++i) {
        for (int j = 0; j <= m; ++j) {
            std::size_t c = Node(n, i, j);
            double u = U[c], v = V[c], t = T[c];
            Norm_Flow = float(Norm_Flow + (v * v + u * u));
            Norm_T = float(Norm_T + t * t);
            double du = u - U_Old[c], dv = v - V_Old[c], dt = t - T_Old[c];
            Residual_Flow = float(Residual_Flow + (dv * dv + du * du));
            Residual_T = float(Residual_T + dt * dt);
            U_Old[c] = U[c];
            V_Old[c] = V[c];
            T_Old[c] = T[c];
        }
    }
    Residual_Flow = float(std::sqrt(double(Residual_Flow)) / std::sqrt(double(Norm_Flow)));
    Residual_T = float(std::sqrt(double(Residual_T)) / std::sqrt(double(Norm_T)));
    Norm_Flow_Out = Norm_Flow;
}
