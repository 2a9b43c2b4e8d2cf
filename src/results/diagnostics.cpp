#include "results/diagnostics.hpp"

void Compute_Stream(int n, int m, const Field& Rho, const Field& U, const Field& V, Field& Stream) {
    auto at = [n](int i, int j) { return Node(n, i, j); };
    const int hot_wall = 0, bottom = 0;
    for (int j = 0; j <= m; ++j)
        Stream[at(hot_wall, j)] = 0.0f;
    for (int i = 1; i <= n; ++i) {
        float Rho_Avg = float((double(Rho[at(i, bottom)]) + Rho[at(i - 1, bottom)]) * 0.5);
        Stream[at(i, bottom)] =
            float(Stream[at(i - 1, bottom)] -
                  (double(V[at(i - 1, bottom)]) + V[at(i, bottom)]) * Rho_Avg * 0.5);
        for (int j = 1; j <= m; ++j) {
            Rho_Avg = float((double(Rho[at(i, j - 1)]) + Rho[at(i, j)]) * 0.5);
            Stream[at(i, j)] = float((double(U[at(i, j - 1)]) + U[at(i, j)]) * Rho_Avg * 0.5 +
                                     Stream[at(i, j - 1)]);
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
