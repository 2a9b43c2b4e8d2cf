#pragma once
// Working storage of the fast time step, obtained once before the time loop.
#include "lattice/row_planes.hpp"

// The distributions of the fast path, advanced in place a step at a time,
// and a copy of the whole state as it stood some steps back (the
// distributions and the fields a step reads), from which a step that has
// gone wrong can be reached again.
struct Fast_Distributions {
    Distribution_Rows F, G;
    Distribution_Rows F_Saved, G_Saved;
    Field Rho_Saved, U_Saved, V_Saved, T_Saved;
    int steps_since_saved = -1; // -1: no copy since the distributions were set
};

// The working rows of one band of rows, the share of one thread: a ring of
// collided rows, and its collided first and last rows, which the bands next
// to it read too (one pair a distribution: 0 flow, 1 thermal).
struct Band_Rows {
    int first = 0, last = -1;
    Row_Planes ring[3];
    Row_Planes edge[2][2];

    void Size_For(int n) {
        for (Row_Planes& p : ring)
            p.Resize(n + 1);
        for (auto& pair : edge)
            for (Row_Planes& p : pair)
                p.Resize(n + 1);
    }
};

// Rows of nine planes a band holds.
inline constexpr int Band_Row_Count = 7;
