// The residuals that skip the exact single-precision chain where a bound
// shows it cannot decide the stop: the same stop as the exact chain.
#include "results/residuals.hpp"
#include "results/residuals_fast.hpp"
#include "support/fields.hpp"
#include "support/kernel_sets.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace {

TEST(FastResiduals, FlowNormAsTheExactChainWhereItCouldStop) {
    for (bool exact : {false, true}) {
        Run_State s(9, 7), ref(9, 7);
        float fast_norm = 0.0f, ref_norm = 0.0f;
        // At rest: a flow residual of 0, which only the norm unmasks.
        Compute_Residuals_Fast(s.n, s.m, s.Residual_Flow, s.Residual_T, s.U, s.V, s.T, s.U_Old,
                               s.V_Old, s.T_Old, exact, fast_norm);
        EXPECT_EQ(fast_norm, Norm_Start);
        // Moving: the exact chain's norm whenever it is run.
        for (std::size_t c = 0; c < s.U.size(); ++c)
            s.U[c] = ref.U[c] = 1e-3f * float(c % 5);
        Compute_Residuals_Fast(s.n, s.m, s.Residual_Flow, s.Residual_T, s.U, s.V, s.T, s.U_Old,
                               s.V_Old, s.T_Old, exact, fast_norm);
        Compute_Residuals(ref.n, ref.m, ref.Residual_Flow, ref.Residual_T, ref.U, ref.V, ref.T,
                          ref.U_Old, ref.V_Old, ref.T_Old, ref_norm);
        EXPECT_GT(fast_norm, Norm_Start);
        if (exact) {
            EXPECT_EQ(fast_norm, ref_norm);
        }
    }
}

TEST(FastResiduals, BoundNeverLetsAStopThrough) {
    // Fields whose residual sits just above or below the threshold: when the
    // bound says no stop is possible, the exact chain must agree, whatever
    // the lanes of the sums.
    For_Each_Kernel_Set([] {
        std::mt19937 rng(99);
        std::uniform_real_distribution<float> d(1.0f, 1.1f);
        int decided = 0, checked = 0;
        for (int trial = 0; trial < 400; ++trial) {
            const int n = 8 + trial % 37, m = 5 + trial % 23;
            Run_State s(n, m);
            // One unit in the last place at a share of the nodes: the residual
            // then sweeps across the threshold from trial to trial.
            const float share = 0.3f + 0.7f * float(trial) / 400.0f;
            for (std::size_t c = 0; c < s.T.size(); ++c) {
                s.T[c] = d(rng);
                s.T_Old[c] = std::uniform_real_distribution<float>(0, 1)(rng) < share
                                 ? std::nextafter(s.T[c], 2.0f)
                                 : s.T[c];
                s.U[c] = 0.01f * d(rng);
                s.U_Old[c] = s.U[c] * 1.01f; // the flow residual stays far from it
            }
            Run_State exact = s;
            Compute_Residuals(n, m, exact.Residual_Flow, exact.Residual_T, exact.U, exact.V,
                              exact.T, exact.U_Old, exact.V_Old, exact.T_Old);
            Compute_Residuals_Fast(n, m, s.Residual_Flow, s.Residual_T, s.U, s.V, s.T, s.U_Old,
                                   s.V_Old, s.T_Old, false);
            ++checked;
            bool exact_stop =
                exact.Residual_T < Stop_Threshold || exact.Residual_Flow < Stop_Threshold;
            bool fast_stop = s.Residual_T < Stop_Threshold || s.Residual_Flow < Stop_Threshold;
            EXPECT_EQ(exact_stop, fast_stop) << trial;
            decided += Bits(s.Residual_T) != Bits(exact.Residual_T);
            EXPECT_TRUE(Same_Bits(s.T_Old, s.T));
        }
        EXPECT_GT(decided, 0) << "the bound never skipped the exact chain";
        EXPECT_EQ(checked, 400);
    });
}

TEST(FastResiduals, SumsNearTheFloatLimitGoToTheExactChain) {
    const Residual_Sums small{1e-10, 1.0, 1e-10, 1.0};
    EXPECT_FALSE(Could_Overflow(small));
    const Residual_Sums big_flow{1e38, 3e38, 1e-10, 1.0};
    EXPECT_TRUE(Could_Overflow(big_flow));
    const Residual_Sums big_t{1e-10, 1.0, 1e-10, 2e38};
    EXPECT_TRUE(Could_Overflow(big_t));
}

} // namespace
