#include "flow/flow_step_fast.hpp"

#include "lattice/equilibrium_lanes.hpp"

#include <algorithm>

namespace {

// The collision of a block of nodes runs in two stages through a few
// working planes of the block's width, which stay in the first-level cache:
// the equilibria (and the buoyancy terms), then the relaxation.
//
// Equilibria of the nodes x .. x + lanes - 1 of a row (x = 0 is node 1),
// planes 0..8 of `eq`, and the buoyancy terms: planes 9 (k = 2, 4 with their
// signs), 10 (k = 5..8) and 11 (the +-0 of the directions with Ey = 0: a 0
// W G 3 has the sign of a times that of G).
template <class Real>
[[gnu::always_inline]] inline void Equilibria(int x, const float* rho, const float* u,
                                              const float* v, const float* t, double T_Ref,
                                              double G_Beta, double zero_G, Plane_Set eq) {
    using L = Lanes<Real>;
    Real p[9];
    Equilibrium_Brackets(u + x, v + x, p);
    const Real r = L::Load(rho + x);
    for (int k = 0; k <= 8; ++k)
        L::Store(eq[k], L::Round(p[k] * r * double(W[k])));
    const Real a = (L::Load(t + x) - T_Ref) * r;
    L::Store(eq[9], L::Round(a * double(W[2]) * G_Beta * 3.0));
    L::Store(eq[10], L::Round(a * double(W[5]) * G_Beta * 3.0));
    L::Store(eq[11], L::Round(a * zero_G));
}

// The collision of the same nodes, from their equilibria and buoyancy
// terms: distributions from f, collided to out.
template <class Real, bool By_Reciprocal>
[[gnu::always_inline]] inline void Relax(int x, const Divisor& Tau_F, Plane_Set eq, Plane_Set f,
                                         Plane_Set out) {
    using L = Lanes<Real>;
    const Real b1 = L::Load(eq[9]), b2 = L::Load(eq[10]), z = L::Load(eq[11]);
    const Real b[9] = {z, z, b1, z, -b1, b2, b2, -b2, -b2};
    for (int k = 0; k <= 8; ++k) {
        const Real fk = L::Load(f[k] + x);
        const Real q = L::template Divide<By_Reciprocal>(fk - L::Load(eq[k]), Tau_F);
        L::Store(out[k] + x, L::Round((fk - q) + b[k]));
    }
}

// Bounce-back on a wall row after streaming, in the order bottom, top, cold,
// hot.
void Walls_Row(int n, int m, int j, Plane_Set d) {
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

// Interior nodes x .. x + lanes - 1 of an interior row (x = 0 is node 1):
// the streamed values stored, and the density and velocity as single-
// precision running sums in direction order (terms with Ex or Ey zero add
// nothing to a sum that starts at +0 and so is never -0).
template <class Real>
[[gnu::always_inline]] inline void Stream_Nodes(int x, const Row_View& in, Plane_Set out,
                                                float* rho, float* u, float* v) {
    using L = Lanes<Real>;
    using Single = typename L::Single;
    Single f[9];
    for (int k = 0; k <= 8; ++k) {
        f[k] = L::Load_Single(in.plane[k] + x);
        L::Store(out[k] + x, f[k]);
    }
    const Single zero = Single{} + 0.0f;
    Single r = zero;
    for (int k = 0; k <= 8; ++k)
        r += f[k];
    const Single su = (((((zero + f[1]) - f[3]) + f[5]) - f[6]) - f[7]) + f[8];
    const Single sv = (((((zero + f[2]) - f[4]) + f[5]) + f[6]) - f[7]) - f[8];
    L::Store(rho + x, r);
    L::Store(u + x, su / r);
    L::Store(v + x, sv / r);
}

} // namespace

void Flow_Collide_Row(int n, int m, int j, float T_Ref, float G_Beta, const Divisor& Tau_F,
                      const Field& Rho, const Field& U, const Field& V, const Field& T,
                      Plane_Set row, Plane_Set out) {
    if (j == 0 || j == m) {
        for (int k = 0; k <= 8; ++k)
            std::copy(row[k], row[k] + n + 1, out[k]);
        return;
    }
    const std::size_t c = Node(n, 1, j);
    const double zero_G = 0.0 * double(G_Beta);
    const Plane_Set f = row.From(1), o = out.From(1);
    const Divisor tau = Tau_F; // a copy the stores of the loop cannot touch
    alignas(64) float work[12 * 8];
    const Plane_Set eq{work, 8};
    auto block = [&]<class Real, bool By_Reciprocal>(int x) {
        Equilibria<Real>(x, &Rho[c], &U[c], &V[c], &T[c], T_Ref, G_Beta, zero_G, eq);
        Relax<Real, By_Reciprocal>(x, tau, eq, f, o);
    };
    For_Each_Block(n - 1, tau, block);
    const int hot_wall = 0, cold_wall = n;
    for (int k = 0; k <= 8; ++k) {
        out[k][hot_wall] = row[k][hot_wall];
        out[k][cold_wall] = row[k][cold_wall];
    }
}

void Flow_Stream_Row(int n, int m, int j, const Rows_Around& collided, Plane_Set out, Field& Rho,
                     Field& U, Field& V) {
    if (j == 0 || j == m) {
        Stream_Row(n, m, j, collided, out);
        Walls_Row(n, m, j, out);
        return;
    }
    // Interior row: the inner nodes straight from the collided rows, the two
    // side-wall nodes one by one.
    const Row_View in = Streamed_Interior(collided);
    const std::size_t c = Node(n, 1, j);
    const Plane_Set o = out.From(1);
    For_Each_Block(n - 1,
                   [&]<class Real>(int x) { Stream_Nodes<Real>(x, in, o, &Rho[c], &U[c], &V[c]); });
    Side_Wall_Nodes(n, m, j, collided, out, Cold_Wall_Node, Hot_Wall_Node);
}

// This instruction set's build of the kernels (the build renames the table
// for each set).
extern const Flow_Kernels Flow_Kernel_Table = {Flow_Collide_Row, Flow_Stream_Row};
