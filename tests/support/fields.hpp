#pragma once
// The ten field arrays and the shared scalars of a run, for tests that call
// the procedures directly.
#include "lattice/lattice.hpp"
#include "setup/initialize.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

struct Run_State {
    int n, m;
    Field U, V, F, Feq, Rho, G, T, V_Old, T_Old, U_Old;
    float T_Hot = 1, T_Cold = 0, T_Init = 0, T_Ref = 0.5f, Tau_T = 0.8f, G_Beta = 0, U_Ref = 1,
          Tau_F = 0.713f, Nu_Hot = 0, Residual_T = 0, Residual_Flow = 0;

    Run_State(int n_, int m_) : n(n_), m(m_) {
        std::size_t nodes = Node_Count(n, m);
        for (Field* f : {&U, &V, &Rho, &T, &V_Old, &T_Old, &U_Old})
            f->assign(nodes, 0.0f);
        for (Field* f : {&F, &Feq, &G})
            f->assign(9 * nodes, 0.0f);
    }
    void Initial(float hot, float cold, float init) {
        T_Hot = hot;
        T_Cold = cold;
        T_Init = init;
        T_Ref = float((double(cold) + hot) * 0.5);
        Initial_State(n, m, T_Hot, T_Cold, T_Init, Rho, U, V, F, Feq, T, G, U_Old, V_Old, T_Old);
    }
    float& f(int k, int i, int j) { return F[Dist(n, k, i, j)]; }
    float& g(int k, int i, int j) { return G[Dist(n, k, i, j)]; }
    float& t(int i, int j) { return T[Node(n, i, j)]; }
};

inline bool Same_Bits(const Field& a, const Field& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

inline std::uint32_t Bits(float x) {
    return std::bit_cast<std::uint32_t>(x);
}
