#pragma once
// Streaming of the fast step a row at a time: the distributions of a row
// are gathered from the collided rows below, at and above it, each held as
// nine planes (row_planes.hpp).
#include "lattice/row_planes.hpp"

// The collided rows j - 1, j and j + 1 around a destination row j (`below`
// is not read for j = 0, nor `above` for j = m).
struct Rows_Around {
    Plane_Set below, here, above;
};

// The nine streamed values of the interior nodes i = 1..n-1 of an interior
// row j: views into the collided rows, direction k read at (i - Ex, j - Ey);
// element 0 of each view is node 1.
struct Row_View {
    const float* plane[9];
};
inline Row_View Streamed_Interior(const Rows_Around& r) {
    const Plane_Set below = r.below, here = r.here, above = r.above;
    // Offsets put node i = 1 at index 0 of each view.
    return Row_View{{here[0] + 1, here[1], below[2] + 1, here[3] + 2, above[4] + 1, below[5],
                     below[6] + 2, above[7] + 2, above[8]}};
}

// The nine streamed values of one node i of row j (any node), before the
// wall conditions.
inline void Streamed_Node(int n, int m, int i, int j, const Rows_Around& r, float out[9]) {
    const Plane_Set below = r.below, here = r.here, above = r.above;
    // Direction k arrives from (i - Ex, j - Ey); where that lies off the
    // lattice, nothing arrives and the entry keeps its value.
    const bool left = i >= 1, right = i <= n - 1, down = j >= 1, up = j <= m - 1;
    out[0] = here[0][i];
    out[1] = left ? here[1][i - 1] : here[1][i];
    out[2] = down ? below[2][i] : here[2][i];
    out[3] = right ? here[3][i + 1] : here[3][i];
    out[4] = up ? above[4][i] : here[4][i];
    out[5] = left && down ? below[5][i - 1] : here[5][i];
    out[6] = right && down ? below[6][i + 1] : here[6][i];
    out[7] = right && up ? above[7][i + 1] : here[7][i];
    out[8] = left && up ? above[8][i - 1] : here[8][i];
}

// The two side-wall nodes of the interior row j: streamed, given their wall
// rule (cold for i = n, hot for i = 0, in that order) and stored in the row
// `out`.
template <class Cold, class Hot>
inline void Side_Wall_Nodes(int n, int m, int j, const Rows_Around& r, Plane_Set out, Cold cold,
                            Hot hot) {
    const int hot_wall = 0, cold_wall = n;
    float edge[9];
    Streamed_Node(n, m, cold_wall, j, r, edge);
    cold(edge);
    for (int k = 0; k <= 8; ++k)
        out[k][cold_wall] = edge[k];
    Streamed_Node(n, m, hot_wall, j, r, edge);
    hot(edge);
    for (int k = 0; k <= 8; ++k)
        out[k][hot_wall] = edge[k];
}

// Streams one destination row j of a distribution, all its nodes, from the
// collided rows around it. Entries whose source lies off the lattice keep
// the value of the row itself.
void Stream_Row(int n, int m, int j, const Rows_Around& r, Plane_Set dest);
