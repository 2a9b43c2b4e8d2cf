// Streaming of a whole distribution, and the fast step's row streaming
// against it.
#include "lattice/row_planes.hpp"
#include "lattice/row_streaming.hpp"
#include "lattice/streaming.hpp"
#include "support/fields.hpp"

#include <gtest/gtest.h>
#include <random>

namespace {

TEST(Streaming, EachValueMovesToExactlyOneNeighbour) {
    const int n = 4, m = 3;
    for (int k = 1; k <= 8; ++k) {
        for (int j = 0; j <= m; ++j) {
            for (int i = 0; i <= n; ++i) {
                Field F(9 * Node_Count(n, m), 0.0f);
                F[Dist(n, k, i, j)] = 1.0f;
                Stream_Distribution(n, m, F);
                int di = i + int(Ex[k]), dj = j + int(Ey[k]);
                bool lands = di >= 0 && di <= n && dj >= 0 && dj <= m;
                // The source keeps its value only if no shift writes it.
                int si = i - int(Ex[k]), sj = j - int(Ey[k]);
                bool kept = !(si >= 0 && si <= n && sj >= 0 && sj <= m);
                int ones = 0;
                for (std::size_t e = 0; e < F.size(); ++e)
                    ones += F[e] == 1.0f;
                EXPECT_EQ(ones, int(lands) + int(kept)) << k << " " << i << " " << j;
                if (lands) {
                    EXPECT_EQ(F[Dist(n, k, di, dj)], 1.0f);
                }
                if (kept) {
                    EXPECT_EQ(F[Dist(n, k, i, j)], 1.0f);
                }
            }
        }
    }
}

TEST(RowStreaming, RowsGatherWhatTheWholeShiftMoves) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> d(0.0f, 1.0f);
    for (auto [n, m] : {std::pair{1, 1}, {1, 6}, {7, 1}, {2, 2}, {13, 9}, {40, 3}}) {
        Field F(9 * Node_Count(n, m));
        for (float& x : F)
            x = d(rng);
        Distribution_Rows rows;
        rows.Resize(n, m);
        Rows_From_Nodes(F.data(), 0, m + 1, rows);
        Field whole = F;
        Stream_Distribution(n, m, whole);
        Row_Planes dest;
        dest.Resize(n + 1);
        Field by_rows(F.size());
        for (int j = 0; j <= m; ++j) {
            const Plane_Set below = rows.Row(j >= 1 ? j - 1 : j);
            const Plane_Set above = rows.Row(j <= m - 1 ? j + 1 : j);
            Stream_Row(n, m, j, Rows_Around{below, rows.Row(j), above}, dest.Planes());
            Nodes_From_Planes(dest.Planes(), n + 1, &by_rows[Dist(n, 0, 0, j)]);
        }
        EXPECT_TRUE(Same_Bits(by_rows, whole)) << n << " x " << m;
    }
}

} // namespace
