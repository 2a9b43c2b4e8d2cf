#include "flow/flow_step.hpp"

#include "lattice/streaming.hpp"

// Arithmetic inside a formula is carried in double and rounded to float where
// it is stored, in a working value or an array element.

void Flow_Collision(int n, int m, float T_Ref, float G_Beta, const Field& Rho, const Field& U,
                    const Field& V, float Tau_F, Field& F, Field& Feq, const Field& T) {
    // Equilibrium on every interior node first, then the collision: each node
    // reads only its own values, so the two passes could be one.
    for (int i = 1; i <= n - 1; ++i) {
        for (int j = 1; j <= m - 1; ++j) {
            std::size_t c = Node(n, i, j);
            float u = U[c], v = V[c], rho = Rho[c];
            float Vel_Sq = float(double(u) * u + double(v) * v);
            for (int k = 0; k <= 8; ++k) {
                float E_Dot_U = float(double(Ex[k]) * u + double(Ey[k]) * v);
                Feq[Dist(n, k, i, j)] = float(
                    ((4.5 * E_Dot_U * E_Dot_U + 3.0 * E_Dot_U) + 1.0 - 1.5 * Vel_Sq) * rho * W[k]);
            }
        }
    }
    for (int i = 1; i <= n - 1; ++i) {
        for (int j = 1; j <= m - 1; ++j) {
            std::size_t c = Node(n, i, j);
            for (int k = 0; k <= 8; ++k) {
                float Buoyancy_Term =
                    float((double(T[c]) - T_Ref) * Rho[c] * Ey[k] * W[k] * G_Beta * 3.0);
                float& f = F[Dist(n, k, i, j)];
                f = float((f - (double(f) - Feq[Dist(n, k, i, j)]) / Tau_F) + Buoyancy_Term);
            }
        }
    }
}

void Flow_Walls(int n, int m, Field& F) {
    auto f = [&](int k, int i, int j) -> float& { return F[Dist(n, k, i, j)]; };
    const int cold_wall = n, hot_wall = 0;
    Bounce_Back_Floor_And_Ceiling(n, m, F);
    for (int j = 0; j <= m; ++j) {
        f(3, cold_wall, j) = f(1, cold_wall, j);
        f(7, cold_wall, j) = f(5, cold_wall, j);
        f(6, cold_wall, j) = f(8, cold_wall, j);
    }
    for (int j = 0; j <= m; ++j) {
        f(1, hot_wall, j) = f(3, hot_wall, j);
        f(5, hot_wall, j) = f(7, hot_wall, j);
        f(8, hot_wall, j) = f(6, hot_wall, j);
    }
}

void Flow_Macroscopic(int n, int m, const Field& F, Field& Rho, Field& U, Field& V) {
    for (int i = 1; i <= n - 1; ++i) {
        for (int j = 1; j <= m - 1; ++j) {
            const float* f = &F[Dist(n, 0, i, j)];
            std::size_t c = Node(n, i, j);
            float rho = 0.0f;
            for (int k = 0; k <= 8; ++k)
                rho = float(double(rho) + f[k]);
            Rho[c] = rho;
            float su = 0.0f, sv = 0.0f;
            for (int k = 0; k <= 8; ++k) {
                float term = float(double(Ex[k]) * f[k]);
                su = float(double(su) + term);
            }
            for (int k = 0; k <= 8; ++k) {
                float term = float(double(Ey[k]) * f[k]);
                sv = float(double(sv) + term);
            }
            U[c] = float(double(su) / rho);
            V[c] = float(double(sv) / rho);
        }
    }
}

void Flow_Step(int n, int m, float T_Ref, float G_Beta, Field& Rho, Field& U, Field& V, float Tau_F,
               Field& F, Field& Feq, const Field& T) {
    Flow_Collision(n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T);
    Stream_Distribution(n, m, F);
    Flow_Walls(n, m, F);
    Flow_Macroscopic(n, m, F, Rho, U, V);
}
