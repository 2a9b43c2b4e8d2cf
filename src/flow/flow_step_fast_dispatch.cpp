// The fast flow kernels of the instruction set in use.
#include "flow/flow_step_fast.hpp"
#include "lattice/kernel_set.hpp"

extern const Flow_Kernels Flow_Kernel_Table_baseline, Flow_Kernel_Table_avx2,
    Flow_Kernel_Table_avx512;

namespace {
const Flow_Kernels& Kernels() {
    return Kernels_In_Use(Flow_Kernel_Table_baseline, Flow_Kernel_Table_avx2,
                          Flow_Kernel_Table_avx512);
}
} // namespace

void Flow_Collide_Row(int n, int m, int j, float T_Ref, float G_Beta, const Divisor& Tau_F,
                      const Field& Rho, const Field& U, const Field& V, const Field& T,
                      Plane_Set row, Plane_Set out) {
    Kernels().collide_row(n, m, j, T_Ref, G_Beta, Tau_F, Rho, U, V, T, row, out);
}

void Flow_Stream_Row(int n, int m, int j, const Rows_Around& collided, Plane_Set out, Field& Rho,
                     Field& U, Field& V) {
    Kernels().stream_row(n, m, j, collided, out, Rho, U, V);
}
