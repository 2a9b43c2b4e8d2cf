#include "thermal/thermal_step.hpp"

#include "lattice/streaming.hpp"

void Thermal_Collision(int n, int m, float Tau_T, const Field& U, const Field& V, const Field& T,
                       Field& G) {
    for (int i = 1; i <= n - 1; ++i) {
        for (int j = 0; j <= m; ++j) {
            std::size_t c = Node(n, i, j);
            float u = U[c], v = V[c], t = T[c];
            float Vel_Sq = float(double(u) * u + double(v) * v);
            for (int k = 0; k <= 8; ++k) {
                float E_Dot_U = float(double(Ex[k]) * u + double(Ey[k]) * v);
                // Each equilibrium value is rounded before the relaxation uses it.
                float Geq = float(((4.5 * E_Dot_U * E_Dot_U + 3.0 * E_Dot_U) + 1.0 - 1.5 * Vel_Sq) *
                                  t * W[k]);
                float& g = G[Dist(n, k, i, j)];
                g = float((double(Geq) - g) / Tau_T + g);
            }
        }
    }
}

void Thermal_Walls(int n, int m, Field& G, float T_Hot, float T_Cold) {
    auto g = [&](int k, int i, int j) -> float& { return G[Dist(n, k, i, j)]; };
    const int cold_wall = n, hot_wall = 0, top = m, bottom = 0;
    // Side walls: anti-bounce-back to the wall temperature.
    for (int j = 0; j <= m; ++j)
        g(3, cold_wall, j) = float(double(T_Cold) * Two_Ninths - g(1, cold_wall, j));
    for (int j = 0; j <= m; ++j)
        g(6, cold_wall, j) = float(double(T_Cold) * One_Eighteenth - g(8, cold_wall, j));
    for (int j = 0; j <= m; ++j)
        g(7, cold_wall, j) = float(double(T_Cold) * One_Eighteenth - g(5, cold_wall, j));
    for (int j = 0; j <= m; ++j)
        g(5, hot_wall, j) = float(double(T_Hot) * One_Eighteenth - g(7, hot_wall, j));
    for (int j = 0; j <= m; ++j)
        g(1, hot_wall, j) = float(double(T_Hot) * Two_Ninths - g(3, hot_wall, j));
    for (int j = 0; j <= m; ++j)
        g(8, hot_wall, j) = float(double(T_Hot) * One_Eighteenth - g(6, hot_wall, j));
    // Insulated walls: copies from the row next to the wall, full width, after
    // the side walls (which decides the corners).
    for (int k : {7, 4, 8})
        for (int i = 0; i <= n; ++i)
            g(k, i, top) = g(k, i, top - 1);
    for (int k : {2, 6, 5})
        for (int i = 0; i <= n; ++i)
            g(k, i, bottom) = g(k, i, bottom + 1);
}

void Thermal_Temperature(int n, int m, const Field& G, Field& T) {
    for (int i = 1; i <= n - 1; ++i) {
        for (int j = 0; j <= m; ++j) {
            const float* g = &G[Dist(n, 0, i, j)];
            float sum = 0.0f;
            for (int k = 0; k <= 8; ++k)
                sum = float(double(sum) + g[k]);
            T[Node(n, i, j)] = sum;
        }
    }
}

void Thermal_Step(int n, int m, float Tau_T, const Field& U, const Field& V, Field& T, Field& G,
                  float T_Hot, float T_Cold) {
    Thermal_Collision(n, m, Tau_T, U, V, T, G);
    Stream_Distribution(n, m, G);
    Thermal_Walls(n, m, G, T_Hot, T_Cold);
    Thermal_Temperature(n, m, G, T);
}
