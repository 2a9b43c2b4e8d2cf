// This instruction set's build of the lattice kernels (the build renames the
// table for each set).
#include "lattice/lattice_kernels.hpp"

extern const Lattice_Kernels Lattice_Kernel_Table = {
    Divisor_Of,      Planes_From_Nodes, Nodes_From_Planes, Sum_Directions,
    Rows_From_Nodes, Nodes_From_Rows,   Stream_Row};
