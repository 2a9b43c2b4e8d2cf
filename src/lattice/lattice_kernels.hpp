#pragma once
// The kernels of the lattice library (the divisor of the lanes, the rows of
// nine planes and their streaming), as one instruction set's build of them
// has them (kernel_set.hpp).
#include "lattice/lanes.hpp"
#include "lattice/row_streaming.hpp"

struct Lattice_Kernels {
    decltype(&Divisor_Of) divisor_of;
    decltype(&Planes_From_Nodes) planes_from_nodes;
    decltype(&Nodes_From_Planes) nodes_from_planes;
    void (*sum_directions)(const float* const*, int, float*);
    decltype(&Rows_From_Nodes) rows_from_nodes;
    decltype(&Nodes_From_Rows) nodes_from_rows;
    decltype(&Stream_Row) stream_row;
};
