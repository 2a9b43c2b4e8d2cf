#pragma once
// The bracket of the second-order equilibrium of the fast kernels,
// ((4.5 E E + 3 E) + 1) - 1.5 Vel_Sq with E = E_Dot_U, for the nine
// directions at lanes of nodes: what the flow and the thermal equilibria
// share. Opposite directions have opposite E, so each E is formed once;
// E E, 3 E, 4.5 E E and 1.5 Vel_Sq are exact in double (floats times
// constants of a few bits), so each sum that follows them is one fused
// multiply-add where there is one, with the values of the formula as
// written, direction by direction.
#include "lattice/lanes.hpp"

template <class Real>
[[gnu::always_inline]] inline void Equilibrium_Brackets(const float* u, const float* v, Real p[9]) {
    using L = Lanes<Real>;
    using Single = typename L::Single;
    const Single us = L::Load_Single(u), vs = L::Load_Single(v);
    // E for k = 1..8: u, v, -u, -v, u+v, v-u, -u-v, u-v (each a float).
    const Real eu = L::Widen(us), ev = L::Widen(vs);
    const Real es = L::Widen(us + vs), ed = L::Widen(us - vs);
    const Real uu = eu * eu, vv = ev * ev, ss = es * es, dd = ed * ed;
    const Real vel_sq = L::Widen(L::Round(uu + vv));
    const Real four_and_half = Real{} + 4.5, minus_one_and_half = Real{} - 1.5;
    auto bracket = [&](Real e_e, Real three_e) {
        const Real a = L::Add_Exact_Product(four_and_half, e_e, three_e) + 1.0;
        return L::Add_Exact_Product(minus_one_and_half, vel_sq, a);
    };
    const Real bu = 3.0 * eu, bv = 3.0 * ev, bs = 3.0 * es, bd = 3.0 * ed;
    p[0] = L::Add_Exact_Product(minus_one_and_half, vel_sq, Real{} + 1.0);
    p[1] = bracket(uu, bu);
    p[2] = bracket(vv, bv);
    p[3] = bracket(uu, -bu);
    p[4] = bracket(vv, -bv);
    p[5] = bracket(ss, bs);
    p[6] = bracket(dd, -bd);
    p[7] = bracket(ss, -bs);
    p[8] = bracket(dd, bd);
}
