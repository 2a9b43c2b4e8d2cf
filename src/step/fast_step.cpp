#include "step/fast_step.hpp"

#include "flow/flow_step_fast.hpp"
#include "thermal/thermal_step_fast.hpp"

#include <algorithm>
#include <atomic>
#include <cfenv>

namespace {

enum Distribution { Flow = 0, Thermal = 1 };

// Collided row j of distribution d as band b reads it: its own rows from
// its ring and edges, the rows next to it from the neighbours' edges.
Plane_Set Collided(Stepping& s, int b, Distribution d, int j) {
    j = std::clamp(j, 0, s.m); // rows beyond the walls are passed but not read
    Band_Rows& band = s.bands[std::size_t(b)];
    if (j < band.first)
        return s.bands[std::size_t(b) - 1].edge[d][1].Planes();
    if (j > band.last)
        return s.bands[std::size_t(b) + 1].edge[d][0].Planes();
    if (j == band.first)
        return band.edge[d][0].Planes();
    if (j == band.last)
        return band.edge[d][1].Planes();
    return band.ring[j % 3].Planes();
}

// The band's first and last rows, collided where the neighbours read them.
template <class Collide> void Collide_Edges(Stepping& s, int b, Distribution d, Collide collide) {
    Band_Rows& band = s.bands[std::size_t(b)];
    collide(band.first, band.edge[d][0].Planes());
    collide(band.last, band.edge[d][1].Planes());
}

// Streams the rows of band b in order, colliding each inner row into the
// ring just before the row below it needs it. A row is streamed in place:
// its distributions have been collided into the ring or the edges before,
// and nothing reads them after.
template <class Collide, class Stream>
void Sweep(Stepping& s, int b, Distribution d, Collide collide, Stream stream) {
    Band_Rows& band = s.bands[std::size_t(b)];
    for (int j = band.first; j <= band.last; ++j) {
        const int next = j + 1;
        if (next > band.first && next < band.last)
            collide(next, band.ring[next % 3].Planes());
        stream(j, Rows_Around{Collided(s, b, d, j - 1), Collided(s, b, d, j),
                              Collided(s, b, d, j + 1)});
    }
}

// Band b's share of a step. The barriers keep each band from reading a row
// of its neighbours before they have collided it, and from overwriting the
// fields of its own rows before the neighbours have read them.
void Band_Step(Stepping& s, int b, const Step_Fields& a, const Divisor& tau_f,
               const Thermal_Rule& thermal) {
    const int n = s.n, m = s.m;
    Distribution_Rows &F = s.fast.F, &G = s.fast.G;
    auto flow_collide = [&](int j, Plane_Set out) {
        Flow_Collide_Row(n, m, j, a.T_Ref, a.G_Beta, tau_f, a.Rho, a.U, a.V, a.T, F.Row(j), out);
    };
    auto flow_stream = [&](int j, const Rows_Around& r) {
        Flow_Stream_Row(n, m, j, r, F.Row(j), a.Rho, a.U, a.V);
    };
    auto thermal_collide = [&](int j, Plane_Set out) {
        Thermal_Collide_Row(n, m, j, thermal, a.U, a.V, a.T, G.Row(j), out);
    };
    auto thermal_stream = [&](int j, const Rows_Around& r) {
        Thermal_Stream_Row(n, m, j, thermal, r, G, a.T, a.T_Hot, a.T_Cold);
    };
    Collide_Edges(s, b, Flow, flow_collide);
    s.threads.Barrier();
    Sweep(s, b, Flow, flow_collide, flow_stream);
    Collide_Edges(s, b, Thermal, thermal_collide); // with the band's new velocity
    s.threads.Barrier();
    Sweep(s, b, Thermal, thermal_collide, thermal_stream);
}

} // namespace

int Fast_Step(Stepping& s, const Step_Fields& a) {
    const Divisor tau_f = Divisor_Of(a.Tau_F);
    const Thermal_Rule thermal = Thermal_Rule_Of(s.scheme, a.Tau_T);
    std::atomic<int> raised{0};
    s.threads.Run([&](int b) {
        std::fenv_t traps;
        std::feholdexcept(&traps);
        Band_Step(s, b, a, tau_f, thermal);
        const int flags = std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
        std::fesetenv(&traps);
        raised.fetch_or(flags, std::memory_order_relaxed);
    });
    return raised.load(std::memory_order_relaxed);
}
