#include "flow/flow_step_fast.hpp"

#include "lattice/lanes.hpp"
#include "lattice/vectorize.hpp"

namespace {

// Equilibrium and collision of the interior nodes x .. x + width - 1 of one
// row. The planes of f hold the distributions on entry and the collided ones
// on return. Where a formula gives opposite directions the same terms with
// opposite signs (E_Dot_U = +-e, Ey = +-1), each term is formed once: the
// values are those of the formulas as written, direction by direction.
template <class Real>
[[gnu::always_inline]] inline void
Collide_Nodes(int x, const float* rho, const float* u, const float* v, const float* t, double T_Ref,
              double G_Beta, double zero_G, double Tau_F, Plane_Set f, Plane_Set feq) {
    using L = Lanes<Real>;
    using Single = typename L::Single;
    const double w0 = W[0], w1 = W[1], w5 = W[5];
    const Single us = L::Load_Single(u + x), vs = L::Load_Single(v + x);
    const Real ud = L::Widen(us), vd = L::Widen(vs);
    const Real r = L::Load(rho + x);
    const Real c = 1.5 * L::Widen(L::Round(ud * ud + vd * vd)); // 1.5 Vel_Sq
    // E_Dot_U: u, v, -u, -v, u+v, v-u, -u-v, u-v for k = 1..8.
    const Real es = L::Widen(us + vs), ed = L::Widen(us - vs);
    const Real au = 4.5 * ud * ud, av = 4.5 * vd * vd, as = 4.5 * es * es, ad = 4.5 * ed * ed;
    const Real bu = 3.0 * ud, bv = 3.0 * vd, bs = 3.0 * es, bd = 3.0 * ed;
    const Single e[9] = {L::Round((1.0 - c) * r * w0),
                         L::Round((((au + bu) + 1.0) - c) * r * w1),
                         L::Round((((av + bv) + 1.0) - c) * r * w1),
                         L::Round((((au - bu) + 1.0) - c) * r * w1),
                         L::Round((((av - bv) + 1.0) - c) * r * w1),
                         L::Round((((as + bs) + 1.0) - c) * r * w5),
                         L::Round((((ad - bd) + 1.0) - c) * r * w5),
                         L::Round((((as - bs) + 1.0) - c) * r * w5),
                         L::Round((((ad + bd) + 1.0) - c) * r * w5)};
    // Buoyancy_Term: +-0 where Ey = 0 (a 0 W G 3 has the sign of a times
    // that of G), +-b1 for k = 2, 4 and +-b2 for k = 5..8.
    const Real a = (L::Load(t + x) - T_Ref) * r;
    const Real z = a * zero_G;
    const Real b1 = L::Widen(L::Round(a * w1 * G_Beta * 3.0));
    const Real b2 = L::Widen(L::Round(a * w5 * G_Beta * 3.0));
    const Real b[9] = {z, z, b1, z, -b1, b2, b2, -b2, -b2};
    for (int k = 0; k <= 8; ++k) {
        L::Store(feq[k] + x, e[k]);
        const Real fk = L::Load(f[k] + x);
        L::Store(f[k] + x, L::Round((fk - (fk - L::Widen(e[k])) / Tau_F) + b[k]));
    }
}

void Collide_Row(int count, const float* rho, const float* u, const float* v, const float* t,
                 float T_Ref, float G_Beta, float Tau_F, Plane_Set f, Plane_Set feq) {
    const double zero_G = 0.0 * double(G_Beta);
    int x = 0;
    for (; x + 4 <= count; x += 4)
        Collide_Nodes<V4d>(x, rho, u, v, t, T_Ref, G_Beta, zero_G, Tau_F, f, feq);
    for (; x < count; ++x)
        Collide_Nodes<double>(x, rho, u, v, t, T_Ref, G_Beta, zero_G, Tau_F, f, feq);
}

// Bounce-back on a wall row after streaming, in the order bottom, top, cold,
// hot.
void Walls_Row(int n, int m, int j, Row_Planes& d) {
    if (j == 0)
        for (int i = 0; i <= n; ++i) {
            d[2][i] = d[4][i];
            d[5][i] = d[7][i];
            d[6][i] = d[8][i];
        }
    if (j == m)
        for (int i = 0; i <= n; ++i) {
            d[7][i] = d[5][i];
            d[4][i] = d[2][i];
            d[8][i] = d[6][i];
        }
    const int cold_wall = n, hot_wall = 0;
    d[3][cold_wall] = d[1][cold_wall];
    d[7][cold_wall] = d[5][cold_wall];
    d[6][cold_wall] = d[8][cold_wall];
    d[1][hot_wall] = d[3][hot_wall];
    d[5][hot_wall] = d[7][hot_wall];
    d[8][hot_wall] = d[6][hot_wall];
}

// The side-wall nodes of an interior row: bounce-back on one node.
void Cold_Wall_Node(float* f) {
    f[3] = f[1];
    f[7] = f[5];
    f[6] = f[8];
}
void Hot_Wall_Node(float* f) {
    f[1] = f[3];
    f[5] = f[7];
    f[8] = f[6];
}

// Density and velocity of `count` interior nodes: single-precision running
// sums in direction order (terms with Ex or Ey zero add nothing to a sum that
// starts at +0 and so is never -0).
void Moments(int count, const Row_View& d, float* __restrict rho, float* __restrict u,
             float* __restrict v) {
    Sum_Directions(d.plane, count, rho);
    const float* __restrict f1 = d.plane[1];
    const float* __restrict f2 = d.plane[2];
    const float* __restrict f3 = d.plane[3];
    const float* __restrict f4 = d.plane[4];
    const float* __restrict f5 = d.plane[5];
    const float* __restrict f6 = d.plane[6];
    const float* __restrict f7 = d.plane[7];
    const float* __restrict f8 = d.plane[8];
    INDEPENDENT_ITERATIONS
    for (int x = 0; x < count; ++x) {
        float su = 0.0f;
        su += f1[x];
        su -= f3[x];
        su += f5[x];
        su -= f6[x];
        su -= f7[x];
        su += f8[x];
        float sv = 0.0f;
        sv += f2[x];
        sv -= f4[x];
        sv += f5[x];
        sv += f6[x];
        sv -= f7[x];
        sv -= f8[x];
        u[x] = su / rho[x];
        v[x] = sv / rho[x];
    }
}

} // namespace

