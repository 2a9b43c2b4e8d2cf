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

// Pure conduction between walls half a spacing inside the end columns: both
// wall-corrected numbers are 1 on any height, the one-row strip included,
// whatever the wall temperatures.
TEST(WallNusselt, LinearProfileBetweenTheWallsGivesOne) {
    for (auto size : {std::pair{6, 1}, std::pair{3, 2}, std::pair{12, 8}}) {
        Run_State s(size.first, size.second);
        const double hot = 3.0, cold = -1.0;
        for (int j = 0; j <= s.m; ++j)
            for (int i = 0; i <= s.n; ++i)
                s.t(i, j) = float(hot - (hot - cold) * (i - 0.5) / (s.n - 1));
        double nu_hot = 0, nu_cold = 0;
        Compute_Wall_Nusselt(s.n, s.m, float(hot), float(cold), s.T, nu_hot, nu_cold);
        EXPECT_NEAR(nu_hot, 1.0, 1e-6) << s.n << " x " << s.m;
        EXPECT_NEAR(nu_cold, 1.0, 1e-6) << s.n << " x " << s.m;
    }
}

// The still rows 0 and m lie outside the wall height [0.5, m - 0.5]: each
// enters only through the end value interpolated halfway to its neighbour,
// an eighth of a spacing's weight; the rows inside weigh a whole spacing.
TEST(WallNusselt, EndRowsWeighAnEighthOfASpacing) {
    Run_State s(5, 6);
    auto local_one_on_row = [&](int row) {
        // T_Hot = 1, T_Cold = 0: the hot local value is (8/3 - 3 T1 + T2/3) 4,
        // zero for T1 = T2 = 1 and 3/4 for T1 lowered by 1/16.
        for (int j = 0; j <= s.m; ++j) {
            s.t(1, j) = float(1.0 - (j == row ? 1.0 / 16.0 : 0.0));
            s.t(2, j) = 1.0f;
        }
        double hot = 0, cold = 0;
        Compute_Wall_Nusselt(s.n, s.m, 1.0f, 0.0f, s.T, hot, cold);
        return hot;
    };
    const double height = s.m - 1, peak = 0.75;
    EXPECT_NEAR(local_one_on_row(0), peak / 8 / height, 1e-6);
    EXPECT_NEAR(local_one_on_row(1), peak * 7 / 8 / height, 1e-6); // 1/2 + 1/4 + 1/8
    EXPECT_NEAR(local_one_on_row(3), peak / height, 1e-6);
    EXPECT_NEAR(local_one_on_row(s.m), peak / 8 / height, 1e-6);
}

TEST(WallNusselt, NoteNamesBothWallsAndNuDat) {
    Run_State s(4, 4);
    for (int j = 0; j <= s.m; ++j) {
        s.t(1, j) = 0.75f; // hot wall: (8 - 9 T1 + T2) = 1.75
        s.t(2, j) = 0.5f;
        s.t(3, j) = 0.3125f; // cold wall: 9 T3 - T2 = 2.3125
    }
    EXPECT_EQ(Wall_Nusselt_Note(s.n, s.m, 1.0f, 0.0f, 1.25f, s.T),
              "note: wall-corrected mean Nu (second order, walls half a spacing inside the end "
              "nodes): hot wall 1.75, cold wall 2.3125, 32 % apart (the heat balance); Nu.dat "
              "1.25 is -28.6 % from the hot-wall value");
    EXPECT_NE(Wall_Nusselt_Note(s.n, s.m, 1.0f, -1.0f, 1.25f, s.T)
                  .find("; Nu.dat / (T_Hot - T_Cold) 0.625 is "),
              std::string::npos);
    EXPECT_EQ(Wall_Nusselt_Note(2, s.m, 1.0f, 0.0f, 1.25f, s.T).substr(88),
              "none on a grid 2 wide; it needs two fluid columns beside each wall (n at least 3)");
}

} // namespace
