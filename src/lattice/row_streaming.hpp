#pragma once
// Streaming of the fast step a row at a time: the distributions of a row
// are gathered from the collided rows below, at and above it, held as nine
// planes (row_planes.hpp).
#include "lattice/row_planes.hpp"

#include <algorithm>

// The collided rows j - 1, j and j + 1 around a destination row j.
struct Rows_Around {
    const Row_Planes &below, &here, &above;
};

// The nine streamed values of the interior nodes i = 1..n-1 of an interior
// row j: views into the collided rows, direction k read at (i - Ex, j - Ey).
struct Row_View {
    const float* plane[9];
};
Row_View Streamed_Interior(const Rows_Around& r);

// The nine streamed values of one node i of row j (any node), before the
// wall conditions.
void Streamed_Node(int n, int m, int i, int j, const Rows_Around& r, float out[9]);

// The two side-wall nodes of row j: streamed, given their wall rule (cold
// for i = n, hot for i = 0, in that order) and stored among the row's nodes.
template <class Cold, class Hot>
void Side_Wall_Nodes(int n, int m, int j, const Rows_Around& r, float* row_nodes, Cold cold,
                     Hot hot) {
    const int hot_wall = 0, cold_wall = n;
    float edge[9];
    Streamed_Node(n, m, cold_wall, j, r, edge);
    cold(edge);
    std::copy(edge, edge + 9, row_nodes + 9 * cold_wall);
    Streamed_Node(n, m, hot_wall, j, r, edge);
    hot(edge);
    std::copy(edge, edge + 9, row_nodes + 9 * hot_wall);
}

// Streams one destination row j of a distribution from the collided rows
// around it (`below` is unused for j = 0, `above` for j = m). Entries whose
// source lies off the lattice keep the value of the row itself.
void Stream_Row(int n, int m, int j, const Rows_Around& r, Row_Planes& dest);
