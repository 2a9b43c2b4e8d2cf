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

Scheme Bounce_Back(Relaxation thermal = Relaxation::BGK) {
    Scheme s;
    s.insulated_walls = Insulated_Walls::Bounce_Back;
    s.thermal = thermal;
    return s;
}

TEST(ThermalWallsBounceBack, InsulatedRowsSendBackWhatArrivedCornersIncluded) {
    const int n = 4, m = 3;
    Run_State s(n, m);
    s.Initial(1.25f, -0.5f, 0.0f);
    Mark_All(n, m, s.G);
    Stream_Distribution(n, m, s.G);
    Field str = s.G;
    Thermal_Walls(n, m, s.G, s.T_Hot, s.T_Cold, Insulated_Walls::Bounce_Back);
    auto sv = [&](int k, int i, int j) { return str[Dist(n, k, i, j)]; };
    auto side = [](float t, float c, float opposite) { return float(double(t) * c - opposite); };
    const float th = s.T_Hot, tc = s.T_Cold;
    // The side walls first: at each corner the direction into the fluid is
    // bounced back, and the off-lattice one takes its partner's side value.
    for (int i = 0; i <= n; ++i) {
        EXPECT_EQ(s.g(2, i, 0), sv(4, i, 0)) << i;
        EXPECT_EQ(s.g(4, i, m), sv(2, i, m)) << i;
        EXPECT_EQ(s.g(5, i, 0), i == n ? side(tc, One_Eighteenth, sv(5, n, 0)) : sv(7, i, 0));
        EXPECT_EQ(s.g(6, i, 0), i == 0 ? side(th, One_Eighteenth, sv(6, 0, 0)) : sv(8, i, 0));
        EXPECT_EQ(s.g(7, i, m), i == 0 ? side(th, One_Eighteenth, sv(7, 0, m)) : sv(5, i, m));
        EXPECT_EQ(s.g(8, i, m), i == n ? side(tc, One_Eighteenth, sv(8, n, m)) : sv(6, i, m));
        for (int k : {0, 1, 3, 4, 7, 8}) {
            if (i != 0 && i != n) {
                EXPECT_EQ(s.g(k, i, 0), sv(k, i, 0)) << i << " " << k;
            }
        }
    }
    for (int j = 0; j <= m; ++j) {
        EXPECT_EQ(s.g(1, 0, j), side(th, Two_Ninths, sv(3, 0, j)));
        EXPECT_EQ(s.g(3, n, j), side(tc, Two_Ninths, sv(1, n, j)));
        if (j > 0 && j < m) {
            EXPECT_EQ(s.g(5, 0, j), side(th, One_Eighteenth, sv(7, 0, j)));
            EXPECT_EQ(s.g(8, 0, j), side(th, One_Eighteenth, sv(6, 0, j)));
            EXPECT_EQ(s.g(6, n, j), side(tc, One_Eighteenth, sv(8, n, j)));
            EXPECT_EQ(s.g(7, n, j), side(tc, One_Eighteenth, sv(5, n, j)));
        }
    }
}

TEST(ThermalCollisionBounceBack, WallRowsDoNotCollideAndEachNodeKeepsItsSum) {
    for (Relaxation r : {Relaxation::BGK, Relaxation::TRT}) {
        Run_State s(5, 4);
        s.Initial(1.0f, 0.0f, 0.5f);
        Mark_All(s.n, s.m, s.G);
        for (std::size_t c = 0; c < s.U.size(); ++c) {
            s.U[c] = 0.01f * float(c % 7);
            s.V[c] = -0.02f * float(c % 5);
            s.T[c] = 0.3f + 0.05f * float(c % 4);
        }
        Run_State before = s;
        Thermal_Collision(s.n, s.m, 0.62f, s.U, s.V, s.T, s.G, Bounce_Back(r));
        for (int i = 0; i <= s.n; ++i) {
            for (int j = 0; j <= s.m; ++j) {
                double sum = 0, sum_before = 0;
                for (int k = 0; k <= 8; ++k) {
                    sum += s.g(k, i, j);
                    sum_before += before.g(k, i, j);
                    if (i == 0 || i == s.n || j == 0 || j == s.m) {
                        EXPECT_EQ(Bits(s.g(k, i, j)), Bits(before.g(k, i, j)));
                    }
                }
                // Only the rounding of the rest direction, the last one stored.
                const double half_ulp = std::ldexp(1.0, std::ilogb(s.g(0, i, j)) - 24);
                EXPECT_LE(std::fabs(sum - sum_before), half_ulp) << i << "," << j;
            }
        }
    }
}