void Flow_Step_Fast(int n, int m, float T_Ref, float G_Beta, Field& Rho, Field& U, Field& V,
                    float Tau_F, Field& F, Field& Feq, const Field& T, Fast_Workspace& work) {
    work.Size_For(n, m);
    const std::size_t row = std::size_t(n) + 1;
    auto nodes_of_row = [&](Field& a, int j) { return &a[9 * row * std::size_t(j)]; };
    auto prepare = [&](int j) {
        Row_Planes& p = work.ring[j % 3];
        Planes_From_Nodes(nodes_of_row(F, j), n + 1, p);
        if (j >= 1 && j <= m - 1 && n >= 2) {
            const std::size_t c = row * std::size_t(j) + 1;
            Collide_Row(n - 1, &Rho[c], &U[c], &V[c], &T[c], T_Ref, G_Beta, Tau_F, Planes_At(p, 1),
                        Planes_At(work.eq, 0));
            Nodes_From_Planes(work.eq, n - 1, &Feq[9 * c]);
        }
    };
    prepare(0);
    prepare(1);
    for (int j = 0; j <= m; ++j) {
        if (j + 1 <= m && j + 1 >= 2)
            prepare(j + 1);
        const Rows_Around r = Ring_Rows(work, j);
        float* out = nodes_of_row(work.next_F, j);
        if (j == 0 || j == m) {
            Row_Planes& d = work.dest[0];
            Stream_Row(n, m, j, r, d);
            Walls_Row(n, m, j, d);
            Nodes_From_Planes(d, n + 1, out);
            continue;
        }
        // Interior row: the inner nodes straight from the collided rows, the
        // two side-wall nodes one by one.
        const Row_View view = Streamed_Interior(r);
        if (n >= 2) {
            const std::size_t c = row * std::size_t(j) + 1;
            Moments(n - 1, view, &Rho[c], &U[c], &V[c]);
            Nodes_From_Planes(view.plane, n - 1, out + 9);
        }
        Side_Wall_Nodes(n, m, j, r, out, Cold_Wall_Node, Hot_Wall_Node);
    }
    F.swap(work.next_F);
}
