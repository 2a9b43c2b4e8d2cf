#pragma once
// Fields with the spread of values a converging run has, for the benchmarks:
// density near 1, velocities of a few hundredths, temperature between the
// wall values, with both walls held.
#include "lattice/lattice.hpp"

#include <random>

struct Bench_Fields {
    int n, m;
    float T_Hot = 1.0f, U_Ref = 0.0577f;
    Field Rho, U, V, T;

    Bench_Fields(int n_, int m_) : n(n_), m(m_) {
        std::size_t nodes = Node_Count(n, m);
        Rho.assign(nodes, 1.0f);
        U.assign(nodes, 0.0f);
        V.assign(nodes, 0.0f);
        T.assign(nodes, 0.0f);
        std::mt19937 rng(20240611);
        std::normal_distribution<float> drho(0.0f, 1e-3f);
        std::uniform_real_distribution<float> vel(-0.03f, 0.03f), temp(0.0f, 1.0f);
        for (int j = 1; j < m; ++j)
            for (int i = 1; i < n; ++i) {
                std::size_t c = Node(n, i, j);
                Rho[c] = 1.0f + drho(rng);
                U[c] = vel(rng);
                V[c] = vel(rng);
                T[c] = temp(rng);
            }
        for (int j = 0; j <= m; ++j) {
            T[Node(n, 0, j)] = T_Hot;
            T[Node(n, n, j)] = 0.0f;
        }
    }
};
