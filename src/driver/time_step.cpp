#include "driver/time_step.hpp"

#include "flow/flow_step.hpp"
#include "flow/flow_step_fast.hpp"
#include "results/residuals.hpp"
#include "results/residuals_fast.hpp"
#include "thermal/thermal_step.hpp"
#include "thermal/thermal_step_fast.hpp"

#include <algorithm>
#include <cfenv>

namespace {

// The fields as they stood before the step: F and G from the workspace,
// U, V, T from the old copies (the side walls of T keep their temperatures),
// and the interior density, which is the sum of the distributions.
void Undo_Step(int n, int m, Field& Rho, Field& U, Field& V, Field& F, Field& T, Field& G,
               float T_Hot, float T_Cold, const Field& U_Old, const Field& V_Old,
               const Field& T_Old, Fast_Workspace& work) {
    F.swap(work.next_F);
    G.swap(work.next_G);
    U = U_Old;
    V = V_Old;
    T = T_Old;
    const int hot_wall = 0, cold_wall = n;
    for (int j = 0; j <= m; ++j) {
        T[Node(n, hot_wall, j)] = T_Hot;
        T[Node(n, cold_wall, j)] = T_Cold;
    }
    for (int j = 1; j <= m - 1; ++j)
        for (int i = 1; i <= n - 1; ++i) {
            float rho = 0.0f;
            for (int k = 0; k <= 8; ++k)
                rho += F[Dist(n, k, i, j)];
            Rho[Node(n, i, j)] = rho;
        }
}

} // namespace

void Time_Step_Fast(int n, int m, float T_Ref, float G_Beta, Field& Rho, Field& U, Field& V,
                    float Tau_F, Field& F, Field& Feq, Field& T, float Tau_T, Field& G, float T_Hot,
                    float T_Cold, const Field& U_Old, const Field& V_Old, const Field& T_Old,
                    Fast_Workspace& work) {
    std::fenv_t traps;
    std::feholdexcept(&traps);
    Flow_Step_Fast(n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T, work);
    Thermal_Step_Fast(n, m, Tau_T, U, V, T, G, T_Hot, T_Cold, work);
    const bool fault = std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW) != 0;
    std::fesetenv(&traps);
    if (!fault)
        return;
    Undo_Step(n, m, Rho, U, V, F, T, G, T_Hot, T_Cold, U_Old, V_Old, T_Old, work);
    Flow_Step(n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T);
    Thermal_Step(n, m, Tau_T, U, V, T, G, T_Hot, T_Cold);
}

void Prepare_Stepping(Stepping& s, Solver solver, int n, int m) {
    s.solver = solver;
    if (solver == Solver::Fast)
        s.work.Size_For(n, m);
}

void Time_Step(Stepping& s, int n, int m, float T_Ref, float G_Beta, Field& Rho, Field& U, Field& V,
               float Tau_F, Field& F, Field& Feq, Field& T, float Tau_T, Field& G, float T_Hot,
               float T_Cold, const Field& U_Old, const Field& V_Old, const Field& T_Old) {
    if (s.solver == Solver::Fast) {
        Time_Step_Fast(n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T, Tau_T, G, T_Hot, T_Cold,
                       U_Old, V_Old, T_Old, s.work);
        return;
    }
    Flow_Step(n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T);
    Thermal_Step(n, m, Tau_T, U, V, T, G, T_Hot, T_Cold);
}

void Residuals(Stepping& s, int n, int m, float& Residual_Flow, float& Residual_T, const Field& U,
               const Field& V, const Field& T, Field& U_Old, Field& V_Old, Field& T_Old,
               bool printed, bool& Flow_At_Rest) {
    float Norm_Flow = Norm_Start;
    if (s.solver == Solver::Fast)
        Compute_Residuals_Fast(n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old,
                               printed, Norm_Flow);
    else
        Compute_Residuals(n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old, Norm_Flow);
    Flow_At_Rest = Norm_Flow == Norm_Start;
}

void Copy_Distributions_Out(const Stepping&, int n, int j0, int j1, const Field& F, const Field& G,
                            float* F_rows, float* G_rows) {
    const std::size_t from = Dist(n, 0, 0, j0), to = Dist(n, 0, 0, j1);
    std::copy(F.begin() + std::ptrdiff_t(from), F.begin() + std::ptrdiff_t(to), F_rows);
    std::copy(G.begin() + std::ptrdiff_t(from), G.begin() + std::ptrdiff_t(to), G_rows);
}

void Copy_Distributions_In(Stepping&, int n, int j0, int j1, const float* F_rows,
                           const float* G_rows, Field& F, Field& G) {
    const std::size_t from = Dist(n, 0, 0, j0), count = Dist(n, 0, 0, j1) - from;
    std::copy(F_rows, F_rows + count, F.begin() + std::ptrdiff_t(from));
    std::copy(G_rows, G_rows + count, G.begin() + std::ptrdiff_t(from));
}
