#include "lattice/streaming.hpp"

void Stream_Distribution(int n, int m, Field& F) {
    auto f = [&](int k, int i, int j) -> float& { return F[Dist(n, k, i, j)]; };
    // 1 (+1, 0)
    for (int j = 0; j <= m; ++j)
        for (int i = n; i >= 1; --i)
            f(1, i, j) = f(1, i - 1, j);
    // 2 (0, +1)
    for (int j = m; j >= 1; --j)
        for (int i = 0; i <= n; ++i)
            f(2, i, j) = f(2, i, j - 1);
    // 3 (-1, 0)
    for (int j = 0; j <= m; ++j)
        for (int i = 0; i <= n - 1; ++i)
            f(3, i, j) = f(3, i + 1, j);
    // 4 (0, -1)
    for (int j = 0; j <= m - 1; ++j)
        for (int i = 0; i <= n; ++i)
            f(4, i, j) = f(4, i, j + 1);
    // 5 (+1, +1)
    for (int j = m; j >= 1; --j)
        for (int i = n; i >= 1; --i)
            f(5, i, j) = f(5, i - 1, j - 1);
    // 6 (-1, +1)
    for (int j = m; j >= 1; --j)
        for (int i = 0; i <= n - 1; ++i)
            f(6, i, j) = f(6, i + 1, j - 1);
    // 7 (-1, -1)
    for (int j = 0; j <= m - 1; ++j)
        for (int i = 0; i <= n - 1; ++i)
            f(7, i, j) = f(7, i + 1, j + 1);
    // 8 (+1, -1)
    for (int j = 0; j <= m - 1; ++j)
        for (int i = n; i >= 1; --i)
            f(8, i, j) = f(8, i - 1, j + 1);
}

void Bounce_Back_Floor_And_Ceiling(int n, int m, Field& F) {
    auto f = [&](int k, int i, int j) -> float& { return F[Dist(n, k, i, j)]; };
    const int bottom = 0, top = m;
    for (int i = 0; i <= n; ++i) {
        f(2, i, bottom) = f(4, i, bottom);
        f(5, i, bottom) = f(7, i, bottom);
        f(6, i, bottom) = f(8, i, bottom);
    }
    for (int i = 0; i <= n; ++i) {
        f(7, i, top) = f(5, i, top);
        f(4, i, top) = f(2, i, top);
        f(8, i, top) = f(6, i, top);
    }
}
