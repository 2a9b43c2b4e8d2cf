#include "lattice/lanes.hpp"
#include "results/residuals_fast.hpp"

Residual_Sums Residual_Sums_Of(int n, int j0, int j1, const Field& U, const Field& V,
                               const Field& T, const Field& U_Old, const Field& V_Old,
                               const Field& T_Old) {
    const std::size_t from = Node(n, 0, j0), to = Node(n, 0, j1);
    // A lane of partial sums each, as wide as the kernels' lanes.
    Wide num_flow{}, den_flow{}, num_t{}, den_t{};
    using L = Lanes<Wide>;
    constexpr int w = L::Count;
    std::size_t c = from;
    for (; c + w <= to; c += w) {
        const Wide u = L::Load(&U[c]), v = L::Load(&V[c]), t = L::Load(&T[c]);
        const Wide du = u - L::Load(&U_Old[c]), dv = v - L::Load(&V_Old[c]),
                   dd = t - L::Load(&T_Old[c]);
        den_flow += v * v + u * u;
        den_t += t * t;
        num_flow += dv * dv + du * du;
        num_t += dd * dd;
    }
    for (; c < to; ++c) {
        const double u = U[c], v = V[c], t = T[c];
        const double du = u - U_Old[c], dv = v - V_Old[c], dd = t - T_Old[c];
        den_flow[0] += v * v + u * u;
        den_t[0] += t * t;
        num_flow[0] += dv * dv + du * du;
        num_t[0] += dd * dd;
    }
    auto total = [](Wide x) {
        double sum = 0.0;
        for (int l = 0; l < w; ++l)
            sum += x[l];
        return sum;
    };
    return {total(num_flow), total(den_flow), total(num_t), total(den_t)};
}

// This instruction set's build of the kernel (the build renames the table
// for each set).
extern const Residual_Kernels Residual_Kernel_Table = {Residual_Sums_Of};
