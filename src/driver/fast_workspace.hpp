#pragma once
// Working storage of the fast time step, obtained once before the time loop.
#include "driver/lattice.hpp"
#include "driver/row_planes.hpp"

#include <algorithm>

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
struct Rows_Around {
    const Row_Planes &below, &here, &above;
};
inline Rows_Around Ring_Rows(const Fast_Workspace& work, int j) {
    return {work.ring[(j + 2) % 3], work.ring[j % 3], work.ring[(j + 1) % 3]};
}

// The nine streamed values of the interior nodes i = 1..n-1 of an interior
// row j: views into the collided rows, direction k read at (i - Ex, j - Ey).
struct Row_View {
    const float* plane[9];
};
Row_View Streamed_Interior(const Row_Planes& below, const Row_Planes& here,
                           const Row_Planes& above);

// The nine streamed values of one node i of row j (any node), before the
// wall conditions.
void Streamed_Node(int n, int m, int i, int j, const Row_Planes& below, const Row_Planes& here,
                   const Row_Planes& above, float out[9]);

// The two side-wall nodes of row j: streamed, given their wall rule (cold
// for i = n, hot for i = 0, in that order) and stored among the row's nodes.
template <class Cold, class Hot>
void Side_Wall_Nodes(int n, int m, int j, const Rows_Around& r, float* row_nodes, Cold cold,
                     Hot hot) {
    const int hot_wall = 0, cold_wall = n;
    float edge[9];
    Streamed_Node(n, m, cold_wall, j, r.below, r.here, r.above, edge);
    cold(edge);
    std::copy(edge, edge + 9, row_nodes + 9 * cold_wall);
    Streamed_Node(n, m, hot_wall, j, r.below, r.here, r.above, edge);
    hot(edge);
    std::copy(edge, edge + 9, row_nodes + 9 * hot_wall);
}

// Streams one destination row j of a distribution from the collided rows
// below, at and above it (`below` is unused for j = 0, `above` for j = m).
// Entries whose source lies off the lattice keep the value of the row itself.
void Stream_Row(int n, int m, int j, const Row_Planes& below, const Row_Planes& here,
                const Row_Planes& above, Row_Planes& dest);
