#include "setup/parameters.hpp"
#include "setup/setup_errors.hpp"

#include <cmath>
#include <cstdio>
#include <string>

namespace {

std::string Shown(float x) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", double(x));
    return buf;
}

} // namespace

Derived_Constants Derive_Constants(const Physical_Parameters& p, int m) {
    Derived_Constants d{};
    // One chain: each unrounded value feeds the next, each is also stored.
    double diffusivity = (double(p.Tau_T) - 0.5) / 3.0;
    double viscosity = diffusivity * p.Pr;
    double tau_f = viscosity * 3.0 + 0.5;
    d.Diffusivity = float(diffusivity);
    d.Viscosity = float(viscosity);
    d.Tau_F = float(tau_f);
    // m cubed in 32-bit arithmetic; the driver keeps m <= 1290 so it fits.
    std::int32_t M = m * m * m;
    d.G_Beta = float((double(p.Ra) * d.Viscosity * d.Diffusivity) /
                     ((double(p.T_Hot) - p.T_Cold) * double(M)));
    double ratio = double(p.Ra) * d.Diffusivity / d.Viscosity;
    if (ratio < 0.0)
        throw Parameter_Error("parameter error: Ra = " + Shown(p.Ra) + " and Pr = " + Shown(p.Pr) +
                              " give a negative Ra * Diffusivity / Viscosity, so the reference "
                              "velocity sqrt(Ra * Diffusivity / Viscosity) * Viscosity / m has no "
                              "real value; Ra and Pr must not be negative");
    d.U_Ref = float(std::sqrt(ratio) * d.Viscosity / double(m));
    d.T_Ref = float((double(p.T_Cold) + p.T_Hot) * 0.5);
    return d;
}
