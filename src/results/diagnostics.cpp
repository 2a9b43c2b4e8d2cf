#include "results/diagnostics.hpp"

#include <cmath>
#include <cstdio>
#include <vector>

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

namespace {

// Mean over the wall height [0.5, m - 0.5] of values given on the node rows
// 0..m, each end value halfway between its two rows.
double Wall_Height_Mean(int m, const std::vector<double>& local) {
    if (m == 1)
        return (local[0] + local[1]) * 0.5;
    double sum = (local[0] + 3.0 * local[1]) / 8.0;
    for (int j = 1; j <= m - 2; ++j)
        sum += (local[j] + local[j + 1]) * 0.5;
    sum += (3.0 * local[m - 1] + local[m]) / 8.0;
    return sum / double(m - 1);
}

} // namespace

void Compute_Wall_Nusselt(int n, int m, float T_Hot, float T_Cold, const Field& T, double& Nu_Hot_2,
                          double& Nu_Cold_2) {
    const double width = double(n) - 1.0, dT = double(T_Hot) - double(T_Cold);
    std::vector<double> hot(std::size_t(m) + 1), cold(std::size_t(m) + 1);
    for (int j = 0; j <= m; ++j) {
        hot[j] = (8.0 / 3.0 * T_Hot - 3.0 * T[Node(n, 1, j)] + T[Node(n, 2, j)] / 3.0) * width / dT;
        cold[j] = (3.0 * T[Node(n, n - 1, j)] - T[Node(n, n - 2, j)] / 3.0 - 8.0 / 3.0 * T_Cold) *
                  width / dT;
    }
    Nu_Hot_2 = Wall_Height_Mean(m, hot);
    Nu_Cold_2 = Wall_Height_Mean(m, cold);
}

std::string Wall_Nusselt_Note(int n, int m, float T_Hot, float T_Cold, float Nu_Hot, const Field& T,
                              const Scheme& scheme) {
    const std::string head =
        "note: wall-corrected mean Nu (second order, walls half a spacing inside the end "
        "nodes" +
        (scheme == Scheme{} ? std::string() : std::string("; scheme ") + Scheme_Name(scheme)) +
        "): ";
    if (n < 3)
        return head + "none on a grid " + std::to_string(n) +
               " wide; it needs two fluid columns beside each wall (n at least 3)";
    double hot = 0, cold = 0;
    Compute_Wall_Nusselt(n, m, T_Hot, T_Cold, T, hot, cold);
    const double dT = double(T_Hot) - double(T_Cold), file = double(Nu_Hot) / dT;
    char text[320];
    int len = std::snprintf(text, sizeof text, "hot wall %.7g, cold wall %.7g", hot, cold);
    if (hot != 0.0)
        len += std::snprintf(text + len, sizeof text - len,
                             ", %.2g %% apart (the heat balance); Nu.dat%s %.7g is "
                             "%+.3g %% from the hot-wall value",
                             std::fabs(hot - cold) / std::fabs(hot) * 100.0,
                             dT == 1.0 ? "" : " / (T_Hot - T_Cold)", file,
                             (file - hot) / std::fabs(hot) * 100.0);
    return head + text;
}
