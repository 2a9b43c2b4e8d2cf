// The fields of another grid for --start-from: bilinear, with the end nodes
// of the two grids on each other.
#include "restart/checkpoint.hpp"

#include <gtest/gtest.h>

namespace {

// a + b i + c j on the nodes of an n x m grid.
Field Linear(int n, int m, double a, double b, double c) {
    Field f(Node_Count(n, m));
    for (int j = 0; j <= m; ++j)
        for (int i = 0; i <= n; ++i)
            f[Node(n, i, j)] = float(a + b * i + c * j);
    return f;
}

TEST(InterpolateField, ALinearFieldIsKeptOnAFinerACoarserAndAnUnevenGrid) {
    // 4 x 3 onto 8 x 6: every new node lies on a node or halfway, the
    // values are exact.
    const Field coarse = Linear(4, 3, 0.25, 0.5, -0.125);
    Field fine(Node_Count(8, 6));
    Interpolate_Field(4, 3, coarse, 8, 6, fine);
    EXPECT_EQ(fine, Linear(8, 6, 0.25, 0.25, -0.0625));
    // Back onto 4 x 3, and onto grids in no simple ratio (within rounding).
    Field back(Node_Count(4, 3));
    Interpolate_Field(8, 6, fine, 4, 3, back);
    EXPECT_EQ(back, coarse);
    const int sizes[][2] = {{7, 5}, {3, 7}, {1, 1}};
    for (const auto& size : sizes) {
        const int n = size[0], m = size[1];
        Field to(Node_Count(n, m));
        Interpolate_Field(4, 3, coarse, n, m, to);
        for (int j = 0; j <= m; ++j)
            for (int i = 0; i <= n; ++i)
                EXPECT_NEAR(to[Node(n, i, j)],
                            0.25 + 0.5 * (double(i) * 4 / n) - 0.125 * (double(j) * 3 / m), 1e-6)
                    << n << " x " << m << " node " << i << ", " << j;
    }
}

TEST(InterpolateField, ACurvedFieldIsInterpolatedBetweenItsNodes) {
    // i * j is bilinear: exact at the midpoints, not only a straight line.
    Field from(Node_Count(2, 2));
    for (int j = 0; j <= 2; ++j)
        for (int i = 0; i <= 2; ++i)
            from[Node(2, i, j)] = float(i * j);
    Field to(Node_Count(4, 4));
    Interpolate_Field(2, 2, from, 4, 4, to);
    EXPECT_EQ(to[Node(4, 1, 1)], 0.25f);
    EXPECT_EQ(to[Node(4, 3, 1)], 0.75f);
    EXPECT_EQ(to[Node(4, 4, 4)], 4.0f);
}

} // namespace
