#include "setup/parameters.hpp"
#include "setup/setup_errors.hpp"

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace {

std::string Shown(double x) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", x);
    return buf;
}

} // namespace

Derived_Constants Derive_Constants(const Physical_Parameters& p, int m) {
    Derived_Constants d{};
    // A value beyond single precision would trap as an overflow when stored,
    // a divisor that vanishes in it would trap later: the parameters' fault,
    // not the arithmetic's.
    auto stored = [&](const char* name, double x, bool divisor = false) {
        if (std::fabs(x) > double(std::numeric_limits<float>::max()))
            throw Parameter_Error("parameter error: Pr = " + Shown(p.Pr) + ", Ra = " + Shown(p.Ra) +
                                  ", T_Hot - T_Cold = " + Shown(float(double(p.T_Hot) - p.T_Cold)) +
                                  ", Tau_T = " + Shown(p.Tau_T) + " and m = " + std::to_string(m) +
                                  " give " + name + " = " + Shown(x) +
                                  ", beyond single precision; these parameters cannot be run");
        if (divisor && x != 0.0 && float(x) == 0.0f)
            throw Parameter_Error("parameter error: Pr = " + Shown(p.Pr) + ", Ra = " + Shown(p.Ra) +
                                  ", Tau_T = " + Shown(p.Tau_T) + " and m = " + std::to_string(m) +
                                  " give " + name + " = " + Shown(x) +
                                  ", below single precision; these parameters cannot be run");
        return float(x);
    };
    // One chain: each unrounded value feeds the next, each is also stored.
    double diffusivity = (double(p.Tau_T) - 0.5) / 3.0;
    double viscosity = diffusivity * p.Pr;
    double tau_f = viscosity * 3.0 + 0.5;
    d.Diffusivity = stored("Diffusivity", diffusivity);
    d.Viscosity = stored("Viscosity", viscosity, true);
    d.Tau_F = stored("Tau_F", tau_f);
    // m cubed in 32-bit arithmetic; the driver keeps m <= 1290 so it fits.
    std::int32_t M = m * m * m;
    d.G_Beta = stored("G_Beta", (double(p.Ra) * d.Viscosity * d.Diffusivity) /
                                    ((double(p.T_Hot) - p.T_Cold) * double(M)));
    if (d.Viscosity == 0.0f)
        throw Parameter_Error("parameter error: Pr = " + Shown(p.Pr) +
                              " and Tau_T = " + Shown(p.Tau_T) +
                              " give no viscosity; Pr must be positive and "
                              "Tau_T above 0.5");
    double ratio = double(p.Ra) * d.Diffusivity / d.Viscosity;
    if (ratio < 0.0)
        throw Parameter_Error("parameter error: Ra = " + Shown(p.Ra) + " and Pr = " + Shown(p.Pr) +
                              " give a negative Ra * Diffusivity / Viscosity, so the reference "
                              "velocity sqrt(Ra * Diffusivity / Viscosity) * Viscosity / m has no "
                              "real value; Ra and Pr must not be negative");
    d.U_Ref = stored("U_Ref", std::sqrt(ratio) * d.Viscosity / double(m), true);
    d.T_Ref = float((double(p.T_Cold) + p.T_Hot) * 0.5);
    return d;
}
