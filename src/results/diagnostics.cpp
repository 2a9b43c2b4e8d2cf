#include "results/diagnostics.hpp"

void Compute_Stream(int n, int m, const Field& Rho, const Field& U, const Field& V, Field& Stream) {
    auto at = [n](int i, int j) { return Node(n, i, j); };
    const int hot_wall = 0, bottom = 0;
    for (int j = 0; j <= m; ++j)
        Stream[at(hot_wall, j)] = 0.0f;
    // Along the bottom from the hot wall, then up every column. A node needs
    // only the one below it, so the columns are advanced a row at a time.
    for (int i = 1; i <= n; ++i) {
        float Rho_Avg = float((double(Rho[at(i, bottom)]) + Rho[at(i - 1, bottom)]) * 0.5);
        Stream[at(i, bottom)] =
            float(Stream[at(i - 1, bottom)] -
                  (double(V[at(i - 1, bottom)]) + V[at(i, bottom)]) * Rho_Avg * 0.5);
    }
    for (int j = 1; j <= m; ++j) {
        const float* __restrict rho_below = &Rho[at(0, j - 1)];
        const float* __restrict rho = &Rho[at(0, j)];
        const float* __restrict u_below = &U[at(0, j - 1)];
        const float* __restrict u = &U[at(0, j)];
        const float* __restrict below = &Stream[at(0, j - 1)];
        float* __restrict here = &Stream[at(0, j)];
        for (int i = 1; i <= n; ++i) {
            float Rho_Avg = float((double(rho_below[i]) + rho[i]) * 0.5);
            here[i] = float((double(u_below[i]) + u[i]) * Rho_Avg * 0.5 + below[i]);
        }
    }
}

float Compute_Nu_Hot(int n, int m, float T_Hot, const Field& T) {
    float Nu_Hot = 0.0f;
    for (int j = 0; j <= m; ++j) {
        float Nu_Local = float((double(T_Hot) - T[Node(n, 1, j)]) * double(n) * 2.0);
        Nu_Hot = float(double(Nu_Hot) + Nu_Local);
    }
    return float(double(Nu_Hot) / double(m));
}
