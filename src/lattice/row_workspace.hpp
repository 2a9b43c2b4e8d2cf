#pragma once
// Working storage of the fast time step, obtained once before the time loop.
#include "lattice/lattice.hpp"
#include "lattice/row_planes.hpp"
#include "lattice/row_streaming.hpp"

struct Fast_Workspace {
    int n = -1, m = -1;
    Row_Planes ring[3]; // collided rows j-1, j, j+1 of the distribution being streamed
    Row_Planes eq;      // equilibrium of the row being collided
    Row_Planes dest[2]; // rows after streaming and walls (thermal keeps two)
    // The new distributions are written here and then exchanged with F and
    // G, so that the step before stays whole until the step has succeeded.
    Field next_F, next_G;

    void Size_For(int n_, int m_) {
        if (n_ == n && m_ == m)
            return;
        n = n_;
        m = m_;
        for (Row_Planes& p : ring)
            p.Resize(n + 1);
        eq.Resize(n + 1);
        for (Row_Planes& p : dest)
            p.Resize(n + 1);
        next_F.assign(9 * Node_Count(n, m), 0.0f);
        next_G.assign(9 * Node_Count(n, m), 0.0f);
    }
};

// The collided rows j - 1, j and j + 1 in the workspace's ring.
inline Rows_Around Ring_Rows(const Fast_Workspace& work, int j) {
    return {work.ring[(j + 2) % 3], work.ring[j % 3], work.ring[(j + 1) % 3]};
}
