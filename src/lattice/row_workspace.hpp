#pragma once
// Working storage of the fast time step, obtained once before the time loop.
#include "lattice/row_planes.hpp"

// The distributions of the fast path, two copies of each: the current one,
// and the one the next step is written to, so that the step before stays
// whole until a step has succeeded.
struct Fast_Distributions {
    Distribution_Rows F[2], G[2];
    int now = 0;
    Distribution_Rows& F_Now() { return F[now]; }
    Distribution_Rows& G_Now() { return G[now]; }
    Distribution_Rows& F_Next() { return F[1 - now]; }
    Distribution_Rows& G_Next() { return G[1 - now]; }
};

// The working rows of one band of rows, the share of one thread: a ring of
// collided rows, its collided first and last rows, which the bands next to
// it read too (one pair a distribution: 0 flow, 1 thermal), and the
// equilibria of the row being collided (with the flow's buoyancy terms).
struct Band_Rows {
    int first = 0, last = -1;
    Row_Planes ring[3];
    Row_Planes edge[2][2];
    Row_Planes equilibria;

    void Size_For(int n) {
        for (Row_Planes& p : ring)
            p.Resize(n + 1);
        for (auto& pair : edge)
            for (Row_Planes& p : pair)
                p.Resize(n + 1);
        equilibria.Resize(n + 1, Equilibrium_Planes);
    }
    static constexpr int Equilibrium_Planes = 12;
};

// Rows of nine planes' worth of working storage a band holds.
inline constexpr int Band_Row_Count = 7 + 2;
