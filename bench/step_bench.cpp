// The time-step procedures, straightforward and fast, on square grids, with
// the node updates per second as a counter (MLUPS: millions a second).
#include "driver/time_step.hpp"
#include "lattice/row_workspace.hpp"
#include "flow/flow_step.hpp"
#include "flow/flow_step_fast.hpp"
#include "results/residuals.hpp"
#include "results/residuals_fast.hpp"
#include "setup/initialize.hpp"
#include "setup/parameters.hpp"
#include "thermal/thermal_step.hpp"
#include "thermal/thermal_step_fast.hpp"

#include <benchmark/benchmark.h>

namespace {

// A cavity a few hundred steps into a run, so that the fields are not at rest.
struct Bench_State {
    int n, m;
    Field U, V, F, Feq, Rho, G, T, V_Old, T_Old, U_Old;
    float T_Hot = 1, T_Cold = 0, T_Ref = 0.5f, Tau_T = 0.7f, G_Beta, Tau_F, Res_F = 0, Res_T = 0;
    Fast_Workspace work;

    explicit Bench_State(int size) : n(size), m(size) {
        const std::size_t nodes = Node_Count(n, m);
        for (Field* f : {&U, &V, &Rho, &T, &V_Old, &T_Old, &U_Old})
            f->assign(nodes, 0.0f);
        for (Field* f : {&F, &Feq, &G})
            f->assign(9 * nodes, 0.0f);
        Initial_State(n, m, T_Hot, T_Cold, 0.0f, Rho, U, V, F, Feq, T, G, U_Old, V_Old, T_Old);
        Derived_Constants d = Derive_Constants(Physical_Parameters{0.71f, 1e4f, 1, 0, 0, Tau_T}, m);
        G_Beta = d.G_Beta;
        Tau_F = d.Tau_F;
        const int warm = size <= 128 ? 200 : 20;
        for (int s = 0; s < warm; ++s) {
            Flow_Step_Fast(n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T, work);
            Thermal_Step_Fast(n, m, Tau_T, U, V, T, G, T_Hot, T_Cold, work);
        }
    }
};

void Count(benchmark::State& state, const Bench_State& s) {
    state.counters["MLUPS"] = benchmark::Counter(double(Node_Count(s.n, s.m)) * 1e-6,
                                                 benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Flow_Step(benchmark::State& state) {
    Bench_State s(int(state.range(0)));
    for (auto _ : state)
        Flow_Step(s.n, s.m, s.T_Ref, s.G_Beta, s.Rho, s.U, s.V, s.Tau_F, s.F, s.Feq, s.T);
    Count(state, s);
}

void BM_Flow_Step_Fast(benchmark::State& state) {
    Bench_State s(int(state.range(0)));
    for (auto _ : state)
        Flow_Step_Fast(s.n, s.m, s.T_Ref, s.G_Beta, s.Rho, s.U, s.V, s.Tau_F, s.F, s.Feq, s.T,
                       s.work);
    Count(state, s);
}

void BM_Thermal_Step(benchmark::State& state) {
    Bench_State s(int(state.range(0)));
    for (auto _ : state)
        Thermal_Step(s.n, s.m, s.Tau_T, s.U, s.V, s.T, s.G, s.T_Hot, s.T_Cold);
    Count(state, s);
}

void BM_Thermal_Step_Fast(benchmark::State& state) {
    Bench_State s(int(state.range(0)));
    for (auto _ : state)
        Thermal_Step_Fast(s.n, s.m, s.Tau_T, s.U, s.V, s.T, s.G, s.T_Hot, s.T_Cold, s.work);
    Count(state, s);
}

void BM_Compute_Residuals(benchmark::State& state) {
    Bench_State s(int(state.range(0)));
    for (auto _ : state) {
        // Old copies that differ, as in a run (unchanged fields would stop it).
        s.U_Old[1] += 1e-3f;
        s.T_Old[1] += 1e-3f;
        Compute_Residuals(s.n, s.m, s.Res_F, s.Res_T, s.U, s.V, s.T, s.U_Old, s.V_Old, s.T_Old);
    }
    Count(state, s);
}

void BM_Compute_Residuals_Fast(benchmark::State& state) {
    Bench_State s(int(state.range(0)));
    for (auto _ : state) {
        s.U_Old[1] += 1e-3f;
        s.T_Old[1] += 1e-3f;
        Compute_Residuals_Fast(s.n, s.m, s.Res_F, s.Res_T, s.U, s.V, s.T, s.U_Old, s.V_Old,
                               s.T_Old, false);
    }
    Count(state, s);
}

// A whole time step as the program runs it, both ways.
void BM_Time_Step(benchmark::State& state) {
    Bench_State s(int(state.range(0)));
    for (auto _ : state) {
        Flow_Step(s.n, s.m, s.T_Ref, s.G_Beta, s.Rho, s.U, s.V, s.Tau_F, s.F, s.Feq, s.T);
        Thermal_Step(s.n, s.m, s.Tau_T, s.U, s.V, s.T, s.G, s.T_Hot, s.T_Cold);
        Compute_Residuals(s.n, s.m, s.Res_F, s.Res_T, s.U, s.V, s.T, s.U_Old, s.V_Old, s.T_Old);
    }
    Count(state, s);
}

void BM_Time_Step_Fast(benchmark::State& state) {
    Bench_State s(int(state.range(0)));
    for (auto _ : state) {
        Time_Step_Fast(s.n, s.m, s.T_Ref, s.G_Beta, s.Rho, s.U, s.V, s.Tau_F, s.F, s.Feq, s.T,
                       s.Tau_T, s.G, s.T_Hot, s.T_Cold, s.U_Old, s.V_Old, s.T_Old, s.work);
        Compute_Residuals_Fast(s.n, s.m, s.Res_F, s.Res_T, s.U, s.V, s.T, s.U_Old, s.V_Old,
                               s.T_Old, false);
    }
    Count(state, s);
}

} // namespace

#define GRIDS ->Arg(64)->Arg(128)->Arg(256)->Arg(512)->Arg(1024)->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_Flow_Step) GRIDS;
BENCHMARK(BM_Flow_Step_Fast) GRIDS;
BENCHMARK(BM_Thermal_Step) GRIDS;
BENCHMARK(BM_Thermal_Step_Fast) GRIDS;
BENCHMARK(BM_Compute_Residuals) GRIDS;
BENCHMARK(BM_Compute_Residuals_Fast) GRIDS;
BENCHMARK(BM_Time_Step) GRIDS->Arg(100);
BENCHMARK(BM_Time_Step_Fast) GRIDS->Arg(100);
