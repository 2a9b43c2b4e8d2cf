#include "flow/flow_step.hpp"
#include "lattice/streaming.hpp"
#include "support/fields.hpp"

#include <cmath>
#include <gtest/gtest.h>

namespace {

// Distinct values for every entry, so that a misplaced copy shows.
void Mark_All(int n, int m, Field& F) {
    for (int j = 0; j <= m; ++j)
        for (int i = 0; i <= n; ++i)
            for (int k = 0; k <= 8; ++k)
                F[Dist(n, k, i, j)] = float(1 + k + 10 * i + 1000 * j);
}

TEST(FlowStep, RestStateInThermalBalanceIsReturnedBitForBit) {
    Run_State s(9, 7);
    s.Initial(1.0f, 0.0f, 0.5f); // interior at T_Ref
    s.G_Beta = 3.7e-5f;
    Run_State before = s;
    Flow_Step(s.n, s.m, s.T_Ref, s.G_Beta, s.Rho, s.U, s.V, s.Tau_F, s.F, s.Feq, s.T);
    EXPECT_TRUE(Same_Bits(s.F, before.F));
    EXPECT_TRUE(Same_Bits(s.Feq, before.Feq));
    EXPECT_TRUE(Same_Bits(s.Rho, before.Rho));
    EXPECT_TRUE(Same_Bits(s.U, before.U));
    EXPECT_TRUE(Same_Bits(s.V, before.V));
}

TEST(FlowCollision, BuoyancyChangesOnlyTheVerticalDirections) {
    Run_State s(5, 5);
    s.Initial(1.0f, 0.0f, 0.8f); // interior 0.3 above T_Ref
    s.G_Beta = 1e-3f;
    Run_State before = s;
    Flow_Collision(s.n, s.m, s.T_Ref, s.G_Beta, s.Rho, s.U, s.V, s.Tau_F, s.F, s.Feq, s.T);
    const double push = 3.0 * double(s.G_Beta) * (0.8 - 0.5);
    for (int i = 0; i <= s.n; ++i) {
        for (int j = 0; j <= s.m; ++j) {
            bool interior = i > 0 && i < s.n && j > 0 && j < s.m;
            double momentum = 0, mass = 0;
            for (int k = 0; k <= 8; ++k) {
                float was = before.f(k, i, j), now = s.f(k, i, j);
                if (!interior || Ey[k] == 0.0f) {
                    EXPECT_EQ(Bits(now), Bits(was)) << k << " " << i << " " << j;
                    continue;
                }
                double expected = double(W[k]) + Ey[k] * W[k] * push;
                EXPECT_NEAR(now, expected, 1e-7 * expected) << k;
                EXPECT_EQ(now > was, Ey[k] > 0) << k;
                momentum += Ey[k] * (double(now) - was);
                mass += double(now) - was;
            }
            if (interior) {
                EXPECT_NEAR(momentum, double(s.G_Beta) * (double(0.8f) - 0.5),
                            3e-8); // float rounding of F
                EXPECT_NEAR(mass, 0.0, 3e-8);
            }
        }
    }
}

TEST(FlowCollision, EquilibriumAtRestIsTheWeightsAndWallsKeepTheirs) {
    Run_State s(4, 4);
    s.Initial(1.0f, 0.0f, 0.5f);
    Mark_All(s.n, s.m, s.Feq);
    Run_State before = s;
    Flow_Collision(s.n, s.m, s.T_Ref, s.G_Beta, s.Rho, s.U, s.V, s.Tau_F, s.F, s.Feq, s.T);
    for (int i = 0; i <= s.n; ++i)
        for (int j = 0; j <= s.m; ++j)
            for (int k = 0; k <= 8; ++k) {
                bool interior = i > 0 && i < s.n && j > 0 && j < s.m;
                float expected = interior ? W[k] : before.Feq[Dist(s.n, k, i, j)];
                EXPECT_EQ(Bits(s.Feq[Dist(s.n, k, i, j)]), Bits(expected));
            }
}

TEST(FlowCollision, UnitRelaxationTimeGivesTheEquilibriumPlusTheForce) {
    Run_State s(3, 3);
    s.Initial(1.0f, 0.0f, 0.5f);
    std::size_t c = Node(s.n, 1, 1);
    s.U[c] = 0.05f;
    s.V[c] = -0.03f;
    s.Rho[c] = 1.01f;
    s.T[c] = 0.6f;
    s.G_Beta = 2e-3f;
    Flow_Collision(s.n, s.m, s.T_Ref, s.G_Beta, s.Rho, s.U, s.V, 1.0f, s.F, s.Feq, s.T);
    for (int k = 0; k <= 8; ++k) {
        double e = Ex[k] * 0.05 + Ey[k] * -0.03;
        double feq = (1 + 3 * e + 4.5 * e * e - 1.5 * (0.05 * 0.05 + 0.03 * 0.03)) * 1.01 * W[k];
        double force = 3.0 * W[k] * Ey[k] * 2e-3 * 1.01 * (0.6 - 0.5);
        EXPECT_NEAR(s.f(k, 1, 1), feq + force, 2e-7) << k;
    }
}

TEST(Streaming, UniformFieldIsUnchanged) {
    Run_State s(6, 5);
    s.Initial(1.0f, 0.0f, 0.0f);
    Run_State before = s;
    Stream_Distribution(s.n, s.m, s.F);
    Flow_Walls(s.n, s.m, s.F);
    EXPECT_TRUE(Same_Bits(s.F, before.F));
}

// Values after the wall stage at a corner, from the values s after streaming.
struct Corner_Case {
    int i, j;
    std::vector<std::pair<int, int>> set; // direction <- direction of s
};

TEST(FlowWalls, CornersEndAsTheOrderOfTheWallsDecides) {
    const int n = 5, m = 4;
    Field F(9 * Node_Count(n, m));
    Mark_All(n, m, F);
    Field s = F;
    Flow_Walls(n, m, F);
    const Corner_Case corners[] = {
        {0, 0, {{1, 3}, {2, 4}, {5, 7}, {6, 8}, {8, 8}}},
        {n, 0, {{2, 4}, {3, 1}, {5, 7}, {6, 8}, {7, 7}}},
        {n, m, {{3, 1}, {4, 2}, {6, 6}, {7, 5}, {8, 6}}},
        {0, m, {{1, 3}, {4, 2}, {5, 5}, {7, 5}, {8, 6}}},
    };
    for (const Corner_Case& c : corners) {
        for (int k = 0; k <= 8; ++k) {
            int from = k;
            for (auto [to, src] : c.set)
                if (to == k)
                    from = src;
            EXPECT_EQ(F[Dist(n, k, c.i, c.j)], s[Dist(n, from, c.i, c.j)])
                << "corner " << c.i << "," << c.j << " direction " << k;
        }
    }
}

TEST(FlowWalls, WallNodesReflectTheThreeDirectionsIntoTheCavity) {
    const int n = 5, m = 4;
    Field F(9 * Node_Count(n, m));
    Mark_All(n, m, F);
    Field s = F;
    Flow_Walls(n, m, F);
    auto expect_node = [&](int i, int j, std::vector<std::pair<int, int>> set) {
        for (int k = 0; k <= 8; ++k) {
            int from = k;
            for (auto [to, src] : set)
                if (to == k)
                    from = src;
            EXPECT_EQ(F[Dist(n, k, i, j)], s[Dist(n, from, i, j)]) << i << "," << j << " " << k;
        }
    };
    for (int i = 1; i < n; ++i) {
        expect_node(i, 0, {{2, 4}, {5, 7}, {6, 8}});
        expect_node(i, m, {{7, 5}, {4, 2}, {8, 6}});
    }
    for (int j = 1; j < m; ++j) {
        expect_node(n, j, {{3, 1}, {7, 5}, {6, 8}});
        expect_node(0, j, {{1, 3}, {5, 7}, {8, 6}});
    }
    for (int i = 1; i < n; ++i)
        for (int j = 1; j < m; ++j)
            expect_node(i, j, {});
}

TEST(FlowWalls, ValueArrivingAtTheBottomIsSentBackUp) {
    const int n = 4, m = 3;
    for (int i = 0; i <= n; ++i) {
        Field F(9 * Node_Count(n, m), 0.0f);
        F[Dist(n, 4, i, 1)] = 1.0f;
        Stream_Distribution(n, m, F);
        Flow_Walls(n, m, F);
        EXPECT_EQ(F[Dist(n, 4, i, 0)], 1.0f);
        EXPECT_EQ(F[Dist(n, 2, i, 0)], 1.0f) << i;
    }
}

TEST(FlowWalls, ValueReachingTheColdWallComesBackNextStep) {
    const int n = 4, m = 3, j = 1;
    Field F(9 * Node_Count(n, m), 0.0f);
    F[Dist(n, 1, n - 1, j)] = 1.0f;
    Stream_Distribution(n, m, F);
    Flow_Walls(n, m, F);
    EXPECT_EQ(F[Dist(n, 1, n, j)], 1.0f);
    EXPECT_EQ(F[Dist(n, 3, n, j)], 1.0f);
    Stream_Distribution(n, m, F);
    EXPECT_EQ(F[Dist(n, 3, n - 1, j)], 1.0f);
}

TEST(FlowMacroscopic, WeightsGiveUnitDensityAndRest) {
    Run_State s(3, 3);
    s.Initial(1.0f, 0.0f, 0.0f);
    s.Rho.assign(s.Rho.size(), 7.0f);
    s.U.assign(s.U.size(), 7.0f);
    Flow_Macroscopic(s.n, s.m, s.F, s.Rho, s.U, s.V);
    for (int i = 0; i <= s.n; ++i)
        for (int j = 0; j <= s.m; ++j) {
            bool interior = i > 0 && i < s.n && j > 0 && j < s.m;
            std::size_t c = Node(s.n, i, j);
            EXPECT_EQ(s.Rho[c], interior ? 1.0f : 7.0f);
            EXPECT_EQ(s.U[c], interior ? 0.0f : 7.0f);
            EXPECT_EQ(s.V[c], 0.0f);
        }
}

TEST(FlowMacroscopic, EquilibriumGivesBackItsMoments) {
    Run_State s(2, 2);
    s.Initial(1.0f, 0.0f, 0.5f);
    std::size_t c = Node(s.n, 1, 1);
    s.Rho[c] = 1.02f;
    s.U[c] = 0.03f;
    s.V[c] = -0.02f;
    Flow_Collision(s.n, s.m, s.T_Ref, 0.0f, s.Rho, s.U, s.V, 1.0f, s.F, s.Feq, s.T);
    s.F = s.Feq;
    Flow_Macroscopic(s.n, s.m, s.F, s.Rho, s.U, s.V);
    EXPECT_NEAR(s.Rho[c], 1.02f, 2e-7);
    EXPECT_NEAR(s.U[c], 0.03f, 2e-7);
    EXPECT_NEAR(s.V[c], -0.02f, 2e-7);
}

TEST(FlowMacroscopic, MomentsUseSinglePrecisionRunningSumsInDirectionOrder) {
    Run_State s(2, 2);
    std::size_t c = Node(s.n, 1, 1);
    // Terms chosen so that a sum in double, or in another order, differs.
    float f[9] = {1.0f, 1e-8f, 3e-8f, 0.5f, 1e-8f, 2e-8f, 1e-8f, 0.25f, 5e-9f};
    for (int k = 0; k <= 8; ++k)
        s.f(k, 1, 1) = f[k];
    Flow_Macroscopic(s.n, s.m, s.F, s.Rho, s.U, s.V);
    float rho = 0;
    for (int k = 0; k <= 8; ++k)
        rho += f[k]; // float additions in order, as specified
    float su = ((((f[1] - f[3]) + f[5]) - f[6]) - f[7]) + f[8];
    float sv = ((((f[2] - f[4]) + f[5]) + f[6]) - f[7]) - f[8];
    EXPECT_EQ(Bits(s.Rho[c]), Bits(rho));
    EXPECT_EQ(Bits(s.U[c]), Bits(su / rho));
    EXPECT_EQ(Bits(s.V[c]), Bits(sv / rho));
    double exact = 0;
    for (float v : f)
        exact += v;
    EXPECT_NE(rho, float(exact)); // the test would not notice a double sum otherwise
}

TEST(FlowStep, GridsWithoutInteriorNodesStillStreamAndReflect) {
    for (auto [n, m] : {std::pair{1, 1}, {1, 5}, {6, 1}}) {
        Run_State s(n, m);
        s.Initial(1.0f, 0.0f, 0.0f);
        Mark_All(n, m, s.F);
        Run_State before = s;
        Flow_Step(n, m, s.T_Ref, 1e-3f, s.Rho, s.U, s.V, s.Tau_F, s.F, s.Feq, s.T);
        EXPECT_TRUE(Same_Bits(s.Rho, before.Rho));
        EXPECT_TRUE(Same_Bits(s.U, before.U));
        EXPECT_TRUE(Same_Bits(s.V, before.V));
        EXPECT_TRUE(Same_Bits(s.Feq, before.Feq));
        Field expected = before.F;
        Stream_Distribution(n, m, expected);
        Flow_Walls(n, m, expected);
        EXPECT_TRUE(Same_Bits(s.F, expected));
        EXPECT_FALSE(Same_Bits(s.F, before.F));
    }
}

} // namespace
