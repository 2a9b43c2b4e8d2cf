#include "lattice/lattice.hpp"
#include "setup/parameters.hpp"
#include "setup/setup_errors.hpp"

#include <cmath>
#include <cstdio>

namespace {

std::string Figure(double x, const char* format = "%.3g") {
    char text[48];
    std::snprintf(text, sizeof text, format, x);
    return text;
}

// The collision of a node at rest (F = Feq = W(k), Rho = 1) adds the term to
// W(k) and rounds: whether anything of it is left, in either direction.
bool Kept(int k, float term) {
    return float(double(W[k]) + term) != W[k] || float(double(W[k]) - term) != W[k];
}

} // namespace

Buoyancy_Resolution Resolve_Buoyancy(const Physical_Parameters& p, const Derived_Constants& d) {
    // The temperatures of a run stay within those of the walls and the start.
    float T_Far = p.T_Hot;
    for (float t : {p.T_Cold, p.T_Init})
        if (std::fabs(double(t) - d.T_Ref) > std::fabs(double(T_Far) - d.T_Ref))
            T_Far = t;
    const float Rho = 1.0f;
    auto term = [&](int k) {
        return float((double(T_Far) - d.T_Ref) * Rho * Ey[k] * W[k] * d.G_Beta * 3.0);
    };
    Buoyancy_Resolution r{};
    r.Temperature_Difference = float(std::fabs(double(T_Far) - d.T_Ref));
    r.Term = term(2);
    r.Units = std::fabs(double(r.Term)) / (double(std::nextafter(W[2], 1.0f)) - W[2]);
    r.Resolved = Kept(2, term(2)) || Kept(5, term(5));
    return r;
}

int Largest_Resolving_M(const Physical_Parameters& p, int m, double max_error) {
    for (int h = m; h >= 2; --h) {
        const Buoyancy_Resolution r = Resolve_Buoyancy(p, Derive_Constants(p, h));
        if (r.Resolved && 0.5 / r.Units <= max_error)
            return h;
    }
    return 0;
}

std::string Check_Buoyancy(const Physical_Parameters& p, const Derived_Constants& d, int m) {
    const Buoyancy_Resolution r = Resolve_Buoyancy(p, d);
    const double error = r.Units > 0.0 ? 0.5 / r.Units : HUGE_VAL;
    if (r.Resolved && error <= Buoyancy_Error_Warned)
        return "";
    const int fine = Largest_Resolving_M(p, m, Buoyancy_Error_Warned);
    const std::string term =
        "its largest term per step, 3 W(k) G_Beta |T - T_Ref| with G_Beta = " + Figure(d.G_Beta) +
        " and |T - T_Ref| = " + Figure(r.Temperature_Difference) + ", is " +
        Figure(r.Units, "%.2g") + " units in the last place of the distributions it is added to";
    if (r.Resolved)
        return "warning: the buoyancy force is barely resolved in single precision on this grid "
               "(m = " +
               std::to_string(m) + "): " + term + ", so rounding changes it by up to " +
               Figure(100.0 * error, "%.2g") + " % (more where T is nearer T_Ref); " +
               (fine > 0 ? "m = " + std::to_string(fine) + " or less keeps that below 1 %"
                         : "a larger Ra makes it finer");
    const int coarse = Largest_Resolving_M(p, m, 1.0);
    const std::string largest =
        coarse > 0 ? "with these parameters m = " + std::to_string(coarse) +
                         " is the largest grid that resolves it at all" +
                         (fine > 0 ? ", m = " + std::to_string(fine) +
                                         " the largest that keeps its rounding error below 1 %"
                                   : " (none keeps its rounding error below 1 %)")
                   : "no grid resolves it with these parameters: a larger Ra does";
    throw Parameter_Error(
        "parameter error: the buoyancy force is below single-precision resolution on this grid "
        "(m = " +
        std::to_string(m) + ", Ra = " + Figure(p.Ra, "%g") + ", Pr = " + Figure(p.Pr, "%g") +
        ", Tau_T = " + Figure(p.Tau_T, "%g") + "): " + term +
        ", below half a unit, so rounding removes it and the fluid would never move; " + largest);
}
