#include "results/diagnostics.hpp"
#include "support/fields.hpp"

#include <gtest/gtest.h>
#include <random>

namespace {

TEST(StreamFunction, FieldAtRestGivesZeroEverywhere) {
    Run_State s(6, 4);
    s.Initial(1.0f, 0.0f, 0.0f);
    Field Stream(Node_Count(s.n, s.m), 9.0f);
    Compute_Stream(s.n, s.m, s.Rho, s.U, s.V, Stream);
    for (float v : Stream)
        EXPECT_EQ(v, 0.0f);
}

TEST(StreamFunction, ColumnsIntegrateRhoUUpwardsByTrapezoids) {
    Run_State s(3, 2);
    s.Initial(1.0f, 0.0f, 0.0f);
    for (int i = 0; i <= s.n; ++i) {
        s.U[Node(s.n, i, 1)] = 0.2f;
        s.U[Node(s.n, i, 2)] = 0.4f;
    }
    Field Stream(Node_Count(s.n, s.m));
    Compute_Stream(s.n, s.m, s.Rho, s.U, s.V, Stream);
    for (int i = 0; i <= s.n; ++i) {
        EXPECT_EQ(Stream[Node(s.n, i, 0)], 0.0f);
        // The hot wall column stays zero even where U is not.
        EXPECT_EQ(Stream[Node(s.n, i, 1)], i == 0 ? 0.0f : 0.1f);
        EXPECT_EQ(Stream[Node(s.n, i, 2)], i == 0 ? 0.0f : float(0.1f + 0.3));
    }
}

TEST(StreamFunction, BottomRowIntegratesMinusRhoVAlongX) {
    Run_State s(4, 1);
    s.Initial(1.0f, 0.0f, 0.0f);
    for (int i = 0; i <= s.n; ++i) {
        s.V[Node(s.n, i, 0)] = -0.1f;
        s.Rho[Node(s.n, i, 0)] = 1.0f + 0.1f * float(i);
    }
    Field Stream(Node_Count(s.n, s.m));
    Compute_Stream(s.n, s.m, s.Rho, s.U, s.V, Stream);
    float previous = 0.0f;
    for (int i = 1; i <= s.n; ++i) {
        float v = Stream[Node(s.n, i, 0)];
        float rho_avg = float((double(s.Rho[Node(s.n, i, 0)]) + s.Rho[Node(s.n, i - 1, 0)]) * 0.5);
        EXPECT_EQ(v, float(previous - (-0.1 + -0.1f) * rho_avg * 0.5));
        EXPECT_GT(v, previous);
        previous = v;
    }
}

// Column by column from the bottom, each node from the one below it: the
// order the values are defined in. The procedure must give the same bits on a
// grid wide enough for its vector loops and their tails.
TEST(StreamFunction, SameBitsAsColumnByColumn) {
    for (auto size : {std::pair{37, 23}, std::pair{1, 5}, std::pair{8, 1}}) {
        const int n = size.first, m = size.second;
        Run_State s(n, m);
        std::mt19937 rng(unsigned(n * 100 + m));
        std::uniform_real_distribution<float> vel(-0.1f, 0.1f), rho(0.95f, 1.05f);
        for (std::size_t c = 0; c < s.U.size(); ++c) {
            s.U[c] = vel(rng);
            s.V[c] = vel(rng);
            s.Rho[c] = rho(rng);
        }
        Field Stream(Node_Count(n, m), 9.0f), Want(Node_Count(n, m));
        Compute_Stream(n, m, s.Rho, s.U, s.V, Stream);
        auto at = [n](int i, int j) { return Node(n, i, j); };
        for (int j = 0; j <= m; ++j)
            Want[at(0, j)] = 0.0f;
        for (int i = 1; i <= n; ++i) {
            float r = float((double(s.Rho[at(i, 0)]) + s.Rho[at(i - 1, 0)]) * 0.5);
            Want[at(i, 0)] =
                float(Want[at(i - 1, 0)] - (double(s.V[at(i - 1, 0)]) + s.V[at(i, 0)]) * r * 0.5);
            for (int j = 1; j <= m; ++j) {
                r = float((double(s.Rho[at(i, j - 1)]) + s.Rho[at(i, j)]) * 0.5);
                Want[at(i, j)] = float((double(s.U[at(i, j - 1)]) + s.U[at(i, j)]) * r * 0.5 +
                                       Want[at(i, j - 1)]);
            }
        }
        EXPECT_TRUE(Same_Bits(Stream, Want)) << n << " x " << m;
    }
}

TEST(NusseltNumber, SumsAllRowsAndDividesByM) {
    Run_State s(10, 10);
    s.T.assign(s.T.size(), 0.9f);
    // (1 - 0.9) 10 2 = 2 on each of the 11 rows, over 10.
    EXPECT_NEAR(Compute_Nu_Hot(s.n, s.m, 1.0f, s.T), 2.2f, 1e-5f);
    s.T.assign(s.T.size(), 1.0f);
    EXPECT_EQ(Compute_Nu_Hot(s.n, s.m, 1.0f, s.T), 0.0f);
}

TEST(NusseltNumber, ReadsOnlyTheColumnNextToTheHotWall) {
    Run_State s(5, 4);
    s.T.assign(s.T.size(), 7.0f);
    for (int j = 0; j <= s.m; ++j)
        s.T[Node(s.n, 1, j)] = 0.5f;
    float nu = Compute_Nu_Hot(s.n, s.m, 1.0f, s.T);
    EXPECT_EQ(nu, 6.25f); // five rows of (1 - 0.5) 5 2, over 4
}

} // namespace
