// The fast time step against the straightforward one, on one thread and on
// several: every bit of the fields and of F and G (in field order), from
// states far from rest, on grids of every awkward shape, with every set of
// kernels this processor runs.
#include "flow/flow_step.hpp"
#include "results/residuals.hpp"
#include "step/fast_step.hpp"
#include "step/time_step.hpp"
#include "support/fields.hpp"
#include "support/kernel_sets.hpp"
#include "thermal/thermal_step.hpp"

#include <gtest/gtest.h>
#include <random>

namespace {

// A state with every value different: distributions around equilibrium,
// moving fluid, uneven temperature, density the sum of the distributions;
// the side walls at their temperatures.
void Scramble(Run_State& s, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (std::size_t c = 0; c < s.U.size(); ++c) {
        const int i = int(c % (std::size_t(s.n) + 1));
        s.U[c] = 0.05f * d(rng);
        s.V[c] = 0.05f * d(rng);
        s.T[c] = i == 0 ? 1.0f : i == s.n ? 0.0f : 0.5f + 0.5f * d(rng);
        s.U_Old[c] = s.U[c];
        s.V_Old[c] = s.V[c];
        s.T_Old[c] = s.T[c];
        float rho = 0.0f;
        for (int k = 0; k <= 8; ++k) {
            s.F[9 * c + k] = W[k] * (1.0f + 0.1f * d(rng));
            s.Feq[9 * c + k] = W[k] * (1.0f + 0.1f * d(rng));
            s.G[9 * c + k] = W[k] * s.T[c] * (1.0f + 0.1f * d(rng));
            rho += s.F[9 * c + k];
        }
        s.Rho[c] = rho;
    }
    s.T_Hot = 1.0f;
    s.T_Cold = 0.0f;
    s.T_Ref = 0.5f;
    s.G_Beta = 2e-4f;
    s.Tau_F = 0.62f;
    s.Tau_T = 0.71f;
}

// Whole-array comparisons, the distributions read out of the fast storage.
void Expect_Same_State(const Run_State& a, const Run_State& b, const Stepping& s, int step) {
    Field F(a.F.size()), G(a.G.size());
    Copy_Distributions_Out(s, a.n, 0, a.m + 1, b.F, b.G, F.data(), G.data());
    const std::pair<const Field*, const Field*> arrays[] = {
        {&a.U, &b.U}, {&a.V, &b.V},         {&a.F, &F},           {&a.Rho, &b.Rho},    {&a.G, &G},
        {&a.T, &b.T}, {&a.V_Old, &b.V_Old}, {&a.T_Old, &b.T_Old}, {&a.U_Old, &b.U_Old}};
    const char* names[] = {"U", "V", "F", "Rho", "G", "T", "V_Old", "T_Old", "U_Old"};
    for (int k = 0; k < 9; ++k) {
        const Field &x = *arrays[k].first, &y = *arrays[k].second;
        ASSERT_EQ(x.size(), y.size());
        for (std::size_t e = 0; e < x.size(); ++e)
            ASSERT_EQ(Bits(x[e]), Bits(y[e]))
                << names[k] << "[" << e << "] after step " << step << " on " << a.n << " x " << a.m
                << ", " << s.bands.size() << " bands";
    }
}

void Reference_Step(Run_State& r, const Scheme& scheme) {
    Flow_Step(r.n, r.m, r.T_Ref, r.G_Beta, r.Rho, r.U, r.V, r.Tau_F, r.F, r.Feq, r.T);
    if (scheme == Scheme{}) // the original scheme's own procedure
        Thermal_Step(r.n, r.m, r.Tau_T, r.U, r.V, r.T, r.G, r.T_Hot, r.T_Cold);
    else
        Thermal_Step(r.n, r.m, r.Tau_T, r.U, r.V, r.T, r.G, r.T_Hot, r.T_Cold, scheme);
}

void Fast_Time_Step(Stepping& s, Run_State& f) {
    Time_Step(s, f.n, f.m, f.T_Ref, f.G_Beta, f.Rho, f.U, f.V, f.Tau_F, f.F, f.Feq, f.T, f.Tau_T,
              f.G, f.T_Hot, f.T_Cold, f.U_Old, f.V_Old, f.T_Old);
}

void Run_Both(int n, int m, int threads, int steps, unsigned seed, const Scheme& scheme = {}) {
    Run_State ref(n, m);
    Scramble(ref, seed);
    Run_State fast = ref;
    Stepping s;
    Prepare_Stepping(s, Solver::Fast, n, m, threads, fast.F, fast.Feq, fast.G);
    s.scheme = scheme;
    EXPECT_TRUE(fast.F.empty() && fast.Feq.empty() && fast.G.empty());
    for (int step = 1; step <= steps; ++step) {
        Reference_Step(ref, scheme);
        float Norm_Flow = 0;
        Compute_Residuals(n, m, ref.Residual_Flow, ref.Residual_T, ref.U, ref.V, ref.T, ref.U_Old,
                          ref.V_Old, ref.T_Old, Norm_Flow);
        Fast_Time_Step(s, fast);
        const bool exact = step % 3 == 0;
        bool Flow_At_Rest = false;
        Residuals(s, n, m, fast.Residual_Flow, fast.Residual_T, fast.U, fast.V, fast.T, fast.U_Old,
                  fast.V_Old, fast.T_Old, exact, Flow_At_Rest);
        EXPECT_EQ(Flow_At_Rest, Norm_Flow == Norm_Start) << step;
        Expect_Same_State(ref, fast, s, step);
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

TEST(FastStep, SameBitsAsTheStraightforwardStepOnAnyNumberOfThreads) {
    // Shapes with rows that do not divide among the threads, bands of the
    // fewest rows (two), and more threads than a grid has room for.
    const std::pair<int, int> grids[] = {{1, 1},  {1, 7},  {9, 1},  {2, 2},   {3, 3},   {4, 5},
                                         {5, 4},  {8, 8},  {9, 9},  {16, 16}, {17, 12}, {7, 33},
                                         {40, 6}, {2, 11}, {11, 2}, {31, 32}, {64, 3},  {3, 4}};
    // With each set of kernels: their blocks of lanes end on other nodes.
    // In every scheme (the bounce-back walls on one-row grids too, which
    // the program refuses).
    For_Each_Kernel_Set([&] {
        for (const Named_Scheme& scheme : Schemes) {
            unsigned seed = 1;
            for (int threads : {1, 2, 3}) {
                for (auto [n, m] : grids) {
                    Run_Both(n, m, threads, 12, seed++, scheme.scheme);
                    if (HasFatalFailure())
                        return;
                }
            }
        }
    });
}

TEST(FastStep, SameBitsOnAGridLargeEnoughForTheResidualsOnThreads) {
    Run_Both(181, 181, 2, 4, 99);
    Run_Both(181, 181, 2, 4, 99, Schemes[2].scheme);
}

TEST(FastStep, SameBitsOverAConvectionRun) {
    // From the initial state of a real run, far enough for the flow to form,
    // in every scheme.
    for (const Named_Scheme& scheme : Schemes) {
        for (auto [n, m, threads] : {std::tuple{24, 24, 1}, {21, 13, 3}, {33, 20, 2}}) {
            Run_State ref(n, m);
            ref.Initial(1.0f, 0.0f, 0.0f);
            ref.G_Beta = 1e-3f;
            ref.Tau_F = 0.571f;
            ref.Tau_T = 0.6f;
            Run_State fast = ref;
            Stepping s;
            Prepare_Stepping(s, Solver::Fast, n, m, threads, fast.F, fast.Feq, fast.G);
            s.scheme = scheme.scheme;
            for (int step = 1; step <= 400; ++step) {
                Reference_Step(ref, scheme.scheme);
                Fast_Time_Step(s, fast);
            }
            Expect_Same_State(ref, fast, s, 400);
        }
    }
}

TEST(FastStep, StepRedoneOnTheStraightforwardProcedures) {
    // What a fault makes the step do, after as many steps since the saved
    // state as there can be: the state before the step is reached again and
    // the straightforward step runs from it.
    const Scheme bounce_back = Schemes[1].scheme;
    for (auto [n, m, threads, scheme] : {std::tuple{13, 9, 2, Scheme{}},
                                         {6, 1, 1, Scheme{}},
                                         {1, 5, 1, Scheme{}},
                                         {13, 9, 2, bounce_back}}) {
        Run_State ref(n, m);
        Scramble(ref, 77);
        Run_State fast = ref;
        Stepping s;
        Prepare_Stepping(s, Solver::Fast, n, m, threads, fast.F, fast.Feq, fast.G);
        s.scheme = scheme;
        for (int step = 1; step <= Save_Interval + 3; ++step) {
            Reference_Step(ref, scheme);
            if (step % 31 != 0) {
                Fast_Time_Step(s, fast);
                continue;
            }
            const Step_Fields a{fast.T_Ref,  fast.G_Beta, fast.Tau_F, fast.Tau_T, fast.T_Hot,
                                fast.T_Cold, fast.Rho,    fast.U,     fast.V,     fast.T};
            ASSERT_EQ(Fast_Step(s, a), 0);
            Redo_Step(s, a);
            Expect_Same_State(ref, fast, s, step);
        }
        Expect_Same_State(ref, fast, s, Save_Interval + 3);
    }
}

TEST(FastStep, ThreadsThatPay) {
    EXPECT_EQ(Threads_That_Pay(40, 40, 2), 1); // small grids stay on one
    EXPECT_EQ(Threads_That_Pay(1000, 1000, 1), 1);
    EXPECT_EQ(Threads_That_Pay(1000, 1000, 3), 3);
    EXPECT_EQ(Threads_That_Pay(255, 255, 64), 65536 / Min_Nodes_A_Thread);
    // As asked, but never fewer than two rows a thread.
    EXPECT_EQ(Step_Threads(40, 40, 3), 3);
    EXPECT_EQ(Step_Threads(100000, 4, 8), 2);
    EXPECT_EQ(Step_Threads(100000, 1, 8), 1);
}

} // namespace
