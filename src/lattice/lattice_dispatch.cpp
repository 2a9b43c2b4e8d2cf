// The lattice kernels of the instruction set in use.
#include "lattice/kernel_set.hpp"
#include "lattice/lattice_kernels.hpp"

extern const Lattice_Kernels Lattice_Kernel_Table_baseline, Lattice_Kernel_Table_avx2,
    Lattice_Kernel_Table_avx512;

namespace {
const Lattice_Kernels& Kernels() {
    return Kernels_In_Use(Lattice_Kernel_Table_baseline, Lattice_Kernel_Table_avx2,
                          Lattice_Kernel_Table_avx512);
}
} // namespace

Divisor Divisor_Of(float d) {
    return Kernels().divisor_of(d);
}

void Planes_From_Nodes(const float* nodes, int count, Plane_Set planes) {
    Kernels().planes_from_nodes(nodes, count, planes);
}

void Nodes_From_Planes(Plane_Set planes, int count, float* nodes) {
    Kernels().nodes_from_planes(planes, count, nodes);
}

void Sum_Directions(const float* const* planes, int count, float* out) {
    Kernels().sum_directions(planes, count, out);
}

void Rows_From_Nodes(const float* nodes, int j0, int j1, Distribution_Rows& rows) {
    Kernels().rows_from_nodes(nodes, j0, j1, rows);
}

void Nodes_From_Rows(Distribution_Rows& rows, int j0, int j1, float* nodes) {
    Kernels().nodes_from_rows(rows, j0, j1, nodes);
}

void Stream_Row(int n, int m, int j, const Rows_Around& r, Plane_Set dest) {
    Kernels().stream_row(n, m, j, r, dest);
}
