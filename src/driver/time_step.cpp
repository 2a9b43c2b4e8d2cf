#include "driver/time_step.hpp"

#include "driver/fast_step.hpp"
#include "driver/run_time.hpp"
#include "flow/flow_step.hpp"
#include "results/residuals.hpp"
#include "results/residuals_fast.hpp"
#include "thermal/thermal_step.hpp"

#include <algorithm>
#include <string>

namespace {

// Sizes one copy of a distribution; a failure names it as a failed field
// array would be named.
void Allocate_Rows(Distribution_Rows& rows, int n, int m, const char* name) {
    try {
        rows.Resize(n, m);
    } catch (const std::exception&) {
        const std::size_t floats = 9 * Plane_Stride(n + 1) * (std::size_t(m) + 1) + 16;
        throw Run_Time_Error(std::string("run-time error: cannot allocate ") + name + " (" +
                             std::to_string(floats * sizeof(float)) + " bytes): out of memory");
    }
}

// Moves a distribution from a field array into rows, one array at a time,
// so that the run never holds both layouts of more than one.
void Take_Over(Field& field, Distribution_Rows& rows, int n, int m, const char* name) {
    Allocate_Rows(rows, n, m, name);
    Rows_From_Nodes(field.data(), 0, m + 1, rows);
    Field().swap(field);
}

// Bands of rows as even as whole rows allow, two rows at least each, so
// that the insulated walls' rows 0, 1 and m - 1, m share a band.
void Split_Rows(Stepping& s, int threads) {
    const int rows = s.m + 1;
    const int bands = std::clamp(threads, 1, std::max(1, rows / 2));
    s.bands.resize(std::size_t(bands));
    for (int b = 0; b < bands; ++b) {
        Band_Rows& band = s.bands[std::size_t(b)];
        band.first = int(std::int64_t(rows) * b / bands);
        band.last = int(std::int64_t(rows) * (b + 1) / bands) - 1;
        band.Size_For(s.n);
    }
}

// The state before the step: F and G are still whole in the current copies;
// U, V and T are in the old copies (the side walls of T keep their
// temperatures); the interior density is the sum of the distributions.
void Undo_Step(Stepping& s, const Step_Fields& a, const Field& U_Old, const Field& V_Old,
               const Field& T_Old) {
    const int n = s.n, m = s.m;
    Field &Rho = a.Rho, &U = a.U, &V = a.V, &T = a.T;
    U = U_Old;
    V = V_Old;
    T = T_Old;
    const int hot_wall = 0, cold_wall = n;
    for (int j = 0; j <= m; ++j) {
        T[Node(n, hot_wall, j)] = a.T_Hot;
        T[Node(n, cold_wall, j)] = a.T_Cold;
    }
    for (int j = 1; j <= m - 1; ++j)
        if (n >= 2)
            Sum_Directions(s.fast.F_Now().Row(j).From(1), n - 1, &Rho[Node(n, 1, j)]);
}

// The step on the straightforward procedures, with the traps on. They need
// the distributions in field order: the next copies' storage holds them,
// and Feq is obtained for the step (it is the only array the run did not
// hold yet). If no trap ends the run, the result becomes the current copies.
void Rerun_Straightforward(Stepping& s, const Step_Fields& a) {
    const int n = s.n, m = s.m;
    Field& F = s.fast.F_Next().Field_Order();
    Field& G = s.fast.G_Next().Field_Order();
    Nodes_From_Rows(s.fast.F_Now(), 0, m + 1, F.data());
    Nodes_From_Rows(s.fast.G_Now(), 0, m + 1, G.data());
    Field Feq;
    Allocate_Field(Feq, 9 * Node_Count(n, m), "Feq");
    Flow_Step(n, m, a.T_Ref, a.G_Beta, a.Rho, a.U, a.V, a.Tau_F, F, Feq, a.T);
    Thermal_Step(n, m, a.Tau_T, a.U, a.V, a.T, G, a.T_Hot, a.T_Cold);
    Rows_From_Nodes(F.data(), 0, m + 1, s.fast.F_Now());
    Rows_From_Nodes(G.data(), 0, m + 1, s.fast.G_Now());
}

} // namespace

