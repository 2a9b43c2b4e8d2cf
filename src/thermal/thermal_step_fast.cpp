#include "thermal/thermal_step_fast.hpp"

#include "lattice/equilibrium_lanes.hpp"
#include "thermal/thermal_step.hpp"

#include <algorithm>

namespace {

// As in the flow step, the collision of a block of nodes runs in two
// stages through a few working planes: the equilibria, then the relaxation.
//
// Equilibria of the nodes x .. x + lanes - 1 of a row (x = 0 is node 1).
template <class Real>
[[gnu::always_inline]] inline void Equilibria(int x, const float* u, const float* v, const float* t,
                                              Plane_Set eq) {
    using L = Lanes<Real>;
    Real p[9];
    Equilibrium_Brackets(u + x, v + x, p);
    const Real tt = L::Load(t + x);
    for (int k = 0; k <= 8; ++k)
        L::Store(eq[k], L::Round(p[k] * tt * double(W[k])));
}

// The collision of the same nodes from their equilibria: g to out.
template <class Real, bool By_Reciprocal>
[[gnu::always_inline]] inline void Relax(int x, const Divisor& Tau_T, Plane_Set eq, Plane_Set g,
                                         Plane_Set out) {
    using L = Lanes<Real>;
    for (int k = 0; k <= 8; ++k) {
        const Real gk = L::Load(g[k] + x);
        const Real q = L::template Divide<By_Reciprocal>(L::Load(eq[k]) - gk, Tau_T);
        L::Store(out[k] + x, L::Round(q + gk));
    }
}

// The collision of the same nodes in the schemes other than the original:
// BGK (Two_Times false) or the two-relaxation-time collision for the eight
// moving directions, and the rest direction what keeps the node's sum of
// the nine (thermal_step.cpp says why).
template <class Real, bool By_Reciprocal, bool Two_Times>
[[gnu::always_inline]] inline void Relax_Keeping_Sum(int x, const Divisor& tau,
                                                     const Divisor& tau_even, Plane_Set eq,
                                                     Plane_Set g, Plane_Set out) {
    using L = Lanes<Real>;
    Real gk[9], ek[9];
    for (int k = 0; k <= 8; ++k) {
        gk[k] = L::Load(g[k] + x);
        ek[k] = L::Load(eq[k]);
    }
    Real before = gk[0];
    for (int k = 1; k <= 8; ++k)
        before = before + gk[k];
    Real after{};
    for (int k = 1; k <= 8; ++k) {
        Real value;
        if constexpr (Two_Times) {
            const int o = Opposite[k];
            const Real even = (gk[k] + gk[o]) - (ek[k] + ek[o]);
            const Real odd = (gk[k] - gk[o]) - (ek[k] - ek[o]);
            const Real q_even = L::template Divide<By_Reciprocal>(even * 0.5, tau_even);
            const Real q_odd = L::template Divide<By_Reciprocal>(odd * 0.5, tau);
            value = (gk[k] - q_even) - q_odd;
        } else {
            value = L::template Divide<By_Reciprocal>(ek[k] - gk[k], tau) + gk[k];
        }
        const auto stored = L::Round(value);
        L::Store(out[k] + x, stored);
        after = k == 1 ? L::Widen(stored) : after + L::Widen(stored);
    }
    L::Store(out[0] + x, L::Round(before - after));
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

// The side walls on a whole row: cold wall first.
void Side_Walls(int n, Plane_Set d, float T_Hot, float T_Cold) {
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

// Insulated wall row as wall nodes: what arrived sent back
// (thermal_step.cpp says why after the side walls).
void Bounce_Back_Row(int n, int m, int j, Plane_Set d) {
    const int bottom = 0, top = m;
    if (j == bottom)
        for (int i = 0; i <= n; ++i) {
            d[2][i] = d[4][i];
            d[5][i] = d[7][i];
            d[6][i] = d[8][i];
        }
    if (j == top)
        for (int i = 0; i <= n; ++i) {
            d[7][i] = d[5][i];
            d[4][i] = d[2][i];
            d[8][i] = d[6][i];
        }
}

// Temperature of a bounce-back wall row: that of the fluid row beside it.
void Mirror_Temperature(int n, int wall_row, int fluid_row, Field& T) {
    if (n >= 2)
        std::copy(&T[Node(n, 1, fluid_row)], &T[Node(n, n, fluid_row)], &T[Node(n, 1, wall_row)]);
}

// Insulated wall: three directions copied from the row next to it.
void Copy_Directions(int n, Plane_Set from, Plane_Set to, int a, int b, int c) {
    for (int k : {a, b, c})
        for (int i = 0; i <= n; ++i)
            to[k][i] = from[k][i];
}

// Interior nodes x .. x + lanes - 1 of an interior row (x = 0 is node 1):
// the streamed values stored, and their temperature.
template <class Real>
[[gnu::always_inline]] inline void Stream_Nodes(int x, const Row_View& in, Plane_Set out,
                                                float* t) {
    using L = Lanes<Real>;
    using Single = typename L::Single;
    Single s = Single{} + 0.0f;
    for (int k = 0; k <= 8; ++k) {
        const Single f = L::Load_Single(in.plane[k] + x);
        L::Store(out[k] + x, f);
        s += f;
    }
    L::Store(t + x, s);
}

void Row_Temperature(int n, int j, Plane_Set d, Field& T) {
    if (n >= 2)
        Sum_Directions(d.From(1), n - 1, &T[Node(n, 1, j)]);
}

} // namespace

void Thermal_Collide_Row(int n, int m, int j, const Thermal_Rule& rule, const Field& U,
                         const Field& V, const Field& T, Plane_Set row, Plane_Set out) {
    if (rule.walls == Insulated_Walls::Bounce_Back && (j == 0 || j == m)) {
        for (int k = 0; k <= 8; ++k)
            std::copy(row[k], row[k] + n + 1, out[k]);
        return;
    }
    const std::size_t c = Node(n, 1, j);
    const Plane_Set g = row.From(1), o = out.From(1);
    // Copies the stores of the loop cannot touch.
    const Divisor tau = rule.tau, tau_even = rule.tau_even;
    alignas(64) float work[9 * 8];
    const Plane_Set eq{work, 8};
    if (rule.relaxation == Relaxation::TRT) {
        Divisor both = tau; // the quotients by reciprocals only where both have them
        both.by_reciprocal = tau.by_reciprocal && tau_even.by_reciprocal;
        For_Each_Block(n - 1, both, [&]<class Real, bool By_Reciprocal>(int x) {
            Equilibria<Real>(x, &U[c], &V[c], &T[c], eq);
            Relax_Keeping_Sum<Real, By_Reciprocal, true>(x, tau, tau_even, eq, g, o);
        });
    } else if (rule.walls == Insulated_Walls::Bounce_Back) {
        For_Each_Block(n - 1, tau, [&]<class Real, bool By_Reciprocal>(int x) {
            Equilibria<Real>(x, &U[c], &V[c], &T[c], eq);
            Relax_Keeping_Sum<Real, By_Reciprocal, false>(x, tau, tau_even, eq, g, o);
        });
    } else {
        For_Each_Block(n - 1, tau, [&]<class Real, bool By_Reciprocal>(int x) {
            Equilibria<Real>(x, &U[c], &V[c], &T[c], eq);
            Relax<Real, By_Reciprocal>(x, tau, eq, g, o);
        });
    }
    const int hot_wall = 0, cold_wall = n;
    for (int k = 0; k <= 8; ++k) {
        out[k][hot_wall] = row[k][hot_wall];
        out[k][cold_wall] = row[k][cold_wall];
    }
}

void Thermal_Stream_Row(int n, int m, int j, const Thermal_Rule& rule, const Rows_Around& collided,
                        Distribution_Rows& out, Field& T, float T_Hot, float T_Cold) {
    const Plane_Set d = out.Row(j);
    const bool bounce_back = rule.walls == Insulated_Walls::Bounce_Back;
    if (j >= 1 && j <= m - 1) {
        // Interior row: the inner nodes straight from the collided rows, the
        // two side-wall nodes one by one.
        const Row_View in = Streamed_Interior(collided);
        const std::size_t c = Node(n, 1, j);
        const Plane_Set o = d.From(1);
        For_Each_Block(n - 1, [&]<class Real>(int x) { Stream_Nodes<Real>(x, in, o, &T[c]); });
        Side_Wall_Nodes(
            n, m, j, collided, d, [T_Cold](float* g) { Cold_Wall_Node(g, T_Cold); },
            [T_Hot](float* g) { Hot_Wall_Node(g, T_Hot); });
    } else {
        Stream_Row(n, m, j, collided, d);
        Side_Walls(n, d, T_Hot, T_Cold);
        if (bounce_back) {
            Bounce_Back_Row(n, m, j, d);
            if (j == m && m >= 2)
                Mirror_Temperature(n, m, m - 1, T);
        } else if (j == m) {
            Copy_Directions(n, out.Row(m - 1), d, 7, 4, 8); // top from row m - 1
            Row_Temperature(n, m, d, T);
        }
    }
    if (j == 1 && bounce_back) {
        if (m >= 2)
            Mirror_Temperature(n, 0, 1, T);
    } else if (j == 1) { // the bottom row, from row 1 as it now stands
        Copy_Directions(n, d, out.Row(0), 2, 6, 5);
        Row_Temperature(n, 0, out.Row(0), T);
    }
}

// This instruction set's build of the kernels (the build renames the table
// for each set).
extern const Thermal_Kernels Thermal_Kernel_Table = {Thermal_Collide_Row, Thermal_Stream_Row};
