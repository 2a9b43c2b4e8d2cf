// The time step, straightforward and fast (on one thread and on two), and
// the residuals, on square grids, with the node updates per second as a
// counter (MLUPS: millions a second, over wall-clock time).
#include "flow/flow_step.hpp"
#include "results/residuals.hpp"
#include "results/residuals_fast.hpp"
#include "setup/initialize.hpp"
#include "setup/parameters.hpp"
#include "step/time_step.hpp"
#include "thermal/thermal_step.hpp"

#include <benchmark/benchmark.h>

namespace {

// A cavity some steps into a run, so that the fields are not at rest, on the
// fast procedures with `threads` threads; the straightforward benchmarks
// take the distributions out of it.
struct Bench_State {
    int n, m;
    Field U, V, F, Feq, Rho, G, T, V_Old, T_Old, U_Old;
    float T_Hot = 1, T_Cold = 0, T_Ref = 0.5f, Tau_T = 0.7f, G_Beta, Tau_F, Res_F = 0, Res_T = 0;
    bool At_Rest = false;
    Stepping steps;

    Bench_State(int size, int threads) : n(size), m(size) {
        const std::size_t nodes = Node_Count(n, m);
        for (Field* f : {&U, &V, &Rho, &T, &V_Old, &T_Old, &U_Old})
            f->assign(nodes, 0.0f);
        for (Field* f : {&F, &Feq, &G})
            f->assign(9 * nodes, 0.0f);
        Initial_State(n, m, T_Hot, T_Cold, 0.0f, Rho, U, V, F, Feq, T, G, U_Old, V_Old, T_Old);
        Derived_Constants d = Derive_Constants(Physical_Parameters{0.71f, 1e4f, 1, 0, 0, Tau_T}, m);
        G_Beta = d.G_Beta;
        Tau_F = d.Tau_F;
        Prepare_Stepping(steps, Solver::Fast, n, m, threads, F, Feq, G);
        const int warm = size <= 128 ? 200 : 20;
        for (int s = 0; s < warm; ++s) {
            Step();
            Residuals(steps, n, m, Res_F, Res_T, U, V, T, U_Old, V_Old, T_Old, false, At_Rest);
        }
    }
    void Step() {
        Time_Step(steps, n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T, Tau_T, G, T_Hot, T_Cold,
                  U_Old, V_Old, T_Old);
    }
    // F, Feq and G in field order, for the straightforward procedures.
    void Field_Order() {
        for (Field* f : {&F, &Feq, &G})
            f->assign(9 * Node_Count(n, m), 0.0f);
        Copy_Distributions_Out(steps, n, 0, m + 1, F, G, F.data(), G.data());
    }
};

void Count(benchmark::State& state, const Bench_State& s) {
    state.counters["MLUPS"] = benchmark::Counter(double(Node_Count(s.n, s.m)) * 1e-6,
                                                 benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Flow_Step(benchmark::State& state) {
    Bench_State s(int(state.range(0)), 1);
    s.Field_Order();
    for (auto _ : state)
        Flow_Step(s.n, s.m, s.T_Ref, s.G_Beta, s.Rho, s.U, s.V, s.Tau_F, s.F, s.Feq, s.T);
    Count(state, s);
}

void BM_Thermal_Step(benchmark::State& state) {
    Bench_State s(int(state.range(0)), 1);
    s.Field_Order();
    for (auto _ : state)
        Thermal_Step(s.n, s.m, s.Tau_T, s.U, s.V, s.T, s.G, s.T_Hot, s.T_Cold);
    Count(state, s);
}

void BM_Compute_Residuals(benchmark::State& state) {
    Bench_State s(int(state.range(0)), 1);
    for (auto _ : state) {
        // Old copies that differ, as in a run (unchanged fields would stop it).
        s.U_Old[1] += 1e-3f;
        s.T_Old[1] += 1e-3f;
        Compute_Residuals(s.n, s.m, s.Res_F, s.Res_T, s.U, s.V, s.T, s.U_Old, s.V_Old, s.T_Old);
    }
    Count(state, s);
}

void BM_Compute_Residuals_Fast(benchmark::State& state) {
    Bench_State s(int(state.range(0)), 1);
    for (auto _ : state) {
        s.U_Old[1] += 1e-3f;
        s.T_Old[1] += 1e-3f;
        Compute_Residuals_Fast(s.n, s.m, s.Res_F, s.Res_T, s.U, s.V, s.T, s.U_Old, s.V_Old, s.T_Old,
                               false);
    }
    Count(state, s);
}

// A whole time step as the program runs it, with the residuals: the
// straightforward procedures, and the fast ones on range(1) threads.
void BM_Time_Step(benchmark::State& state) {
    Bench_State s(int(state.range(0)), 1);
    s.Field_Order();
    for (auto _ : state) {
        Flow_Step(s.n, s.m, s.T_Ref, s.G_Beta, s.Rho, s.U, s.V, s.Tau_F, s.F, s.Feq, s.T);
        Thermal_Step(s.n, s.m, s.Tau_T, s.U, s.V, s.T, s.G, s.T_Hot, s.T_Cold);
        Compute_Residuals(s.n, s.m, s.Res_F, s.Res_T, s.U, s.V, s.T, s.U_Old, s.V_Old, s.T_Old);
    }
    Count(state, s);
}

void BM_Time_Step_Fast(benchmark::State& state) {
    Bench_State s(int(state.range(0)), int(state.range(1)));
    if (int(s.steps.bands.size()) != state.range(1))
        state.SkipWithError("the grid has too few rows for the threads");
    for (auto _ : state) {
        s.Step();
        Residuals(s.steps, s.n, s.m, s.Res_F, s.Res_T, s.U, s.V, s.T, s.U_Old, s.V_Old, s.T_Old,
                  false, s.At_Rest);
    }
    Count(state, s);
}

} // namespace

#define GRIDS ->Arg(64)->Arg(128)->Arg(256)->Arg(512)->Arg(1024)->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_Flow_Step) GRIDS;
BENCHMARK(BM_Thermal_Step) GRIDS;
BENCHMARK(BM_Compute_Residuals) GRIDS;
BENCHMARK(BM_Compute_Residuals_Fast) GRIDS;
BENCHMARK(BM_Time_Step) GRIDS->Arg(40)->Arg(100)->UseRealTime();
BENCHMARK(BM_Time_Step_Fast)
    ->ArgsProduct({{40, 64, 100, 128, 256, 512, 1024}, {1, 2}})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