void Undo_And_Rerun(Stepping& s, const Step_Fields& a, const Field& U_Old, const Field& V_Old,
                    const Field& T_Old) {
    Undo_Step(s, a, U_Old, V_Old, T_Old);
    Rerun_Straightforward(s, a);
}

int Threads_That_Pay(int n, int m, int available) {
    const std::uint64_t nodes = Node_Count(n, m);
    const std::uint64_t pay = std::max<std::uint64_t>(1, nodes / Min_Nodes_A_Thread);
    return int(std::clamp<std::uint64_t>(pay, 1, std::uint64_t(std::max(1, available))));
}

void Prepare_Stepping(Stepping& s, Solver solver, int n, int m, int threads, Field& F, Field& Feq,
                      Field& G) {
    s.solver = solver;
    s.n = n;
    s.m = m;
    if (solver != Solver::Fast)
        return;
    Field().swap(Feq); // nothing reads it
    Take_Over(F, s.fast.F[0], n, m, "F");
    Take_Over(G, s.fast.G[0], n, m, "G");
    Allocate_Rows(s.fast.F[1], n, m, "F");
    Allocate_Rows(s.fast.G[1], n, m, "G");
    s.fast.now = 0;
    Split_Rows(s, threads);
    s.threads.Start(int(s.bands.size()));
}

void Time_Step(Stepping& s, int n, int m, float T_Ref, float G_Beta, Field& Rho, Field& U, Field& V,
               float Tau_F, Field& F, Field& Feq, Field& T, float Tau_T, Field& G, float T_Hot,
               float T_Cold, const Field& U_Old, const Field& V_Old, const Field& T_Old) {
    if (s.solver != Solver::Fast) {
        Flow_Step(n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T);
        Thermal_Step(n, m, Tau_T, U, V, T, G, T_Hot, T_Cold);
        return;
    }
    const Step_Fields a{T_Ref, G_Beta, Tau_F, Tau_T, T_Hot, T_Cold, Rho, U, V, T};
    if (Fast_Step(s, a) == 0) {
        s.fast.now = 1 - s.fast.now;
        return;
    }
    Undo_And_Rerun(s, a, U_Old, V_Old, T_Old);
}

void Residuals(Stepping& s, int n, int m, float& Residual_Flow, float& Residual_T, const Field& U,
               const Field& V, const Field& T, Field& U_Old, Field& V_Old, Field& T_Old,
               bool printed) {
    if (s.solver == Solver::Fast)
        Compute_Residuals_Fast(n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old,
                               printed);
    else
        Compute_Residuals(n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old);
}

void Copy_Distributions_Out(const Stepping& s, int n, int j0, int j1, const Field& F,
                            const Field& G, float* F_rows, float* G_rows) {
    if (s.solver == Solver::Fast) {
        Fast_Distributions& fast = const_cast<Fast_Distributions&>(s.fast); // rows only read
        Nodes_From_Rows(fast.F_Now(), j0, j1, F_rows);
        Nodes_From_Rows(fast.G_Now(), j0, j1, G_rows);
        return;
    }
    const std::size_t from = Dist(n, 0, 0, j0), to = Dist(n, 0, 0, j1);
    std::copy(F.begin() + std::ptrdiff_t(from), F.begin() + std::ptrdiff_t(to), F_rows);
    std::copy(G.begin() + std::ptrdiff_t(from), G.begin() + std::ptrdiff_t(to), G_rows);
}

void Copy_Distributions_In(Stepping& s, int n, int j0, int j1, const float* F_rows,
                           const float* G_rows, Field& F, Field& G) {
    if (s.solver == Solver::Fast) {
        Rows_From_Nodes(F_rows, j0, j1, s.fast.F_Now());
        Rows_From_Nodes(G_rows, j0, j1, s.fast.G_Now());
        return;
    }
    const std::size_t from = Dist(n, 0, 0, j0), count = Dist(n, 0, 0, j1) - from;
    std::copy(F_rows, F_rows + count, F.begin() + std::ptrdiff_t(from));
    std::copy(G_rows, G_rows + count, G.begin() + std::ptrdiff_t(from));
}
