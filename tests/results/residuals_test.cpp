#include "results/residuals.hpp"
#include "support/fields.hpp"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace {

void Fill_Random(Run_State& s, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-0.1f, 0.1f);
    for (std::size_t c = 0; c < s.U.size(); ++c) {
        s.U[c] = d(rng);
        s.V[c] = d(rng);
        s.T[c] = 0.5f + d(rng);
    }
}

float Flow(Run_State& s) {
    Compute_Residuals(s.n, s.m, s.Residual_Flow, s.Residual_T, s.U, s.V, s.T, s.U_Old, s.V_Old,
                      s.T_Old);
    return s.Residual_Flow;
}

TEST(Residuals, UnchangedFieldsGiveZero) {
    Run_State s(6, 5);
    Fill_Random(s, 1);
    Flow(s);
    EXPECT_GT(s.Residual_Flow, 0.0f);
    EXPECT_EQ(Flow(s), 0.0f);
    EXPECT_EQ(s.Residual_T, 0.0f);
}

TEST(Residuals, DoubledFieldsGiveOneHalf) {
    Run_State s(7, 4);
    Fill_Random(s, 2);
    Flow(s);
    for (std::size_t c = 0; c < s.U.size(); ++c) {
        s.U[c] *= 2;
        s.V[c] *= 2;
        s.T[c] *= 2;
    }
    EXPECT_NEAR(Flow(s), 0.5f, 1e-6f);
    EXPECT_NEAR(s.Residual_T, 0.5f, 1e-6f);
}

TEST(Residuals, ZeroFieldsGiveZeroNotZeroOverZero) {
    Run_State s(3, 3);
    EXPECT_EQ(Flow(s), 0.0f);
    EXPECT_EQ(s.Residual_T, 0.0f);
}

TEST(Residuals, FlowNormStaysAtItsStartOnlyForAFluidAtRest) {
    Run_State s(4, 3);
    auto norm = [&] {
        float Norm_Flow = 0.0f;
        Compute_Residuals(s.n, s.m, s.Residual_Flow, s.Residual_T, s.U, s.V, s.T, s.U_Old, s.V_Old,
                          s.T_Old, Norm_Flow);
        return Norm_Flow;
    };
    EXPECT_EQ(norm(), Norm_Start);
    EXPECT_EQ(s.Residual_Flow, 0.0f); // 0 over nothing
    // Squares below half a unit in the last place of 1e-30 do not count.
    std::fill(s.V.begin(), s.V.end(), 1e-20f);
    EXPECT_EQ(norm(), Norm_Start);
    s.U[7] = 1e-18f;
    EXPECT_GT(norm(), Norm_Start);
}

TEST(Residuals, OldCopiesAreRefreshedEverywhere) {
    Run_State s(5, 6);
    Fill_Random(s, 3);
    Flow(s);
    EXPECT_TRUE(Same_Bits(s.U_Old, s.U));
    EXPECT_TRUE(Same_Bits(s.V_Old, s.V));
    EXPECT_TRUE(Same_Bits(s.T_Old, s.T));
}

TEST(Residuals, SameInputsGiveTheSameResidualsWhateverCameBefore) {
    Run_State a(6, 6), b(6, 6);
    Fill_Random(a, 4);
    Fill_Random(b, 5);
    Flow(b); // b has a history
    Fill_Random(a, 6);
    a.U_Old = a.U;
    Fill_Random(b, 6);
    b.U_Old = b.U;
    b.V_Old = a.V_Old;
    b.T_Old = a.T_Old;
    Flow(a);
    Flow(b);
    EXPECT_EQ(Bits(a.Residual_Flow), Bits(b.Residual_Flow));
    EXPECT_EQ(Bits(a.Residual_T), Bits(b.Residual_T));
}

TEST(Residuals, SumsRunIOuterJInnerInSinglePrecision) {
    // Many small changes down column 0 and one large change at (1, 0): in
    // single precision the small ones survive only if they are summed first.
    Run_State s(1, 2000);
    s.T.assign(s.T.size(), 1.0f);
    s.T_Old = s.T;
    for (int j = 0; j <= s.m; ++j)
        s.T[Node(s.n, 0, j)] = 1.0001f;
    s.T[Node(s.n, 1, 0)] = 2.0f;
    auto residual = [&](bool i_outer) {
        float num = 0.0f, den = 1e-30f;
        for (int a = 0; a <= (i_outer ? s.n : s.m); ++a)
            for (int b = 0; b <= (i_outer ? s.m : s.n); ++b) {
                std::size_t c = i_outer ? Node(s.n, a, b) : Node(s.n, b, a);
                double t = s.T[c], d = t - s.T_Old[c];
                num = float(num + d * d);
                den = float(den + t * t);
            }
        return float(std::sqrt(double(num)) / std::sqrt(double(den)));
    };
    float expected = residual(true);
    ASSERT_NE(expected, residual(false));
    Flow(s);
    EXPECT_EQ(Bits(s.Residual_T), Bits(expected));
}

} // namespace
