#include "thermal/thermal_step.hpp"

#include "lattice/streaming.hpp"

namespace {

// The nine equilibria of a node, each rounded as it is stored.
void Node_Equilibria(float u, float v, float t, float Geq[9]) {
    float Vel_Sq = float(double(u) * u + double(v) * v);
    for (int k = 0; k <= 8; ++k) {
        float E_Dot_U = float(double(Ex[k]) * u + double(Ey[k]) * v);
        Geq[k] = float(((4.5 * E_Dot_U * E_Dot_U + 3.0 * E_Dot_U) + 1.0 - 1.5 * Vel_Sq) * t * W[k]);
    }
}

// The collision of one node in the schemes other than the original: BGK or
// the two-relaxation-time collision (the even part of each pair of opposite
// directions relaxes with Tau_Even, the odd part with Tau_T) for the eight
// moving directions, and the rest direction takes what keeps the node's sum
// of the nine. The float weights sum to 1 + 7.45e-9, so a plain collision
// adds that part of T / tau as heat at every node and step, a source that
// grows against the heat through the walls as m^2.
void Relax_Node(float* g, const float Geq[9], float Tau_T, float Tau_Even, Relaxation r) {
    double before = g[0];
    for (int k = 1; k <= 8; ++k)
        before += g[k];
    float out[9];
    for (int k = 1; k <= 8; ++k) {
        if (r == Relaxation::BGK) {
            out[k] = float((double(Geq[k]) - g[k]) / Tau_T + g[k]);
            continue;
        }
        const int o = Opposite[k];
        double even = (double(g[k]) + g[o]) - (double(Geq[k]) + Geq[o]);
        double odd = (double(g[k]) - g[o]) - (double(Geq[k]) - Geq[o]);
        out[k] = float((g[k] - even * 0.5 / Tau_Even) - odd * 0.5 / Tau_T);
    }
    double after = out[1];
    for (int k = 2; k <= 8; ++k)
        after += out[k];
    out[0] = float(before - after);
    for (int k = 0; k <= 8; ++k)
        g[k] = out[k];
}

void Side_Walls(int n, int m, Field& G, float T_Hot, float T_Cold) {
    auto g = [&](int k, int i, int j) -> float& { return G[Dist(n, k, i, j)]; };
    const int cold_wall = n, hot_wall = 0;
    // Anti-bounce-back to the wall temperature.
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
}

// Insulated walls as wall nodes: what arrives goes back whence it came, so
// that no heat crosses them and, as for the flow, the wall lies half a
// spacing inside. After the side walls, so that at a corner the diagonal
// into the fluid is bounced back too: the errors of the bounced diagonals
// along the wall (they turn the flux along it around) then cancel in pairs
// at every node of the row beside it, the corner's included.
void Insulated_Bounce_Back(int n, int m, Field& G) {
    Bounce_Back_Floor_And_Ceiling(n, m, G);
}

} // namespace

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

void Thermal_Collision(int n, int m, float Tau_T, const Field& U, const Field& V, const Field& T,
                       Field& G, const Scheme& scheme) {
    if (scheme.thermal == Relaxation::BGK && scheme.insulated_walls == Insulated_Walls::Copy) {
        Thermal_Collision(n, m, Tau_T, U, V, T, G);
        return;
    }
    // Wall rows that bounce back do not collide.
    const bool walls_collide = scheme.insulated_walls == Insulated_Walls::Copy;
    const int first = walls_collide ? 0 : 1, last = walls_collide ? m : m - 1;
    const float Tau_Even = Even_Relaxation_Time(Tau_T);
    for (int i = 1; i <= n - 1; ++i) {
        for (int j = first; j <= last; ++j) {
            std::size_t c = Node(n, i, j);
            float Geq[9];
            Node_Equilibria(U[c], V[c], T[c], Geq);
            Relax_Node(&G[Dist(n, 0, i, j)], Geq, Tau_T, Tau_Even, scheme.thermal);
        }
    }
}

void Thermal_Walls(int n, int m, Field& G, float T_Hot, float T_Cold) {
    auto g = [&](int k, int i, int j) -> float& { return G[Dist(n, k, i, j)]; };
    const int top = m, bottom = 0;
    Side_Walls(n, m, G, T_Hot, T_Cold);
    // Insulated walls: copies from the row next to the wall, full width, after
    // the side walls (which decides the corners).
    for (int k : {7, 4, 8})
        for (int i = 0; i <= n; ++i)
            g(k, i, top) = g(k, i, top - 1);
    for (int k : {2, 6, 5})
        for (int i = 0; i <= n; ++i)
            g(k, i, bottom) = g(k, i, bottom + 1);
}

void Thermal_Walls(int n, int m, Field& G, float T_Hot, float T_Cold, Insulated_Walls walls) {
    if (walls == Insulated_Walls::Copy) {
        Thermal_Walls(n, m, G, T_Hot, T_Cold);
        return;
    }
    Side_Walls(n, m, G, T_Hot, T_Cold);
    Insulated_Bounce_Back(n, m, G);
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

void Thermal_Temperature(int n, int m, const Field& G, Field& T, Insulated_Walls walls) {
    if (walls == Insulated_Walls::Copy) {
        Thermal_Temperature(n, m, G, T);
        return;
    }
    if (m < 2)
        return; // no fluid between the walls
    for (int i = 1; i <= n - 1; ++i) {
        for (int j = 1; j <= m - 1; ++j) {
            const float* g = &G[Dist(n, 0, i, j)];
            float sum = 0.0f;
            for (int k = 0; k <= 8; ++k)
                sum = float(double(sum) + g[k]);
            T[Node(n, i, j)] = sum;
        }
        T[Node(n, i, 0)] = T[Node(n, i, 1)];
        T[Node(n, i, m)] = T[Node(n, i, m - 1)];
    }
}

void Thermal_Step(int n, int m, float Tau_T, const Field& U, const Field& V, Field& T, Field& G,
                  float T_Hot, float T_Cold) {
    Thermal_Collision(n, m, Tau_T, U, V, T, G);
    Stream_Distribution(n, m, G);
    Thermal_Walls(n, m, G, T_Hot, T_Cold);
    Thermal_Temperature(n, m, G, T);
}

void Thermal_Step(int n, int m, float Tau_T, const Field& U, const Field& V, Field& T, Field& G,
                  float T_Hot, float T_Cold, const Scheme& scheme) {
    Thermal_Collision(n, m, Tau_T, U, V, T, G, scheme);
    Stream_Distribution(n, m, G);
    Thermal_Walls(n, m, G, T_Hot, T_Cold, scheme.insulated_walls);
    Thermal_Temperature(n, m, G, T, scheme.insulated_walls);
}
