#include "lattice/streaming.hpp"
#include "support/fields.hpp"
#include "thermal/thermal_step.hpp"

#include <cmath>
#include <gtest/gtest.h>

namespace {

void Mark_All(int n, int m, Field& G) {
    for (int j = 0; j <= m; ++j)
        for (int i = 0; i <= n; ++i)
            for (int k = 0; k <= 8; ++k)
                G[Dist(n, k, i, j)] = float(0.001 * (1 + k + 10 * i + 1000 * j));
}

TEST(ThermalStep, UniformStateAtRestIsReturnedBitForBit) {
    Run_State s(7, 6);
    s.Initial(1.0f, 1.0f, 1.0f);
    Run_State before = s;
    Thermal_Step(s.n, s.m, s.Tau_T, s.U, s.V, s.T, s.G, s.T_Hot, s.T_Cold);
    EXPECT_TRUE(Same_Bits(s.G, before.G));
    EXPECT_TRUE(Same_Bits(s.T, before.T));
}

TEST(ThermalCollision, BottomAndTopRowsCollideSideWallsDoNot) {
    Run_State s(4, 3);
    s.Initial(1.0f, 0.0f, 0.5f);
    Mark_All(s.n, s.m, s.G);
    Run_State before = s;
    Thermal_Collision(s.n, s.m, 1.0f, s.U, s.V, s.T, s.G);
    for (int j = 0; j <= s.m; ++j) {
        for (int i = 0; i <= s.n; ++i) {
            for (int k = 0; k <= 8; ++k) {
                float now = s.g(k, i, j);
                if (i == 0 || i == s.n) {
                    EXPECT_EQ(Bits(now), Bits(before.g(k, i, j)));
                } else {
                    // Tau_T = 1 with U = V = 0: the equilibrium T W(k).
                    EXPECT_EQ(now, float(double(s.t(i, j)) * W[k])) << i << "," << j << " " << k;
                }
            }
        }
    }
}

TEST(ThermalCollision, RelaxationIsOldPlusDifferenceOverTau) {
    Run_State s(2, 0 + 2);
    s.Initial(1.0f, 0.0f, 0.5f);
    Mark_All(s.n, s.m, s.G);
    Run_State before = s;
    std::size_t c = Node(s.n, 1, 1);
    s.U[c] = 0.04f;
    s.V[c] = 0.01f;
    Thermal_Collision(s.n, s.m, 0.7f, s.U, s.V, s.T, s.G);
    for (int k = 0; k <= 8; ++k) {
        double e = Ex[k] * 0.04 + Ey[k] * 0.01;
        double geq = (1 + 3 * e + 4.5 * e * e - 1.5 * (0.04 * 0.04 + 0.01 * 0.01)) * 0.5 * W[k];
        double old = before.g(k, 1, 1);
        double expected = old + (geq - old) / double(0.7f);
        EXPECT_NEAR(s.g(k, 1, 1), expected, 2e-7 * std::fabs(expected)) << k;
    }
}

TEST(ThermalWalls, CornersEndAsTheOrderOfTheTableDecides) {
    const int n = 4, m = 3;
    Run_State s(n, m);
    s.Initial(1.25f, -0.5f, 0.0f);
    Mark_All(n, m, s.G);
    Stream_Distribution(n, m, s.G);
    Field str = s.G; // s_k: the values after streaming
    Thermal_Walls(n, m, s.G, s.T_Hot, s.T_Cold);
    auto sv = [&](int k, int i, int j) { return str[Dist(n, k, i, j)]; };
    auto side = [](float t, float c, float opposite) { return float(double(t) * c - opposite); };
    const float th = s.T_Hot, tc = s.T_Cold;
    // (0, 0)
    EXPECT_EQ(s.g(1, 0, 0), side(th, Two_Ninths, sv(3, 0, 0)));
    EXPECT_EQ(s.g(8, 0, 0), side(th, One_Eighteenth, sv(6, 0, 0)));
    EXPECT_EQ(s.g(2, 0, 0), sv(2, 0, 1));
    EXPECT_EQ(s.g(6, 0, 0), sv(6, 0, 1));
    EXPECT_EQ(s.g(5, 0, 0),
              side(th, One_Eighteenth, sv(7, 0, 1))); // G5 of (0, 1) after the hot wall
    // (0, m)
    EXPECT_EQ(s.g(1, 0, m), side(th, Two_Ninths, sv(3, 0, m)));
    EXPECT_EQ(s.g(5, 0, m), side(th, One_Eighteenth, sv(7, 0, m)));
    EXPECT_EQ(s.g(7, 0, m), sv(7, 0, m - 1));
    EXPECT_EQ(s.g(4, 0, m), sv(4, 0, m - 1));
    EXPECT_EQ(s.g(8, 0, m), side(th, One_Eighteenth, sv(6, 0, m - 1)));
    // (n, 0)
    EXPECT_EQ(s.g(3, n, 0), side(tc, Two_Ninths, sv(1, n, 0)));
    EXPECT_EQ(s.g(7, n, 0), side(tc, One_Eighteenth, sv(5, n, 0)));
    EXPECT_EQ(s.g(2, n, 0), sv(2, n, 1));
    EXPECT_EQ(s.g(5, n, 0), sv(5, n, 1));
    EXPECT_EQ(s.g(6, n, 0), side(tc, One_Eighteenth, sv(8, n, 1)));
    // (n, m)
    EXPECT_EQ(s.g(3, n, m), side(tc, Two_Ninths, sv(1, n, m)));
    EXPECT_EQ(s.g(6, n, m), side(tc, One_Eighteenth, sv(8, n, m)));
    EXPECT_EQ(s.g(4, n, m), sv(4, n, m - 1));
    EXPECT_EQ(s.g(8, n, m), sv(8, n, m - 1));
    EXPECT_EQ(s.g(7, n, m), side(tc, One_Eighteenth, sv(5, n, m - 1)));
    // Directions not listed keep their streamed values.
    for (auto [i, j, keep] :
         {std::tuple{0, 0, std::vector{0, 3, 4, 7}}, std::tuple{0, m, std::vector{0, 2, 3, 6}},
          std::tuple{n, 0, std::vector{0, 1, 4, 8}}, std::tuple{n, m, std::vector{0, 1, 2, 5}}})
        for (int k : keep)
            EXPECT_EQ(s.g(k, i, j), sv(k, i, j)) << i << "," << j << " " << k;
}

TEST(ThermalWalls, SingleRowCavityCopiesTopBeforeBottom) {
    const int n = 3, m = 1;
    Run_State s(n, m);
    s.Initial(1.0f, 0.0f, 0.0f);
    Mark_All(n, m, s.G);
    Stream_Distribution(n, m, s.G);
    Field str = s.G;
    Thermal_Walls(n, m, s.G, s.T_Hot, s.T_Cold);
    auto sv = [&](int k, int i, int j) { return str[Dist(n, k, i, j)]; };
    auto side = [](float t, float c, float opposite) { return float(double(t) * c - opposite); };
    // Top row 1 copies 7, 4, 8 from row 0 (side-wall values included), then
    // bottom row 0 copies 2, 6, 5 from row 1.
    EXPECT_EQ(s.g(8, 0, 1), side(1.0f, One_Eighteenth, sv(6, 0, 0)));
    EXPECT_EQ(s.g(7, n, 1), side(0.0f, One_Eighteenth, sv(5, n, 0)));
    EXPECT_EQ(s.g(5, 0, 0), side(1.0f, One_Eighteenth, sv(7, 0, 1)));
    EXPECT_EQ(s.g(6, n, 0), side(0.0f, One_Eighteenth, sv(8, n, 1)));
    for (int i = 1; i < n; ++i) {
        EXPECT_EQ(s.g(4, i, 1), sv(4, i, 0));
        EXPECT_EQ(s.g(2, i, 0), sv(2, i, 1));
    }
}

TEST(ThermalStep, WallRulesHoldAfterManySteps) {
    Run_State s(8, 6);
    s.Initial(1.0f, 0.0f, 0.3f);
    Run_State start = s;
    for (int j = 1; j < s.m; ++j) // a moving fluid
        for (int i = 1; i < s.n; ++i) {
            s.U[Node(s.n, i, j)] = 0.02f * float(j - 3);
            s.V[Node(s.n, i, j)] = -0.015f * float(i - 4);
        }
    for (int step = 0; step < 200; ++step)
        Thermal_Step(s.n, s.m, 0.9f, s.U, s.V, s.T, s.G, s.T_Hot, s.T_Cold);
    const int n = s.n, m = s.m;
    for (int j = 0; j <= m; ++j) {
        EXPECT_EQ(s.t(0, j), 1.0f);
        EXPECT_EQ(s.t(n, j), 0.0f);
        for (int k : {0, 2, 4}) {
            EXPECT_EQ(Bits(s.g(k, 0, j)), Bits(start.g(k, 0, j)));
            EXPECT_EQ(Bits(s.g(k, n, j)), Bits(start.g(k, n, j)));
        }
        EXPECT_NEAR(double(s.g(1, 0, j)) + s.g(3, 0, j), 2.0 / 9.0, 3e-8);
        EXPECT_NEAR(double(s.g(3, n, j)) + s.g(1, n, j), 0.0, 3e-8);
        if (j > 0 && j < m) {
            EXPECT_NEAR(double(s.g(5, 0, j)) + s.g(7, 0, j), 1.0 / 18.0, 1e-8);
            EXPECT_NEAR(double(s.g(8, 0, j)) + s.g(6, 0, j), 1.0 / 18.0, 1e-8);
            EXPECT_NEAR(double(s.g(6, n, j)) + s.g(8, n, j), 0.0, 1e-8);
            EXPECT_NEAR(double(s.g(7, n, j)) + s.g(5, n, j), 0.0, 1e-8);
        }
    }
    for (int i = 0; i <= n; ++i) {
        for (int k : {7, 4, 8})
            EXPECT_EQ(Bits(s.g(k, i, m)), Bits(s.g(k, i, m - 1)));
        for (int k : {2, 6, 5})
            EXPECT_EQ(Bits(s.g(k, i, 0)), Bits(s.g(k, i, 1)));
    }
}

TEST(ThermalStep, SingleColumnCavityNeverChangesTheTemperature) {
    Run_State s(1, 4);
    s.Initial(1.0f, 0.0f, 0.5f);
    Mark_All(s.n, s.m, s.G);
    Run_State before = s;
    Thermal_Step(s.n, s.m, s.Tau_T, s.U, s.V, s.T, s.G, s.T_Hot, s.T_Cold);
    EXPECT_TRUE(Same_Bits(s.T, before.T));
    Field expected = before.G;
    Stream_Distribution(s.n, s.m, expected);
    Thermal_Walls(s.n, s.m, expected, s.T_Hot, s.T_Cold);
    EXPECT_TRUE(Same_Bits(s.G, expected));
}

TEST(ThermalTemperature, SumsInDirectionOrderOnTheInnerColumnsOnly) {
    Run_State s(3, 2);
    s.T.assign(s.T.size(), 9.0f);
    float g[9] = {0.5f, 1e-8f, 2e-8f, 0.25f, 3e-8f, 1e-8f, 0.125f, 2e-8f, 4e-8f};
    for (int i = 0; i <= s.n; ++i)
        for (int j = 0; j <= s.m; ++j)
            for (int k = 0; k <= 8; ++k)
                s.g(k, i, j) = g[k];
    Thermal_Temperature(s.n, s.m, s.G, s.T);
    float sum = 0;
    for (float v : g)
        sum += v;
    for (int j = 0; j <= s.m; ++j) {
        EXPECT_EQ(s.t(0, j), 9.0f);
        EXPECT_EQ(s.t(s.n, j), 9.0f);
        for (int i = 1; i < s.n; ++i)
            EXPECT_EQ(Bits(s.t(i, j)), Bits(sum));
    }
}

} // namespace
