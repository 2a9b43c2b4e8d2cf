// The fast time step against the straightforward one: every bit of all ten
// arrays, from states far from rest, on grids of every awkward shape.
#include "flow/flow_step.hpp"
#include "flow/flow_step_fast.hpp"
#include "results/residuals.hpp"
#include "results/residuals_fast.hpp"
#include "support/fields.hpp"
#include "thermal/thermal_step.hpp"
#include "thermal/thermal_step_fast.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace {

// A state with every value different: distributions around equilibrium,
// moving fluid, uneven temperature, density off one.
void Scramble(Run_State& s, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (std::size_t c = 0; c < s.U.size(); ++c) {
        s.U[c] = 0.05f * d(rng);
        s.V[c] = 0.05f * d(rng);
        s.Rho[c] = 1.0f + 0.02f * d(rng);
        s.T[c] = 0.5f + 0.5f * d(rng);
        s.U_Old[c] = s.U[c] + 1e-4f * d(rng);
        s.V_Old[c] = s.V[c] + 1e-4f * d(rng);
        s.T_Old[c] = s.T[c] + 1e-4f * d(rng);
        for (int k = 0; k <= 8; ++k) {
            s.F[9 * c + k] = W[k] * (1.0f + 0.1f * d(rng));
            s.Feq[9 * c + k] = W[k] * (1.0f + 0.1f * d(rng));
            s.G[9 * c + k] = W[k] * s.T[c] * (1.0f + 0.1f * d(rng));
        }
    }
    s.T_Hot = 1.0f;
    s.T_Cold = 0.0f;
    s.T_Ref = 0.5f;
    s.G_Beta = 2e-4f;
    s.Tau_F = 0.62f;
    s.Tau_T = 0.71f;
}

void Expect_Same_State(const Run_State& a, const Run_State& b, int step) {
    const std::pair<const Field*, const Field*> arrays[] = {
        {&a.U, &b.U},         {&a.V, &b.V},        {&a.F, &b.F}, {&a.Feq, &b.Feq},
        {&a.Rho, &b.Rho},     {&a.G, &b.G},        {&a.T, &b.T}, {&a.V_Old, &b.V_Old},
        {&a.T_Old, &b.T_Old}, {&a.U_Old, &b.U_Old}};
    const char* names[] = {"U", "V", "F", "Feq", "Rho", "G", "T", "V_Old", "T_Old", "U_Old"};
    for (int k = 0; k < 10; ++k) {
        const Field &x = *arrays[k].first, &y = *arrays[k].second;
        ASSERT_EQ(x.size(), y.size());
        for (std::size_t e = 0; e < x.size(); ++e)
            ASSERT_EQ(Bits(x[e]), Bits(y[e]))
                << names[k] << "[" << e << "] after step " << step << " on " << a.n << " x " << a.m;
    }
}

void Run_Both(int n, int m, int steps, unsigned seed) {
    Run_State ref(n, m);
    Scramble(ref, seed);
    Run_State fast = ref;
    Fast_Workspace work;
    for (int step = 1; step <= steps; ++step) {
        Flow_Step(n, m, ref.T_Ref, ref.G_Beta, ref.Rho, ref.U, ref.V, ref.Tau_F, ref.F, ref.Feq,
                  ref.T);
        Thermal_Step(n, m, ref.Tau_T, ref.U, ref.V, ref.T, ref.G, ref.T_Hot, ref.T_Cold);
        Compute_Residuals(n, m, ref.Residual_Flow, ref.Residual_T, ref.U, ref.V, ref.T, ref.U_Old,
                          ref.V_Old, ref.T_Old);
        Flow_Step_Fast(n, m, fast.T_Ref, fast.G_Beta, fast.Rho, fast.U, fast.V, fast.Tau_F, fast.F,
                       fast.Feq, fast.T, work);
        Thermal_Step_Fast(n, m, fast.Tau_T, fast.U, fast.V, fast.T, fast.G, fast.T_Hot, fast.T_Cold,
                          work);
        bool exact = step % 3 == 0;
        Compute_Residuals_Fast(n, m, fast.Residual_Flow, fast.Residual_T, fast.U, fast.V, fast.T,
                               fast.U_Old, fast.V_Old, fast.T_Old, exact);
        Expect_Same_State(ref, fast, step);
        if (testing::Test::HasFatalFailure())
            return;
        if (exact) {
            EXPECT_EQ(Bits(ref.Residual_Flow), Bits(fast.Residual_Flow)) << step;
            EXPECT_EQ(Bits(ref.Residual_T), Bits(fast.Residual_T)) << step;
        }
        // Either way the stop decision is the same.
        EXPECT_EQ(ref.Residual_T < Stop_Threshold || ref.Residual_Flow < Stop_Threshold,
                  fast.Residual_T < Stop_Threshold || fast.Residual_Flow < Stop_Threshold);
    }
}

TEST(FastStep, SameBitsAsTheStraightforwardStep) {
    const std::pair<int, int> grids[] = {{1, 1},  {1, 7},  {9, 1},  {2, 2},   {3, 3},   {4, 5},
                                         {5, 4},  {8, 8},  {9, 9},  {16, 16}, {17, 12}, {7, 33},
                                         {40, 6}, {2, 11}, {11, 2}, {31, 32}, {64, 3}};
    unsigned seed = 1;
    for (auto [n, m] : grids) {
        Run_Both(n, m, 25, seed++);
        if (HasFatalFailure())
            return;
    }
}

TEST(FastStep, SameBitsOverAConvectionRun) {
    // From the initial state of a real run, far enough for the flow to form.
    for (auto [n, m] : {std::pair{24, 24}, {21, 13}}) {
        Run_State ref(n, m);
        ref.Initial(1.0f, 0.0f, 0.0f);
        ref.G_Beta = 1e-3f;
        ref.Tau_F = 0.571f;
        ref.Tau_T = 0.6f;
        Run_State fast = ref;
        Fast_Workspace work;
        for (int step = 1; step <= 400; ++step) {
            Flow_Step(n, m, ref.T_Ref, ref.G_Beta, ref.Rho, ref.U, ref.V, ref.Tau_F, ref.F, ref.Feq,
                      ref.T);
            Thermal_Step(n, m, ref.Tau_T, ref.U, ref.V, ref.T, ref.G, ref.T_Hot, ref.T_Cold);
            Flow_Step_Fast(n, m, fast.T_Ref, fast.G_Beta, fast.Rho, fast.U, fast.V, fast.Tau_F,
                           fast.F, fast.Feq, fast.T, work);
            Thermal_Step_Fast(n, m, fast.Tau_T, fast.U, fast.V, fast.T, fast.G, fast.T_Hot,
                              fast.T_Cold, work);
        }
        Expect_Same_State(ref, fast, 400);
    }
}

} // namespace
