// The residual sums of the instruction set in use.
#include "lattice/kernel_set.hpp"
#include "results/residuals_fast.hpp"

extern const Residual_Kernels Residual_Kernel_Table_baseline, Residual_Kernel_Table_avx2,
    Residual_Kernel_Table_avx512;

Residual_Sums Residual_Sums_Of(int n, int j0, int j1, const Field& U, const Field& V,
                               const Field& T, const Field& U_Old, const Field& V_Old,
                               const Field& T_Old) {
    const Residual_Kernels& k = Kernels_In_Use(
        Residual_Kernel_Table_baseline, Residual_Kernel_Table_avx2, Residual_Kernel_Table_avx512);
    return k.residual_sums_of(n, j0, j1, U, V, T, U_Old, V_Old, T_Old);
}
