#include "thermal/thermal_step_fast.hpp"

#include "lattice/lanes.hpp"
#include "lattice/vectorize.hpp"
#include "thermal/thermal_step.hpp"

namespace {

// Equilibrium and collision of the nodes x .. x + width - 1 of one row
// (planes of g in and out); opposite directions share their terms as in the
// flow step.
template <class Real>
[[gnu::always_inline]] inline void Collide_Nodes(int x, const float* u, const float* v,
                                                 const float* t, double Tau_T, Plane_Set g) {
    using L = Lanes<Real>;
    using Single = typename L::Single;
    const Single us = L::Load_Single(u + x), vs = L::Load_Single(v + x);
    const Real ud = L::Widen(us), vd = L::Widen(vs);
    const Real tt = L::Load(t + x);
    const Real c = 1.5 * L::Widen(L::Round(ud * ud + vd * vd));
    const Real es = L::Widen(us + vs), ed = L::Widen(us - vs);
    const Real au = 4.5 * ud * ud, av = 4.5 * vd * vd, as = 4.5 * es * es, ad = 4.5 * ed * ed;
    const Real bu = 3.0 * ud, bv = 3.0 * vd, bs = 3.0 * es, bd = 3.0 * ed;
    const Real poly[9] = {1.0 - c,
                          ((au + bu) + 1.0) - c,
                          ((av + bv) + 1.0) - c,
                          ((au - bu) + 1.0) - c,
                          ((av - bv) + 1.0) - c,
                          ((as + bs) + 1.0) - c,
                          ((ad - bd) + 1.0) - c,
                          ((as - bs) + 1.0) - c,
                          ((ad + bd) + 1.0) - c};
    for (int k = 0; k <= 8; ++k) {
        const Real Geq = L::Widen(L::Round(poly[k] * tt * double(W[k])));
        const Real gk = L::Load(g[k] + x);
        L::Store(g[k] + x, L::Round((Geq - gk) / Tau_T + gk));
    }
}

void Collide_Row(int count, const float* u, const float* v, const float* t, float Tau_T,
                 Plane_Set g) {
    int x = 0;
    for (; x + 4 <= count; x += 4)
        Collide_Nodes<V4d>(x, u, v, t, Tau_T, g);
    for (; x < count; ++x)
        Collide_Nodes<double>(x, u, v, t, Tau_T, g);
}

// The fixed temperatures of the side walls, on one node of each.
void Cold_Wall_Node(float* g, float T_Cold) {
    g[3] = float(double(T_Cold) * Two_Ninths - g[1]);
    g[6] = float(double(T_Cold) * One_Eighteenth - g[8]);
    g[7] = float(double(T_Cold) * One_Eighteenth - g[5]);
}
void Hot_Wall_Node(float* g, float T_Hot) {
    g[5] = float(double(T_Hot) * One_Eighteenth - g[7]);
    g[1] = float(double(T_Hot) * Two_Ninths - g[3]);
    g[8] = float(double(T_Hot) * One_Eighteenth - g[6]);
}

// The side walls on a whole row held as planes: cold wall first.
void Side_Walls(int n, Row_Planes& d, float T_Hot, float T_Cold) {
    float g[9];
    const int cold_wall = n, hot_wall = 0;
    for (int k = 0; k <= 8; ++k)
        g[k] = d[k][cold_wall];
    Cold_Wall_Node(g, T_Cold);
    for (int k = 0; k <= 8; ++k)
        d[k][cold_wall] = g[k];
    for (int k = 0; k <= 8; ++k)
        g[k] = d[k][hot_wall];
    Hot_Wall_Node(g, T_Hot);
    for (int k = 0; k <= 8; ++k)
        d[k][hot_wall] = g[k];
}

// Insulated wall: three directions copied from the row next to it.
void Copy_Directions(int n, const Row_Planes& from, Row_Planes& to, int a, int b, int c) {
    for (int k : {a, b, c})
        for (int i = 0; i <= n; ++i)
            to[k][i] = from[k][i];
}

} // namespace

void Thermal_Step_Fast(int n, int m, float Tau_T, const Field& U, const Field& V, Field& T,
                       Field& G, float T_Hot, float T_Cold, Fast_Workspace& work) {
    work.Size_For(n, m);
    const std::size_t row = std::size_t(n) + 1;
    auto nodes_of_row = [&](Field& a, int j) { return &a[9 * row * std::size_t(j)]; };
    auto prepare = [&](int j) {
        Row_Planes& p = work.ring[j % 3];
        Planes_From_Nodes(nodes_of_row(G, j), n + 1, p);
        if (n >= 2) {
            const std::size_t c = row * std::size_t(j) + 1;
            Collide_Row(n - 1, &U[c], &V[c], &T[c], Tau_T, Planes_At(p, 1));
        }
    };
    // A row held whole: its temperature, then its distributions back.
    auto finish = [&](int j, const Row_Planes& d) {
        if (n >= 2) {
            const float* p[9];
            for (int k = 0; k <= 8; ++k)
                p[k] = d[k] + 1;
            Sum_Directions(p, n - 1, &T[row * std::size_t(j) + 1]);
        }
        Nodes_From_Planes(d, n + 1, nodes_of_row(work.next_G, j));
    };
    prepare(0);
    prepare(1);
    for (int j = 0; j <= m; ++j) {
        if (j + 1 <= m && j + 1 >= 2)
            prepare(j + 1);
        const Rows_Around r = Ring_Rows(work, j);
        if (j <= 1 || j >= m - 1) {
            // Rows the insulated walls read or write are held whole; the
            // bottom row is finished after the row above it.
            Row_Planes& d = work.dest[j % 2];
            Row_Planes& previous = work.dest[(j + 1) % 2];
            Stream_Row(n, m, j, r, d);
            Side_Walls(n, d, T_Hot, T_Cold);
            if (j == m)
                Copy_Directions(n, previous, d, 7, 4, 8); // top from row m - 1
            if (j == 1) {
                Copy_Directions(n, d, previous, 2, 6, 5); // bottom from row 1
                finish(0, previous);
            }
            if (j >= 1)
                finish(j, d);
            continue;
        }
        float* out = nodes_of_row(work.next_G, j);
        const Row_View view = Streamed_Interior(r);
        if (n >= 2) {
            Sum_Directions(view.plane, n - 1, &T[row * std::size_t(j) + 1]);
            Nodes_From_Planes(view.plane, n - 1, out + 9);
        }
        Side_Wall_Nodes(
            n, m, j, r, out, [T_Cold](float* g) { Cold_Wall_Node(g, T_Cold); },
            [T_Hot](float* g) { Hot_Wall_Node(g, T_Hot); });
    }
    G.swap(work.next_G);
}