TEST(ThermalCollisionBounceBack, TwoTimesRelaxTheEvenAndOddPartsOfEachPair) {
    Run_State s(2, 2);
    s.Initial(1.0f, 0.0f, 0.5f);
    Mark_All(s.n, s.m, s.G);
    Run_State before = s;
    const std::size_t c = Node(s.n, 1, 1);
    s.U[c] = 0.04f;
    s.V[c] = 0.01f;
    const float tau = 0.7f, tau_even = Even_Relaxation_Time(tau);
    EXPECT_NEAR((tau_even - 0.5) * (double(tau) - 0.5), TRT_Lambda, 1e-8);
    for (float odd : {0.51f, 0.55f, 0.6f}) // no further from BGK than that
        EXPECT_EQ(Even_Relaxation_Time(odd), odd);
    Thermal_Collision(s.n, s.m, tau, s.U, s.V, s.T, s.G, Bounce_Back(Relaxation::TRT));
    auto geq = [](int k) {
        double e = Ex[k] * 0.04 + Ey[k] * 0.01;
        return (1 + 3 * e + 4.5 * e * e - 1.5 * (0.04 * 0.04 + 0.01 * 0.01)) * 0.5 * W[k];
    };
    for (int k = 1; k <= 8; ++k) {
        const int o = Opposite[k];
        const double g = before.g(k, 1, 1), go = before.g(o, 1, 1);
        const double even = (g + go - geq(k) - geq(o)) / 2, odd = (g - go - geq(k) + geq(o)) / 2;
        const double expected = g - even / tau_even - odd / double(tau);
        EXPECT_NEAR(s.g(k, 1, 1), expected, 2e-7 * std::fabs(expected)) << k;
    }
}

TEST(ThermalTemperatureBounceBack, WallRowsTakeTheTemperatureOfTheRowBeside) {
    Run_State s(4, 3);
    Mark_All(s.n, s.m, s.G);
    s.T.assign(s.T.size(), 9.0f);
    Thermal_Temperature(s.n, s.m, s.G, s.T, Insulated_Walls::Bounce_Back);
    for (int i = 1; i < s.n; ++i) {
        EXPECT_NE(s.t(i, 1), s.t(i, 2));
        EXPECT_EQ(Bits(s.t(i, 0)), Bits(s.t(i, 1)));
        EXPECT_EQ(Bits(s.t(i, s.m)), Bits(s.t(i, s.m - 1)));
    }
    for (int j = 0; j <= s.m; ++j) {
        EXPECT_EQ(s.t(0, j), 9.0f);
        EXPECT_EQ(s.t(s.n, j), 9.0f);
    }
    Run_State one_row(4, 1); // no fluid between the walls: nothing changes
    Mark_All(4, 1, one_row.G);
    one_row.T.assign(one_row.T.size(), 9.0f);
    Thermal_Temperature(4, 1, one_row.G, one_row.T, Insulated_Walls::Bounce_Back);
    for (float t : one_row.T)
        EXPECT_EQ(t, 9.0f);
}

// Steady conduction between the side walls: the heat that enters through
// the hot wall's links leaves through the cold wall's (the collision adds
// none, the insulated walls let none through), and it falls short of the
// exact alpha (m - 1)/(n - 1) by two thirds of sqrt(Lambda) rows, what the
// bounced diagonals lose at the corners: Lambda = (Tau_T - 1/2)^2 for BGK,
// TRT_Lambda for TRT.
TEST(ThermalStepBounceBack, ConductionConservesHeatAndLosesTheCornersShare) {
    for (Relaxation r : {Relaxation::BGK, Relaxation::TRT}) {
        for (float tau : {0.6f, 0.85f}) {
            const int n = 24, m = 24;
            Run_State s(n, m);
            s.Initial(1.0f, 0.0f, 0.5f);
            for (int step = 0; step < 30000; ++step)
                Thermal_Step(n, m, tau, s.U, s.V, s.T, s.G, s.T_Hot, s.T_Cold, Bounce_Back(r));
            double in = 0, out = 0;
            for (int j = 1; j < m; ++j) { // the links between the walls' nodes and the fluid's
                in += double(s.g(1, 0, j)) - s.g(3, 0, j);
                in += double(s.g(5, 0, j - 1)) - s.g(7, 0, j - 1);
                in += double(s.g(8, 0, j + 1)) - s.g(6, 0, j + 1);
                out += double(s.g(1, n, j)) - s.g(3, n, j);
                out += double(s.g(5, n, j + 1)) - s.g(7, n, j + 1);
                out += double(s.g(8, n, j - 1)) - s.g(6, n, j - 1);
            }
            EXPECT_NEAR(out / in, 1.0, 1e-5);
            const double alpha = (double(tau) - 0.5) / 3, exact = alpha * (m - 1) / (n - 1);
            const double lambda = r == Relaxation::TRT ? std::min(TRT_Lambda, alpha * alpha * 9)
                                                       : alpha * alpha * 9;
            EXPECT_NEAR((1 - in / exact) * (m - 1), 2.0 / 3.0 * std::sqrt(lambda),
                        0.15 * 2.0 / 3.0 * std::sqrt(lambda))
                << tau;
        }
    }
}

} // namespace
