// The fast thermal kernels of the instruction set in use.
#include "lattice/kernel_set.hpp"
#include "thermal/thermal_step_fast.hpp"

extern const Thermal_Kernels Thermal_Kernel_Table_baseline, Thermal_Kernel_Table_avx2,
    Thermal_Kernel_Table_avx512;

namespace {
const Thermal_Kernels& Kernels() {
    return Kernels_In_Use(Thermal_Kernel_Table_baseline, Thermal_Kernel_Table_avx2,
                          Thermal_Kernel_Table_avx512);
}
} // namespace

void Thermal_Collide_Row(int n, int m, int j, const Thermal_Rule& rule, const Field& U,
                         const Field& V, const Field& T, Plane_Set row, Plane_Set out) {
    Kernels().collide_row(n, m, j, rule, U, V, T, row, out);
}

void Thermal_Stream_Row(int n, int m, int j, const Thermal_Rule& rule, const Rows_Around& collided,
                        Distribution_Rows& out, Field& T, float T_Hot, float T_Cold) {
    Kernels().stream_row(n, m, j, rule, collided, out, T, T_Hot, T_Cold);
}
