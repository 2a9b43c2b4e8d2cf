// The two solvers together on a small cavity: the flow that results must be
// natural convection, and the mass must stay where it is.
#include "flow/flow_step.hpp"
#include "setup/parameters.hpp"
#include "support/fields.hpp"
#include "thermal/thermal_step.hpp"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace {

struct Cavity : Run_State {
    Cavity(int n, int m, float Ra, float Tau) : Run_State(n, m) {
        Initial(1.0f, 0.0f, 0.0f);
        Derived_Constants d = Derive_Constants(Physical_Parameters{0.71f, Ra, 1, 0, 0, Tau}, m);
        G_Beta = d.G_Beta;
        Tau_F = d.Tau_F;
        Tau_T = Tau;
        U_Ref = d.U_Ref;
    }
    void Step() {
        Flow_Step(n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T);
        Thermal_Step(n, m, Tau_T, U, V, T, G, T_Hot, T_Cold);
    }
    float u(int i, int j) { return U[Node(n, i, j)]; }
    float v(int i, int j) { return V[Node(n, i, j)]; }
    // Mass on the lattice that the next streaming keeps: every distribution
    // except those pointing off the lattice.
    double Mass() {
        double total = 0;
        for (int j = 0; j <= m; ++j)
            for (int i = 0; i <= n; ++i)
                for (int k = 0; k <= 8; ++k) {
                    int di = i + int(Ex[k]), dj = j + int(Ey[k]);
                    if (di >= 0 && di <= n && dj >= 0 && dj <= m)
                        total += f(k, i, j);
                }
        return total;
    }
};

TEST(Convection, WarmFluidRisesAtTheHotWallAndTurnsClockwise) {
    Cavity c(20, 20, 1e4f, 0.8f);
    for (int s = 0; s < 3000; ++s)
        c.Step();
    const int mid = 10;
    EXPECT_GT(c.v(2, mid), 0.0f);         // up along the hot wall
    EXPECT_LT(c.v(18, mid), 0.0f);        // down along the cold wall
    EXPECT_GT(c.u(mid, 17), 0.0f);        // towards the cold wall at the top
    EXPECT_LT(c.u(mid, 3), 0.0f);         // back to the hot wall at the bottom
    EXPECT_GT(c.t(mid, 17), c.t(mid, 3)); // stratified: warm above
}

TEST(Convection, MassIsConservedToRounding) {
    Cavity c(20, 20, 1e4f, 0.8f);
    double start = c.Mass();
    double worst = 0;
    for (int s = 0; s < 2000; ++s) {
        c.Step();
        worst = std::max(worst, std::abs(c.Mass() - start));
    }
    // The density is a float running sum, and its rounding repeats from node
    // to node and step to step, so the mass drifts steadily; but by less than
    // half a unit in the last place of 1.0 per node and step.
    EXPECT_LT(worst / (441.0 * 2000.0), 0.5 * 0x1p-23);
    EXPECT_GT(start, 441.0 * 0.5);
}

} // namespace
